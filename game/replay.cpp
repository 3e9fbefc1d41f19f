// Plays a match record back without a window, frame by frame as both devices
// ran it, and prints each 60th frame's number and checksum, then the scores:
// the page prints the same for ?replay=URL.
// Usage: zarv_replay RECORD

#include "game/game_state.hpp"
#include "game/match.hpp"
#include "rollback/record.hpp"

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fputs("usage: zarv_replay RECORD\n", stderr);
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    rollback::Record record;
    if (!file || !rollback::decodeRecord(bytes.data(), bytes.size(), record))
    {
        std::fprintf(stderr, "zarv_replay: %s is no match record\n", argv[1]);
        return 1;
    }
    startMatch(record.seed);
    const auto frames = static_cast<std::int32_t>(record.frames.size());
    for (std::int32_t frame = 0; frame <= frames; ++frame)
    {
        if (frame % 60 == 0 || frame == frames)
            std::printf("frame %" PRId32 " checksum %016" PRIx64 "\n", frame, checksumOf(saveBefore(frame)));
        if (frame < frames)
            runMatchFrame(record.frames[static_cast<std::size_t>(frame)], frame, true);
    }
    std::printf("scores %" PRId32 " %" PRId32 "\n", blueScore, redScore);
    return 0;
}
