// An hour of random play between two sessions on each kind of link: the two
// sides must end on the same state, having waited little, felt their own keys
// soon and sent little.

#include "tests/rollback_harness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <numeric>
#include <sstream>

namespace
{

using namespace rollbackTest;

struct LinkCase
{
    const char* name;
    double roundTripMs;
    double loss;
    double guestClockFaster = 0; // its ticks come this much more often
    int sendInterval = 1;
};

// An hour at 60 frames a second; ZARV_ROLLBACK_FRAMES plays fewer while working on the session
std::int32_t framesToPlay()
{
    const char* frames = std::getenv("ZARV_ROLLBACK_FRAMES");
    return frames != nullptr ? std::atoi(frames) : 216000;
}

class RollbackLink : public testing::TestWithParam<LinkCase>
{
};

TEST_P(RollbackLink, AnHourOfPlayEndsInStep)
{
    const LinkCase& link = GetParam();
    rollback::Settings host;
    host.seed = 1234;
    host.build = 42;
    host.sendInterval = link.sendInterval;
    rollback::Settings guest = host;
    guest.localSide = 1;
    guest.seed = 99;
    LinkConditions conditions;
    conditions.roundTripMs = link.roundTripMs;
    conditions.loss = link.loss;
    Match match(host, guest, conditions, 7);
    match.sides[1].tickMs = FrameMs / (1 + link.guestClockFaster);

    const std::int32_t frames = framesToPlay();
    match.runUntil(frames * FrameMs);
    const double seconds = match.nowMs / 1000;
    match.sides[0].steady = match.sides[1].steady = true; // the players let go, and their last inputs go through
    match.runUntil(match.nowMs + 1000);
    match.cutLink();
    match.runUntil(match.nowMs + 2 * FrameMs); // any rollback still due runs

    std::int32_t lastConfirmed = frames;
    std::ostringstream figures;
    figures << std::fixed << std::setprecision(2) << link.name;
    for (int i = 0; i < 2; ++i)
    {
        Side& side = match.sides[i];
        const rollback::Status& status = side.session.status();
        SCOPED_TRACE(i == 0 ? "host" : "guest");
        ASSERT_FALSE(side.outOfOrder);
        EXPECT_EQ(side.session.status().seed, 1234U);
        EXPECT_EQ(side.events.size() - side.eventsOf(rollback::Event::DelayChanged).size(), 1U)
            << "only Synchronized, then no Desync, Interrupted or Ended";
        lastConfirmed = std::min({lastConfirmed, status.confirmedFrame, status.frame - 1});

        // Waiting for the other side's input is rare: a few frames at the start and after a run of losses
        EXPECT_LT(status.framesWaited, frames / 500);
        const std::vector<std::int64_t>& felt = side.feltDelays;
        ASSERT_FALSE(felt.empty());
        const std::int64_t slowest = *std::max_element(felt.begin(), felt.end());
        if (link.roundTripMs <= 100)
        {
            EXPECT_LE(slowest, 2);
        }
        const double kbitPerSecond = static_cast<double>(status.bytesSent) * 8 / seconds / 1000;
        if (link.sendInterval == 1)
        {
            EXPECT_LE(kbitPerSecond, 10);
        }
        figures << (i == 0 ? " | host:" : " | guest:") << " waited " << status.framesWaited << ", gave up "
                << status.framesGivenUp << ", rollbacks " << status.rollbacks << " (frames run again "
                << status.framesRunAgain << "), felt delay mean "
                << static_cast<double>(std::accumulate(felt.begin(), felt.end(), std::int64_t{0})) /
                       static_cast<double>(felt.size())
                << " max " << slowest << ", delay " << status.inputDelay << ", round trip " << status.roundTripMs
                << " ms, " << kbitPerSecond << " kbit/s";
        RecordProperty(i == 0 ? "host_kbit_per_second" : "guest_kbit_per_second", std::to_string(kbitPerSecond));
        RecordProperty(i == 0 ? "host_frames_waited" : "guest_frames_waited", std::to_string(status.framesWaited));
    }
    figures << " | largest frame gap " << match.largestFrameGap;
    std::cout << figures.str() << '\n';

    EXPECT_GT(lastConfirmed, frames - 200);
    EXPECT_EQ(match.sides[0].hashAfter.at(static_cast<std::size_t>(lastConfirmed)),
              match.sides[1].hashAfter.at(static_cast<std::size_t>(lastConfirmed)));
    // Time sync: neither side runs far ahead, a fast clock included
    EXPECT_LE(match.largestFrameGap, host.maxPrediction);
}

INSTANTIATE_TEST_SUITE_P(Rollback, RollbackLink,
                         testing::Values(LinkCase{"rtt0_loss0", 0, 0}, LinkCase{"rtt0_loss2", 0, 0.02},
                                         LinkCase{"rtt0_loss5", 0, 0.05}, LinkCase{"rtt60_loss0", 60, 0},
                                         LinkCase{"rtt60_loss2", 60, 0.02}, LinkCase{"rtt60_loss5", 60, 0.05},
                                         LinkCase{"rtt100_loss5", 100, 0.05}, LinkCase{"rtt120_loss0", 120, 0},
                                         LinkCase{"rtt120_loss2", 120, 0.02}, LinkCase{"rtt120_loss5", 120, 0.05},
                                         LinkCase{"rtt200_loss0", 200, 0}, LinkCase{"rtt200_loss2", 200, 0.02},
                                         LinkCase{"rtt200_loss5", 200, 0.05},
                                         LinkCase{"rtt60_loss2_guest_clock_fast", 60, 0.02, 0.005},
                                         LinkCase{"rtt120_loss2_20_packets_a_second", 120, 0.02, 0, 3}),
                         [](const testing::TestParamInfo<LinkCase>& info) { return std::string(info.param.name); });

} // namespace
