// The page's clock for SFML: the browser's monotonic clock, as SFML's Unix
// clock reads its system's, but during a match or a replay the match's own,
// which the page sets to each frame's time, the same on every device.

#ifndef SFML_CLOCKIMPLEMSCRIPTEN_HPP
#define SFML_CLOCKIMPLEMSCRIPTEN_HPP

#include <SFML/System/Time.hpp>

namespace sf
{
namespace priv
{
class ClockImpl
{
public:
    static Time getCurrentTime();

    static void setMatchTime(Time time); // until useRealTime()
    static void useRealTime();
};

} // namespace priv
} // namespace sf

#endif
