#include "arena/steering.hpp"

#include "arena/ball_step.hpp"
#include "game/game_state.hpp"

namespace
{

using Key = sf::Keyboard;

constexpr float TurnPerFrame = 5.f; // degrees; positive turns run clockwise on screen

// Turns the red span's start towards the ball's bearing, roughly the shorter way
// round, and holds still once the bearing lies inside [a, a + 0.5]. It works on
// the raw span, with no wrap-around at bearing 0, and waits after its own hit
// until someone else touches the ball or it is re-served.
void steerCpuPaddle()
{
    const std::int32_t hitter = lastHitter;
    const float bearing = ballBearing();
    if (hitter == 2)
        return;

    const double s = bearing;
    const double a = redPaddle.getRotation() * DegreesToRadians;
    const double end = a + static_cast<double>(PaddleSpan);
    if (s > end)
        redPaddle.rotate(s - Pi > end ? -TurnPerFrame : TurnPerFrame);
    else if (a > s)
        redPaddle.rotate(a - Pi > s ? TurnPerFrame : -TurnPerFrame);
}

} // namespace

// Up and Down move each paddle up and down its own side of the arena: that is
// a negative turn on the right and a positive one on the left.
void steerPaddles()
{
    if (twoPlayer != 0)
    {
        if (keyHeld(Key::Up))
            redPaddle.rotate(-TurnPerFrame);
        if (keyHeld(Key::Down))
            redPaddle.rotate(TurnPerFrame);
    }
    else
        steerCpuPaddle();

    // Against the CPU, player one may steer with either hand.
    if (keyHeld(Key::W) || (twoPlayer == 0 && keyHeld(Key::Up)))
        bluePaddle.rotate(TurnPerFrame);
    if (keyHeld(Key::S) || (twoPlayer == 0 && keyHeld(Key::Down)))
        bluePaddle.rotate(-TurnPerFrame);
}
