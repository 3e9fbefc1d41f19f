#include "tests/stand_ins.hpp"

#include "game/frame.hpp"
#include "game/match.hpp"

#include <SFML/System/Clock.hpp>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <set>

namespace
{
std::set<sf::Keyboard::Key> heldKeys;

std::deque<int> queuedRand;
int drawCount = 0;

std::int64_t nowMicroseconds = 0; // plain integer: valid before any constructor runs
} // namespace

namespace standIn
{

void holdKeys(std::initializer_list<sf::Keyboard::Key> keys)
{
    heldKeys = keys;
}

void setKeyHeld(sf::Keyboard::Key key, bool held)
{
    if (held)
        heldKeys.insert(key);
    else
        heldKeys.erase(key);
}

void releaseKeys()
{
    heldKeys.clear();
}

void queueRand(std::initializer_list<int> values)
{
    queuedRand.insert(queuedRand.end(), values.begin(), values.end());
}

int randDraws()
{
    return drawCount;
}

void resetRand(unsigned seed)
{
    queuedRand.clear();
    drawCount = 0;
    seedRandom(seed);
}

void advanceClock(float seconds)
{
    nowMicroseconds += std::llround(static_cast<double>(seconds) * 1e6);
}

} // namespace standIn

// Declared as the C library declares them: glibc's are noexcept, musl's
// (Emscripten's) are not, and a definition must match
#ifdef __GLIBC__
#define AS_LIBC_DECLARES noexcept
#else
#define AS_LIBC_DECLARES
#endif

// Queued values first, then the match's generator
int rand() AS_LIBC_DECLARES
{
    ++drawCount;
    if (!queuedRand.empty())
    {
        const int value = queuedRand.front();
        queuedRand.pop_front();
        return value;
    }
    return nextRandom();
}

void srand(unsigned seed) AS_LIBC_DECLARES
{
    standIn::resetRand(seed);
}

namespace sf
{

bool Keyboard::isKeyPressed(Key key)
{
    return heldKeys.count(key) != 0;
}

Clock::Clock() : m_startTime(microseconds(nowMicroseconds)) {}

Time Clock::getElapsedTime() const
{
    return microseconds(nowMicroseconds) - m_startTime;
}

Time Clock::restart()
{
    const Time elapsed = getElapsedTime();
    m_startTime = microseconds(nowMicroseconds);
    return elapsed;
}

} // namespace sf

void feedMatchFrame(const std::vector<sf::Keyboard::Key>& keys, unsigned events)
{
    heldKeys = std::set<sf::Keyboard::Key>(keys.begin(), keys.end());
    sf::Event event{};
    event.type = sf::Event::KeyPressed;
    event.key.code = sf::Keyboard::Unknown;
    for (; events > 0; --events)
        handleEvent(event);
}

void setMatchClock(sf::Time time)
{
    nowMicroseconds = time.asMicroseconds();
}
