#include <SFML/Window/Emscripten/InputImpl.hpp>
#include <SFML/Window/Emscripten/WebGLContext.hpp>

#include <emscripten.h>
#include <emscripten/html5_webgl.h>

#include <GL/gl.h>

#include <cstring>
#include <string>

// Emscripten's, which no header declares: WebGL's functions and the emulated ones by name
extern "C" void* emscripten_GetProcAddress(const char* name);

extern "C" int sfCreateCanvasContext(); // library_sfml_window.js

namespace
{
// A canvas has one WebGL context for good, and SFML makes its shared context
// before any window asks for one: every SFML context is that one, made at
// once with antialiasing, which the window then reports as it came out.
EMSCRIPTEN_WEBGL_CONTEXT_HANDLE canvasContext = 0;

// WebGL is OpenGL ES 2, with framebuffers and separate blending at its core;
// to SFML's OpenGL ES 1 renderer those are extensions, so the context names them
const GLubyte* getStringNamingCoreExtensions(GLenum name)
{
    static std::string extensions;
    const GLubyte* string = glGetString(name);
    if (name != GL_EXTENSIONS || string == nullptr)
        return string;
    if (extensions.empty())
        extensions = reinterpret_cast<const char*>(string) +
                     std::string(" GL_OES_framebuffer_object GL_OES_blend_subtract GL_OES_blend_func_separate"
                                 " GL_OES_blend_equation_separate");
    return reinterpret_cast<const GLubyte*>(extensions.c_str());
}

// OpenGL draws with no texture where none is bound, but WebGL samples a
// missing texture as black, which would draw every shape black. SFML leaves
// GL_TEXTURE_2D on and binds texture 0 for its shapes: texturing is turned
// off while no texture is bound instead, so that Emscripten's emulation draws
// them with a shader that samples nothing. (A white pixel bound in its place
// gives the same pixels, but costs a texture fetch for every pixel of every
// shape, drawn on the CPU by a software WebGL.)
void bindTextureOrNone(GLenum target, GLuint texture)
{
    if (target == GL_TEXTURE_2D)
    {
        if (texture == 0)
            glDisable(GL_TEXTURE_2D);
        else
            glEnable(GL_TEXTURE_2D);
    }
    glBindTexture(target, texture);
}
} // namespace

namespace sf::priv
{

WebGLContext::WebGLContext(WebGLContext* /*shared*/) : m_ownsFrame(false)
{
    attach();
}

WebGLContext::WebGLContext(WebGLContext* /*shared*/, const ContextSettings& settings, const WindowImpl* /*owner*/,
                           unsigned int /*bitsPerPixel*/) :
m_ownsFrame(true)
{
    m_settings = settings;
    attach();
}

WebGLContext::WebGLContext(WebGLContext* /*shared*/, const ContextSettings& settings, unsigned int /*width*/,
                           unsigned int /*height*/) :
m_ownsFrame(false)
{
    m_settings = settings;
    attach();
}

void WebGLContext::attach()
{
    if (canvasContext == 0)
        canvasContext = sfCreateCanvasContext();
    m_settings.depthBits = 0;
    m_settings.stencilBits = 0;
    m_settings.sRgbCapable = false;
    m_settings.antialiasingLevel = 0;
    if (canvasContext != 0 && emscripten_webgl_make_context_current(canvasContext) == EMSCRIPTEN_RESULT_SUCCESS)
    {
        GLint samples = 0;
        glGetIntegerv(GL_SAMPLES, &samples);
        m_settings.antialiasingLevel = static_cast<unsigned int>(samples);
    }
}

GlFunctionPointer WebGLContext::getFunction(const char* name)
{
    if (std::strcmp(name, "glGetString") == 0)
        return reinterpret_cast<GlFunctionPointer>(getStringNamingCoreExtensions);
    if (std::strcmp(name, "glBindTexture") == 0)
        return reinterpret_cast<GlFunctionPointer>(bindTextureOrNone);
    return reinterpret_cast<GlFunctionPointer>(emscripten_GetProcAddress(name));
}

bool WebGLContext::makeCurrent(bool current)
{
    if (canvasContext == 0)
        return false;
    // Made inactive, the one context stays current: nothing else could be
    return !current || emscripten_webgl_make_context_current(canvasContext) == EMSCRIPTEN_RESULT_SUCCESS;
}

// The browser shows the frame once the page's animation frame returns, which
// the page paces at 60 game frames a second
void WebGLContext::display()
{
    if (m_ownsFrame)
        InputImpl::frameShown();
}

// The page's animation frames come at the display's rate anyway
void WebGLContext::setVerticalSyncEnabled(bool /*enabled*/)
{
}

} // namespace sf::priv
