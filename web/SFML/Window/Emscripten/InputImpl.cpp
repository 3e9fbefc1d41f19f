#include <SFML/Window/Emscripten/InputImpl.hpp>

#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstring>
#include <set>
#include <string>

namespace sf::priv
{
namespace
{
bool keysPressed[Keyboard::KeyCount] = {};
// Down since the last frame: the game reads held keys once a frame, and a key
// pressed and let go between two frames must still count for the next one
bool keysTapped[Keyboard::KeyCount] = {};
bool keysOnPads[Keyboard::KeyCount] = {};
bool padsDue = true;
bool buttonsPressed[Mouse::ButtonCount] = {};
bool keysFed[Keyboard::KeyCount] = {};
bool fed = false;
unsigned eventsFed = 0;
Vector2i mousePosition;

struct NamedKey
{
    const char* name;
    Keyboard::Key key;
};

// KeyboardEvent.key names, then .code names for what the layout gives no key name to
const NamedKey namedKeys[] = {
    {"Escape", Keyboard::Escape}, {"Enter", Keyboard::Enter}, {"Backspace", Keyboard::Backspace},
    {"Tab", Keyboard::Tab}, {" ", Keyboard::Space}, {"Pause", Keyboard::Pause},
    {"ArrowLeft", Keyboard::Left}, {"ArrowRight", Keyboard::Right}, {"ArrowUp", Keyboard::Up},
    {"ArrowDown", Keyboard::Down}, {"PageUp", Keyboard::PageUp}, {"PageDown", Keyboard::PageDown},
    {"Home", Keyboard::Home}, {"End", Keyboard::End}, {"Insert", Keyboard::Insert},
    {"Delete", Keyboard::Delete}, {"ContextMenu", Keyboard::Menu},
    {"[", Keyboard::LBracket}, {"]", Keyboard::RBracket}, {";", Keyboard::Semicolon},
    {",", Keyboard::Comma}, {".", Keyboard::Period}, {"'", Keyboard::Apostrophe},
    {"/", Keyboard::Slash}, {"\\", Keyboard::Backslash}, {"`", Keyboard::Grave},
    {"=", Keyboard::Equal}, {"-", Keyboard::Hyphen}, {"+", Keyboard::Add}, {"*", Keyboard::Multiply},
    {"ShiftLeft", Keyboard::LShift}, {"ShiftRight", Keyboard::RShift},
    {"ControlLeft", Keyboard::LControl}, {"ControlRight", Keyboard::RControl},
    {"AltLeft", Keyboard::LAlt}, {"AltRight", Keyboard::RAlt},
    {"MetaLeft", Keyboard::LSystem}, {"MetaRight", Keyboard::RSystem},
    {"NumpadAdd", Keyboard::Add}, {"NumpadSubtract", Keyboard::Subtract},
    {"NumpadMultiply", Keyboard::Multiply}, {"NumpadDivide", Keyboard::Divide},
    {"NumpadEnter", Keyboard::Enter},
};

Keyboard::Key fromName(const char* name)
{
    for (const NamedKey& named : namedKeys)
        if (std::strcmp(named.name, name) == 0)
            return named.key;
    return Keyboard::Unknown;
}

bool startsWith(const char* name, const char* prefix)
{
    return std::strncmp(name, prefix, std::strlen(prefix)) == 0;
}

// The one digit that follows the prefix, as in "Numpad7"; -1 for any other name
int digitAfter(const char* name, const char* prefix)
{
    const std::size_t length = std::strlen(prefix);
    if (!startsWith(name, prefix) || name[length] < '0' || name[length] > '9' || name[length + 1] != '\0')
        return -1;
    return name[length] - '0';
}

Keyboard::Key letterOrDigit(char c)
{
    if (c >= 'a' && c <= 'z')
        return static_cast<Keyboard::Key>(Keyboard::A + (c - 'a'));
    if (c >= 'A' && c <= 'Z')
        return static_cast<Keyboard::Key>(Keyboard::A + (c - 'A'));
    if (c >= '0' && c <= '9')
        return static_cast<Keyboard::Key>(Keyboard::Num0 + (c - '0'));
    return Keyboard::Unknown;
}

// "F1" to "F15"
Keyboard::Key functionKey(const char* key)
{
    if (key[0] != 'F' || key[1] < '1' || key[1] > '9')
        return Keyboard::Unknown;
    const int number = key[2] == '\0' ? key[1] - '0' : (key[1] - '0') * 10 + (key[2] - '0');
    if (number > 15 || (key[2] != '\0' && (key[2] < '0' || key[2] > '9' || key[3] != '\0')))
        return Keyboard::Unknown;
    return static_cast<Keyboard::Key>(Keyboard::F1 + (number - 1));
}

} // namespace

// Letters and digits as the layout names them, like SFML's keys on the
// desktop; the rest by name, and by position where the layout has no Latin name
Keyboard::Key InputImpl::keyFromEvent(const char* key, const char* code)
{
    const int numpad = digitAfter(code, "Numpad");
    if (numpad >= 0)
        return static_cast<Keyboard::Key>(Keyboard::Numpad0 + numpad);
    if (startsWith(code, "Shift") || startsWith(code, "Control") || startsWith(code, "Alt") ||
        startsWith(code, "Meta") || startsWith(code, "Numpad"))
        return fromName(code);
    const Keyboard::Key typed = key[0] != '\0' && key[1] == '\0' ? letterOrDigit(key[0]) : Keyboard::Unknown;
    if (typed != Keyboard::Unknown)
        return typed;
    const Keyboard::Key function = functionKey(key);
    if (function != Keyboard::Unknown)
        return function;
    const Keyboard::Key named = fromName(key);
    if (named != Keyboard::Unknown)
        return named;
    if (startsWith(code, "Key") && code[3] >= 'A' && code[3] <= 'Z' && code[4] == '\0')
        return letterOrDigit(code[3]);
    const int digit = digitAfter(code, "Digit");
    return digit >= 0 ? static_cast<Keyboard::Key>(Keyboard::Num0 + digit) : Keyboard::Unknown;
}

void InputImpl::setKeyPressed(Keyboard::Key key, bool pressed)
{
    if (key < 0 || key >= Keyboard::KeyCount)
        return;
    keysPressed[key] = pressed;
    if (pressed)
        keysTapped[key] = true;
}

void InputImpl::frameShown()
{
    std::memset(keysTapped, 0, sizeof(keysTapped));
    padsDue = true;
}

namespace
{
const int padUp = 12;
const int padDown = 13;
const int padA = 0;
const int padBack = 8;
const int padStart = 9;
const double stickDeadZone = 0.5;

bool padButton(const EmscriptenGamepadEvent& pad, int button)
{
    return button < pad.numButtons && pad.digitalButton[button] != 0;
}

// The first standard pad is blue's, the second red's; others are left alone
void keysOfPad(const EmscriptenGamepadEvent& pad, int player, bool (&keys)[Keyboard::KeyCount])
{
    const double stick = pad.numAxes > 1 ? pad.axis[1] : 0.0;
    const bool up = padButton(pad, padUp) || stick < -stickDeadZone;
    const bool down = padButton(pad, padDown) || stick > stickDeadZone;
    keys[player == 0 ? Keyboard::W : Keyboard::Up] |= up;
    keys[player == 0 ? Keyboard::S : Keyboard::Down] |= down;
    keys[Keyboard::Enter] |= padButton(pad, padA) || padButton(pad, padStart);
    keys[Keyboard::R] |= padButton(pad, padBack);
}

void warnOnce(const EmscriptenGamepadEvent& pad)
{
    static std::set<std::string> warned;
    if (warned.insert(pad.id).second)
        emscripten_log(EM_LOG_CONSOLE, "Zarv: gamepad \"%s\" has no standard mapping: it is ignored", pad.id);
}
} // namespace

std::vector<InputImpl::KeyChange> InputImpl::samplePads()
{
    std::vector<KeyChange> changes;
    if (!padsDue)
        return changes;
    padsDue = false;
    bool keys[Keyboard::KeyCount] = {};
    if (emscripten_sample_gamepad_data() == EMSCRIPTEN_RESULT_SUCCESS)
    {
        int player = 0;
        const int count = emscripten_get_num_gamepads();
        for (int index = 0; index < count && player < 2; ++index)
        {
            EmscriptenGamepadEvent pad{};
            if (emscripten_get_gamepad_status(index, &pad) != EMSCRIPTEN_RESULT_SUCCESS || pad.connected == 0)
                continue;
            if (std::strcmp(pad.mapping, "standard") != 0)
                warnOnce(pad);
            else
                keysOfPad(pad, player++, keys);
        }
    }
    for (int key = 0; key < Keyboard::KeyCount; ++key)
        if (keys[key] != keysOnPads[key])
        {
            keysOnPads[key] = keys[key];
            changes.push_back({static_cast<Keyboard::Key>(key), keys[key]});
        }
    return changes;
}

void InputImpl::setMouseButtonPressed(Mouse::Button button, bool pressed)
{
    if (button >= 0 && button < Mouse::ButtonCount)
        buttonsPressed[button] = pressed;
}

void InputImpl::setMousePosition(int x, int y)
{
    mousePosition = Vector2i(x, y);
}

void InputImpl::releaseAll()
{
    std::memset(keysPressed, 0, sizeof(keysPressed));
    std::memset(keysTapped, 0, sizeof(keysTapped));
    std::memset(keysOnPads, 0, sizeof(keysOnPads));
    std::memset(buttonsPressed, 0, sizeof(buttonsPressed));
}

bool InputImpl::isKeyPressed(Keyboard::Key key)
{
    if (key < 0 || key >= Keyboard::KeyCount)
        return false;
    return fed ? keysFed[key] : keysPressed[key] || keysTapped[key] || keysOnPads[key];
}

void InputImpl::feedFrame(const std::vector<Keyboard::Key>& held, unsigned events)
{
    std::memset(keysFed, 0, sizeof(keysFed));
    for (const Keyboard::Key key : held)
        if (key >= 0 && key < Keyboard::KeyCount)
            keysFed[key] = true;
    eventsFed = events;
    fed = true;
}

void InputImpl::stopFeeding()
{
    fed = false;
    eventsFed = 0;
}

bool InputImpl::feeding()
{
    return fed;
}

unsigned InputImpl::takeFedEvents()
{
    const unsigned events = eventsFed;
    eventsFed = 0;
    return events;
}

bool InputImpl::isKeyPressed(Keyboard::Scancode /*code*/)
{
    return false;
}

Keyboard::Key InputImpl::localize(Keyboard::Scancode /*code*/)
{
    return Keyboard::Unknown;
}

Keyboard::Scancode InputImpl::delocalize(Keyboard::Key /*key*/)
{
    return Keyboard::Scan::Unknown;
}

String InputImpl::getDescription(Keyboard::Scancode /*code*/)
{
    return String();
}

void InputImpl::setVirtualKeyboardVisible(bool /*visible*/)
{
}

bool InputImpl::isMouseButtonPressed(Mouse::Button button)
{
    return button >= 0 && button < Mouse::ButtonCount && buttonsPressed[button];
}

// The page has one window, the canvas: its coordinates are the only ones
Vector2i InputImpl::getMousePosition()
{
    return mousePosition;
}

Vector2i InputImpl::getMousePosition(const WindowBase& /*relativeTo*/)
{
    return mousePosition;
}

void InputImpl::setMousePosition(const Vector2i& /*position*/)
{
}

void InputImpl::setMousePosition(const Vector2i& /*position*/, const WindowBase& /*relativeTo*/)
{
}

bool InputImpl::isTouchDown(unsigned int /*finger*/)
{
    return false;
}

Vector2i InputImpl::getTouchPosition(unsigned int /*finger*/)
{
    return Vector2i();
}

Vector2i InputImpl::getTouchPosition(unsigned int /*finger*/, const WindowBase& /*relativeTo*/)
{
    return Vector2i();
}

} // namespace sf::priv
