// The game in the page. The browser's animation frames drive it: each runs
// the game frames that are due, 60 a second on any display, and the frame
// loop that the desktop's main runs has no place here. With ?replay=URL the
// page plays that match record back instead of its player's keys, and says
// each 60th frame's number and checksum on its console and on its canvas
// (data-frame, data-checksum), as zarv_replay does; with &check=K as well,
// every frame of it is rolled back K frames and run again, which must come
// out the same.

#include "game/frame.hpp"
#include "game/game_state.hpp"
#include "game/match.hpp"
#include "rollback/record.hpp"
#include "web/online.hpp"

#include <SFML/System/Emscripten/ClockImpl.hpp>
#include <SFML/Window/Emscripten/InputImpl.hpp>

#include <emscripten.h>
#include <emscripten/wget.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" int sfContextLost(); // library_sfml_window.js

EM_JS(char*, zarvReplayUrl, (), {
    const url = new URLSearchParams(location.search).get('replay');
    return url ? allocateUTF8(url) : 0;
});
EM_JS(int, zarvReplayCheck, (),
      { return Math.max(0, Math.min(60, Number(new URLSearchParams(location.search).get('check')) || 0)); });
EM_JS(void, zarvPublish, (int frame, const char* checksum), {
    Module['canvas'].dataset.frame = frame;
    Module['canvas'].dataset.checksum = UTF8ToString(checksum);
});

namespace
{

// The game moves a fixed step a frame, made for 60 frames a second; the
// browser's animation frames come at the display's rate, 120 or 144 a second
// on many. A game frame is due once 1/60 s has gathered, to the nearest
// refresh, so that 144 Hz alternates two and three refreshes. A display of
// about 60 Hz or slower runs a frame every refresh, however early or late its
// frames come, as vertical sync does: its rate is the median of the last
// refreshes, so that one early frame does not count.
class Pacing
{
public:
    bool due(double time)
    {
        if (last < 0)
        {
            last = time;
            return true;
        }
        const double interval = time - last;
        last = time;
        intervals.push_back(interval);
        if (intervals.size() > 9)
            intervals.erase(intervals.begin());
        const double refresh = intervals.size() >= 3 ? median() : Period;
        if (refresh > Period * 0.9)
        {
            gathered = 0;
            return true;
        }
        gathered = std::min(gathered + interval, 2 * Period);
        if (gathered < Period - refresh / 2)
            return false;
        gathered -= Period;
        return true;
    }

private:
    static constexpr double Period = 1000.0 / 60.0;

    double median() const
    {
        std::vector<double> sorted = intervals;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }

    double last = -1;
    double gathered = 0;
    std::vector<double> intervals;
};

Pacing pacing;
rollback::Record replay;
std::int32_t replayFrame = -1;  // -1: no replay
std::vector<GameState> checked; // the states of the last frames, when every frame is rolled back that many

void say(std::int32_t frame)
{
    char checksum[17];
    std::snprintf(checksum, sizeof checksum, "%016" PRIx64, checksumOf(saveBefore(frame)));
    std::printf("frame %" PRId32 " checksum %s\n", frame, checksum);
    zarvPublish(frame, checksum);
}

void stepReplay()
{
    const auto frames = static_cast<std::int32_t>(replay.frames.size());
    if (replayFrame % 60 == 0 || replayFrame == frames)
        say(replayFrame);
    if (replayFrame == frames)
    {
        std::printf("scores %" PRId32 " %" PRId32 "\n", blueScore, redScore);
        replayFrame = -1; // the player's keys play on from here, on the page's own clock
        sf::priv::InputImpl::stopFeeding();
        sf::priv::ClockImpl::useRealTime();
        return;
    }
    // The canvas's own events, since the last frame, count for nothing
    sf::priv::InputImpl::stopFeeding();
    for (sf::Event event{}; window.pollEvent(event);)
    {
    }
    if (!checked.empty())
        checked[static_cast<std::size_t>(replayFrame) % checked.size()] = saveBefore(replayFrame);
    runMatchFrame(replay.frames[static_cast<std::size_t>(replayFrame)], replayFrame, true);
    ++replayFrame;
    const auto again = static_cast<std::int32_t>(checked.size());
    if (again == 0 || replayFrame < again)
        return;
    const std::uint64_t expected = checksumOf(saveBefore(replayFrame));
    restoreGame(checked[static_cast<std::size_t>(replayFrame - again) % checked.size()]);
    for (std::int32_t frame = replayFrame - again; frame < replayFrame; ++frame)
        runMatchFrame(replay.frames[static_cast<std::size_t>(frame)], frame, false);
    if (checksumOf(saveBefore(replayFrame)) != expected)
        std::fprintf(stderr, "zarv: frame %" PRId32 " runs again differently\n", replayFrame - 1);
}

void onReplayLoaded(void* /*arg*/, void* data, int size)
{
    if (!rollback::decodeRecord(static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size), replay))
    {
        std::fputs("zarv: the replay is no match record\n", stderr);
        return;
    }
    startMatch(replay.seed);
    replayFrame = 0;
    checked.resize(static_cast<std::size_t>(zarvReplayCheck()));
}

void onReplayFailed(void* /*arg*/)
{
    std::fputs("zarv: the replay could not be fetched\n", stderr);
}

// Emscripten's main loop on the animation frames: a fault in a frame ends it
// and goes to the page as an error; an exit ends the program
void onAnimationFrame()
{
    if (sfContextLost() != 0)
        return;
    if (playingOnline())
        runOnlineFrames(emscripten_get_now());
    else if (!pacing.due(emscripten_get_now()))
        return;
    else if (replayFrame >= 0)
        stepReplay();
    else
        runFrame();
    if (!window.isOpen()) // as the desktop's main returns: the page says that the game has ended
        emscripten_force_exit(0);
}

} // namespace

// rand() as the page's C library has it, with a state that a match saves
int rand()
{
    return nextRandom();
}

void srand(unsigned seed)
{
    seedRandom(seed);
}

void feedMatchFrame(const std::vector<sf::Keyboard::Key>& keys, unsigned events)
{
    sf::priv::InputImpl::feedFrame(keys, events);
}

void setMatchClock(sf::Time time)
{
    sf::priv::ClockImpl::setMatchTime(time);
}

int main()
{
    setupScene();
    if (char* url = zarvReplayUrl())
    {
        emscripten_async_wget_data(url, nullptr, onReplayLoaded, onReplayFailed);
        std::free(url);
    }
    runFrame(); // the first menu frame at once, before the first animation frame
    emscripten_set_main_loop(onAnimationFrame, 0, 1);
}
