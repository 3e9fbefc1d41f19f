#pragma once

#include <cstdint>

namespace rollback
{

// One side's input for one frame: the game's seven keys held, one bit each
// (bit 0 W, 1 S, 2 Up, 3 Down, 4 Return, 5 R, 6 Escape), and how many window
// events the frame polls (R and Escape act once per event, so the count matters).
struct SideInput
{
    std::uint8_t keys = 0;
    std::uint8_t events = 0;
};

inline bool operator==(SideInput a, SideInput b)
{
    return a.keys == b.keys && a.events == b.events;
}

inline bool operator!=(SideInput a, SideInput b)
{
    return !(a == b);
}

// Side 0 is the host (blue), side 1 the guest (red)
struct FrameInput
{
    SideInput side[2];
};

} // namespace rollback
