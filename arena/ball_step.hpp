#pragma once

// Angles here are bearings: radians from the +x axis, growing clockwise on
// screen because screen y grows downwards. Paddle rotations are degrees.

inline constexpr double DegreesToRadians = 0.01745329252; // this literal, not pi/180 in full
inline constexpr double Pi = 3.141592653589793;
inline constexpr double TwoPi = 6.283185307179586;
inline constexpr float PaddleSpan = 0.5f; // radians: a paddle covers [rotation, rotation + 0.5]

float ballBearing(); // of the ball's centre from the arena's centre, in [0, 2pi)
void stepBall();     // one live frame: rim test, paddle hit or miss, then the move
