#include "arena/ball_step.hpp"

#include "game/game_state.hpp"
#include "tests/fresh_game.hpp"
#include "tests/stand_ins.hpp"

#include <cmath>

// Expected values written as hex floats were worked out independently, one
// single-precision rounding per step, so a double slipped in anywhere shows.

namespace
{

// rand() % 50 - 25 is the jitter, so 25 means none.
constexpr int NoJitter = 25;
constexpr int MiddlePitch = 5000;

void placeBall(double bearing, double distance)
{
    ball.setPosition(static_cast<float>(640.0 + distance * std::cos(bearing)),
                     static_cast<float>(360.0 + distance * std::sin(bearing)));
}

bool isPlaying(const sf::Sound& sound)
{
    return sound.getStatus() == sf::Sound::Playing;
}

TEST(BallBearing, IsMeasuredClockwiseFromTheRightInSinglePrecision)
{
    ball.setPosition(305.7f, 274.6f);
    EXPECT_EQ(ballBearing(), 0x1.b2235p+1f); // about 3.3917
    ball.setPosition(640.f, 705.f);
    EXPECT_EQ(ballBearing(), static_cast<float>(Pi / 2));
    ball.setPosition(640.f, 15.f); // straight up: -pi/2 becomes 3pi/2
    EXPECT_EQ(ballBearing(), static_cast<float>(static_cast<double>(static_cast<float>(-Pi / 2)) + TwoPi));
    ball.setPosition(992.5f, 367.5f);
    EXPECT_EQ(ballBearing(), 0x1.5c8b0cp-6f); // about 0.0213
    ball.setPosition(985.f, 360.f - 1e-4f);
    EXPECT_LT(ballBearing(), static_cast<float>(TwoPi));
    EXPECT_GT(ballBearing(), 6.28f);
}

using BallStep = FreshGame; // blue paddle at 180, red at 0, nobody has touched the ball

TEST_F(BallStep, InsideOrExactlyOnTheRimTheBallOnlyMoves)
{
    ball.setPosition(980.f, 360.f); // exactly 340 from the centre, on the red span
    stepBall();
    EXPECT_EQ(ball.getPosition(), sf::Vector2f(987.5f, 367.5f));
    EXPECT_EQ(ballVelocity, sf::Vector2f(7.5f, 7.5f));
    EXPECT_EQ(lastHitter, 0);

    ball.setPosition(640.f, 700.f); // exactly 340, where no paddle is
    stepBall();
    EXPECT_EQ(ball.getPosition(), sf::Vector2f(647.5f, 707.5f));
    EXPECT_EQ(blueScore, 0);
    EXPECT_EQ(redScore, 0);
    EXPECT_EQ(standIn::randDraws(), 0);
    EXPECT_FALSE(isPlaying(bounceSound));
}

TEST_F(BallStep, TheBluePaddleTurnsTheBallBlueAndReflectsIt)
{
    ball.setPosition(305.7f, 274.6f); // 345 out, bearing about 3.392: on the blue span only
    standIn::queueRand({MiddlePitch, NoJitter, NoJitter});

    stepBall();

    EXPECT_EQ(lastHitter, 1);
    EXPECT_EQ(ball.getFillColor(), Blue);
    EXPECT_EQ(ballVelocity, sf::Vector2f(-0x1.45b3f8p+3f, 0x1.7df1a8p+1f));
    EXPECT_EQ(ball.getPosition(), sf::Vector2f(305.7f + -0x1.45b3f8p+3f, 274.6f + 0x1.7df1a8p+1f));
    EXPECT_NEAR(std::hypot(ballVelocity.x, ballVelocity.y), std::hypot(7.5, 7.5), 1e-5);
    EXPECT_EQ(standIn::randDraws(), 3);
    EXPECT_EQ(bounceSound.getPitch(), 1.f);
    EXPECT_TRUE(isPlaying(bounceSound));
}

TEST_F(BallStep, JitterRunsFromMinus25To24AndIsDrawnXFirst)
{
    ball.setPosition(305.7f, 274.6f);
    standIn::queueRand({MiddlePitch, 50, 99}); // x jitter -25, y jitter +24
    stepBall();
    EXPECT_EQ(ballVelocity, sf::Vector2f(-0x1.321448p+3f, 0x1.255d0ap+2f));
}

TEST_F(BallStep, TheRedPaddleReflectsAboutATiltedNormalInSinglePrecision)
{
    redPaddle.setRotation(100.f); // span about [1.745, 2.245]
    // Chosen so that a double anywhere in the normal's length, the dot product
    // or the reflection changes the last bit.
    ball.setPosition(0x1.ebfac6p+8f, 0x1.4fd0fep+9f); // bearing about 2.014, 345 out
    ballVelocity = sf::Vector2f(-5.3f, 7.9f);
    standIn::queueRand({MiddlePitch, -9 + NoJitter, -16 + NoJitter});

    stepBall();

    EXPECT_EQ(lastHitter, 2);
    EXPECT_EQ(ball.getFillColor(), Red);
    EXPECT_EQ(ballVelocity, sf::Vector2f(0x1.c9f3d8p+1f, -0x1.1a1254p+3f));
}

TEST_F(BallStep, ASpanThroughBearingZeroCatchesSmallBearings)
{
    struct Case
    {
        double bearing;
        bool hit;
    };
    for (const Case& c : {Case{0.2, true}, Case{6.25, true}, Case{0.9, false}})
    {
        SetUp();
        redPaddle.setRotation(355.f); // span about [6.196, 6.696]
        placeBall(c.bearing, 345.0);
        stepBall();
        EXPECT_EQ(lastHitter, c.hit ? 2 : 0) << "bearing " << c.bearing;
        EXPECT_EQ(blueScore, c.hit ? 0 : -1) << "bearing " << c.bearing;
    }
}

TEST_F(BallStep, OverlappingSpansMakeASharedTouchThatCostsBothSidesIfItEscapes)
{
    bluePaddle.setRotation(0.f);
    redPaddle.setRotation(355.f);
    lastHitter = 1;
    ball.setFillColor(Blue);
    placeBall(0.1, 345.0); // on blue directly, on red through the wrap-around

    stepBall();

    EXPECT_EQ(lastHitter, 0);
    EXPECT_EQ(ball.getFillColor(), Magenta);
    EXPECT_TRUE(isPlaying(bounceSound));

    placeBall(1.5, 345.0); // then it escapes where no paddle is
    stepBall();
    EXPECT_EQ(blueScore, -1);
    EXPECT_EQ(redScore, -1);
}

TEST_F(BallStep, ABallBeyondTheRimMovingInwardIsStillReflectedOutward)
{
    ball.setPosition(985.f, 360.f);
    ballVelocity = sf::Vector2f(-7.5f, 7.5f);
    standIn::queueRand({MiddlePitch, NoJitter, NoJitter});

    stepBall();

    EXPECT_EQ(ballVelocity, sf::Vector2f(7.5f, 7.5f));
    EXPECT_EQ(ball.getPosition(), sf::Vector2f(992.5f, 367.5f)); // about 352.58 out, bearing 0.0213

    // Still beyond the rim and on the red span: tested and reflected again.
    standIn::queueRand({MiddlePitch, NoJitter, NoJitter});
    stepBall();
    EXPECT_EQ(standIn::randDraws(), 6);
    EXPECT_EQ(lastHitter, 2);
    EXPECT_LT(ballVelocity.x, 0.f);
}

TEST_F(BallStep, AHitOnTheNextFrameRepitchesThePlayingBounceWithoutRestartingIt)
{
    ball.setPosition(985.f, 360.f);
    ballVelocity = sf::Vector2f(-7.5f, 7.5f);
    standIn::queueRand({0, NoJitter, NoJitter});
    stepBall();
    EXPECT_EQ(bounceSound.getPitch(), 0.93333334f);
    bounceSound.setPlayingOffset(sf::seconds(5.f));

    standIn::queueRand({9999, NoJitter, NoJitter});
    stepBall();
    EXPECT_EQ(bounceSound.getPitch(), 1.0666534f);
    EXPECT_TRUE(isPlaying(bounceSound));
    EXPECT_GE(bounceSound.getPlayingOffset(), sf::seconds(5.f));
}

TEST_F(BallStep, AMissScoresForTheLastHitterOrCostsBothAndReservesTheBall)
{
    struct Case
    {
        int hitter;
        int blue;
        int red;
    };
    for (const Case& c : {Case{1, 1, 0}, Case{2, 0, 1}, Case{0, -1, -1}})
    {
        SetUp();
        inMenu = 0;
        ballLive = 1;
        countdown = 0;
        lastHitter = c.hitter;
        bluePaddle.setRotation(250.f);
        redPaddle.setRotation(300.f);
        ballVelocity = sf::Vector2f(-2.5f, 10.f);
        ball.setPosition(640.f, 705.f); // bearing pi/2: on neither span
        standIn::queueRand({7, 29});

        stepBall();

        EXPECT_EQ(blueScore, c.blue) << "last hitter " << c.hitter;
        EXPECT_EQ(redScore, c.red) << "last hitter " << c.hitter;
        // Re-served at (632, 374), then this frame's move with the old velocity
        EXPECT_EQ(ball.getPosition(), sf::Vector2f(629.5f, 384.f));
        EXPECT_EQ(ballVelocity, sf::Vector2f(-2.5f, 10.f));
        EXPECT_EQ(ballLive, 0);
        EXPECT_EQ(countdown, 3);
        EXPECT_EQ(lastHitter, 0);
        EXPECT_EQ(ball.getFillColor(), Magenta);
        EXPECT_EQ(bluePaddle.getRotation(), 180.f);
        EXPECT_EQ(redPaddle.getRotation(), 0.f);
        EXPECT_FALSE(isPlaying(bounceSound));
    }
}

} // namespace
