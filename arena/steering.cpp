#include "arena/steering.hpp"

#include "game/game_state.hpp"

void steerPaddles()
{
}
