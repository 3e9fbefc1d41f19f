#pragma once

// A match record: the seed both sides started from and every frame's input,
// enough to play the match again anywhere, frame for frame.
//
// The format, all numbers little-endian:
//   "ZARVREC" and a version byte, 1
//   the seed, 4 bytes; the number of frames, 4 bytes
//   runs of frames with the same input, each: how many frames, as a LEB128
//   number (7 bits a byte, low first, the top bit set on all but the last),
//   then the input, 4 bytes: blue's keys and events, red's keys and events
//   (keys one bit each: 0 W, 1 S, 2 Up, 3 Down, 4 Return, 5 R, 6 Escape)

#include "rollback/input.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rollback
{

struct Record
{
    std::uint32_t seed = 0;
    std::vector<FrameInput> frames;
};

std::vector<std::uint8_t> encodeRecord(const Record& record);
// False, leaving record as it was, for anything that is not a whole record of this format
bool decodeRecord(const std::uint8_t* data, std::size_t size, Record& record);

} // namespace rollback
