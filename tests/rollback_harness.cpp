#include "tests/rollback_harness.hpp"

#include <algorithm>

namespace rollbackTest
{
namespace
{

constexpr std::uint8_t KeyR = 1U << 5U;

std::uint64_t mix(std::uint64_t value)
{
    value = (value ^ (value >> 30U)) * 0xBF58476D1CE4E5B9ULL;
    value = (value ^ (value >> 27U)) * 0x94D049BB133111EBULL;
    return value ^ (value >> 31U);
}

} // namespace

void Game::run(const rollback::FrameInput& input)
{
    std::uint64_t folded = static_cast<std::uint32_t>(frame);
    for (const rollback::SideInput& side : input.side)
    {
        folded = folded << 16U | std::uint64_t{side.keys} << 8U | side.events;
        for (int event = 0; event < side.events; ++event)
            counter = (side.keys & KeyR) != 0 ? 0 : counter + 1;
    }
    hash = mix(hash ^ folded) ^ (frame == divergentFrame ? 1 : 0);
    ++frame;
}

Side::Side(const rollback::Settings& settings, std::uint32_t seed)
    : settings(settings), session(settings), random(seed),
      saved(static_cast<std::size_t>(settings.maxPrediction) + 2, Game{-1})
{
}

rollback::SideInput Side::play()
{
    if (--heldFor <= 0)
    {
        held = static_cast<std::uint8_t>(random() & 0x7FU);
        heldFor = std::uniform_int_distribution<int>(2, 40)(random);
    }
    const bool events = random() % 100 < 15;
    return {held, static_cast<std::uint8_t>(events ? 1 + random() % 3 : 0)};
}

void Side::tick(double nowMs)
{
    ++ticks;
    const rollback::SideInput input = steady ? rollback::SideInput{} : play();
    // Keys held before the game starts are pressed when it does
    if (input.keys != lastPressed && session.status().state != rollback::Status::Synchronizing)
    {
        presses.emplace_back(ticks, input.keys);
        lastPressed = input.keys;
    }
    for (const rollback::Request& request : session.advance(input, nowMs))
        perform(request);
    for (const rollback::Event& event : session.takeEvents())
        events.push_back({event, nowMs});
}

void Side::perform(const rollback::Request& request)
{
    const std::int32_t frame = request.frame;
    Game& slot = saved[static_cast<std::size_t>(frame) % saved.size()];
    switch (request.kind)
    {
    case rollback::Request::Save:
        outOfOrder = outOfOrder || game.frame != frame;
        slot = game;
        session.saved(frame, game.hash ^ game.counter);
        break;
    case rollback::Request::Load:
        outOfOrder = outOfOrder || slot.frame != frame; // never saved, or gone from the ring
        game = slot;
        break;
    case rollback::Request::Advance:
        outOfOrder = outOfOrder || game.frame != frame || request.firstTime != (frame == lastFirstTime + 1) ||
                     frame > lastFirstTime + 1;
        game.run(request.input);
        hashAfter.resize(std::max(hashAfter.size(), static_cast<std::size_t>(frame) + 1));
        hashAfter[static_cast<std::size_t>(frame)] = game.hash;
        if (request.firstTime)
        {
            lastFirstTime = frame;
            feel((settings.localSide == 0 ? request.input.side[0] : request.input.side[1]).keys);
        }
        break;
    }
}

void Side::feel(std::uint8_t keys)
{
    if (keys == lastFelt)
        return;
    lastFelt = keys;
    while (!presses.empty() && presses.front().second != keys)
        presses.pop_front();
    outOfOrder = outOfOrder || presses.empty(); // keys that were never pressed
    if (!presses.empty())
    {
        feltDelays.push_back(ticks - presses.front().first);
        presses.pop_front();
    }
}

std::vector<TimedEvent> Side::eventsOf(rollback::Event::Kind kind) const
{
    std::vector<TimedEvent> found;
    std::copy_if(events.begin(), events.end(), std::back_inserter(found),
                 [kind](const TimedEvent& timed) { return timed.event.kind == kind; });
    return found;
}

Match::Match(const rollback::Settings& host, const rollback::Settings& guest, const LinkConditions& link,
             std::uint32_t seed)
    : sides{Side(host, seed * 2 + 1), Side(guest, seed * 2 + 2)}, link(link), random(seed), garbageRandom(seed + 1000)
{
    sides[1].nextTickMs = FrameMs / 3; // the two machines' frames do not line up
}

void Match::runUntil(double endMs)
{
    for (;;)
    {
        int ticking = -1;
        double next = onTheWay.empty() ? endMs + 1 : std::get<0>(onTheWay.top());
        for (int i = 0; i < 2; ++i)
            if (!sides[i].silent && sides[i].nextTickMs < next)
            {
                next = sides[i].nextTickMs;
                ticking = i;
            }
        if (next > endMs)
            break;
        nowMs = next;
        if (ticking < 0)
        {
            const auto& [at, order, to, bytes] = onTheWay.top();
            sides[to].session.receive(bytes.data(), bytes.size(), nowMs);
            lastArrivalMs[to] = nowMs;
            onTheWay.pop();
            continue;
        }
        Side& side = sides[ticking];
        side.tick(nowMs);
        side.nextTickMs += side.tickMs;
        for (std::vector<std::uint8_t> bytes = side.session.packet(nowMs); !bytes.empty();
             bytes = side.session.packet(nowMs))
            send(1 - ticking, bytes);
        const rollback::Status& host = sides[0].session.status();
        const rollback::Status& guest = sides[1].session.status();
        if (host.state != rollback::Status::Synchronizing && guest.state != rollback::Status::Synchronizing)
            largestFrameGap = std::max(largestFrameGap, std::abs(host.frame - guest.frame));
    }
    nowMs = endMs;
}

void Match::cutLink()
{
    cut = true;
    onTheWay = {};
}

void Match::send(int to, const std::vector<std::uint8_t>& bytes)
{
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    if (cut || chance(random) < link.loss)
        return;
    if (chance(random) < link.duplicate)
        deliver(to, 0, bytes);
    deliver(to, chance(random) < link.reorder ? 20 + 20 * chance(random) : 0, bytes);
    if (chance(garbageRandom) < link.garbage)
        onTheWay.emplace(nowMs + 1, sent++, to, garbage(to, bytes));
}

void Match::deliver(int to, double delayMs, std::vector<std::uint8_t> bytes)
{
    const double jitter = std::uniform_real_distribution<double>(-link.jitterMs, link.jitterMs)(random);
    onTheWay.emplace(nowMs + std::max(link.roundTripMs / 2 + jitter, 0.0) + delayMs, sent++, to, std::move(bytes));
}

// Random bytes, a real packet damaged, or a well-formed one from far away or
// from another build
std::vector<std::uint8_t> Match::garbage(int to, std::vector<std::uint8_t> bytes)
{
    switch (garbageRandom() % 6)
    {
    case 0:
        bytes.resize(garbageRandom() % 700);
        std::generate(bytes.begin(), bytes.end(), [this] { return static_cast<std::uint8_t>(garbageRandom()); });
        break;
    case 1: // one to three bits flipped, each once
    {
        const std::size_t first = garbageRandom() % (bytes.size() * 8);
        for (std::size_t bit = first; bit < first + 3 * (1 + garbageRandom() % 3); bit += 3)
            bytes[bit / 8 % bytes.size()] ^= static_cast<std::uint8_t>(1U << (bit % 8));
        break;
    }
    case 2:
        bytes.resize(garbageRandom() % bytes.size());
        break;
    case 3:
        bytes.resize(bytes.size() + 1 + garbageRandom() % 600, static_cast<std::uint8_t>(garbageRandom()));
        break;
    case 4: // once the builds are known to match, another build's hello or bye comes from elsewhere
        if (sides[to].session.status().state != rollback::Status::Synchronizing)
        {
            rollback::Packet stranger;
            stranger.kind = garbageRandom() % 2 == 0 ? rollback::Packet::Hello : rollback::Packet::Bye;
            stranger.side = static_cast<std::uint8_t>(1 - to);
            stranger.build = sides[to].settings.build + 1;
            stranger.reason = rollback::ByeReason::BuildMismatch;
            bytes = rollback::encode(stranger);
            break;
        }
        [[fallthrough]];
    default:
    {
        rollback::Packet far;
        far.frame = sides[to].session.status().frame + 300 + static_cast<std::int32_t>(garbageRandom() % 30000);
        far.ack = far.frame;
        far.firstInputFrame = far.frame;
        far.inputs.resize(1 + garbageRandom() % rollback::MaxInputsPerPacket, {1, 1});
        bytes = rollback::encode(far);
        break;
    }
    }
    return bytes;
}

} // namespace rollbackTest
