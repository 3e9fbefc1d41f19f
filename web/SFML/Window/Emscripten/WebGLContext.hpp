// SFML's OpenGL contexts on the page's one WebGL context, with Emscripten's
// emulation of the fixed-function OpenGL that SFML's renderer draws with.

#ifndef SFML_WEBGLCONTEXT_HPP
#define SFML_WEBGLCONTEXT_HPP

#include <SFML/Window/GlContext.hpp>

namespace sf
{
namespace priv
{
class WebGLContext : public GlContext
{
public:
    explicit WebGLContext(WebGLContext* shared);
    WebGLContext(WebGLContext* shared, const ContextSettings& settings, const WindowImpl* owner,
                 unsigned int bitsPerPixel);
    WebGLContext(WebGLContext* shared, const ContextSettings& settings, unsigned int width, unsigned int height);

    static GlFunctionPointer getFunction(const char* name);

    virtual void display();
    virtual void setVerticalSyncEnabled(bool enabled);

protected:
    virtual bool makeCurrent(bool current);

private:
    void attach();

    bool m_ownsFrame; // the window's context: its display() ends the frame
};

} // namespace priv
} // namespace sf

#endif
