#pragma once

// One pass of the frame loop: events, drawing and the current screen's logic.

#include <SFML/System/String.hpp>
#include <SFML/Window/Event.hpp>

sf::String formatInt(int value);          // decimal text for the scores and the countdown
void handleEvent(const sf::Event& event); // Escape, close and R, read once per event
void runFrame();                          // one whole frame, from the events to display()
