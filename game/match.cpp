#include "game/match.hpp"

#include "game/frame.hpp"
#include "game/game_state.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace
{
using Key = sf::Keyboard;

std::uint64_t randomState = 0;

enum SideKey : std::uint8_t
{
    W = 1,
    S = 2,
    Up = 4,
    Down = 8,
    Return = 16,
    R = 32,
    Escape = 64
};

bool held(const rollback::SideInput& side, std::uint8_t keys)
{
    return (side.keys & keys) != 0;
}

std::uint32_t bitsOf(float value)
{
    if (std::isnan(value))
        value = NAN;
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// FNV-1a, 64 bits
void fold(std::uint64_t& hash, std::uint64_t value)
{
    for (int byte = 0; byte < 8; ++byte)
    {
        hash ^= (value >> (8 * byte)) & 0xFFu;
        hash *= 0x100000001B3u;
    }
}
} // namespace

std::vector<sf::Keyboard::Key> keysHeldIn(const rollback::FrameInput& input)
{
    const rollback::SideInput& blue = input.side[0];
    const rollback::SideInput& red = input.side[1];
    std::vector<sf::Keyboard::Key> keys;
    const std::pair<bool, Key::Key> game[] = {
        {held(blue, W | Up), Key::W},
        {held(blue, S | Down), Key::S},
        {held(red, W | Up), Key::Up},
        {held(red, S | Down), Key::Down},
        {held(blue, Return) || held(red, Return), Key::Return},
        {held(blue, R) || held(red, R), Key::R},
    };
    for (const auto& [isHeld, key] : game)
        if (isHeld)
            keys.push_back(key);
    return keys;
}

rollback::SideInput sideInputOfHeldKeys(unsigned events)
{
    const std::pair<Key::Key, std::uint8_t> sideKeys[] = {{Key::W, W},          {Key::S, S},           {Key::Up, Up},
                                                          {Key::Down, Down},    {Key::Return, Return}, {Key::R, R},
                                                          {Key::Escape, Escape}};
    std::uint8_t keys = 0;
    for (const auto& [key, bit] : sideKeys)
        if (Key::isKeyPressed(key))
            keys = static_cast<std::uint8_t>(keys | bit);
    return {keys, static_cast<std::uint8_t>(std::min(events, 255u))};
}

bool leavesMatch(const rollback::SideInput& side)
{
    return held(side, Escape);
}

unsigned eventsIn(const rollback::FrameInput& input)
{
    return unsigned{input.side[0].events} + unsigned{input.side[1].events};
}

sf::Time matchTime(std::int32_t frame)
{
    return sf::microseconds(std::int64_t{frame} * 1000000 / 60);
}

void runMatchFrame(const rollback::FrameInput& input, std::int32_t frame, bool firstTime, bool shown)
{
    setMatchClock(matchTime(frame));
    feedMatchFrame(keysHeldIn(input), eventsIn(input));
    frameRunAgain = firstTime ? 0 : 1;
    frameUnseen = shown ? 0 : 1;
    runFrame();
    frameRunAgain = 0;
    frameUnseen = 0;
}

int nextRandom()
{
    randomState = 6364136223846793005u * randomState + 1;
    return static_cast<int>(randomState >> 33);
}

void seedRandom(unsigned seed)
{
    randomState = seed - 1u;
}

GameState saveBefore(std::int32_t frame)
{
    setMatchClock(matchTime(frame));
    return {menuSelection,
            inMenu,
            blueScore,
            redScore,
            ballLive,
            twoPlayer,
            countdown,
            windowFocused,
            lastHitter,
            ball.getPosition().x,
            ball.getPosition().y,
            ballVelocity.x,
            ballVelocity.y,
            bluePaddle.getRotation(),
            redPaddle.getRotation(),
            cpuOptionText.getOutlineThickness(),
            pvpOptionText.getOutlineThickness(),
            ball.getFillColor().toInteger(),
            countdownClock,
            countdownClock.getElapsedTime().asMicroseconds(),
            randomState};
}

void restoreGame(const GameState& state)
{
    menuSelection = state.menuSelection;
    inMenu = state.inMenu;
    blueScore = state.blueScore;
    redScore = state.redScore;
    ballLive = state.ballLive;
    twoPlayer = state.twoPlayer;
    countdown = state.countdown;
    windowFocused = state.windowFocused;
    lastHitter = state.lastHitter;
    ball.setPosition(state.ballX, state.ballY);
    ballVelocity = sf::Vector2f(state.velocityX, state.velocityY);
    bluePaddle.setRotation(state.blueRotation);
    redPaddle.setRotation(state.redRotation);
    cpuOptionText.setOutlineThickness(state.cpuOutline);
    pvpOptionText.setOutlineThickness(state.pvpOutline);
    ball.setFillColor(sf::Color(state.ballColour));
    countdownClock = state.countdownClock;
    randomState = state.random;
}

std::uint64_t checksumOf(const GameState& state)
{
    std::uint64_t hash = 0xCBF29CE484222325u;
    for (const std::int32_t value : {state.menuSelection, state.inMenu, state.blueScore, state.redScore, state.ballLive,
                                     state.twoPlayer, state.countdown, state.windowFocused, state.lastHitter})
        fold(hash, static_cast<std::uint32_t>(value));
    for (const float value : {state.ballX, state.ballY, state.velocityX, state.velocityY, state.blueRotation,
                              state.redRotation, state.cpuOutline, state.pvpOutline})
        fold(hash, bitsOf(value));
    fold(hash, state.ballColour);
    fold(hash, static_cast<std::uint64_t>(state.countdownElapsed));
    fold(hash, state.random);
    return hash;
}

void startMatch(std::uint32_t seed)
{
    menuSelection = 1;
    inMenu = 1;
    blueScore = 0;
    redScore = 0;
    ballLive = 0;
    twoPlayer = 0;
    countdown = 3;
    windowFocused = 1;
    lastHitter = 0;
    ball.setPosition(640.f, 360.f);
    ballVelocity = sf::Vector2f(7.5f, 7.5f);
    bluePaddle.setRotation(180.f);
    redPaddle.setRotation(0.f);
    cpuOptionText.setOutlineThickness(4.f);
    pvpOptionText.setOutlineThickness(0.f);
    ball.setFillColor(Magenta);
    setMatchClock(matchTime(0));
    countdownClock.restart();
    seedRandom(seed);
}
