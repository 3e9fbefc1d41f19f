#pragma once

#include "rollback/input.hpp"
#include "rollback/packet.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rollback
{

struct Settings
{
    int localSide = 0;       // 0 host, 1 guest
    std::uint32_t seed = 0;  // the host's; the guest's is replaced by the host's
    std::uint64_t build = 0; // both sides must have the same before frame 0
    int inputDelay = 2;      // frames, at the start
    int minInputDelay = 1;
    int maxInputDelay = 4;
    int maxPrediction = 8; // frames the other side's input may be predicted; beyond it the session waits
    int checksumInterval = 60;
    int sendInterval = 1; // frames between packets
    double interruptedAfterMs = 750;
    double endAfterMs = 5000;      // also before frame 0, when the other side never answers
    double endAfterAwayMs = 60000; // the silence that ends the session while the other side is away
};

// Save f: save the game's state as it is before frame f runs, then call
// saved(f, checksum). Load f: put back the state saved for f. Advance f: run
// frame f with input; firstTime is false when the frame runs again after a
// rollback, when nothing is drawn or sounded. The caller keeps the last
// maxPrediction + 2 saved states.
struct Request
{
    enum Kind : std::uint8_t
    {
        Save,
        Load,
        Advance,
    };
    Kind kind = Advance;
    std::int32_t frame = 0;
    FrameInput input;
    bool firstTime = true;
};

struct Event
{
    enum Kind : std::uint8_t
    {
        Synchronized, // frame 0 is next
        Interrupted,  // nothing heard for interruptedAfterMs
        Resumed,
        Desync, // the two sides' checksums of frame differ
        Ended,
        PeerAway, // the other side's tab is hidden
        PeerBack,
        DelayChanged,
    };
    enum Reason : std::uint8_t
    {
        NoReason,
        BuildMismatch, // localBuild and remoteBuild differ, or the protocol's version
        Silence,
        PeerLeft,
        Left, // this side's leave()
    };
    Kind kind = Synchronized;
    std::int32_t frame = 0;
    std::uint64_t localChecksum = 0;
    std::uint64_t remoteChecksum = 0;
    Reason reason = NoReason;
    std::uint64_t localBuild = 0;
    std::uint64_t remoteBuild = 0;
    int inputDelay = 0; // DelayChanged: from frame on
};

struct Status
{
    enum State : std::uint8_t
    {
        Synchronizing,
        Running,
        Interrupted,
        Ended,
    };
    State state = Synchronizing;
    double roundTripMs = 0;
    int inputDelay = 0;
    bool waiting = false;             // the last advance() ran no new frame: the other side's input is too late
    std::int32_t frame = 0;           // the next frame to run for the first time
    std::int32_t confirmedFrame = -1; // both sides' inputs are known up to it
    std::uint32_t seed = 0;           // the host's, once synchronized
    bool peerAway = false;
    double frameAdvantage = 0; // frames this side runs ahead of the other, smoothed
    std::int64_t framesWaited = 0;
    std::int64_t framesGivenUp = 0; // to let the other side catch up
    std::int64_t rollbacks = 0;
    std::int64_t framesRunAgain = 0;
    std::int64_t packetsSent = 0;
    std::int64_t bytesSent = 0;
    std::int64_t bytesReceived = 0;
};

// Rollback for two players, bytes in and bytes out: the caller sends what
// packet() returns over its own channel and hands what arrives to receive();
// once a tick it calls advance() with its player's input and carries out the
// requests in order; it polls takeEvents() and shows status().
class Session
{
public:
    explicit Session(const Settings& settings);

    void receive(const std::uint8_t* data, std::size_t size, double nowMs);
    std::vector<std::uint8_t> packet(double nowMs); // empty when none is due; after leave(), a few byes in a row
    std::vector<Request> advance(SideInput local, double nowMs); // once per 60 Hz tick
    void saved(std::int32_t frame, std::uint64_t checksum);
    void leave(double nowMs);
    void peerClosed(); // the channel says the other side closed its end: it left, said or not
    void setAway(bool away);
    std::vector<Event> takeEvents();
    [[nodiscard]] const Status& status() const
    {
        return status_;
    }

private:
    static constexpr int RingSize = 256; // inputs kept, by frame; more than any two sides can hold in flight
    static constexpr int ChecksumsKept = 16;

    struct Checksum
    {
        std::int32_t frame = -1;
        std::uint64_t value = 0;
    };
    struct SavedSlot
    {
        std::int32_t frame = -1;
        bool hasChecksum = false;
        std::uint64_t checksum = 0;
    };

    void passTime(double nowMs);
    void heard(double nowMs);
    void setPeerAway(bool away);
    void updateStatus();
    void end(Event::Reason reason, std::uint64_t remoteBuild = 0);
    bool receiveHello(const Packet& hello, double nowMs);
    bool receiveInputs(const Packet& inputs, double nowMs);
    void receivePingPong(const Packet& packet, double nowMs);
    void startIfReady();
    void takeRemoteInputs(const Packet& inputs);
    void sampleAdvantage(std::int32_t peerFrame, double nowMs);
    void rollBack(std::vector<Request>& requests);
    [[nodiscard]] bool shouldGiveUpFrame(SideInput local) const;
    void adjustDelay();
    void addLocalInput(SideInput local);
    void runFrame(std::vector<Request>& requests, std::int32_t frame, bool firstTime, bool save);
    void finalizeChecksums();
    void keepChecksum(std::vector<Checksum>& kept, Checksum checksum) const;
    void compareChecksums(std::int32_t frame);
    void fillPingPong(Packet& out, double nowMs);
    void fillInputs(Packet& out);

    SideInput& localInput(std::int32_t frame);
    SideInput& remoteInput(std::int32_t frame);
    SideInput remoteInputFor(std::int32_t frame);
    SavedSlot& slot(std::int32_t frame);
    [[nodiscard]] const Checksum* findChecksum(const std::vector<Checksum>& kept, std::int32_t frame) const;

    Settings settings_;
    Status status_;
    std::vector<Event> events_;

    // By frame, in rings of RingSize
    std::vector<SideInput> localInputs_;
    std::vector<SideInput> remoteInputs_;
    std::vector<SideInput> usedRemote_; // the other side's input each frame last ran with
    std::vector<SavedSlot> savedSlots_;
    std::int32_t nextFrame_ = 0;
    std::int32_t newestLocal_ = -1;
    std::int32_t remoteConfirmed_ = -1;
    std::int32_t peerAck_ = -1;    // the last of our inputs the other side holds
    std::int32_t firstWrong_ = -1; // the first frame run with a wrong prediction, -1 if none
    int delay_ = 2;
    int ticksSinceDelayChange_;

    bool heardPeer_ = false;
    std::uint32_t peerSeed_ = 0;
    bool peerHeardUs_ = false;
    bool replyDue_ = false;
    bool away_ = false;
    bool awaySent_ = false;
    int byesLeft_ = 0;
    Event::Reason byeReason_ = Event::NoReason;

    bool clockStarted_ = false;
    double lastReceiveMs_ = 0;
    double lastSendMs_ = -1e18;
    double lastTickMs_ = 0;
    bool ticked_ = false;
    int ticksSinceSend_ = 0;
    int ticksSinceGiveUp_;

    double lastPingMs_ = -1e9;
    bool hasRoundTrip_ = false;
    bool pongDue_ = false;
    double lastPingReceivedMs_ = -1e18;
    std::uint16_t lastPingReceived_ = 0;
    double lastPongReceivedMs_ = -1e18;
    std::uint16_t lastPongReceived_ = 0;

    bool hasAdvantage_ = false;
    std::int32_t lastPeerFrame_ = -1;

    std::int32_t nextChecksumFrame_ = 0;
    std::vector<Checksum> localChecksums_; // by frame, in rings of ChecksumsKept
    std::vector<Checksum> remoteChecksums_;
    Checksum checksumToSend_;
    int checksumPacketsSent_ = 0; // packets since checksumToSend_ was chosen
    std::int32_t lastDesyncFrame_ = -1;
};

} // namespace rollback
