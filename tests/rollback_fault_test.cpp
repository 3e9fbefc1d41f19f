// What goes wrong between two sessions: different builds, silence, leaving,
// a game that runs differently on one side, and garbage on the wire.

#include "tests/rollback_harness.hpp"

#include <gtest/gtest.h>

namespace
{

using namespace rollbackTest;
using rollback::Event;

rollback::Settings settingsOf(int side, std::uint64_t build = 42)
{
    rollback::Settings settings;
    settings.localSide = side;
    settings.seed = 1234;
    settings.build = build;
    return settings;
}

LinkConditions linkOf(double roundTripMs, double loss)
{
    LinkConditions link;
    link.roundTripMs = roundTripMs;
    link.loss = loss;
    return link;
}

TEST(RollbackFaults, DifferentBuildsEndBothSidesBeforeFrameZero)
{
    Match match(settingsOf(0, 1), settingsOf(1, 2), linkOf(120, 0.05), 3);
    match.runUntil(3000);
    for (int i = 0; i < 2; ++i)
    {
        const Side& side = match.sides[i];
        ASSERT_EQ(side.events.size(), 1U);
        const Event& ended = side.events[0].event;
        EXPECT_EQ(ended.kind, Event::Ended);
        EXPECT_EQ(ended.reason, Event::BuildMismatch);
        EXPECT_EQ(ended.localBuild, i == 0 ? 1U : 2U);
        EXPECT_EQ(ended.remoteBuild, i == 0 ? 2U : 1U);
        EXPECT_EQ(side.game.frame, 0);
        EXPECT_EQ(side.session.status().state, rollback::Status::Ended);
    }
}

TEST(RollbackFaults, SilenceInterruptsThenEnds)
{
    Match match(settingsOf(0), settingsOf(1), linkOf(60, 0.02), 5);
    Side& host = match.sides[0];
    Side& guest = match.sides[1];
    match.runUntil(2000);
    guest.silent = true;
    match.runUntil(3000);
    const double firstSilence = match.lastArrivalMs[0];
    // Meanwhile the host has predicted as far as it may, and waits
    const rollback::Status& status = host.session.status();
    EXPECT_TRUE(status.waiting);
    EXPECT_EQ(status.frame - 1, status.confirmedFrame + host.settings.maxPrediction);
    guest.silent = false;
    guest.nextTickMs = match.nowMs;
    match.runUntil(4000);
    guest.silent = true;
    match.runUntil(12000);
    const double secondSilence = match.lastArrivalMs[0];

    const std::vector<TimedEvent> interrupted = host.eventsOf(Event::Interrupted);
    const std::vector<TimedEvent> resumed = host.eventsOf(Event::Resumed);
    const std::vector<TimedEvent> ended = host.eventsOf(Event::Ended);
    ASSERT_EQ(interrupted.size(), 2U);
    ASSERT_EQ(resumed.size(), 1U);
    ASSERT_EQ(ended.size(), 1U);
    // Each told at the host's first tick after the silence has lasted long enough
    EXPECT_GT(interrupted[0].atMs, firstSilence + 750);
    EXPECT_LE(interrupted[0].atMs, firstSilence + 750 + FrameMs);
    EXPECT_GT(resumed[0].atMs, 3000);
    EXPECT_LT(resumed[0].atMs, interrupted[1].atMs);
    EXPECT_GT(interrupted[1].atMs, secondSilence + 750);
    EXPECT_LE(interrupted[1].atMs, secondSilence + 750 + FrameMs);
    EXPECT_GT(ended[0].atMs, secondSilence + 5000);
    EXPECT_LE(ended[0].atMs, secondSilence + 5000 + FrameMs);
    EXPECT_EQ(ended[0].event.reason, Event::Silence);
    EXPECT_EQ(host.eventsOf(Event::Desync).size(), 0U);
}

TEST(RollbackFaults, HidingAndLeavingAreToldToTheOtherSide)
{
    Match match(settingsOf(0), settingsOf(1), linkOf(60, 0.05), 9);
    Side& host = match.sides[0];
    Side& guest = match.sides[1];
    match.runUntil(1000);
    host.session.setAway(true);
    match.runUntil(1500);
    host.session.setAway(false);
    match.runUntil(2000);
    ASSERT_EQ(guest.eventsOf(Event::PeerAway).size(), 1U);
    ASSERT_EQ(guest.eventsOf(Event::PeerBack).size(), 1U);
    EXPECT_LT(guest.eventsOf(Event::PeerAway)[0].atMs, 1000 + 100);
    EXPECT_LT(guest.eventsOf(Event::PeerBack)[0].atMs, 1500 + 100);

    guest.session.leave(match.nowMs);
    match.runUntil(3000);
    ASSERT_EQ(host.eventsOf(Event::Ended).size(), 1U);
    EXPECT_EQ(host.eventsOf(Event::Ended)[0].event.reason, Event::PeerLeft);
    EXPECT_LT(host.eventsOf(Event::Ended)[0].atMs, 2000 + 100);
    ASSERT_EQ(guest.eventsOf(Event::Ended).size(), 1U);
    EXPECT_EQ(guest.eventsOf(Event::Ended)[0].event.reason, Event::Left);
}

TEST(RollbackFaults, AGameThatRunsDifferentlyOnOneSideIsADesyncOnBoth)
{
    Match match(settingsOf(0), settingsOf(1), linkOf(120, 0.05), 11);
    match.sides[0].game.divergentFrame = 1000;
    const std::int32_t nextChecksumFrame = 1020;
    std::vector<double> confirmedMs{0, 0};
    for (int tick = 0; tick < 1800; ++tick)
    {
        match.runUntil(tick * FrameMs);
        for (int i = 0; i < 2; ++i)
            if (confirmedMs[i] == 0 && match.sides[i].session.status().confirmedFrame >= nextChecksumFrame - 1)
                confirmedMs[i] = match.nowMs;
    }
    const double bothConfirmedMs = std::max(confirmedMs[0], confirmedMs[1]);
    ASSERT_GT(bothConfirmedMs, 0);
    for (int i = 0; i < 2; ++i)
    {
        const std::vector<TimedEvent> desyncs = match.sides[i].eventsOf(Event::Desync);
        ASSERT_FALSE(desyncs.empty());
        EXPECT_EQ(desyncs[0].event.frame, nextChecksumFrame);
        EXPECT_LE(desyncs[0].atMs, bothConfirmedMs + 1000);
        const Event other = match.sides[1 - i].eventsOf(Event::Desync).at(0).event;
        EXPECT_EQ(desyncs[0].event.localChecksum, other.remoteChecksum);
        EXPECT_NE(desyncs[0].event.localChecksum, desyncs[0].event.remoteChecksum);
    }
}

// The same match twice, with as much garbage again as packets in the second
TEST(RollbackFaults, GarbageOnTheWireChangesNothing)
{
    LinkConditions dirty = linkOf(60, 0.02);
    dirty.garbage = 1;
    Match clean(settingsOf(0), settingsOf(1), linkOf(60, 0.02), 13);
    Match spoiled(settingsOf(0), settingsOf(1), dirty, 13);
    clean.runUntil(60000);
    spoiled.runUntil(60000);
    for (int i = 0; i < 2; ++i)
    {
        const Side& expected = clean.sides[i];
        const Side& side = spoiled.sides[i];
        EXPECT_FALSE(side.outOfOrder);
        EXPECT_EQ(side.events.size(), expected.events.size());
        EXPECT_EQ(side.session.status().bytesReceived, expected.session.status().bytesReceived);
        EXPECT_EQ(side.session.status().rollbacks, expected.session.status().rollbacks);
        EXPECT_EQ(side.hashAfter, expected.hashAfter);
    }
}

} // namespace
