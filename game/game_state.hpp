#pragma once

// The whole game lives in these process-wide objects; every module reads and
// writes them directly.

#include "arena/arc_shape.hpp"
#include "game/palette.hpp"

#include <SFML/Audio.hpp>
#include <SFML/Graphics.hpp>

#include <cstdint>
#include <sstream>

// Screens and scores. Flags hold 0 or 1.
extern std::int32_t menuSelection; // 1 "Player v CPU", 2 "Player v Player"
extern std::int32_t inMenu;
extern std::int32_t blueScore;
extern std::int32_t redScore;
extern std::int32_t ballLive;
extern std::int32_t twoPlayer;
extern std::int32_t countdown;

// Whether our window has the keyboard focus. Keys are read as the whole
// keyboard's state, so without this, typing into another window would play.
extern std::int32_t windowFocused;

// A frame run again after a rollback runs its logic only: its first run
// already drew it and started its sounds. A frame that a later one replaces
// on the screen before the display shows it (a match catching up) sounds but
// draws nothing.
extern std::int32_t frameRunAgain;
extern std::int32_t frameUnseen;

// The ball is built as one record: its shape, its displacement per live frame
// and who touched it last (0 nobody or both paddles at once, 1 blue, 2 red).
struct BallRecord
{
    BallRecord();
    sf::CircleShape ball;
    sf::Vector2f ballVelocity{7.5f, 7.5f}; // pixels per frame: about 10.6 px a frame, whatever the direction
    std::int32_t lastHitter = 0;
};
extern sf::CircleShape& ball;
extern sf::Vector2f& ballVelocity;
extern std::int32_t& lastHitter;

// Scene
extern sf::RenderWindow window;
extern sf::RectangleShape menuBox;
extern sf::CircleShape arena;
extern sf::Text blueScoreText;
extern sf::Text redScoreText;
extern sf::Text hintText;
extern sf::Text countdownText;
extern sf::Clock countdownClock;
extern sf::ArcShape bluePaddle;
extern sf::ArcShape redPaddle;

// Sounds
extern sf::SoundBuffer menuBuffer;
extern sf::SoundBuffer selectBuffer;
extern sf::SoundBuffer stopBuffer;
extern sf::SoundBuffer bounceBuffer;
extern sf::Sound bounceSound;
extern sf::Sound menuSound;
extern sf::Sound selectSound;
extern sf::Sound stopSound;

// Menu options, font, and the stream that turns numbers into text
extern sf::Text pvpOptionText;
extern sf::Text cpuOptionText;
extern sf::Font font;
extern std::stringstream textStream;

void setupScene();                   // seed rand(), load assets, open the window, lay out the scene
void resetRally();                   // paddles home, ball re-served near the centre, countdown from 3
float randomPitch();                 // a pitch near 1, one rand() draw
void playIfIdle(sf::Sound& sound);   // a playing sound is never restarted
bool keyHeld(sf::Keyboard::Key key); // held now, and the keyboard is ours
void placeRedScore();                // keeps the red score's right end 30 px from the window's edge
