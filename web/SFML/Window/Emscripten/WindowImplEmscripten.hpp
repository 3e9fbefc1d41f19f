// The page's canvas as SFML's window: its size, which follows its size on the
// page in device pixels, the title as the page's, the canvas's own key, mouse
// and focus events, and the gamepads' keys. Keys typed into another element
// of the page never reach it.

#ifndef SFML_WINDOWIMPLEMSCRIPTEN_HPP
#define SFML_WINDOWIMPLEMSCRIPTEN_HPP

#include <SFML/Window/Event.hpp>
#include <SFML/Window/WindowImpl.hpp>

#include <emscripten/html5.h>

namespace sf
{
namespace priv
{
class WindowImplEmscripten : public WindowImpl
{
public:
    WindowImplEmscripten(VideoMode mode, const String& title, unsigned long style, const ContextSettings& settings);
    explicit WindowImplEmscripten(WindowHandle handle);
    ~WindowImplEmscripten();

    virtual WindowHandle getSystemHandle() const;
    virtual Vector2i getPosition() const;
    virtual void setPosition(const Vector2i& position);
    virtual Vector2u getSize() const;
    virtual void setSize(const Vector2u& size);
    virtual void setTitle(const String& title);
    virtual void setIcon(unsigned int width, unsigned int height, const Uint8* pixels);
    virtual void setVisible(bool visible);
    virtual void setMouseCursorVisible(bool visible);
    virtual void setMouseCursorGrabbed(bool grabbed);
    virtual void setMouseCursor(const CursorImpl& cursor);
    virtual void setKeyRepeatEnabled(bool enabled);
    virtual void requestFocus();
    virtual bool hasFocus() const;

protected:
    // The events come as the browser dispatches them, while the game waits for a frame
    virtual void processEvents();

private:
    void listen(bool on);
    static Event keyChanged(Keyboard::Key key, bool pressed);
    static EM_BOOL onKey(int type, const EmscriptenKeyboardEvent* event, void* window);
    static EM_BOOL onMouse(int type, const EmscriptenMouseEvent* event, void* window);
    static EM_BOOL onFocus(int type, const EmscriptenFocusEvent* event, void* window);

    Vector2u m_size;
    bool m_keyRepeat;
};

} // namespace priv
} // namespace sf

#endif
