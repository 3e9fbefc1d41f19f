#include <SFML/Window/Emscripten/InputImpl.hpp>
#include <SFML/Window/Emscripten/WindowImplEmscripten.hpp>

#include <SFML/Window/Event.hpp>

#include <emscripten.h>

#include <string>

namespace
{
const char* const canvas = "#canvas";

// A keydown the game takes is kept from the page (no scrolling on the arrows,
// no quick find), but Tab leaves the canvas, and the function keys and the
// browser's shortcuts with Ctrl, Alt or Meta work as on any page.
bool pageKeepsKey(const EmscriptenKeyboardEvent& event, sf::Keyboard::Key key)
{
    return key == sf::Keyboard::Tab || (key >= sf::Keyboard::F1 && key <= sf::Keyboard::F12) || event.ctrlKey != 0 ||
           event.altKey != 0 || event.metaKey != 0;
}

sf::Uint32 firstCodePoint(const char* utf8)
{
    const auto lead = static_cast<unsigned char>(utf8[0]);
    const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    sf::Uint32 point = length == 1 ? lead : lead & (0x7F >> length);
    for (int i = 1; i < length; ++i)
    {
        const auto next = static_cast<unsigned char>(utf8[i]);
        if ((next & 0xC0) != 0x80)
            return 0;
        point = (point << 6) | (next & 0x3F);
    }
    return utf8[length] == '\0' ? point : 0; // a name such as "Enter" is no text
}
} // namespace

extern "C"
{
// library_sfml_window.js
void sfWatchCanvasSize();
int sfTakeCanvasSize(int* width, int* height);
}

EM_JS(int, sfCanvasHasFocus, (), { return document.activeElement === Module['canvas'] ? 1 : 0; });
EM_JS(void, sfFocusCanvas, (), { Module['canvas'].focus(); });
EM_JS(void, sfSetPageTitle, (const char* title), { document.title = UTF8ToString(title); });
EM_JS(void, sfSetCanvasCursor, (int visible), { Module['canvas'].style.cursor = visible ? "" : "none"; });

namespace sf::priv
{

WindowImplEmscripten::WindowImplEmscripten(VideoMode mode, const String& title, unsigned long /*style*/,
                                           const ContextSettings& /*settings*/) :
m_size(mode.width, mode.height),
m_keyRepeat(true)
{
    emscripten_set_canvas_element_size(canvas, static_cast<int>(mode.width), static_cast<int>(mode.height));
    setTitle(title);
    listen(true);
    sfWatchCanvasSize();
}

WindowImplEmscripten::WindowImplEmscripten(WindowHandle /*handle*/) : m_keyRepeat(true)
{
    int width = 0;
    int height = 0;
    emscripten_get_canvas_element_size(canvas, &width, &height);
    m_size = Vector2u(static_cast<unsigned int>(width), static_cast<unsigned int>(height));
    listen(true);
    sfWatchCanvasSize();
}

WindowImplEmscripten::~WindowImplEmscripten()
{
    listen(false);
    InputImpl::releaseAll();
}

void WindowImplEmscripten::listen(bool on)
{
    void* self = on ? this : nullptr;
    const em_key_callback_func key = on ? onKey : nullptr;
    const em_mouse_callback_func mouse = on ? onMouse : nullptr;
    const em_focus_callback_func focus = on ? onFocus : nullptr;
    emscripten_set_keydown_callback(canvas, self, EM_TRUE, key);
    emscripten_set_keyup_callback(canvas, self, EM_TRUE, key);
    emscripten_set_mousemove_callback(canvas, self, EM_TRUE, mouse);
    emscripten_set_mousedown_callback(canvas, self, EM_TRUE, mouse);
    emscripten_set_mouseup_callback(canvas, self, EM_TRUE, mouse);
    emscripten_set_mouseenter_callback(canvas, self, EM_TRUE, mouse);
    emscripten_set_mouseleave_callback(canvas, self, EM_TRUE, mouse);
    emscripten_set_focus_callback(canvas, self, EM_TRUE, focus);
    emscripten_set_blur_callback(canvas, self, EM_TRUE, focus);
}

EM_BOOL WindowImplEmscripten::onKey(int type, const EmscriptenKeyboardEvent* event, void* window)
{
    WindowImplEmscripten& self = *static_cast<WindowImplEmscripten*>(window);
    const Keyboard::Key key = InputImpl::keyFromEvent(event->key, event->code);
    const bool pressed = type == EMSCRIPTEN_EVENT_KEYDOWN;
    InputImpl::setKeyPressed(key, pressed);

    if (!pressed || event->repeat == 0 || self.m_keyRepeat)
    {
        Event keyEvent = keyChanged(key, pressed);
        keyEvent.key.alt = event->altKey != 0;
        keyEvent.key.control = event->ctrlKey != 0;
        keyEvent.key.shift = event->shiftKey != 0;
        keyEvent.key.system = event->metaKey != 0;
        self.pushEvent(keyEvent);
    }
    const Uint32 text = firstCodePoint(event->key);
    if (pressed && text >= 0x20 && event->ctrlKey == 0 && event->altKey == 0 && event->metaKey == 0)
    {
        Event textEvent{};
        textEvent.type = Event::TextEntered;
        textEvent.text.unicode = text;
        self.pushEvent(textEvent);
    }
    return pageKeepsKey(*event, key) ? EM_FALSE : EM_TRUE;
}

EM_BOOL WindowImplEmscripten::onMouse(int type, const EmscriptenMouseEvent* event, void* window)
{
    WindowImplEmscripten& self = *static_cast<WindowImplEmscripten*>(window);
    // The page scales the canvas to fit: back to the canvas's own pixels
    double cssWidth = 0;
    double cssHeight = 0;
    emscripten_get_element_css_size(canvas, &cssWidth, &cssHeight);
    const int x = cssWidth > 0 ? static_cast<int>(event->targetX * self.m_size.x / cssWidth) : 0;
    const int y = cssHeight > 0 ? static_cast<int>(event->targetY * self.m_size.y / cssHeight) : 0;
    InputImpl::setMousePosition(x, y);

    Event mouseEvent{};
    switch (type)
    {
        case EMSCRIPTEN_EVENT_MOUSEDOWN:
        case EMSCRIPTEN_EVENT_MOUSEUP:
        {
            static const Mouse::Button buttons[] = {Mouse::Left, Mouse::Middle, Mouse::Right, Mouse::XButton1,
                                                    Mouse::XButton2};
            if (event->button < 0 || event->button > 4)
                return EM_FALSE;
            const bool down = type == EMSCRIPTEN_EVENT_MOUSEDOWN;
            InputImpl::setMouseButtonPressed(buttons[event->button], down);
            mouseEvent.type = down ? Event::MouseButtonPressed : Event::MouseButtonReleased;
            mouseEvent.mouseButton.button = buttons[event->button];
            mouseEvent.mouseButton.x = x;
            mouseEvent.mouseButton.y = y;
            break;
        }
        case EMSCRIPTEN_EVENT_MOUSEENTER:
            mouseEvent.type = Event::MouseEntered;
            break;
        case EMSCRIPTEN_EVENT_MOUSELEAVE:
            mouseEvent.type = Event::MouseLeft;
            break;
        default:
            mouseEvent.type = Event::MouseMoved;
            mouseEvent.mouseMove.x = x;
            mouseEvent.mouseMove.y = y;
            break;
    }
    self.pushEvent(mouseEvent);
    return EM_FALSE; // a click still gives the canvas the focus
}

EM_BOOL WindowImplEmscripten::onFocus(int type, const EmscriptenFocusEvent* /*event*/, void* window)
{
    WindowImplEmscripten& self = *static_cast<WindowImplEmscripten*>(window);
    Event focusEvent{};
    focusEvent.type = type == EMSCRIPTEN_EVENT_FOCUS ? Event::GainedFocus : Event::LostFocus;
    if (focusEvent.type == Event::LostFocus)
        InputImpl::releaseAll();
    self.pushEvent(focusEvent);
    return EM_FALSE;
}

Event WindowImplEmscripten::keyChanged(Keyboard::Key key, bool pressed)
{
    Event keyEvent{};
    keyEvent.type = pressed ? Event::KeyPressed : Event::KeyReleased;
    keyEvent.key.code = key;
    keyEvent.key.scancode = Keyboard::Scan::Unknown;
    return keyEvent;
}

// What the page's events do not bring: the gamepads, sampled once a frame,
// and the canvas's new size, taken at the start of a frame, since resizing
// clears its drawing buffer and the frame shown would be blank. A frame the
// page feeds gets its events alone: the page takes the window's own before.
void WindowImplEmscripten::processEvents()
{
    if (InputImpl::feeding())
    {
        for (unsigned events = InputImpl::takeFedEvents(); events > 0; --events)
            pushEvent(keyChanged(Keyboard::Unknown, true));
        return;
    }
    for (const InputImpl::KeyChange& change : InputImpl::samplePads())
        pushEvent(keyChanged(change.key, change.pressed));

    int width = 0;
    int height = 0;
    if (sfTakeCanvasSize(&width, &height) != 0 &&
        (static_cast<unsigned int>(width) != m_size.x || static_cast<unsigned int>(height) != m_size.y))
    {
        setSize(Vector2u(static_cast<unsigned int>(width), static_cast<unsigned int>(height)));
        Event resized{};
        resized.type = Event::Resized;
        resized.size.width = m_size.x;
        resized.size.height = m_size.y;
        pushEvent(resized);
    }
}

WindowHandle WindowImplEmscripten::getSystemHandle() const
{
    return nullptr;
}

// The canvas stands where the page puts it
Vector2i WindowImplEmscripten::getPosition() const
{
    return Vector2i();
}

void WindowImplEmscripten::setPosition(const Vector2i& /*position*/)
{
}

Vector2u WindowImplEmscripten::getSize() const
{
    return m_size;
}

void WindowImplEmscripten::setSize(const Vector2u& size)
{
    m_size = size;
    emscripten_set_canvas_element_size(canvas, static_cast<int>(size.x), static_cast<int>(size.y));
}

void WindowImplEmscripten::setTitle(const String& title)
{
    const std::basic_string<Uint8> utf8 = title.toUtf8();
    sfSetPageTitle(reinterpret_cast<const char*>(utf8.c_str()));
}

void WindowImplEmscripten::setIcon(unsigned int /*width*/, unsigned int /*height*/, const Uint8* /*pixels*/)
{
}

void WindowImplEmscripten::setVisible(bool /*visible*/)
{
}

void WindowImplEmscripten::setMouseCursorVisible(bool visible)
{
    sfSetCanvasCursor(visible ? 1 : 0);
}

void WindowImplEmscripten::setMouseCursorGrabbed(bool /*grabbed*/)
{
}

void WindowImplEmscripten::setMouseCursor(const CursorImpl& /*cursor*/)
{
}

void WindowImplEmscripten::setKeyRepeatEnabled(bool enabled)
{
    m_keyRepeat = enabled;
}

void WindowImplEmscripten::requestFocus()
{
    sfFocusCanvas();
}

bool WindowImplEmscripten::hasFocus() const
{
    return sfCanvasHasFocus() != 0;
}

} // namespace sf::priv
