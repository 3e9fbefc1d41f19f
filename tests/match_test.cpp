// The game as a match plays it: every frame rolled back and run again comes
// out bit for bit the same, so the saved state is all that a later frame
// reads; and a record reads back as it was written.

#include "game/game_state.hpp"
#include "game/match.hpp"
#include "rollback/record.hpp"
#include "tests/fresh_game.hpp"
#include "tests/match_players.hpp"

#include <array>
#include <cstdlib>
#include <iostream>

namespace
{

using Match = FreshGame;

// A million frames, a tenth under Node; under an emulator or the sanitizers, ZARV_SYNC_FRAMES
std::int32_t syncFrames()
{
#ifdef __EMSCRIPTEN__
    return 100000;
#else
    const char* frames = std::getenv("ZARV_SYNC_FRAMES");
    return frames != nullptr ? std::atoi(frames) : 1000000;
#endif
}
constexpr std::int32_t RunAgain = 7; // frames rolled back, every frame

TEST_F(Match, EveryFrameRolledBackAndRunAgainComesOutTheSame)
{
    startMatch(20261211);
    RandomPlayers players(7);
    std::array<rollback::FrameInput, RunAgain> inputs{};
    std::array<GameState, RunAgain> saved{};
    std::int32_t liveFrames = 0;
    std::int32_t points = 0;
    std::int32_t returnsToMenu = 0;
    const std::int32_t frames = syncFrames();
    for (std::int32_t frame = 0; frame < frames; ++frame)
    {
        const std::size_t slot = static_cast<std::size_t>(frame % RunAgain);
        saved[slot] = saveBefore(frame);
        inputs[slot] = players.next();
        const std::int32_t scoresBefore = blueScore + redScore;
        const std::int32_t menuBefore = inMenu;
        runMatchFrame(inputs[slot], frame, true);
        liveFrames += ballLive;
        points += blueScore + redScore != scoresBefore && menuBefore == inMenu ? 1 : 0;
        returnsToMenu += inMenu > menuBefore ? 1 : 0;

        const std::uint64_t expected = checksumOf(saveBefore(frame + 1));
        const std::int32_t from = std::max(0, frame - RunAgain + 1);
        restoreGame(saved[static_cast<std::size_t>(from % RunAgain)]);
        for (std::int32_t again = from; again <= frame; ++again)
            runMatchFrame(inputs[static_cast<std::size_t>(again % RunAgain)], again, false);
        ASSERT_EQ(checksumOf(saveBefore(frame + 1)), expected) << "frame " << frame << " runs again differently";
    }
    std::cout << frames << " frames, each rolled back " << RunAgain << " frames: " << liveFrames << " live, "
              << points << " points, " << returnsToMenu << " returns to the menu\n";
    // Every part of the game played, or the test proves little
    EXPECT_GT(liveFrames, frames / 10);
    EXPECT_GT(points, frames / 5000);
    EXPECT_GT(returnsToMenu, frames / 5000);
}

TEST(Record, ReadsBackAsWrittenAndRefusesAnythingElse)
{
    RandomPlayers players(11);
    rollback::Record record{4242, {}};
    for (int frame = 0; frame < 5000; ++frame)
        record.frames.push_back(players.next());
    const std::vector<std::uint8_t> bytes = rollback::encodeRecord(record);
    rollback::Record read;
    ASSERT_TRUE(rollback::decodeRecord(bytes.data(), bytes.size(), read));
    EXPECT_EQ(read.seed, record.seed);
    ASSERT_EQ(read.frames.size(), record.frames.size());
    for (std::size_t frame = 0; frame < record.frames.size(); ++frame)
        for (int side : {0, 1})
            ASSERT_EQ(read.frames[frame].side[side], record.frames[frame].side[side]) << "frame " << frame;
    for (std::size_t cut = 0; cut < bytes.size(); ++cut)
        EXPECT_FALSE(rollback::decodeRecord(bytes.data(), cut, read)) << "cut at " << cut;
    std::vector<std::uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(rollback::decodeRecord(longer.data(), longer.size(), read));
}

} // namespace
