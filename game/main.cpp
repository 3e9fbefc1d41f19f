#include "game/console.hpp"
#include "game/frame.hpp"
#include "game/game_state.hpp"

namespace
{
// Built before any other process-wide object of the game: without a display,
// building the window would abort the process, and the sounds report a missing
// sound card as they are built.
struct BeforeTheGame
{
    BeforeTheGame()
    {
        exitUnlessDisplayOpens();
        holdBackRepeatedErrors();
    }
};
const BeforeTheGame beforeTheGame __attribute__((init_priority(101)));
} // namespace

// Frame-locked on purpose: vertical sync paces the loop and everything moves a
// fixed amount per frame. Command-line arguments are ignored.
int main()
{
    setupScene();
    while (window.isOpen())
        runFrame();
    return 0;
}
