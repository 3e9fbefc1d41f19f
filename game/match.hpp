#pragma once

// The game in a match or a replay: both devices run every frame from the
// same inputs, a rollback saves and restores the whole state and runs frames
// again, and rand() is a generator whose state is saved with it.

#include "rollback/input.hpp"

#include <SFML/System/Clock.hpp>
#include <SFML/System/Time.hpp>
#include <SFML/Window/Keyboard.hpp>

#include <cstdint>
#include <vector>

// The game's keys in a frame of a match: blue's device steers the blue paddle
// with either W and S or Up and Down, red's the red one; Return and R are
// either's; Escape leaves the match, not the game. The events of both count.
std::vector<sf::Keyboard::Key> keysHeldIn(const rollback::FrameInput& input);
unsigned eventsIn(const rollback::FrameInput& input);

// This device's own keys held now, as its side's input in a frame of a
// match, with the events its window had; and whether they leave the match
rollback::SideInput sideInputOfHeldKeys(unsigned events);
bool leavesMatch(const rollback::SideInput& side);

// In a match the countdown's clock counts frames: 30 frames are 0.5 s
sf::Time matchTime(std::int32_t frame);

// rand() in a match: musl's generator, as the page's C library has it, so
// that a seed gives the page's own sequence there, with a state to save
int nextRandom();
void seedRandom(unsigned seed);

// Runs a frame of a match or a replay, as every device runs it: with the
// frame's input, its time on the clock and, when it runs again after a
// rollback, nothing drawn or sounded.
void runMatchFrame(const rollback::FrameInput& input, std::int32_t frame, bool firstTime, bool shown = true);

// Each platform's, where it plays matches (the page's backend, the tests'
// stand-ins): the keys held and the events polled in the frame that runs
// next, whatever the local window's focus; and the time every clock reads.
void feedMatchFrame(const std::vector<sf::Keyboard::Key>& keys, unsigned events);
void setMatchClock(sf::Time time);

// Everything a later frame reads of the game. Saved before a frame, when
// the clock reads that frame's time, as is the countdown's clock's reading.
struct GameState
{
    std::int32_t menuSelection, inMenu, blueScore, redScore, ballLive, twoPlayer, countdown, windowFocused;
    std::int32_t lastHitter;
    float ballX, ballY, velocityX, velocityY, blueRotation, redRotation, cpuOutline, pvpOutline;
    std::uint32_t ballColour;
    sf::Clock countdownClock;
    std::int64_t countdownElapsed; // microseconds
    std::uint64_t random;
};

GameState saveBefore(std::int32_t frame); // the state now, before that frame runs
void restoreGame(const GameState& state);
std::uint64_t checksumOf(const GameState& state); // floats by their bits, every NaN alike

// The state a match or a replay starts from, whatever came before: the game
// just started, on its menu, with rand() seeded and the clock at frame 0
void startMatch(std::uint32_t seed);
