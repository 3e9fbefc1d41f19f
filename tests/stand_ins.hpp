#pragma once

// Link-time stand-ins for the headless tests: the game calls rand(),
// sf::Keyboard::isKeyPressed and sf::Clock as usual, and these definitions,
// linked into the test binary ahead of libc's and SFML's, answer instead.
// No X server is needed: SFML's GL resources are stubbed out too.

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
