#include "game/game_state.hpp"

#include "tests/fresh_game.hpp"
#include "tests/stand_ins.hpp"

#include <climits>

namespace
{

TEST(Palette, HoldsTheGameColoursWithTheirAlphas)
{
    EXPECT_EQ(Backdrop, sf::Color(76, 74, 72, 1)); // alpha 1, not 255
    EXPECT_EQ(White, sf::Color(254, 252, 250, 255));
    EXPECT_EQ(Blue, sf::Color(0, 0, 255, 127));
    EXPECT_EQ(Red, sf::Color(255, 0, 0, 127));
    EXPECT_EQ(Magenta, sf::Color(255, 0, 255, 255));
    EXPECT_EQ(Steel, sf::Color(105, 121, 126, 255));
    EXPECT_EQ(Slate, sf::Color(81, 92, 107, 255));
    EXPECT_EQ(Mist, sf::Color(104, 118, 138, 255));
}

TEST(BallRecord, StartsMagentaAtTheCentreUntouchedAtSevenAndAHalfEachWay)
{
    const BallRecord fresh;
    EXPECT_EQ(fresh.ball.getRadius(), 10.f);
    EXPECT_EQ(fresh.ball.getPointCount(), 30u);
    EXPECT_EQ(fresh.ball.getOrigin(), sf::Vector2f(10.f, 10.f));
    EXPECT_EQ(fresh.ball.getPosition(), sf::Vector2f(640.f, 360.f));
    EXPECT_EQ(fresh.ball.getFillColor(), Magenta);
    EXPECT_EQ(fresh.ballVelocity, sf::Vector2f(7.5f, 7.5f));
    EXPECT_EQ(fresh.lastHitter, 0);
}

TEST(SceneAtConstruction, ArenaAndMenuBoxHaveTheirSizes)
{
    EXPECT_EQ(arena.getRadius(), 350.f);
    EXPECT_EQ(arena.getPointCount(), 120u);
    EXPECT_EQ(menuBox.getSize(), sf::Vector2f(240.f, 240.f));
    EXPECT_FALSE(window.isOpen());
}

using RandomPitch = FreshGame;

TEST_F(RandomPitch, SpansFromJustUnderFifteenSixteenthsToJustOverSeventeenSixteenths)
{
    standIn::queueRand({0, 5000, 9999, 19999, 10000});
    EXPECT_EQ(randomPitch(), 0.93333334f);
    EXPECT_EQ(randomPitch(), 1.f);
    EXPECT_EQ(randomPitch(), 1.0666534f);
    EXPECT_EQ(randomPitch(), 1.0666534f); // only rand() % 10000 counts
    EXPECT_EQ(randomPitch(), 0.93333334f);
    EXPECT_EQ(standIn::randDraws(), 5);
}

using ResetRally = FreshGame;

TEST_F(ResetRally, DrawsXThenYIntoTheBlockAroundTheCentre)
{
    standIn::queueRand({7, 29});
    resetRally();
    EXPECT_EQ(ball.getPosition(), sf::Vector2f(632.f, 374.f));
    EXPECT_EQ(standIn::randDraws(), 2);

    standIn::queueRand({0, 0, 29 + 30 * 1000, RAND_MAX});
    resetRally();
    EXPECT_EQ(ball.getPosition(), sf::Vector2f(625.f, 345.f));
    resetRally();
    EXPECT_EQ(ball.getPosition().x, 654.f);
    EXPECT_EQ(ball.getPosition().y, static_cast<float>(RAND_MAX % 30 + 345));
    EXPECT_EQ(standIn::randDraws(), 6);
}

TEST_F(ResetRally, AlwaysLandsOnWholePixelsInsideTheBlock)
{
    for (int i = 0; i < 2000; ++i)
    {
        resetRally();
        const sf::Vector2f p = ball.getPosition();
        ASSERT_GE(p.x, 625.f);
        ASSERT_LE(p.x, 654.f);
        ASSERT_GE(p.y, 345.f);
        ASSERT_LE(p.y, 374.f);
        ASSERT_EQ(p.x, static_cast<float>(static_cast<int>(p.x)));
        ASSERT_EQ(p.y, static_cast<float>(static_cast<int>(p.y)));
    }
    EXPECT_EQ(standIn::randDraws(), 4000);
}

TEST_F(ResetRally, SendsPaddlesHomeAndRestartsTheCountdown)
{
    bluePaddle.setRotation(95.f);
    redPaddle.setRotation(355.f);
    ball.setFillColor(Red);
    lastHitter = 2;
    countdown = 0;
    ballLive = 1;
    standIn::advanceClock(3.f);

    resetRally();

    EXPECT_EQ(bluePaddle.getRotation(), 180.f);
    EXPECT_EQ(redPaddle.getRotation(), 0.f);
    EXPECT_EQ(lastHitter, 0);
    EXPECT_EQ(ball.getFillColor(), Magenta);
    EXPECT_EQ(countdown, 3);
    EXPECT_EQ(ballLive, 0);
    EXPECT_EQ(countdownClock.getElapsedTime(), sf::Time::Zero);
}

TEST_F(ResetRally, LeavesVelocityScoresAndMenuAlone)
{
    ballVelocity = sf::Vector2f(-3.25f, 9.75f);
    blueScore = 4;
    redScore = -2;
    inMenu = 0;
    twoPlayer = 1;
    menuSelection = 2;

    resetRally();

    EXPECT_EQ(ballVelocity, sf::Vector2f(-3.25f, 9.75f));
    EXPECT_EQ(blueScore, 4);
    EXPECT_EQ(redScore, -2);
    EXPECT_EQ(inMenu, 0);
    EXPECT_EQ(twoPlayer, 1);
    EXPECT_EQ(menuSelection, 2);
}

} // namespace
