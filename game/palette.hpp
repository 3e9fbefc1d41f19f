#pragma once

// The game's colours, the one place they are written: the game, the icon
// maker, the page's style and the tests take them from here. Each file that
// includes this has its own copy, built before anything after the include,
// so the game's scene objects, built at start-up, can read them.
// Blue is player one (left paddle), red is player two or the CPU.

#include <SFML/Graphics/Color.hpp>

const sf::Color White(254, 252, 250, 255);
const sf::Color Backdrop(76, 74, 72, 1);
const sf::Color Slate(81, 92, 107, 255);
const sf::Color Mist(104, 118, 138, 255);
const sf::Color Steel(105, 121, 126, 255);
const sf::Color Magenta(255, 0, 255, 255);
const sf::Color Blue(0, 0, 255, 127);
const sf::Color Red(255, 0, 0, 127);
