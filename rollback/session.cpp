#include "rollback/session.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace rollback
{
namespace
{

constexpr double FramesPerMs = 60.0 / 1000.0;
constexpr double FrameMs = 1000.0 / 60.0;
constexpr std::int32_t FarFrames = 256; // a packet whose frame is further from ours is ignored
constexpr std::int32_t FarInputs = 128; // inputs further ahead of our frame are ignored
constexpr int Byes = 5;
constexpr double HelloEveryMs = 50;
constexpr double KeepAliveMs = 100;
constexpr double PingEveryMs = 100;
constexpr double PingForgottenMs = 10000; // after it, a ping or pong of any value counts as new
constexpr double LongestRoundTripMs = 5000;
constexpr int TicksBetweenDelayChanges = 60;
constexpr double DelayHysteresisMs = 10;
constexpr int TicksBetweenGiveUps = 6;
constexpr double GiveUpAdvantage = 1.0;
constexpr double AdvantageSmoothing = 1.0 / 16;
constexpr double RoundTripSmoothing = 1.0 / 8;

std::uint16_t clockMs(double nowMs)
{
    return static_cast<std::uint16_t>(static_cast<std::int64_t>(std::floor(nowMs)) & 0xFFFF);
}

bool isNewer(std::uint16_t value, std::uint16_t last)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(value - last)) > 0;
}

// The round trip above which a delay of `delay` + 1 frames hides the other
// side's input better than `delay` does. Two frames are felt as soon as one,
// so they serve up to 140 ms, far from the 100 ms at which more would be felt
double delayBoundaryMs(int delay)
{
    if (delay <= 0)
        return 0;
    if (delay == 1)
        return 35;
    return delay == 2 ? 140 : 180.0 + 50.0 * (delay - 3);
}

// Each checksum goes in the first, second, fourth, ... 32nd packet after it is known
bool checksumPacketDue(int packetsSince)
{
    const int n = packetsSince + 1;
    return n <= 32 && (n & (n - 1)) == 0;
}

std::size_t ringIndex(std::int32_t frame, std::size_t size)
{
    return static_cast<std::uint32_t>(frame) % size;
}

Request request(Request::Kind kind, std::int32_t frame)
{
    Request made;
    made.kind = kind;
    made.frame = frame;
    return made;
}

Event event(Event::Kind kind, std::int32_t frame)
{
    Event made;
    made.kind = kind;
    made.frame = frame;
    return made;
}

} // namespace

Session::Session(const Settings& settings)
    : settings_(settings), localInputs_(RingSize), remoteInputs_(RingSize), usedRemote_(RingSize),
      ticksSinceDelayChange_(TicksBetweenDelayChanges), ticksSinceGiveUp_(TicksBetweenGiveUps),
      localChecksums_(ChecksumsKept), remoteChecksums_(ChecksumsKept)
{
    Settings& s = settings_;
    s.localSide = s.localSide == 1 ? 1 : 0;
    s.minInputDelay = std::clamp(s.minInputDelay, 0, 15);
    s.maxInputDelay = std::clamp(s.maxInputDelay, s.minInputDelay, 15);
    s.inputDelay = std::clamp(s.inputDelay, s.minInputDelay, s.maxInputDelay);
    s.maxPrediction = std::clamp(s.maxPrediction, 1, 60);
    s.checksumInterval = std::max(s.checksumInterval, 1);
    s.sendInterval = std::max(s.sendInterval, 1);
    delay_ = s.inputDelay;
    newestLocal_ = delay_ - 1; // the first frames run without local input
    savedSlots_.resize(static_cast<std::size_t>(s.maxPrediction) + 2);
    updateStatus();
}

SideInput& Session::localInput(std::int32_t frame)
{
    return localInputs_[ringIndex(frame, RingSize)];
}

SideInput& Session::remoteInput(std::int32_t frame)
{
    return remoteInputs_[ringIndex(frame, RingSize)];
}

SideInput Session::remoteInputFor(std::int32_t frame)
{
    if (frame <= remoteConfirmed_)
        return remoteInput(frame);
    return remoteConfirmed_ >= 0 ? remoteInput(remoteConfirmed_) : SideInput{};
}

Session::SavedSlot& Session::slot(std::int32_t frame)
{
    return savedSlots_[ringIndex(frame, savedSlots_.size())];
}

void Session::passTime(double nowMs)
{
    if (!clockStarted_)
    {
        clockStarted_ = true;
        lastReceiveMs_ = nowMs;
    }
    if (status_.state == Status::Ended)
        return;
    const double silence = nowMs - lastReceiveMs_;
    if (silence > (status_.peerAway ? settings_.endAfterAwayMs : settings_.endAfterMs))
        end(Event::Silence);
    else if (status_.state == Status::Running && silence > settings_.interruptedAfterMs)
    {
        status_.state = Status::Interrupted;
        events_.push_back(event(Event::Interrupted, nextFrame_));
    }
}

void Session::heard(double nowMs)
{
    lastReceiveMs_ = nowMs;
    if (status_.state == Status::Interrupted)
    {
        status_.state = Status::Running;
        events_.push_back(event(Event::Resumed, nextFrame_));
    }
}

void Session::end(Event::Reason reason, std::uint64_t remoteBuild)
{
    if (status_.state == Status::Ended)
        return;
    status_.state = Status::Ended;
    status_.waiting = false;
    Event ended = event(Event::Ended, nextFrame_);
    ended.reason = reason;
    ended.localBuild = settings_.build;
    ended.remoteBuild = remoteBuild;
    events_.push_back(ended);
    if (reason == Event::Left || reason == Event::BuildMismatch)
    {
        byesLeft_ = Byes;
        byeReason_ = reason;
    }
}

void Session::setPeerAway(bool away)
{
    if (away != status_.peerAway)
    {
        status_.peerAway = away;
        events_.push_back(event(away ? Event::PeerAway : Event::PeerBack, nextFrame_));
    }
}

void Session::receive(const std::uint8_t* data, std::size_t size, double nowMs)
{
    passTime(nowMs);
    Packet packet;
    if (status_.state == Status::Ended || !decode(data, size, nextFrame_, packet))
        return;
    switch (packet.kind)
    {
    case Packet::Bye:
        // Builds are compared before frame 0: after it, that bye is not from the other side
        if (packet.reason == ByeReason::BuildMismatch && status_.state != Status::Synchronizing)
            break;
        status_.bytesReceived += static_cast<std::int64_t>(size);
        end(packet.reason == ByeReason::BuildMismatch ? Event::BuildMismatch : Event::PeerLeft, packet.build);
        break;
    case Packet::Hello:
        if (receiveHello(packet, nowMs))
            status_.bytesReceived += static_cast<std::int64_t>(size);
        break;
    case Packet::Inputs:
        if (receiveInputs(packet, nowMs))
            status_.bytesReceived += static_cast<std::int64_t>(size);
        break;
    }
    updateStatus();
}

bool Session::receiveHello(const Packet& hello, double nowMs)
{
    if (hello.side == settings_.localSide)
        return false;
    if (hello.version != ProtocolVersion || hello.build != settings_.build)
    {
        // After frame 0 the builds have been compared: that hello is not from the other side
        if (status_.state != Status::Synchronizing)
            return false;
        end(Event::BuildMismatch, hello.build);
        return true;
    }
    heard(nowMs);
    receivePingPong(hello, nowMs);
    if (status_.state != Status::Synchronizing)
        return true;                      // our inputs packets tell it we have heard it
    replyDue_ = replyDue_ || !heardPeer_; // it learns at once that we have heard it
    heardPeer_ = true;
    peerSeed_ = hello.seed;
    peerHeardUs_ = peerHeardUs_ || hello.heard;
    startIfReady();
    return true;
}

void Session::startIfReady()
{
    if (status_.state != Status::Synchronizing || !heardPeer_ || !peerHeardUs_)
        return;
    status_.state = Status::Running;
    status_.seed = settings_.localSide == 0 ? settings_.seed : peerSeed_;
    events_.push_back(event(Event::Synchronized, 0));
    replyDue_ = true;
}

bool Session::receiveInputs(const Packet& inputs, double nowMs)
{
    const auto inputCount = static_cast<std::int32_t>(inputs.inputs.size());
    const std::int32_t lastInput = inputs.firstInputFrame + inputCount - 1;
    const bool inputsNear = inputCount == 0 || (inputs.firstInputFrame >= 0 && lastInput <= nextFrame_ + FarInputs);
    const bool checksumNear =
        !inputs.hasChecksum || (inputs.checksumFrame >= 0 && inputs.checksumFrame % settings_.checksumInterval == 0 &&
                                std::abs(inputs.checksumFrame - nextFrame_) <= FarFrames);
    if (inputs.frame < 0 || std::abs(inputs.frame - nextFrame_) > FarFrames || inputs.ack < -1 ||
        inputs.ack > newestLocal_ || !inputsNear || !checksumNear)
        return false;
    if (status_.state == Status::Synchronizing)
    {
        if (!heardPeer_)
            return false; // without its hello there is no seed or build to trust
        peerHeardUs_ = true;
        startIfReady();
    }
    heard(nowMs);
    peerAck_ = std::max(peerAck_, inputs.ack);
    takeRemoteInputs(inputs);
    receivePingPong(inputs, nowMs);
    if (inputs.frame >= lastPeerFrame_)
    {
        // From the newest packets only: an older one, come late, has an older flag
        setPeerAway(inputs.away);
        if (inputs.frame > lastPeerFrame_)
            sampleAdvantage(inputs.frame, nowMs);
        lastPeerFrame_ = inputs.frame;
    }
    if (inputs.hasChecksum)
    {
        keepChecksum(remoteChecksums_, {inputs.checksumFrame, inputs.checksum});
        compareChecksums(inputs.checksumFrame);
    }
    return true;
}

void Session::takeRemoteInputs(const Packet& inputs)
{
    const std::int32_t first = inputs.firstInputFrame;
    const std::int32_t last = first + static_cast<std::int32_t>(inputs.inputs.size()) - 1;
    if (inputs.inputs.empty() || first > remoteConfirmed_ + 1 || last <= remoteConfirmed_)
        return;
    for (std::int32_t frame = remoteConfirmed_ + 1; frame <= last; ++frame)
    {
        const SideInput input = inputs.inputs[static_cast<std::size_t>(frame - first)];
        remoteInput(frame) = input;
        const bool mispredicted = frame < nextFrame_ && input != usedRemote_[ringIndex(frame, RingSize)];
        if (mispredicted && (firstWrong_ < 0 || frame < firstWrong_))
            firstWrong_ = frame;
    }
    remoteConfirmed_ = last;
}

void Session::receivePingPong(const Packet& packet, double nowMs)
{
    if (packet.hasPing && (isNewer(packet.ping, lastPingReceived_) || nowMs - lastPingReceivedMs_ > PingForgottenMs))
    {
        lastPingReceived_ = packet.ping;
        lastPingReceivedMs_ = nowMs;
        pongDue_ = true;
    }
    if (packet.hasPong && (isNewer(packet.pong, lastPongReceived_) || nowMs - lastPongReceivedMs_ > PingForgottenMs))
    {
        lastPongReceived_ = packet.pong;
        lastPongReceivedMs_ = nowMs;
        const auto sample = static_cast<std::uint16_t>(clockMs(nowMs) - packet.pong - packet.pongHeldMs);
        if (sample > LongestRoundTripMs)
            return;
        status_.roundTripMs =
            hasRoundTrip_ ? status_.roundTripMs + (sample - status_.roundTripMs) * RoundTripSmoothing : sample;
        hasRoundTrip_ = true;
    }
}

// How many frames we run ahead of the other side, from its frame when it sent
// the packet and the time the packet took
void Session::sampleAdvantage(std::int32_t peerFrame, double nowMs)
{
    if (!ticked_ || !hasRoundTrip_)
        return;
    const double ours = nextFrame_ + std::clamp(nowMs - lastTickMs_, 0.0, FrameMs) * FramesPerMs;
    const double theirs = peerFrame + status_.roundTripMs / 2 * FramesPerMs;
    const double sample = ours - theirs;
    double& advantage = status_.frameAdvantage;
    advantage = hasAdvantage_ ? advantage + (sample - advantage) * AdvantageSmoothing : sample;
    hasAdvantage_ = true;
}

std::vector<Request> Session::advance(SideInput local, double nowMs)
{
    passTime(nowMs);
    std::vector<Request> requests;
    status_.waiting = false;
    ++ticksSinceSend_;
    if (status_.state == Status::Synchronizing || status_.state == Status::Ended)
        return requests;
    lastTickMs_ = nowMs;
    ticked_ = true;
    ++ticksSinceDelayChange_;
    ++ticksSinceGiveUp_;
    finalizeChecksums();
    rollBack(requests);
    local.keys &= 0x7FU;
    if (nextFrame_ > remoteConfirmed_ + settings_.maxPrediction)
    {
        status_.waiting = true;
        ++status_.framesWaited;
        status_.frameAdvantage -= 1;
    }
    else if (shouldGiveUpFrame(local))
    {
        ++status_.framesGivenUp;
        status_.frameAdvantage -= 1;
        ticksSinceGiveUp_ = 0;
    }
    else
    {
        adjustDelay();
        addLocalInput(local);
        runFrame(requests, nextFrame_, true, true);
        ++nextFrame_;
    }
    updateStatus();
    return requests;
}

void Session::rollBack(std::vector<Request>& requests)
{
    if (firstWrong_ >= 0 && firstWrong_ < nextFrame_)
    {
        // Every frame since the last confirmed one was saved, and the ring holds them all
        requests.push_back(request(Request::Load, firstWrong_));
        ++status_.rollbacks;
        for (std::int32_t frame = firstWrong_; frame < nextFrame_; ++frame)
            runFrame(requests, frame, false, frame != firstWrong_);
        status_.framesRunAgain += nextFrame_ - firstWrong_;
    }
    firstWrong_ = -1;
}

void Session::runFrame(std::vector<Request>& requests, std::int32_t frame, bool firstTime, bool save)
{
    if (save)
    {
        slot(frame) = {frame, false, 0};
        requests.push_back(request(Request::Save, frame));
    }
    Request run = request(Request::Advance, frame);
    run.firstTime = firstTime;
    const SideInput local = localInput(frame);
    const SideInput remote = remoteInputFor(frame);
    run.input = settings_.localSide == 0 ? FrameInput{{local, remote}} : FrameInput{{remote, local}};
    usedRemote_[ringIndex(frame, RingSize)] = remote;
    requests.push_back(run);
}

// Only while the local player holds its keys, from the last frame run to this
// tick: a frame given up then makes no press take effect later
bool Session::shouldGiveUpFrame(SideInput local) const
{
    if (!hasAdvantage_ || status_.frameAdvantage < GiveUpAdvantage || ticksSinceGiveUp_ < TicksBetweenGiveUps)
        return false;
    for (std::int32_t frame = std::max(nextFrame_ - 1, 0); frame <= newestLocal_; ++frame)
        if (localInputs_[ringIndex(frame, RingSize)] != local)
            return false;
    return true;
}

void Session::adjustDelay()
{
    if (!hasRoundTrip_ || ticksSinceDelayChange_ < TicksBetweenDelayChanges)
        return;
    const double roundTrip = status_.roundTripMs;
    int delay = delay_;
    if (delay < settings_.maxInputDelay && roundTrip > delayBoundaryMs(delay) + DelayHysteresisMs)
        ++delay;
    else if (delay > settings_.minInputDelay && roundTrip < delayBoundaryMs(delay - 1) - DelayHysteresisMs)
        --delay;
    if (delay == delay_)
        return;
    delay_ = delay;
    ticksSinceDelayChange_ = 0;
    Event changed = event(Event::DelayChanged, nextFrame_);
    changed.inputDelay = delay;
    events_.push_back(changed);
}

// The local inputs stay one per frame: a longer delay repeats the last one
// into the gap, a shorter one drops this sample
void Session::addLocalInput(SideInput local)
{
    const std::int32_t frame = nextFrame_ + delay_;
    if (frame <= newestLocal_)
        return;
    const SideInput last = localInput(newestLocal_);
    for (std::int32_t gap = newestLocal_ + 1; gap < frame; ++gap)
        localInput(gap) = last;
    localInput(frame) = local;
    newestLocal_ = frame;
}

void Session::saved(std::int32_t frame, std::uint64_t checksum)
{
    SavedSlot& saved = slot(frame);
    if (saved.frame == frame)
    {
        saved.hasChecksum = true;
        saved.checksum = checksum;
    }
}

// A checksum frame's state is final once every input before it is known and
// any rollback before it has run (the caller answers saved() between calls)
void Session::finalizeChecksums()
{
    while (nextChecksumFrame_ < nextFrame_ && remoteConfirmed_ >= nextChecksumFrame_ - 1 &&
           (firstWrong_ < 0 || firstWrong_ >= nextChecksumFrame_))
    {
        const std::int32_t frame = nextChecksumFrame_;
        nextChecksumFrame_ += settings_.checksumInterval;
        const SavedSlot& saved = slot(frame);
        if (saved.frame != frame || !saved.hasChecksum)
            continue;
        checksumToSend_ = {frame, saved.checksum};
        checksumPacketsSent_ = 0;
        keepChecksum(localChecksums_, checksumToSend_);
        compareChecksums(frame);
    }
}

void Session::keepChecksum(std::vector<Checksum>& kept, Checksum checksum) const
{
    kept[ringIndex(checksum.frame / settings_.checksumInterval, ChecksumsKept)] = checksum;
}

const Session::Checksum* Session::findChecksum(const std::vector<Checksum>& kept, std::int32_t frame) const
{
    const Checksum& found = kept[ringIndex(frame / settings_.checksumInterval, ChecksumsKept)];
    return found.frame == frame ? &found : nullptr;
}

void Session::compareChecksums(std::int32_t frame)
{
    const Checksum* local = findChecksum(localChecksums_, frame);
    const Checksum* remote = findChecksum(remoteChecksums_, frame);
    if (local == nullptr || remote == nullptr || local->value == remote->value || frame <= lastDesyncFrame_)
        return;
    lastDesyncFrame_ = frame;
    Event desync = event(Event::Desync, frame);
    desync.localChecksum = local->value;
    desync.remoteChecksum = remote->value;
    events_.push_back(desync);
    // Ours again, in case the other side missed it
    checksumToSend_ = *local;
    checksumPacketsSent_ = 0;
}

std::vector<std::uint8_t> Session::packet(double nowMs)
{
    passTime(nowMs);
    Packet out;
    out.build = settings_.build;
    if (byesLeft_ > 0)
    {
        --byesLeft_;
        out.kind = Packet::Bye;
        out.reason = byeReason_ == Event::BuildMismatch ? ByeReason::BuildMismatch : ByeReason::Left;
    }
    else if (status_.state == Status::Ended)
        return {};
    else if (status_.state == Status::Synchronizing)
    {
        if (!replyDue_ && nowMs - lastSendMs_ < HelloEveryMs)
            return {};
        out.kind = Packet::Hello;
        out.side = static_cast<std::uint8_t>(settings_.localSide);
        out.seed = settings_.seed;
        out.heard = heardPeer_;
    }
    else
    {
        // Also when no tick comes, as in a hidden tab
        const double keepAliveMs = std::max(KeepAliveMs, settings_.sendInterval * FrameMs);
        const bool due = replyDue_ || ticksSinceSend_ >= settings_.sendInterval || nowMs - lastSendMs_ >= keepAliveMs ||
                         away_ != awaySent_;
        if (!due)
            return {};
        fillInputs(out);
    }
    out.away = away_;
    if (out.kind != Packet::Bye)
        fillPingPong(out, nowMs);
    std::vector<std::uint8_t> bytes = encode(out);
    lastSendMs_ = nowMs;
    ticksSinceSend_ = 0;
    replyDue_ = false;
    awaySent_ = away_;
    ++status_.packetsSent;
    status_.bytesSent += static_cast<std::int64_t>(bytes.size());
    return bytes;
}

void Session::fillInputs(Packet& out)
{
    out.kind = Packet::Inputs;
    out.frame = nextFrame_;
    out.ack = remoteConfirmed_;
    out.firstInputFrame = std::max(peerAck_ + 1, newestLocal_ - MaxInputsPerPacket + 1);
    for (std::int32_t frame = out.firstInputFrame; frame <= newestLocal_; ++frame)
        out.inputs.push_back(localInput(frame));
    if (checksumToSend_.frame >= 0 && checksumPacketDue(checksumPacketsSent_++))
    {
        out.hasChecksum = true;
        out.checksumFrame = checksumToSend_.frame;
        out.checksum = checksumToSend_.value;
    }
}

void Session::fillPingPong(Packet& out, double nowMs)
{
    if (nowMs - lastPingMs_ >= PingEveryMs)
    {
        out.hasPing = true;
        out.ping = clockMs(nowMs);
        lastPingMs_ = nowMs;
    }
    if (pongDue_)
    {
        out.hasPong = true;
        out.pong = lastPingReceived_;
        out.pongHeldMs = static_cast<std::uint16_t>(std::clamp(nowMs - lastPingReceivedMs_, 0.0, 65535.0));
        pongDue_ = false;
    }
}

void Session::leave(double nowMs)
{
    passTime(nowMs);
    end(Event::Left);
}

void Session::peerClosed()
{
    end(Event::PeerLeft);
}

void Session::setAway(bool away)
{
    away_ = away;
}

std::vector<Event> Session::takeEvents()
{
    return std::exchange(events_, {});
}

void Session::updateStatus()
{
    status_.frame = nextFrame_;
    status_.confirmedFrame = std::min(remoteConfirmed_, newestLocal_);
    status_.inputDelay = delay_;
}

} // namespace rollback
