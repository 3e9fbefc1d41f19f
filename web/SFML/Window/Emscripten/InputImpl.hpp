// The browser's keyboard, mouse and gamepads for SFML: there is no device to
// ask, so the state is kept from the canvas's own events, which
// WindowImplEmscripten passes on, and from the gamepads sampled once a frame.

#ifndef SFML_INPUTIMPLEMSCRIPTEN_HPP
#define SFML_INPUTIMPLEMSCRIPTEN_HPP

#include <SFML/System/String.hpp>
#include <SFML/System/Vector2.hpp>
#include <SFML/Window/Keyboard.hpp>
#include <SFML/Window/Mouse.hpp>

#include <vector>

namespace sf
{
class WindowBase;

namespace priv
{
class InputImpl
{
public:
    static bool isKeyPressed(Keyboard::Key key);
    static bool isKeyPressed(Keyboard::Scancode code);
    static Keyboard::Key localize(Keyboard::Scancode code);
    static Keyboard::Scancode delocalize(Keyboard::Key key);
    static String getDescription(Keyboard::Scancode code);
    static void setVirtualKeyboardVisible(bool visible);
    static bool isMouseButtonPressed(Mouse::Button button);
    static Vector2i getMousePosition();
    static Vector2i getMousePosition(const WindowBase& relativeTo);
    static void setMousePosition(const Vector2i& position);
    static void setMousePosition(const Vector2i& position, const WindowBase& relativeTo);
    static bool isTouchDown(unsigned int finger);
    static Vector2i getTouchPosition(unsigned int finger);
    static Vector2i getTouchPosition(unsigned int finger, const WindowBase& relativeTo);

    // Fed by the canvas's events
    static Keyboard::Key keyFromEvent(const char* key, const char* code);
    static void setKeyPressed(Keyboard::Key key, bool pressed);
    static void setMouseButtonPressed(Mouse::Button button, bool pressed);
    static void setMousePosition(int x, int y);
    static void releaseAll(); // the canvas lost the focus: its key-up events go elsewhere
    static void frameShown(); // the game has read this frame's keys

    struct KeyChange
    {
        Keyboard::Key key;
        bool pressed;
    };
    // The gamepads' keys that changed since the last sample, once a frame: none before the next frameShown()
    static std::vector<KeyChange> samplePads();

    // In a match or a replay the page decides each frame's keys, and how many
    // events it polls, for every device alike: until it stops feeding, these
    // are all the window's keys and events, whatever the canvas's own
    static void feedFrame(const std::vector<Keyboard::Key>& held, unsigned events);
    static void stopFeeding();
    static bool feeding();
    static unsigned takeFedEvents(); // each once
};

} // namespace priv
} // namespace sf

#endif
