#include "tests/stand_ins.hpp"

#include <SFML/System/Clock.hpp>
#include <SFML/Window/GlResource.hpp>

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
std::uint32_t lcgState = 1;

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
    lcgState = seed;
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

// Queued values first, then a small deterministic generator.
int rand() AS_LIBC_DECLARES
{
    ++drawCount;
    if (!queuedRand.empty())
    {
        const int value = queuedRand.front();
        queuedRand.pop_front();
        return value;
    }
    lcgState = lcgState * 1103515245u + 12345u;
    return static_cast<int>((lcgState >> 1) & 0x7fffffff);
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

// The game's window is a GL resource even before it opens; without these, its
// construction would look for an X display. The whole class is replaced, so
// that a static SFML's own is never linked in beside it; headless, nothing
// asks for a GL context.
GlResource::GlResource() = default;
GlResource::~GlResource() = default; // NOLINT(performance-trivially-destructible): replaces SFML's own
void GlResource::registerContextDestroyCallback(ContextDestroyCallback /*callback*/, void* /*arg*/) {}
GlResource::TransientContextLock::TransientContextLock() = default;
GlResource::TransientContextLock::~TransientContextLock() = default; // NOLINT(performance-trivially-destructible)

} // namespace sf
