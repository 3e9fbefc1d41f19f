// The game logic of one frame, timed on zarv_core, the library the game links.
// tests/stand_ins.cpp answers rand(), the held keys and the clock, so the keys
// are the benchmark's and no X server is asked. Every benchmark reports its
// frames as items, so items per second give the cost of one frame.

#include "arena/ball_step.hpp"
#include "arena/steering.hpp"
#include "game/frame.hpp"
#include "game/game_state.hpp"
#include "game/match.hpp"
#include "tests/stand_ins.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace
{

using Key = sf::Keyboard;

// The build's own sounds, so that a bounce plays what the game plays.
void loadSounds()
{
    static bool loaded = false;
    if (loaded)
        return;
    menuBuffer.loadFromFile("menu.wav");
    menuSound.setBuffer(menuBuffer);
    selectBuffer.loadFromFile("selected.wav");
    selectSound.setBuffer(selectBuffer);
    stopBuffer.loadFromFile("stop.wav");
    stopSound.setBuffer(stopBuffer);
    bounceBuffer.loadFromFile("zarv.wav");
    bounceSound.setBuffer(bounceBuffer);
    loaded = true;
}

// A "Player v CPU" game with the ball just served from the centre.
void startCpuGame()
{
    loadSounds();
    standIn::releaseKeys();
    standIn::resetRand(1);
    menuSelection = 1;
    inMenu = 0;
    twoPlayer = 0;
    blueScore = 0;
    redScore = 0;
    ballLive = 1;
    countdown = 0;
    ball.setPosition(640.f, 360.f);
    ball.setFillColor(Magenta);
    ballVelocity = sf::Vector2f(7.5f, 7.5f);
    lastHitter = 0;
    bluePaddle.setRotation(180.f);
    redPaddle.setRotation(0.f);
}

void liveFrame()
{
    stepBall();
    steerPaddles();
}

// The countdown after a miss is skipped: only live frames are timed.
void rearmAfterMiss()
{
    if (ballLive == 0)
    {
        ballLive = 1;
        countdown = 0;
    }
}

sf::Vector2f pointAt(double bearing, double distance)
{
    return {static_cast<float>(640.0 + distance * std::cos(bearing)),
            static_cast<float>(360.0 + distance * std::sin(bearing))};
}

// At serve speed, 32 frames from the centre stay short of the rim (340 px).
constexpr int FramesPerServe = 32;

void BM_LiveFrameOpenPlay(benchmark::State& state)
{
    startCpuGame();
    standIn::holdKeys({Key::W});
    for ([[maybe_unused]] auto _ : state)
    {
        ball.setPosition(640.f, 360.f);
        for (int i = 0; i < FramesPerServe; ++i)
            liveFrame();
    }
    state.SetItemsProcessed(state.iterations() * FramesPerServe);
}

// The ball beyond the rim on the red paddle: colour, sound, a bounce.
void BM_LiveFrameRimBounce(benchmark::State& state)
{
    startCpuGame();
    standIn::holdKeys({Key::S});
    const sf::Vector2f onRedPaddle = pointAt(0.25, 345.0);
    for ([[maybe_unused]] auto _ : state)
    {
        ball.setPosition(onRedPaddle);
        ballVelocity = sf::Vector2f(10.f, 2.5f);
        lastHitter = 0;
        liveFrame();
    }
    state.SetItemsProcessed(state.iterations());
}

// The ball beyond the rim where no paddle is: a point and the re-serve.
void BM_LiveFrameRimMiss(benchmark::State& state)
{
    startCpuGame();
    standIn::holdKeys({Key::Up});
    const sf::Vector2f belowCentre = pointAt(Pi / 2.0, 345.0);
    for ([[maybe_unused]] auto _ : state)
    {
        ball.setPosition(belowCentre);
        ballVelocity = sf::Vector2f(0.f, 10.6f);
        liveFrame();
        rearmAfterMiss();
    }
    state.SetItemsProcessed(state.iterations());
}

// A rally as a player plays it: blue keeps the middle of its paddle under the
// ball with W and S, the CPU plays red. The keys are worked out once, frame by
// frame, so the timed replay only flips held keys, as a keyboard would.
struct Rally
{
    std::vector<std::uint8_t> keys; // 0 none, 1 W, 2 S
    int bounces = 0;
    int misses = 0;
    std::int32_t blueScore = 0;
    std::int32_t redScore = 0;
};

constexpr int RallyFrames = 20000;

void holdOnly(std::uint8_t keys)
{
    standIn::setKeyHeld(Key::W, keys == 1);
    standIn::setKeyHeld(Key::S, keys == 2);
}

Rally recordRally()
{
    Rally rally;
    startCpuGame();
    std::uint8_t held = 0;
    for (int frame = 0; frame < RallyFrames; ++frame)
    {
        const double paddleMiddle = bluePaddle.getRotation() * DegreesToRadians + PaddleSpan / 2.0;
        const double gap = std::remainder(ballBearing() - paddleMiddle, TwoPi);
        if (gap > 0.1)
            held = 1;
        else if (gap < -0.1)
            held = 2;
        else if (std::abs(gap) < 0.03)
            held = 0;
        holdOnly(held);
        rally.keys.push_back(held);

        const sf::Vector2f velocityBefore = ballVelocity;
        liveFrame();
        if (ballLive == 0)
            ++rally.misses;
        else if (ballVelocity != velocityBefore)
            ++rally.bounces;
        rearmAfterMiss();
    }
    rally.blueScore = blueScore;
    rally.redScore = redScore;
    return rally;
}

void BM_LiveFrameRally(benchmark::State& state)
{
    static const Rally rally = recordRally();
    startCpuGame();
    std::uint8_t held = 0;
    std::size_t frame = 0;
    for ([[maybe_unused]] auto _ : state)
    {
        if (frame == rally.keys.size())
        {
            if (blueScore != rally.blueScore || redScore != rally.redScore)
            {
                state.SkipWithError("the replay went another way than the recorded rally");
                break;
            }
            startCpuGame();
            held = 0;
            frame = 0;
        }
        if (rally.keys[frame] != held)
        {
            held = rally.keys[frame];
            holdOnly(held);
        }
        liveFrame();
        rearmAfterMiss();
        ++frame;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(std::to_string(RallyFrames) + " frames: " + std::to_string(rally.bounces) + " bounces, " +
                   std::to_string(rally.misses) + " misses");
}

// runFrame() with no window open: SFML's draw calls return at once, so what
// is left is the events, the text updates and the menu's keys, pitch and sound.
void BM_MenuFrameNoDrawing(benchmark::State& state)
{
    startCpuGame();
    inMenu = 1;
    for ([[maybe_unused]] auto _ : state)
        runFrame();
    state.SetItemsProcessed(state.iterations());
}

// The same for a live frame: the logic plus the text updates around it.
void BM_LiveRunFrameNoDrawing(benchmark::State& state)
{
    startCpuGame();
    standIn::holdKeys({Key::W});
    for ([[maybe_unused]] auto _ : state)
    {
        ball.setPosition(640.f, 360.f);
        for (int i = 0; i < FramesPerServe; ++i)
            runFrame();
    }
    state.SetItemsProcessed(state.iterations() * FramesPerServe);
}

// What a rollback adds to the frames it runs again: the state saved before a
// frame and put back, as a match does, with its checksum
void BM_SaveAndRestore(benchmark::State& state)
{
    startCpuGame();
    std::int32_t frame = 0;
    for ([[maybe_unused]] auto _ : state)
    {
        const GameState saved = saveBefore(frame++);
        restoreGame(saved);
        benchmark::DoNotOptimize(checksumOf(saved));
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_LiveFrameOpenPlay);
BENCHMARK(BM_LiveFrameRimBounce);
BENCHMARK(BM_LiveFrameRimMiss);
BENCHMARK(BM_LiveFrameRally);
BENCHMARK(BM_MenuFrameNoDrawing);
BENCHMARK(BM_LiveRunFrameNoDrawing);
BENCHMARK(BM_SaveAndRestore);

BENCHMARK_MAIN();
