#include "arena/steering.hpp"

#include "game/frame.hpp"
#include "game/game_state.hpp"
#include "tests/fresh_game.hpp"
#include "tests/stand_ins.hpp"

#include <cmath>

namespace
{

using Key = sf::Keyboard;

void placeBallAtBearing(double bearing)
{
    ball.setPosition(static_cast<float>(640.0 + 200.0 * std::cos(bearing)),
                     static_cast<float>(360.0 + 200.0 * std::sin(bearing)));
}

using CpuOpponent = FreshGame; // a "Player v CPU" game: twoPlayer is 0

// The red paddle's rotation after one frame of steering from `rotation`, with
// the ball at `bearing`.
float cpuTurn(float rotation, double bearing)
{
    redPaddle.setRotation(rotation);
    placeBallAtBearing(bearing);
    steerPaddles();
    return redPaddle.getRotation();
}

TEST_F(CpuOpponent, TurnsTowardsTheBallRoughlyTheShorterWay)
{
    EXPECT_EQ(cpuTurn(0.f, 1.0), 5.f);
    EXPECT_EQ(cpuTurn(0.f, 4.0), 355.f); // more than half a turn beyond: back across 0
    EXPECT_EQ(cpuTurn(90.f, 0.3), 85.f);
    EXPECT_EQ(cpuTurn(10.f, 5.0), 5.f); // across bearing 0
    EXPECT_EQ(cpuTurn(200.f, 0.5), 195.f);
    EXPECT_EQ(cpuTurn(300.f, 0.5), 305.f); // a - pi > s: forwards through 0
    EXPECT_EQ(bluePaddle.getRotation(), 180.f);
}

TEST_F(CpuOpponent, HoldsStillWithTheBallInItsSpanOrAfterItsOwnHit)
{
    EXPECT_EQ(cpuTurn(0.f, 0.25), 0.f);
    EXPECT_EQ(cpuTurn(0.f, 0.0), 0.f);
    EXPECT_EQ(cpuTurn(0.f, 0.5), 0.f);
    lastHitter = 2;
    EXPECT_EQ(cpuTurn(0.f, 1.0), 0.f);
    EXPECT_EQ(cpuTurn(0.f, 4.0), 0.f);
    lastHitter = 1;
    EXPECT_EQ(cpuTurn(0.f, 1.0), 5.f);
}

TEST_F(CpuOpponent, SwitchesDirectionHalfATurnBeyondTheSpansFarEnd)
{
    // The switch lies at a + 0.5 + pi, about 3.6416 from rotation 0.
    EXPECT_EQ(cpuTurn(0.f, 3.6), 5.f); // the longer way round, by the rule
    EXPECT_EQ(cpuTurn(0.f, 3.64), 5.f);
    EXPECT_EQ(cpuTurn(0.f, 3.642), 355.f);
}

TEST_F(CpuOpponent, KnowsNothingOfTheWrapAroundAtBearingZero)
{
    // The ball step would count bearing 0.2 as on a paddle at 355; the
    // opponent still turns on to 0 and only then holds.
    EXPECT_EQ(cpuTurn(355.f, 0.2), 0.f);
    steerPaddles();
    EXPECT_EQ(redPaddle.getRotation(), 0.f);

    EXPECT_EQ(cpuTurn(350.f, 0.2), 355.f);
    steerPaddles();
    EXPECT_EQ(redPaddle.getRotation(), 0.f);
    steerPaddles();
    EXPECT_EQ(redPaddle.getRotation(), 0.f);
}

using PlayerKeys = FreshGame;

TEST_F(PlayerKeys, AgainstTheCpuWSAndUpDownAllSteerBlue)
{
    placeBallAtBearing(0.25); // keeps the opponent still
    struct Case
    {
        std::initializer_list<Key::Key> keys;
        float blue = 0.f;
    };
    for (const Case& c : {Case{{Key::W}, 185.f}, Case{{Key::Up}, 185.f}, Case{{Key::S}, 175.f},
                          Case{{Key::Down}, 175.f}, Case{{Key::W, Key::Up}, 185.f}, Case{{Key::W, Key::S}, 180.f},
                          Case{{Key::Up, Key::Down}, 180.f}, Case{{Key::S, Key::Down}, 175.f}})
    {
        bluePaddle.setRotation(180.f);
        standIn::holdKeys(c.keys);
        steerPaddles();
        EXPECT_EQ(bluePaddle.getRotation(), c.blue);
        EXPECT_EQ(redPaddle.getRotation(), 0.f);
    }
}

TEST_F(PlayerKeys, InATwoPlayerGameUpAndDownSteerRedAndNotBlue)
{
    twoPlayer = 1;
    placeBallAtBearing(1.5); // where the opponent, if it played, would turn
    struct Case
    {
        std::initializer_list<Key::Key> keys;
        float blue = 0.f;
        float red = 0.f;
    };
    for (const Case& c :
         {Case{{}, 180.f, 0.f}, Case{{Key::Up}, 180.f, 355.f}, Case{{Key::Down}, 180.f, 5.f},
          Case{{Key::Up, Key::Down}, 180.f, 0.f}, Case{{Key::W, Key::Down}, 185.f, 5.f}, Case{{Key::S}, 175.f, 0.f}})
    {
        bluePaddle.setRotation(180.f);
        redPaddle.setRotation(0.f);
        standIn::holdKeys(c.keys);
        steerPaddles();
        EXPECT_EQ(bluePaddle.getRotation(), c.blue);
        EXPECT_EQ(redPaddle.getRotation(), c.red);
    }
}

TEST_F(PlayerKeys, TurnsWrapIntoWholeDegreesFromZeroTo360)
{
    twoPlayer = 1;
    redPaddle.setRotation(0.f);
    standIn::holdKeys({Key::Up, Key::S});
    for (int frame = 0; frame < 72 * 3 + 1; ++frame)
        steerPaddles();
    EXPECT_EQ(redPaddle.getRotation(), 355.f);
    EXPECT_EQ(bluePaddle.getRotation(), 175.f);
}

using MissFrame = FreshGame;

TEST_F(MissFrame, PaddlesAreStillSteeredAfterTheReserveAndKeepThatThroughTheCountdown)
{
    inMenu = 0;
    ballLive = 1;
    countdown = 0;
    bluePaddle.setRotation(250.f);
    redPaddle.setRotation(300.f);
    ball.setPosition(640.f, 705.f); // beyond the rim at bearing pi/2, on neither span
    standIn::queueRand({0, 0});     // re-served at (625, 345), then moved to (632.5, 352.5)
    standIn::holdKeys({Key::W});

    runFrame();

    EXPECT_EQ(blueScore, -1);
    EXPECT_EQ(ball.getPosition(), sf::Vector2f(632.5f, 352.5f));
    EXPECT_EQ(bluePaddle.getRotation(), 185.f);
    EXPECT_EQ(redPaddle.getRotation(), 355.f); // bearing about 3.927: back across 0

    standIn::holdKeys({Key::S, Key::Down, Key::Up});
    standIn::advanceClock(0.5f);
    runFrame();
    runFrame();
    EXPECT_EQ(countdown, 2);
    EXPECT_EQ(bluePaddle.getRotation(), 185.f);
    EXPECT_EQ(redPaddle.getRotation(), 355.f);
}

} // namespace
