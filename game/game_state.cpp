#include "game/game_state.hpp"

#include <algorithm>
#include <cstdlib>
#include <ctime>

// Screens and scores
std::int32_t menuSelection = 1;
std::int32_t inMenu = 1;
std::int32_t blueScore = 0;
std::int32_t redScore = 0;
std::int32_t ballLive = 0;
std::int32_t twoPlayer = 0;
std::int32_t countdown = 0;
std::int32_t windowFocused = 1; // until the window exists, nothing says otherwise
std::int32_t frameRunAgain = 0;
std::int32_t frameUnseen = 0;

// Scene, in the order of construction; destruction runs backwards, so every
// sound goes before its buffer and the window, holding the GL context, goes last
sf::RenderWindow window;
sf::RectangleShape menuBox(sf::Vector2f(240.f, 240.f));

BallRecord::BallRecord()
{
    ball.setRadius(10.f);
    ball.setOrigin(10.f, 10.f);
    ball.setFillColor(Magenta);
    ball.setPosition(640.f, 360.f);
}
static BallRecord ballRecord;
sf::CircleShape& ball = ballRecord.ball;
sf::Vector2f& ballVelocity = ballRecord.ballVelocity;
std::int32_t& lastHitter = ballRecord.lastHitter;

sf::CircleShape arena(350.f, 120);
sf::Text blueScoreText;
sf::Text redScoreText;
sf::Text hintText;
sf::Text countdownText;
sf::Clock countdownClock;
sf::ArcShape bluePaddle;
sf::ArcShape redPaddle;

// Sounds
sf::SoundBuffer menuBuffer;
sf::SoundBuffer selectBuffer;
sf::SoundBuffer stopBuffer;
sf::SoundBuffer bounceBuffer;
sf::Sound bounceSound;
sf::Sound menuSound;
sf::Sound selectSound;
sf::Sound stopSound;

// Menu options, font, number formatting
sf::Text pvpOptionText;
sf::Text cpuOptionText;
sf::Font font;
std::stringstream textStream;

namespace
{

struct Outline
{
    sf::Color color;
    float thickness = 0.f;
};

// Fill, outline (if any), font, size and string, in that order.
void styleText(sf::Text& text, const sf::Color& fill, const Outline* outline, unsigned size, const char* string)
{
    text.setFillColor(fill);
    if (outline != nullptr)
    {
        text.setOutlineColor(outline->color);
        text.setOutlineThickness(outline->thickness);
    }
    text.setFont(font);
    text.setCharacterSize(size);
    text.setString(string);
}

// Centres the origin on the bounds of the text's current string. Done once: the
// countdown and hint keep the origin of "3" and "[Esc] to quit" later on.
void centreOrigin(sf::Text& text)
{
    const sf::FloatRect bounds = text.getLocalBounds();
    text.setOrigin(bounds.width / 2.f, bounds.height / 2.f);
}

void loadSound(sf::SoundBuffer& buffer, sf::Sound& sound, const char* file)
{
    buffer.loadFromFile(file);
    sound.setBuffer(buffer);
}

} // namespace

void placeRedScore()
{
    redScoreText.setPosition(1280.f - redScoreText.getLocalBounds().width - 30.f, 240.f);
}

// Failed loads are not fatal: SFML prints why, texts stay invisible and sounds silent.
void setupScene()
{
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    blueScore = 0;
    redScore = 0;
    countdownClock.restart();
    countdown = 3;

    font.loadFromFile("segoeui.ttf");

    sf::ContextSettings settings;
    settings.antialiasingLevel = 8;
    window.create(sf::VideoMode(1280, 720, 32), sf::String("Zarv"), sf::Style::Close, settings);
    window.setVerticalSyncEnabled(true);
    // SFML 2.5.1 works out the window's top from the screen's width, which puts
    // a third of the arena below a 1920 x 1080 screen: centre it ourselves.
    const sf::VideoMode desktop = sf::VideoMode::getDesktopMode();
    window.setPosition(sf::Vector2i(std::max(0, (static_cast<int>(desktop.width) - 1280) / 2),
                                    std::max(0, (static_cast<int>(desktop.height) - 720) / 2)));
    windowFocused = window.hasFocus() ? 1 : 0; // later changes come as events

    loadSound(menuBuffer, menuSound, "menu.wav");
    loadSound(selectBuffer, selectSound, "selected.wav");
    loadSound(stopBuffer, stopSound, "stop.wav");
    loadSound(bounceBuffer, bounceSound, "zarv.wav");

    menuBox.setOutlineThickness(10.f);
    menuBox.setOutlineColor(Slate);
    menuBox.setFillColor(Mist);
    menuBox.setOrigin(120.f, 120.f);
    menuBox.setPosition(640.f, 360.f);

    arena.setFillColor(White);
    arena.setOutlineColor(Steel);
    arena.setOutlineThickness(5.f);
    arena.setOrigin(350.f, 350.f);
    arena.setPosition(640.f, 360.f);

    bluePaddle.setPosition(640.f, 360.f);
    bluePaddle.setColor(Blue);
    bluePaddle.setRotation(180.f);
    redPaddle.setPosition(640.f, 360.f);
    redPaddle.setColor(Red);
    redPaddle.setRotation(0.f);

    const Outline scoreOutline{Steel, 4.f};
    styleText(blueScoreText, Blue, &scoreOutline, 240, "0");
    blueScoreText.setOrigin(0.f, 0.f);
    blueScoreText.setPosition(10.f, 240.f);

    styleText(redScoreText, Red, &scoreOutline, 240, "0");
    redScoreText.setOrigin(0.f, 0.f);
    placeRedScore();

    styleText(countdownText, Steel, nullptr, 360, "3");
    centreOrigin(countdownText);
    countdownText.setPosition(610.f, 240.f);

    // The highlighted option wears the thick outline; "Player v CPU" starts highlighted.
    const Outline highlighted{Slate, 4.f};
    styleText(cpuOptionText, White, &highlighted, 24, "Player v CPU");
    centreOrigin(cpuOptionText);
    cpuOptionText.setPosition(640.f, 300.f);

    styleText(hintText, Steel, nullptr, 52, "[Esc] to quit");
    centreOrigin(hintText);
    hintText.setPosition(1040.f, 660.f);

    const Outline plain{Slate, 0.f};
    styleText(pvpOptionText, White, &plain, 24, "Player v Player");
    centreOrigin(pvpOptionText);
    pvpOptionText.setPosition(640.f, 420.f);
}

void resetRally()
{
    bluePaddle.setRotation(180.f);
    redPaddle.setRotation(0.f);

    // Two draws, x first: the ball lands in the 30 x 30 block around the centre.
    const auto x = static_cast<float>(std::rand() % 30 + 625);
    const auto y = static_cast<float>(std::rand() % 30 + 345);
    ball.setPosition(x, y);

    lastHitter = 0;
    ball.setFillColor(Magenta);

    countdownClock.restart();
    countdown = 3;
    ballLive = 0;
}

// Between 0.93333334 and 1.0666534.
float randomPitch()
{
    const int r = std::rand() % 10000;
    return (static_cast<float>(r) - 5000.f) / 75000.f + 1.f;
}

void playIfIdle(sf::Sound& sound)
{
    if (frameRunAgain == 0 && sound.getStatus() != sf::Sound::Playing)
        sound.play();
}

bool keyHeld(sf::Keyboard::Key key)
{
    return windowFocused != 0 && sf::Keyboard::isKeyPressed(key);
}
