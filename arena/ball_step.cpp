#include "arena/ball_step.hpp"

#include "game/game_state.hpp"

float ballBearing()
{
    return 0.f;
}

void stepBall()
{
}
