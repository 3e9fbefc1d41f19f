#include "game/frame.hpp"

#include "arena/ball_step.hpp"
#include "arena/steering.hpp"
#include "game/game_state.hpp"

using Key = sf::Keyboard;

sf::String formatInt(int value)
{
    textStream.str("");
    textStream << value;
    return sf::String(textStream.str());
}

// Keys are read as held, not from the event itself, so a held R repeats its
// whole action on every event that arrives while it is down. A focus event
// counts before the keys are read: once the keyboard is elsewhere, none is held.
void handleEvent(const sf::Event& event)
{
    if (event.type == sf::Event::GainedFocus)
        windowFocused = 1;
    if (event.type == sf::Event::LostFocus)
        windowFocused = 0;
    if (keyHeld(Key::Escape))
        window.close();
    if (event.type == sf::Event::Closed)
        window.close();
    if (keyHeld(Key::R))
    {
        playIfIdle(stopSound);
        blueScore = 0;
        redScore = 0;
        resetRally();
        inMenu = 1;
    }
}

namespace
{

bool frameShown()
{
    return frameRunAgain == 0 && frameUnseen == 0;
}

void draw(const sf::Drawable& drawable)
{
    if (frameShown())
        window.draw(drawable);
}

// Countdown frames draw the numeral and move nothing. The frame that finds the
// countdown at 0 turns the ball live and plays at once, so "0" shows for one frame.
void runCountdownOrPlay()
{
    hintText.setString("[R] to return");
    if (ballLive == 0)
    {
        if (countdown != 0)
        {
            if (countdownClock.getElapsedTime().asSeconds() >= 0.5f)
            {
                --countdown;
                countdownClock.restart();
            }
            countdownText.setString(formatInt(countdown));
            draw(countdownText);
            return;
        }
        ballLive = 1;
    }
    stepBall();
    steerPaddles();
}

void runMenu()
{
    hintText.setString("[Esc] to quit");
    draw(menuBox);

    // Re-pitched every frame, so a menu sound that is still playing wavers.
    menuSound.setPitch(randomPitch());
    if ((keyHeld(Key::W) || keyHeld(Key::Up)) && menuSelection == 2)
    {
        menuSelection = 1;
        cpuOptionText.setOutlineThickness(4.f);
        pvpOptionText.setOutlineThickness(0.f);
        playIfIdle(menuSound);
    }
    if ((keyHeld(Key::S) || keyHeld(Key::Down)) && menuSelection == 1)
    {
        menuSelection = 2;
        pvpOptionText.setOutlineThickness(4.f);
        cpuOptionText.setOutlineThickness(0.f);
        playIfIdle(menuSound);
    }
    draw(cpuOptionText);
    draw(pvpOptionText);

    if (keyHeld(Key::Return))
    {
        twoPlayer = menuSelection == 2 ? 1 : 0;
        ballLive = 0;
        countdownClock.restart();
        countdown = 3;
        inMenu = 0;
        playIfIdle(selectSound);
    }
}

} // namespace

void runFrame()
{
    // Events
    sf::Event event{};
    while (window.pollEvent(event))
        handleEvent(event);

    // Arena
    if (frameShown())
        window.clear(Backdrop);
    draw(arena);

    // Scores, re-set every frame
    blueScoreText.setString(formatInt(blueScore));
    redScoreText.setString(formatInt(redScore));
    placeRedScore();

    // Countdown or live play
    if (inMenu == 0)
        runCountdownOrPlay();

    // Scores, ball and paddles cover the countdown numeral
    draw(blueScoreText);
    draw(redScoreText);
    draw(ball);
    draw(bluePaddle);
    draw(redPaddle);

    // Menu overlay
    if (inMenu != 0)
        runMenu();

    // Hint
    draw(hintText);
    if (frameShown())
        window.display();
}
