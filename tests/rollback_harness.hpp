#pragma once

// Two rollback sessions in one process, each with a stand-in for the game,
// over a simulated link, in virtual time.

#include "rollback/session.hpp"

#include <cstdint>
#include <deque>
#include <queue>
#include <random>
#include <tuple>
#include <vector>

namespace rollbackTest
{

constexpr double FrameMs = 1000.0 / 60.0;

// Each frame's inputs and number fold into a hash, and R resets a counter once
// per event: any wrong input, missed rollback or wrong load shows from then on
struct Game
{
    std::int32_t frame = 0;
    std::uint64_t hash = 0;
    std::uint32_t counter = 0;
    std::int32_t divergentFrame = -1; // this copy runs that frame differently

    void run(const rollback::FrameInput& input);
};

struct TimedEvent
{
    rollback::Event event;
    double atMs = 0;
};

// One machine, whose player holds random keys for random stretches, with a
// few window events now and then
struct Side
{
    Side(const rollback::Settings& settings, std::uint32_t seed);
    void tick(double nowMs);
    [[nodiscard]] std::vector<TimedEvent> eventsOf(rollback::Event::Kind kind) const;
    rollback::SideInput play();
    void perform(const rollback::Request& request);
    void feel(std::uint8_t keys);

    rollback::Settings settings;
    rollback::Session session;
    Game game;
    double tickMs = FrameMs; // shorter for a fast clock
    double nextTickMs = 0;
    bool silent = false; // neither ticks nor sends
    bool steady = false; // holds nothing
    std::vector<TimedEvent> events;
    std::vector<std::uint64_t> hashAfter; // by frame, from its last run
    bool outOfOrder = false;              // a request the game could not carry out
    std::vector<std::int64_t> feltDelays; // ticks from a press to the first frame run with it

    std::mt19937 random;
    std::uint8_t held = 0;
    int heldFor = 0;
    std::vector<Game> saved; // the ring of maxPrediction + 2 that the session counts on
    std::int64_t ticks = 0;
    std::int32_t lastFirstTime = -1;
    std::uint8_t lastPressed = 0;
    std::uint8_t lastFelt = 0;
    std::deque<std::pair<std::int64_t, std::uint8_t>> presses; // tick, keys
};

struct LinkConditions
{
    double roundTripMs = 0;
    double jitterMs = 10;
    double loss = 0; // each way
    double duplicate = 0.01;
    double reorder = 0.02; // held back 20 to 40 ms, behind later packets
    double garbage = 0;    // the chance that garbage follows a packet
};

struct Match
{
    Match(const rollback::Settings& host, const rollback::Settings& guest, const LinkConditions& link,
          std::uint32_t seed);
    void runUntil(double endMs);
    void cutLink(); // what is on the way is lost, and nothing more goes through
    void send(int to, const std::vector<std::uint8_t>& bytes);
    void deliver(int to, double delayMs, std::vector<std::uint8_t> bytes);
    std::vector<std::uint8_t> garbage(int to, std::vector<std::uint8_t> bytes);

    std::vector<Side> sides;
    LinkConditions link;
    double nowMs = 0;
    std::vector<double> lastArrivalMs{0, 0}; // at each side
    std::int32_t largestFrameGap = 0;
    bool cut = false;
    std::mt19937 random;
    std::mt19937 garbageRandom; // its own, so that garbage leaves everything else as it was
    std::uint64_t sent = 0;     // orders packets due at the same time
    using Delivery = std::tuple<double, std::uint64_t, int, std::vector<std::uint8_t>>; // when, order, to, bytes
    std::priority_queue<Delivery, std::vector<Delivery>, std::greater<>> onTheWay;
};

} // namespace rollbackTest
