#pragma once

// Link-time stand-ins for the tests, the benchmarks and the replay tool: the
// game calls rand(), sf::Keyboard::isKeyPressed and sf::Clock as usual, and
// these definitions, linked in ahead of libc's and SFML's, answer instead;
// rand() with the match's generator once the queued values are used up. They
// are the platform of a match too, which feeds the frame's events to the
// frame's event handling, as a closed window polls none of its own.
// tests/headless.cpp stubs out SFML's GL resources, so that no X server is needed.

#include <SFML/Window/Keyboard.hpp>

#include <initializer_list>

namespace standIn
{

void holdKeys(std::initializer_list<sf::Keyboard::Key> keys); // replaces the held set
void setKeyHeld(sf::Keyboard::Key key, bool held);
void releaseKeys();

void queueRand(std::initializer_list<int> values); // returned first, in order
int randDraws();                                   // rand() calls so far
void resetRand(unsigned seed);                     // clears the queue and the count

void advanceClock(float seconds); // every sf::Clock sees this much more time

} // namespace standIn
