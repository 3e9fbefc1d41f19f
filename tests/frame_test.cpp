#include "game/frame.hpp"

#include "game/game_state.hpp"
#include "tests/fresh_game.hpp"
#include "tests/stand_ins.hpp"

namespace
{

using Key = sf::Keyboard;

sf::Event keyPress(Key::Key code)
{
    sf::Event event{};
    event.type = sf::Event::KeyPressed;
    event.key.code = code;
    return event;
}

sf::Event focusEvent(sf::Event::EventType type)
{
    sf::Event event{};
    event.type = type;
    return event;
}

bool isPlaying(const sf::Sound& sound)
{
    return sound.getStatus() == sf::Sound::Playing;
}

TEST(FormatInt, WritesPlainDecimalsWithALeadingMinus)
{
    EXPECT_EQ(formatInt(0), sf::String("0"));
    EXPECT_EQ(formatInt(-1), sf::String("-1"));
    EXPECT_EQ(formatInt(1234567), sf::String("1234567")); // no thousands separators
    EXPECT_EQ(formatInt(-2147483647 - 1), sf::String("-2147483648"));
    EXPECT_EQ(formatInt(7), sf::String("7")); // nothing left over from earlier calls
}

using MenuFrame = FreshGame;

TEST_F(MenuFrame, WithNoKeyHeldNothingChangesButTheMenuSoundsPitch)
{
    standIn::queueRand({9999});
    runFrame();
    EXPECT_EQ(inMenu, 1);
    EXPECT_EQ(menuSelection, 1);
    EXPECT_EQ(menuSound.getPitch(), 1.0666534f);
    EXPECT_FALSE(isPlaying(menuSound));
    EXPECT_EQ(hintText.getString(), sf::String("[Esc] to quit"));
    EXPECT_EQ(standIn::randDraws(), 1);
}

TEST_F(MenuFrame, SOrDownMovesTheHighlightDownWithTheMenuSound)
{
    for (Key::Key down : {Key::S, Key::Down})
    {
        SetUp();
        standIn::holdKeys({down});
        runFrame();
        EXPECT_EQ(menuSelection, 2);
        EXPECT_EQ(pvpOptionText.getOutlineThickness(), 4.f);
        EXPECT_EQ(cpuOptionText.getOutlineThickness(), 0.f);
        EXPECT_TRUE(isPlaying(menuSound));
    }
}

TEST_F(MenuFrame, WOrUpMovesTheHighlightBackUp)
{
    for (Key::Key up : {Key::W, Key::Up})
    {
        SetUp();
        menuSelection = 2;
        standIn::holdKeys({up});
        runFrame();
        EXPECT_EQ(menuSelection, 1);
        EXPECT_EQ(cpuOptionText.getOutlineThickness(), 4.f);
        EXPECT_EQ(pvpOptionText.getOutlineThickness(), 0.f);
        EXPECT_TRUE(isPlaying(menuSound));
    }
}

TEST_F(MenuFrame, WAndSTogetherEndOnPlayerVPlayerWithoutRestartingTheSound)
{
    menuSelection = 2;
    menuSound.play();
    menuSound.setPlayingOffset(sf::seconds(5.f));
    standIn::holdKeys({Key::W, Key::S});

    runFrame();

    EXPECT_EQ(menuSelection, 2);
    EXPECT_EQ(pvpOptionText.getOutlineThickness(), 4.f);
    EXPECT_EQ(cpuOptionText.getOutlineThickness(), 0.f);
    EXPECT_TRUE(isPlaying(menuSound));
    EXPECT_GE(menuSound.getPlayingOffset(), sf::seconds(5.f)); // asked twice, not restarted
}

TEST_F(MenuFrame, ReturnStartsTheHighlightedGameWithTheCountdownAndStartSound)
{
    standIn::advanceClock(2.f);
    standIn::holdKeys({Key::Return});
    runFrame();
    EXPECT_EQ(inMenu, 0);
    EXPECT_EQ(twoPlayer, 0);
    EXPECT_EQ(countdown, 3);
    EXPECT_EQ(ballLive, 0);
    EXPECT_EQ(countdownClock.getElapsedTime(), sf::Time::Zero);
    EXPECT_TRUE(isPlaying(selectSound));
    // Starting a game does not re-serve the ball.
    EXPECT_EQ(ball.getPosition(), sf::Vector2f(640.f, 360.f));
}

TEST_F(MenuFrame, ReturnWithSHeldStartsATwoPlayerGameAndWWithReturnACpuGame)
{
    standIn::holdKeys({Key::S, Key::Return});
    runFrame();
    EXPECT_EQ(twoPlayer, 1);

    SetUp();
    menuSelection = 2;
    twoPlayer = 1;
    standIn::holdKeys({Key::Up, Key::Return});
    runFrame();
    EXPECT_EQ(twoPlayer, 0);
}

using RKey = FreshGame;

TEST_F(RKey, OnTheMenuClearsScoresReservesAndPlaysTheStopSound)
{
    blueScore = 3;
    redScore = -1;
    menuSelection = 2;
    standIn::queueRand({3, 4, 5000});
    standIn::holdKeys({Key::R});

    handleEvent(keyPress(Key::R));
    runFrame();

    EXPECT_EQ(blueScore, 0);
    EXPECT_EQ(redScore, 0);
    EXPECT_EQ(ball.getPosition(), sf::Vector2f(628.f, 349.f));
    EXPECT_TRUE(isPlaying(stopSound));
    EXPECT_EQ(inMenu, 1);
    EXPECT_EQ(menuSelection, 2); // the last highlight stays
    EXPECT_EQ(menuSound.getPitch(), 1.f);
}

TEST_F(RKey, IsReadOncePerEventAndNotAtAllWithoutEvents)
{
    standIn::holdKeys({Key::R});
    handleEvent(keyPress(Key::R));
    handleEvent(sf::Event{}); // any event, a mouse move say
    EXPECT_EQ(standIn::randDraws(), 4);

    inMenu = 0;
    blueScore = 2;
    runFrame(); // no window, so no events: R is not read
    EXPECT_EQ(blueScore, 2);
}

TEST_F(RKey, DuringPlayWithReturnHeldRestartsTheGameAtOnce)
{
    inMenu = 0;
    ballLive = 1;
    countdown = 0;
    blueScore = 5;
    menuSelection = 2;
    standIn::holdKeys({Key::R, Key::Return});

    handleEvent(keyPress(Key::R));
    runFrame();

    EXPECT_EQ(inMenu, 0);
    EXPECT_EQ(ballLive, 0);
    EXPECT_EQ(countdown, 3);
    EXPECT_EQ(twoPlayer, 1);
    EXPECT_EQ(blueScore, 0);
    EXPECT_TRUE(isPlaying(selectSound));
    EXPECT_TRUE(isPlaying(stopSound));
}

using KeyboardFocus = FreshGame;

// Keys typed into another window are not the player's, though the keyboard's
// state says they are held.
TEST_F(KeyboardFocus, ElsewhereNoKeyIsHeldForEventsMenuOrPlayUntilItComesBack)
{
    blueScore = 3;
    standIn::holdKeys({Key::R, Key::S, Key::Return});
    handleEvent(focusEvent(sf::Event::LostFocus)); // counts before R is read
    handleEvent(sf::Event{});                      // the pointer crossing the window, say
    runFrame();
    EXPECT_EQ(blueScore, 3);
    EXPECT_FALSE(isPlaying(stopSound));
    EXPECT_EQ(inMenu, 1);
    EXPECT_EQ(menuSelection, 1);
    EXPECT_FALSE(isPlaying(menuSound));

    inMenu = 0;
    ballLive = 1;
    countdown = 0;
    standIn::holdKeys({Key::W, Key::Up});
    runFrame();
    EXPECT_EQ(bluePaddle.getRotation(), 180.f);

    handleEvent(focusEvent(sf::Event::GainedFocus));
    runFrame();
    EXPECT_EQ(bluePaddle.getRotation(), 185.f);
}

using CountdownFrames = FreshGame;

TEST_F(CountdownFrames, TickEveryHalfSecondAndShowZeroForExactlyOneFrame)
{
    standIn::holdKeys({Key::Return});
    runFrame();
    standIn::releaseKeys();
    const sf::Vector2f serve = ball.getPosition();

    runFrame();
    EXPECT_EQ(countdown, 3);
    EXPECT_EQ(countdownText.getString(), sf::String("3"));
    EXPECT_EQ(hintText.getString(), sf::String("[R] to return"));

    standIn::advanceClock(0.49f);
    runFrame();
    EXPECT_EQ(countdown, 3);

    standIn::advanceClock(0.01f);
    runFrame();
    EXPECT_EQ(countdown, 2);
    EXPECT_EQ(countdownText.getString(), sf::String("2"));
    EXPECT_EQ(countdownClock.getElapsedTime(), sf::Time::Zero);

    standIn::advanceClock(0.5f);
    runFrame();
    EXPECT_EQ(countdownText.getString(), sf::String("1"));

    standIn::advanceClock(0.7f);
    runFrame();
    EXPECT_EQ(countdown, 0);
    EXPECT_EQ(countdownText.getString(), sf::String("0"));
    EXPECT_EQ(ballLive, 0);
    EXPECT_EQ(ball.getPosition(), serve); // nothing moves on a countdown frame

    runFrame();
    EXPECT_EQ(ballLive, 1);
    EXPECT_EQ(countdown, 0);
    EXPECT_EQ(ball.getPosition(), serve + sf::Vector2f(7.5f, 7.5f)); // live at once
}

using LiveFrames = FreshGame;

TEST_F(LiveFrames, AnUntouchedFirstServeEscapesAndBothSidesLoseAPoint)
{
    standIn::holdKeys({Key::S, Key::Return}); // "Player v Player", no one steering
    runFrame();
    standIn::releaseKeys();
    runFrame();
    standIn::advanceClock(1.5f);
    runFrame(); // 3 -> 2: one tick per frame, however late
    standIn::advanceClock(0.5f);
    runFrame();
    standIn::advanceClock(0.5f);
    runFrame(); // "0"
    ASSERT_EQ(countdown, 0);

    int frames = 0;
    while (ballLive == 1 || frames == 0)
    {
        runFrame();
        ++frames;
        ASSERT_LT(frames, 100);
    }
    // From the centre at 7.5 px a frame each way, the ball passes 340 px on its
    // 33rd move, below and right of the red paddle.
    EXPECT_EQ(frames, 34);
    EXPECT_EQ(blueScore, -1);
    EXPECT_EQ(redScore, -1);
    EXPECT_EQ(countdown, 3);

    runFrame();
    EXPECT_EQ(blueScoreText.getString(), sf::String("-1"));
    EXPECT_EQ(redScoreText.getString(), sf::String("-1"));
    EXPECT_EQ(countdownText.getString(), sf::String("3"));
}

TEST_F(CountdownFrames, ALateFrameTicksOnlyOnce)
{
    inMenu = 0;
    standIn::advanceClock(5.f);
    runFrame();
    EXPECT_EQ(countdown, 2);
}

using ScoreTexts = FreshGame;

TEST_F(ScoreTexts, ShowTheCurrentScoresEveryFrameWithTheRedOneRightAligned)
{
    blueScore = -1;
    redScore = -12;
    runFrame();
    EXPECT_EQ(blueScoreText.getString(), sf::String("-1"));
    EXPECT_EQ(redScoreText.getString(), sf::String("-12"));
    // No font in these tests, so the text is zero wide.
    EXPECT_EQ(redScoreText.getPosition(), sf::Vector2f(1250.f, 240.f));
}

} // namespace
