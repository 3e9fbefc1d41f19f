#pragma once

// Two players at random, as the match tests play: each holds steering keys
// for random stretches, moves the menu's highlight and presses Return now and
// then, and R in bursts with a few window events; neither presses Escape.

#include "rollback/input.hpp"

#include <random>

class RandomPlayers
{
public:
    explicit RandomPlayers(unsigned seed) : random(seed) {}

    rollback::FrameInput next()
    {
        rollback::FrameInput input;
        for (int side = 0; side < 2; ++side)
        {
            Player& player = players[side];
            if (player.heldFor-- <= 0)
            {
                player.keys = static_cast<std::uint8_t>(random() % 16); // W, S, Up, Down in any mix
                player.heldFor = static_cast<int>(random() % 40);
            }
            const unsigned roll = random() % 1000;
            if (roll < 4)
                player.returnFor = 1 + static_cast<int>(random() % 10);
            if (roll >= 4 && roll < 6)
                player.rFor = 1 + static_cast<int>(random() % 6);
            std::uint8_t keys = player.keys;
            if (player.returnFor-- > 0)
                keys |= 16;
            std::uint8_t events = random() % 25 == 0 ? 1 : 0; // the mouse crossing the window
            if (player.rFor-- > 0)
            {
                keys |= 32;
                events = static_cast<std::uint8_t>(random() % 4);
            }
            input.side[side] = {keys, events};
        }
        return input;
    }

private:
    struct Player
    {
        std::uint8_t keys = 0;
        int heldFor = 0;
        int returnFor = 0;
        int rFor = 0;
    };
    std::mt19937 random;
    Player players[2];
};
