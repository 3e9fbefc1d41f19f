#include "game/frame.hpp"
#include "game/game_state.hpp"

// Frame-locked on purpose: vertical sync paces the loop and everything moves a
// fixed amount per frame. Command-line arguments are ignored.
int main()
{
    setupScene();
    while (window.isOpen())
        runFrame();
    return 0;
}
