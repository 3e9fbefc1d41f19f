#include <SFML/Window/VideoModeImpl.hpp>

#include <emscripten.h>

EM_JS(int, sfScreenWidth, (), { return screen.width; });
EM_JS(int, sfScreenHeight, (), { return screen.height; });

namespace sf::priv
{

// The screen the page is shown on; a page has no video modes of its own
std::vector<VideoMode> VideoModeImpl::getFullscreenModes()
{
    return std::vector<VideoMode>(1, getDesktopMode());
}

VideoMode VideoModeImpl::getDesktopMode()
{
    return VideoMode(static_cast<unsigned int>(sfScreenWidth()), static_cast<unsigned int>(sfScreenHeight()));
}

} // namespace sf::priv
