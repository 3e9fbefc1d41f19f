#include <SFML/System/Emscripten/ClockImpl.hpp>

#include <emscripten.h>

#include <cmath>

namespace
{
bool inMatch = false;
sf::Time matchTime;
} // namespace

namespace sf::priv
{

Time ClockImpl::getCurrentTime()
{
    return inMatch ? matchTime : microseconds(std::llround(emscripten_get_now() * 1000.0));
}

void ClockImpl::setMatchTime(Time time)
{
    inMatch = true;
    matchTime = time;
}

void ClockImpl::useRealTime()
{
    inMatch = false;
}

} // namespace sf::priv
