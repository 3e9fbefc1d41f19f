// Start-up in a real X server (run under xvfb-run, in the build folder beside
// the assets): the window and the layout that the real font gives the texts.

#include "game/frame.hpp"
#include "game/game_state.hpp"
#include "game/match.hpp"
#include "tests/match_players.hpp"
#include "tests/printers.hpp"

#include <SFML/OpenGL.hpp>
#include <gtest/gtest.h>

#include <vector>

namespace
{

class StartUp : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!window.isOpen())
            setupScene();
    }
};

// The bounds the font gives a string, measured on a text of our own; an
// outline widens them.
sf::FloatRect boundsOf(const char* string, unsigned size, float outline = 0.f)
{
    sf::Text text(string, font, size);
    text.setOutlineThickness(outline);
    return text.getLocalBounds();
}

TEST_F(StartUp, OpensThe1280By720WindowWithTheGameOnTheMenu)
{
    ASSERT_TRUE(window.isOpen());
    EXPECT_EQ(window.getSize(), sf::Vector2u(1280, 720));
    EXPECT_EQ(inMenu, 1);
    EXPECT_EQ(menuSelection, 1);
    EXPECT_EQ(countdown, 3);
    EXPECT_EQ(ballLive, 0);
    EXPECT_EQ(blueScore, 0);
    EXPECT_EQ(redScore, 0);
    EXPECT_EQ(ball.getPosition(), sf::Vector2f(640.f, 360.f));
}

TEST_F(StartUp, LaysOutArenaMenuBoxAndPaddlesAroundTheCentre)
{
    EXPECT_EQ(arena.getFillColor(), White);
    EXPECT_EQ(arena.getOutlineColor(), Steel);
    EXPECT_EQ(arena.getOutlineThickness(), 5.f);
    EXPECT_EQ(arena.getOrigin(), sf::Vector2f(350.f, 350.f));
    EXPECT_EQ(arena.getPosition(), sf::Vector2f(640.f, 360.f));

    EXPECT_EQ(menuBox.getFillColor(), Mist);
    EXPECT_EQ(menuBox.getOutlineColor(), Slate);
    EXPECT_EQ(menuBox.getOutlineThickness(), 10.f);
    EXPECT_EQ(menuBox.getOrigin(), sf::Vector2f(120.f, 120.f));
    EXPECT_EQ(menuBox.getPosition(), sf::Vector2f(640.f, 360.f));

    EXPECT_EQ(bluePaddle.getPosition(), sf::Vector2f(640.f, 360.f));
    EXPECT_EQ(bluePaddle.getRotation(), 180.f);
    EXPECT_EQ(bluePaddle.vertices[0].color, Blue);
    EXPECT_EQ(redPaddle.getPosition(), sf::Vector2f(640.f, 360.f));
    EXPECT_EQ(redPaddle.getRotation(), 0.f);
    EXPECT_EQ(redPaddle.vertices[61].color, Red);
}

TEST_F(StartUp, LoadsTheFontAndTheFourShortSounds)
{
    EXPECT_FALSE(font.getInfo().family.empty());
    for (const sf::Sound* sound : {&menuSound, &selectSound, &stopSound, &bounceSound})
    {
        ASSERT_NE(sound->getBuffer(), nullptr);
        EXPECT_GT(sound->getBuffer()->getSampleCount(), 0u);
        EXPECT_LT(sound->getBuffer()->getDuration(), sf::seconds(0.4f));
    }
    EXPECT_EQ(menuSound.getBuffer(), &menuBuffer);
    EXPECT_EQ(selectSound.getBuffer(), &selectBuffer);
    EXPECT_EQ(stopSound.getBuffer(), &stopBuffer);
    EXPECT_EQ(bounceSound.getBuffer(), &bounceBuffer);
}

TEST_F(StartUp, ScoresSitAtTheSidesInTheirColoursWithTheRedOneRightAligned)
{
    EXPECT_EQ(blueScoreText.getString(), sf::String("0"));
    EXPECT_EQ(blueScoreText.getCharacterSize(), 240u);
    EXPECT_EQ(blueScoreText.getFillColor(), Blue);
    EXPECT_EQ(blueScoreText.getOutlineColor(), Steel);
    EXPECT_EQ(blueScoreText.getOutlineThickness(), 4.f);
    EXPECT_EQ(blueScoreText.getPosition(), sf::Vector2f(10.f, 240.f));

    EXPECT_EQ(redScoreText.getFillColor(), Red);
    EXPECT_EQ(redScoreText.getOutlineThickness(), 4.f);
    const float width = redScoreText.getLocalBounds().width;
    EXPECT_GT(width, 50.f);
    EXPECT_EQ(redScoreText.getPosition(), sf::Vector2f(1280.f - width - 30.f, 240.f));
}

TEST_F(StartUp, CentresCountdownHintAndOptionsOnTheirFirstStrings)
{
    const sf::FloatRect three = boundsOf("3", 360);
    EXPECT_EQ(countdownText.getOrigin(), sf::Vector2f(three.width / 2.f, three.height / 2.f));
    EXPECT_EQ(countdownText.getPosition(), sf::Vector2f(610.f, 240.f));
    EXPECT_EQ(countdownText.getFillColor(), Steel);
    EXPECT_EQ(countdownText.getOutlineThickness(), 0.f);

    const sf::FloatRect hint = boundsOf("[Esc] to quit", 52);
    EXPECT_EQ(hintText.getOrigin(), sf::Vector2f(hint.width / 2.f, hint.height / 2.f));
    EXPECT_EQ(hintText.getPosition(), sf::Vector2f(1040.f, 660.f));

    const sf::FloatRect cpu = boundsOf("Player v CPU", 24, 4.f);
    EXPECT_EQ(cpuOptionText.getOrigin(), sf::Vector2f(cpu.width / 2.f, cpu.height / 2.f));
    EXPECT_EQ(cpuOptionText.getPosition(), sf::Vector2f(640.f, 300.f));
    EXPECT_EQ(cpuOptionText.getOutlineThickness(), 4.f);
    EXPECT_EQ(cpuOptionText.getOutlineColor(), Slate);
    EXPECT_EQ(cpuOptionText.getFillColor(), White);

    const sf::FloatRect pvp = boundsOf("Player v Player", 24);
    EXPECT_EQ(pvpOptionText.getOrigin(), sf::Vector2f(pvp.width / 2.f, pvp.height / 2.f));
    EXPECT_EQ(pvpOptionText.getPosition(), sf::Vector2f(640.f, 420.f));
    EXPECT_EQ(pvpOptionText.getOutlineThickness(), 0.f);
}

TEST_F(StartUp, KeepsTheFirstOriginsWhenTheStringsChange)
{
    const sf::Vector2f countdownOrigin = countdownText.getOrigin();
    const sf::Vector2f hintOrigin = hintText.getOrigin();
    countdownText.setString("1");
    hintText.setString("[R] to return");
    runFrame();
    EXPECT_EQ(countdownText.getOrigin(), countdownOrigin);
    EXPECT_EQ(hintText.getOrigin(), hintOrigin);

    // A wider score moves the red one left, so its right end stays put.
    redScore = -100;
    runFrame();
    const float width = redScoreText.getLocalBounds().width;
    EXPECT_EQ(redScoreText.getPosition().x, 1280.f - width - 30.f);
    redScore = 0;
}

// The last frame shown, as the window's front buffer holds it
std::vector<sf::Uint8> shownPixels()
{
    std::vector<sf::Uint8> pixels(std::size_t{1280} * 720 * 4);
    EXPECT_TRUE(window.setActive(true));
    glReadBuffer(GL_FRONT);
    glReadPixels(0, 0, 1280, 720, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    glReadBuffer(GL_BACK);
    return pixels;
}

// A match played in the window: saved before a frame, run on and shown,
// then restored and run again, drawn only at the end, it shows the same
// pixels and ends on the same checksum. R is left out: the window's own
// events, which the frame polls too, would each act on it. The frames between
// rounds are run undrawn: only the last ones' pixels are compared.
TEST_F(StartUp, AMatchRestoredAndRunAgainShowsTheSamePixels)
{
    startMatch(31);
    RandomPlayers players(5);
    std::int32_t frame = 0;
    auto next = [&players] {
        rollback::FrameInput input = players.next();
        for (rollback::SideInput& side : input.side)
            side.keys = static_cast<std::uint8_t>(side.keys & ~32u);
        return input;
    };
    for (int round = 0; round < 4; ++round)
    {
        for (const std::int32_t until = frame + 400; frame < until; ++frame)
            runMatchFrame(next(), frame, false);
        const GameState saved = saveBefore(frame);
        std::vector<rollback::FrameInput> inputs;
        for (int k = 0; k < 30; ++k)
            inputs.push_back(next());
        for (int k = 0; k < 30; ++k)
            runMatchFrame(inputs[k], frame + k, true);
        const std::uint64_t checksum = checksumOf(saveBefore(frame + 30));
        const std::vector<sf::Uint8> pixels = shownPixels();

        restoreGame(saved);
        for (int k = 0; k < 30; ++k)
            runMatchFrame(inputs[k], frame + k, k == 29);
        EXPECT_EQ(checksumOf(saveBefore(frame + 30)), checksum) << "round " << round;
        EXPECT_TRUE(shownPixels() == pixels) << "round " << round << " shows other pixels";
        frame += 30;
    }
}

} // namespace
