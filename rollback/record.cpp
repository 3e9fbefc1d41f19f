#include "rollback/record.hpp"

#include <cstring>
#include <utility>

namespace rollback
{
namespace
{
constexpr char Magic[8] = {'Z', 'A', 'R', 'V', 'R', 'E', 'C', 1};
constexpr std::uint32_t MostFrames = 1u << 28; // over 1,200 hours: more is no record of ours

void put32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int byte = 0; byte < 4; ++byte)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * byte)));
}

bool sameInput(const FrameInput& a, const FrameInput& b)
{
    return a.side[0] == b.side[0] && a.side[1] == b.side[1];
}
} // namespace

std::vector<std::uint8_t> encodeRecord(const Record& record)
{
    std::vector<std::uint8_t> out(Magic, Magic + sizeof Magic);
    put32(out, record.seed);
    put32(out, static_cast<std::uint32_t>(record.frames.size()));
    for (std::size_t first = 0; first < record.frames.size();)
    {
        std::size_t end = first + 1;
        while (end < record.frames.size() && sameInput(record.frames[end], record.frames[first]))
            ++end;
        for (std::size_t run = end - first; run != 0; run >>= 7)
            out.push_back(static_cast<std::uint8_t>((run & 0x7F) | (run > 0x7F ? 0x80 : 0)));
        for (const SideInput& side : record.frames[first].side)
        {
            out.push_back(side.keys);
            out.push_back(side.events);
        }
        first = end;
    }
    return out;
}

bool decodeRecord(const std::uint8_t* data, std::size_t size, Record& record)
{
    if (size < 16 || std::memcmp(data, Magic, sizeof Magic) != 0)
        return false;
    auto get32 = [data](std::size_t at)
    {
        return std::uint32_t{data[at]} | std::uint32_t{data[at + 1]} << 8 | std::uint32_t{data[at + 2]} << 16 |
               std::uint32_t{data[at + 3]} << 24;
    };
    Record read;
    read.seed = get32(8);
    const std::uint32_t frames = get32(12);
    if (frames > MostFrames)
        return false;
    std::size_t at = 16;
    while (read.frames.size() < frames)
    {
        std::uint32_t run = 0;
        for (int shift = 0;; shift += 7)
        {
            if (at >= size || shift > 28)
                return false;
            run |= std::uint32_t{data[at] & 0x7Fu} << shift;
            if ((data[at++] & 0x80) == 0)
                break;
        }
        if (run == 0 || run > frames - read.frames.size() || size - at < 4)
            return false;
        FrameInput input;
        for (SideInput& side : input.side)
        {
            side.keys = data[at++];
            side.events = data[at++];
        }
        read.frames.insert(read.frames.end(), run, input);
    }
    if (at != size)
        return false;
    record = std::move(read);
    return true;
}

} // namespace rollback
