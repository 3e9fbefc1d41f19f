#include "web/online.hpp"

#include "game/game_state.hpp"
#include "game/match.hpp"
#include "rollback/session.hpp"

#include <SFML/System/Emscripten/ClockImpl.hpp>
#include <SFML/Window/Emscripten/InputImpl.hpp>

#include <emscripten.h>

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <memory>

// online.js's side of the channel: the next packet that came in, copied into
// buffer (its size, or -1 for none), and a packet to send
EM_JS(int, zarvTakePacket, (std::uint8_t * buffer, int capacity, double* arrivedMs), {
    const packet = Module['zarvOnline'].incoming.shift();
    if (!packet)
        return -1;
    const size = Math.min(packet.data.length, capacity);
    HEAPU8.set(packet.data.subarray(0, size), buffer);
    HEAPF64[arrivedMs >> 3] = packet.at;
    return size;
});
EM_JS(void, zarvSendPacket, (const std::uint8_t* data, int size),
      { Module['zarvOnline'].send(HEAPU8.slice(data, data + size)); });
EM_JS(void, zarvTell, (int kind, int reason, int frame, const char* detail),
      { Module['zarvOnline'].event(kind, reason, frame, UTF8ToString(detail)); });
EM_JS(void, zarvShowStatus, (int state, int roundTripMs, int inputDelay, int waiting),
      { Module['zarvOnline'].status(state, roundTripMs, inputDelay, waiting > 0); });
// For the benchmarks: how the session has fared so far
EM_JS(void, zarvCount, (int frame, int waited, int givenUp, int runAgain, int bytesSent), {
    Module['zarvOnline']
        .counts = {frame : frame, waited : waited, givenUp : givenUp, runAgain : runAgain, bytesSent : bytesSent};
});
EM_JS(void, zarvPublishConfirmed, (int frame, const char* checksum), {
    Module['canvas'].dataset.frame = frame;
    Module['canvas'].dataset.checksum = UTF8ToString(checksum);
});

namespace
{
constexpr double TickMs = 1000.0 / 60.0;
constexpr int MostTicksAtOnce = 4; // behind by more than that, the session's time sync catches up
constexpr std::size_t Slots = 10;  // the states saved, by frame: the prediction's 8 and two more

struct Online
{
    explicit Online(const rollback::Settings& settings) : session(settings) {}

    rollback::Session session;
    std::array<GameState, Slots> saved{};
    std::map<std::int32_t, std::uint64_t> unconfirmed; // every 60th frame's checksum, until confirmed
    bool started = false;
    double firstTickMs = -1;
    std::int64_t ticks = 0;
};

std::unique_ptr<Online> online;

// This device's keys as the game's seven, and the events its window had since
// the last frame, which count as the frame's own; Escape leaves the match
rollback::SideInput localInput()
{
    sf::priv::InputImpl::stopFeeding();
    unsigned events = 0;
    for (sf::Event event{}; window.pollEvent(event);)
        ++events;
    return sideInputOfHeldKeys(events);
}

// The requests of an animation frame's ticks; of the frames that they run,
// only the last is drawn, as the display shows no other
void carryOut(const std::vector<rollback::Request>& requests)
{
    const auto lastRun =
        std::find_if(requests.rbegin(), requests.rend(),
                     [](const rollback::Request& request) { return request.kind == rollback::Request::Advance; });
    const rollback::Request* shown = lastRun == requests.rend() ? nullptr : &*lastRun;
    for (const rollback::Request* request = requests.data(); request != requests.data() + requests.size(); ++request)
    {
        GameState& slot = online->saved[static_cast<std::size_t>(request->frame) % Slots];
        switch (request->kind)
        {
        case rollback::Request::Save:
            slot = saveBefore(request->frame);
            online->session.saved(request->frame, checksumOf(slot));
            if (request->frame % 60 == 0)
                online->unconfirmed[request->frame] = checksumOf(slot);
            break;
        case rollback::Request::Load:
            restoreGame(slot);
            break;
        case rollback::Request::Advance:
            runMatchFrame(request->input, request->frame, request->firstTime, request == shown);
            break;
        }
    }
}

// Every 60th frame's checksum on the canvas, once both sides' inputs before it are known
void publishConfirmed()
{
    const std::int32_t confirmed = online->session.status().confirmedFrame;
    for (auto next = online->unconfirmed.begin(); next != online->unconfirmed.end() && next->first <= confirmed;)
    {
        char checksum[17];
        std::snprintf(checksum, sizeof checksum, "%016" PRIx64, next->second);
        std::printf("frame %" PRId32 " checksum %s\n", next->first, checksum);
        zarvPublishConfirmed(next->first, checksum);
        next = online->unconfirmed.erase(next);
    }
}

void tellEvents()
{
    for (const rollback::Event& event : online->session.takeEvents())
    {
        char detail[80] = "";
        if (event.kind == rollback::Event::Desync)
            std::snprintf(detail, sizeof detail, "%016" PRIx64 " %016" PRIx64, event.localChecksum,
                          event.remoteChecksum);
        zarvTell(event.kind, event.reason, event.frame, detail);
    }
}

void sendPackets(double nowMs)
{
    for (std::vector<std::uint8_t> out = online->session.packet(nowMs); !out.empty();
         out = online->session.packet(nowMs))
        zarvSendPacket(out.data(), static_cast<int>(out.size()));
}

void endMatch()
{
    online.reset();
    sf::priv::InputImpl::stopFeeding();
    sf::priv::ClockImpl::useRealTime();
}
} // namespace

bool playingOnline()
{
    return online != nullptr;
}

void runOnlineFrames(double nowMs)
{
    // Each packet at the moment it came, not at this animation frame: the round
    // trip and the time sync would count the wait for the frame as the network's
    std::uint8_t packet[rollback::MaxPacketSize];
    double arrivedMs = 0;
    for (int size = 0; (size = zarvTakePacket(packet, sizeof packet, &arrivedMs)) >= 0;)
        online->session.receive(packet, static_cast<std::size_t>(size), std::min(arrivedMs, nowMs));

    rollback::SideInput local = localInput();
    if (leavesMatch(local))
        online->session.leave(nowMs);
    if (online->firstTickMs < 0)
        online->firstTickMs = nowMs;
    const auto due = static_cast<std::int64_t>((nowMs - online->firstTickMs) / TickMs) + 1 - online->ticks;
    std::vector<rollback::Request> requests;
    for (std::int64_t tick = 0; tick < std::min<std::int64_t>(due, MostTicksAtOnce); ++tick)
    {
        const std::vector<rollback::Request> ticked = online->session.advance(local, nowMs);
        if (!online->started && online->session.status().state == rollback::Status::Running)
        {
            startMatch(online->session.status().seed);
            online->started = true;
        }
        requests.insert(requests.end(), ticked.begin(), ticked.end());
        local.events = 0; // counted once
    }
    carryOut(requests);
    online->ticks += std::max<std::int64_t>(due, 0);
    sendPackets(nowMs);

    const rollback::Status& status = online->session.status();
    zarvShowStatus(status.state, static_cast<int>(status.roundTripMs + 0.5), status.inputDelay, status.waiting ? 1 : 0);
    zarvCount(status.frame, static_cast<int>(status.framesWaited), static_cast<int>(status.framesGivenUp),
              static_cast<int>(status.framesRunAgain), static_cast<int>(status.bytesSent));
    publishConfirmed();
    tellEvents();
    if (status.state == rollback::Status::Ended)
        endMatch();
}

extern "C" EMSCRIPTEN_KEEPALIVE void zarvOnlineStart(int side, unsigned seed, unsigned buildHigh, unsigned buildLow)
{
    rollback::Settings settings;
    settings.localSide = side;
    settings.seed = seed;
    settings.build = std::uint64_t{buildHigh} << 32 | buildLow;
    settings.sendInterval = 3; // 20 packets a second: fewer would leave frames waiting on a lossy link
    online = std::make_unique<Online>(settings);
}

// Said at once: the page may be going, or hidden, and run no more frames
extern "C" EMSCRIPTEN_KEEPALIVE void zarvOnlineLeave()
{
    if (!online)
        return;
    online->session.leave(emscripten_get_now());
    sendPackets(emscripten_get_now());
}

extern "C" EMSCRIPTEN_KEEPALIVE void zarvOnlineClosed()
{
    if (online)
        online->session.peerClosed();
}

extern "C" EMSCRIPTEN_KEEPALIVE void zarvOnlineAway(int away)
{
    if (!online)
        return;
    online->session.setAway(away != 0);
    sendPackets(emscripten_get_now());
}
