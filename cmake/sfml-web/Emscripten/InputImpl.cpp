#include <SFML/Window/Emscripten/InputImpl.hpp>

#include <cstring>

namespace sf
{
namespace priv
{
namespace
{
bool keysPressed[Keyboard::KeyCount] = {};
bool buttonsPressed[Mouse::ButtonCount] = {};
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

} // namespace

// Letters and digits as the layout names them, like SFML's keys on the
// desktop; the rest by name, and by position where the layout has no Latin name
Keyboard::Key InputImpl::keyFromEvent(const char* key, const char* code)
{
    if (std::strncmp(code, "Numpad", 6) == 0 && code[6] >= '0' && code[6] <= '9' && code[7] == '\0')
        return static_cast<Keyboard::Key>(Keyboard::Numpad0 + (code[6] - '0'));
    if (std::strncmp(code, "Shift", 5) == 0 || std::strncmp(code, "Control", 7) == 0 ||
        std::strncmp(code, "Alt", 3) == 0 || std::strncmp(code, "Meta", 4) == 0 ||
        std::strncmp(code, "Numpad", 6) == 0)
        return fromName(code);
    if (key[0] != '\0' && key[1] == '\0')
    {
        const char c = key[0];
        if (c >= 'a' && c <= 'z')
            return static_cast<Keyboard::Key>(Keyboard::A + (c - 'a'));
        if (c >= 'A' && c <= 'Z')
            return static_cast<Keyboard::Key>(Keyboard::A + (c - 'A'));
        if (c >= '0' && c <= '9')
            return static_cast<Keyboard::Key>(Keyboard::Num0 + (c - '0'));
    }
    if (key[0] == 'F' && key[1] >= '1' && key[1] <= '9')
    {
        const int number = key[2] == '\0' ? key[1] - '0' : (key[1] - '0') * 10 + (key[2] - '0');
        if (number >= 1 && number <= 15 && (key[2] == '\0' || key[3] == '\0'))
            return static_cast<Keyboard::Key>(Keyboard::F1 + (number - 1));
    }
    const Keyboard::Key named = fromName(key);
    if (named != Keyboard::Unknown)
        return named;
    if (std::strncmp(code, "Key", 3) == 0 && code[3] >= 'A' && code[3] <= 'Z' && code[4] == '\0')
        return static_cast<Keyboard::Key>(Keyboard::A + (code[3] - 'A'));
    if (std::strncmp(code, "Digit", 5) == 0 && code[5] >= '0' && code[5] <= '9' && code[6] == '\0')
        return static_cast<Keyboard::Key>(Keyboard::Num0 + (code[5] - '0'));
    return Keyboard::Unknown;
}

void InputImpl::setKeyPressed(Keyboard::Key key, bool pressed)
{
    if (key >= 0 && key < Keyboard::KeyCount)
        keysPressed[key] = pressed;
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
    std::memset(buttonsPressed, 0, sizeof(buttonsPressed));
}

bool InputImpl::isKeyPressed(Keyboard::Key key)
{
    return key >= 0 && key < Keyboard::KeyCount && keysPressed[key];
}

bool InputImpl::isKeyPressed(Keyboard::Scancode)
{
    return false;
}

Keyboard::Key InputImpl::localize(Keyboard::Scancode)
{
    return Keyboard::Unknown;
}

Keyboard::Scancode InputImpl::delocalize(Keyboard::Key)
{
    return Keyboard::Scan::Unknown;
}

String InputImpl::getDescription(Keyboard::Scancode)
{
    return String();
}

void InputImpl::setVirtualKeyboardVisible(bool)
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

Vector2i InputImpl::getMousePosition(const WindowBase&)
{
    return mousePosition;
}

void InputImpl::setMousePosition(const Vector2i&)
{
}

void InputImpl::setMousePosition(const Vector2i&, const WindowBase&)
{
}

bool InputImpl::isTouchDown(unsigned int)
{
    return false;
}

Vector2i InputImpl::getTouchPosition(unsigned int)
{
    return Vector2i();
}

Vector2i InputImpl::getTouchPosition(unsigned int, const WindowBase&)
{
    return Vector2i();
}

} // namespace priv
} // namespace sf
