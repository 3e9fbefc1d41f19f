#include "tests/fresh_game.hpp"

#include "game/game_state.hpp"
#include "tests/stand_ins.hpp"

#include <vector>

namespace
{
// Long silent samples, so a started sound is still playing when the test looks.
void giveSoundsSamples()
{
    static const std::vector<sf::Int16> silence(std::size_t{30} * 8000, 0);
    static bool loaded = false;
    if (loaded)
        return;
    for (sf::SoundBuffer* buffer : {&menuBuffer, &selectBuffer, &stopBuffer, &bounceBuffer})
        buffer->loadFromSamples(silence.data(), silence.size(), 1, 8000);
    menuSound.setBuffer(menuBuffer);
    selectSound.setBuffer(selectBuffer);
    stopSound.setBuffer(stopBuffer);
    bounceSound.setBuffer(bounceBuffer);
    loaded = true;
}

void stopAllSounds()
{
    for (sf::Sound* sound : {&menuSound, &selectSound, &stopSound, &bounceSound})
    {
        sound->stop();
        sound->setPitch(1.f);
    }
}
} // namespace

void FreshGame::SetUp()
{
    standIn::releaseKeys();
    standIn::resetRand(1);
    giveSoundsSamples();
    stopAllSounds();

    menuSelection = 1;
    inMenu = 1;
    blueScore = 0;
    redScore = 0;
    ballLive = 0;
    twoPlayer = 0;
    countdown = 3;
    countdownClock.restart();
    windowFocused = 1;

    ball.setPosition(640.f, 360.f);
    ball.setFillColor(Magenta);
    ballVelocity = sf::Vector2f(7.5f, 7.5f);
    lastHitter = 0;

    bluePaddle.setRotation(180.f);
    redPaddle.setRotation(0.f);
    cpuOptionText.setOutlineThickness(4.f);
    pvpOptionText.setOutlineThickness(0.f);
}

void FreshGame::TearDown()
{
    standIn::releaseKeys();
    stopAllSounds();
}
