#pragma once

float ballBearing(); // radians from +x, clockwise on screen, in [0, 2pi)
void stepBall();     // one live frame: rim test, paddle hit or miss, then the move
