#include "arena/ball_step.hpp"

#include "game/game_state.hpp"

#include <cmath>
#include <cstdlib>

namespace
{

// The arena's radius less the ball's: beyond it the ball touches the rim.
constexpr float RimDistance = 340.f;

struct Span
{
    float start;
    float end;
};

Span spanOf(const sf::ArcShape& paddle)
{
    auto start = static_cast<float>(paddle.getRotation() * DegreesToRadians);
    while (static_cast<double>(start) >= TwoPi)
        start = static_cast<float>(static_cast<double>(start) - TwoPi);
    return {start, start + PaddleSpan};
}

// A span that reaches past 2pi, say [6.1, 6.6], also catches a ball at a small
// bearing such as 0.2, counted as 0.2 + 2pi.
bool ballIsOn(const Span& span)
{
    float bearing = ballBearing();
    if (static_cast<double>(span.end) > TwoPi && static_cast<double>(bearing) < Pi)
        bearing = static_cast<float>(static_cast<double>(bearing) + TwoPi);
    return bearing >= span.start && bearing <= span.end;
}

// Reflects the velocity about the direction from the centre to the ball, tilted
// by up to 25 px on each axis so that no two bounces are quite alike. There is
// no test of the direction of travel: a ball still beyond the rim next frame is
// reflected again.
void bounce()
{
    bounceSound.setPitch(randomPitch());
    playIfIdle(bounceSound);

    const sf::Vector2f position = ball.getPosition();
    float nx = (position.x - 640.f) + static_cast<float>(std::rand() % 50 - 25);
    float ny = (position.y - 360.f) + static_cast<float>(std::rand() % 50 - 25);
    const auto length = static_cast<float>(std::sqrt(static_cast<double>(nx * nx + ny * ny)));
    if (length != 0.f)
    {
        nx /= length;
        ny /= length;
    }
    const float k = nx * ballVelocity.x + ny * ballVelocity.y;
    ballVelocity.x = ballVelocity.x - 2.f * k * nx;
    ballVelocity.y = ballVelocity.y - 2.f * k * ny;
}

// The point goes to the last hitter; a ball nobody (or both paddles at once)
// touched costs both sides one.
void scoreMiss()
{
    if (lastHitter == 1)
        ++blueScore;
    else if (lastHitter == 2)
        ++redScore;
    else
    {
        --blueScore;
        --redScore;
    }
    resetRally();
}

} // namespace

float ballBearing()
{
    const float dx = ball.getPosition().x - 640.f;
    const float dy = ball.getPosition().y - 360.f;
    auto bearing = static_cast<float>(std::atan2(static_cast<double>(dy), static_cast<double>(dx)));
    if (bearing < 0.f)
        bearing = static_cast<float>(static_cast<double>(bearing) + TwoPi);
    return bearing;
}

void stepBall()
{
    const float dx = ball.getPosition().x - 640.f;
    const float dy = ball.getPosition().y - 360.f;
    const auto distance = static_cast<float>(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
    if (distance > RimDistance)
    {
        const Span blue = spanOf(bluePaddle);
        const Span red = spanOf(redPaddle);
        const bool onBlue = ballIsOn(blue);
        const bool onRed = ballIsOn(red);
        if (onBlue && onRed)
        {
            lastHitter = 0;
            ball.setFillColor(Magenta);
        }
        else if (onBlue)
        {
            lastHitter = 1;
            ball.setFillColor(Blue);
        }
        else if (onRed)
        {
            lastHitter = 2;
            ball.setFillColor(Red);
        }

        if (onBlue || onRed)
            bounce();
        else
            scoreMiss(); // the re-served ball still makes this frame's move
    }
    ball.move(ballVelocity);
}
