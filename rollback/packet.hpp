#pragma once

#include "rollback/input.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

// The bytes the two sessions exchange. Every packet is
//
//   head u8 | body | check u16
//
// head: bits 0-1 the kind (0 inputs, 1 hello, 2 bye), bit 2 a ping follows
// the body, bit 3 a pong, bit 4 the sender is away (its tab hidden; read from
// inputs packets), bit 5 a hello's "I have heard yours" or an inputs packet's
// checksum, bits 6-7 zero.
// check: CRC-16/CCITT-FALSE of everything before it, little-endian.
// Numbers are little-endian; "varint" is LEB128 (7 bits a byte), "zigzag"
// a signed varint (0, -1, 1, -2, ...).
//
// hello:  version u8 | side u8 | build u64 | seed u32 | [ping] [pong]
// bye:    version u8 | reason u8 (0 left, 1 another build) | build u64
// inputs: frame u16 (the sender's next frame, its low 16 bits; the receiver
//         takes the nearest to its own) | ack zigzag (the last frame of the
//         receiver's inputs the sender holds, less frame) | count varint |
//         if count: first zigzag (the first input's frame, less frame) | runs |
//         [ping] [pong] [checksum]
//         The inputs are all those of the sender that the receiver has not
//         acknowledged, so that a lost packet costs nothing.
// runs:   repeated inputs, until count are covered, each
//         run u8: bit 7 a keys byte follows (always in the first run, else the
//         keys are the previous run's), bits 5-6 the events (3: an events byte
//         follows), bits 0-4 the run's length less one (31: a varint follows
//         with the length less 32) | [keys u8] | [events u8] | [length varint]
// ping:   the sender's clock in milliseconds, u16
// pong:   the last ping received, u16 | how long it was held before this packet, varint ms
// checksum: frame less the checksum's frame, varint | the sender's checksum of
//         its state before that frame, u64
//
// In the tests' random play a packet averages 12 to 17 bytes: 6 to 8 kbit/s
// at 60 a second.
namespace rollback
{

constexpr std::uint8_t ProtocolVersion = 1;
constexpr std::size_t MaxPacketSize = 512;
constexpr int MaxInputsPerPacket = 128;

enum class ByeReason : std::uint8_t
{
    Left,
    BuildMismatch,
};

struct Packet
{
    enum Kind : std::uint8_t
    {
        Inputs,
        Hello,
        Bye,
    };
    Kind kind = Inputs;
    bool away = false;

    // hello and bye
    std::uint8_t version = ProtocolVersion;
    std::uint64_t build = 0;
    // hello
    std::uint8_t side = 0;
    std::uint32_t seed = 0;
    bool heard = false;
    // bye
    ByeReason reason = ByeReason::Left;

    // inputs
    std::int32_t frame = 0;
    std::int32_t ack = -1;
    std::int32_t firstInputFrame = 0;
    std::vector<SideInput> inputs; // at most MaxInputsPerPacket
    bool hasChecksum = false;
    std::int32_t checksumFrame = 0;
    std::uint64_t checksum = 0;

    // hello and inputs
    bool hasPing = false;
    std::uint16_t ping = 0;
    bool hasPong = false;
    std::uint16_t pong = 0;
    std::uint16_t pongHeldMs = 0;
};

std::vector<std::uint8_t> encode(const Packet& packet);

// False for anything malformed, truncated, oversized or failing its check.
// The sender's 16-bit frame is taken as the frame nearest to nearFrame.
bool decode(const std::uint8_t* data, std::size_t size, std::int32_t nearFrame, Packet& packet);

} // namespace rollback
