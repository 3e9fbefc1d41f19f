#include "rollback/packet.hpp"

#include <algorithm>

namespace rollback
{
namespace
{

// The head byte
constexpr unsigned KindBits = 0x03;
constexpr unsigned PingBit = 0x04;
constexpr unsigned PongBit = 0x08;
constexpr unsigned AwayBit = 0x10;
constexpr unsigned HeardOrChecksumBit = 0x20;
constexpr unsigned ReservedBits = 0xC0;

// A run's byte
constexpr unsigned KeysFollow = 0x80;
constexpr unsigned EventsShift = 5;
constexpr unsigned EventsFollow = 3;
constexpr unsigned LengthBits = 0x1F;
constexpr unsigned KeysBits = 0x7F;

std::uint16_t crc16(const std::uint8_t* data, std::size_t size)
{
    unsigned crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i)
    {
        crc ^= unsigned{data[i]} << 8U;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000U) != 0 ? ((crc << 1U) ^ 0x1021U) & 0xFFFFU : (crc << 1U) & 0xFFFFU;
    }
    return static_cast<std::uint16_t>(crc);
}

class Writer
{
public:
    void byte(unsigned value)
    {
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    void fixed(std::uint64_t value, int size)
    {
        for (int i = 0; i < size; ++i)
            byte((value >> (8 * i)) & 0xFFU);
    }
    void varint(std::uint32_t value)
    {
        while (value >= 0x80)
        {
            byte((value & 0x7FU) | 0x80U);
            value >>= 7U;
        }
        byte(value);
    }
    void zigzag(std::int32_t value)
    {
        varint(value < 0 ? 2 * static_cast<std::uint32_t>(-(value + 1)) + 1 : 2 * static_cast<std::uint32_t>(value));
    }

    std::vector<std::uint8_t> bytes;
};

// Every read past the end, or of a number too large, leaves ok false
class Reader
{
public:
    Reader(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}
    std::uint8_t byte()
    {
        if (position >= size)
        {
            ok_ = false;
            return 0;
        }
        return data[position++];
    }
    std::uint64_t fixed(int bytes)
    {
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= std::uint64_t{byte()} << (8 * i);
        return value;
    }
    std::uint32_t varint()
    {
        std::uint32_t value = 0;
        for (int shift = 0; shift < 28; shift += 7)
        {
            const std::uint8_t next = byte();
            value |= std::uint32_t{next & 0x7FU} << static_cast<unsigned>(shift);
            if ((next & 0x80U) == 0)
                return value;
        }
        ok_ = false; // longer than any number a packet holds
        return 0;
    }
    std::int32_t zigzag()
    {
        const std::uint32_t value = varint();
        return (value & 1U) != 0 ? -static_cast<std::int32_t>(value >> 1U) - 1 : static_cast<std::int32_t>(value >> 1U);
    }
    void fail()
    {
        ok_ = false;
    }
    [[nodiscard]] bool ok() const
    {
        return ok_;
    }
    [[nodiscard]] bool atEnd() const
    {
        return position == size;
    }

private:
    bool ok_ = true;
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position = 0;
};

void writeRuns(Writer& out, const std::vector<SideInput>& inputs)
{
    for (std::size_t start = 0; start < inputs.size();)
    {
        const SideInput input = inputs[start];
        std::size_t end = start + 1;
        while (end < inputs.size() && inputs[end] == input)
            ++end;
        const auto length = static_cast<std::uint32_t>(end - start - 1);
        const bool keysFollow = start == 0 || input.keys != inputs[start - 1].keys;
        const unsigned events = input.events < EventsFollow ? input.events : EventsFollow;
        out.byte((keysFollow ? KeysFollow : 0U) | events << EventsShift | (length < LengthBits ? length : LengthBits));
        if (keysFollow)
            out.byte(input.keys & KeysBits);
        if (events == EventsFollow)
            out.byte(input.events);
        if (length >= LengthBits)
            out.varint(length - LengthBits);
        start = end;
    }
}

bool readRuns(Reader& in, std::vector<SideInput>& inputs)
{
    SideInput input;
    for (std::size_t filled = 0; filled < inputs.size();)
    {
        const std::uint8_t run = in.byte();
        if ((run & KeysFollow) != 0)
        {
            input.keys = in.byte();
            if ((input.keys & ~KeysBits) != 0)
                return false;
        }
        else if (filled == 0)
            return false;
        const unsigned events = (run >> EventsShift) & 3U;
        input.events = static_cast<std::uint8_t>(events == EventsFollow ? in.byte() : events);
        std::size_t length = (run & LengthBits) + 1U;
        if ((run & LengthBits) == LengthBits)
            length += in.varint();
        if (!in.ok() || length > inputs.size() - filled)
            return false;
        std::fill_n(inputs.begin() + static_cast<std::ptrdiff_t>(filled), length, input);
        filled += length;
    }
    return true;
}

void writePingPong(Writer& out, const Packet& packet)
{
    if (packet.hasPing)
        out.fixed(packet.ping, 2);
    if (packet.hasPong)
    {
        out.fixed(packet.pong, 2);
        out.varint(packet.pongHeldMs);
    }
}

void readPingPong(Reader& in, Packet& packet)
{
    if (packet.hasPing)
        packet.ping = static_cast<std::uint16_t>(in.fixed(2));
    if (packet.hasPong)
    {
        packet.pong = static_cast<std::uint16_t>(in.fixed(2));
        const std::uint32_t held = in.varint();
        packet.pongHeldMs = static_cast<std::uint16_t>(held);
        if (held > 0xFFFF)
            in.fail();
    }
}

std::int32_t nearest(std::uint16_t low, std::int32_t nearFrame)
{
    const auto offset = static_cast<std::int16_t>(static_cast<std::uint16_t>(low - (nearFrame & 0xFFFF)));
    return nearFrame + offset;
}

} // namespace

std::vector<std::uint8_t> encode(const Packet& packet)
{
    Writer out;
    out.bytes.reserve(32);
    const bool heardOrChecksum = packet.kind == Packet::Hello ? packet.heard : packet.hasChecksum;
    const bool pingPong = packet.kind != Packet::Bye;
    out.byte(static_cast<unsigned>(packet.kind) | (pingPong && packet.hasPing ? PingBit : 0U) |
             (pingPong && packet.hasPong ? PongBit : 0U) | (packet.away ? AwayBit : 0U) |
             (packet.kind != Packet::Bye && heardOrChecksum ? HeardOrChecksumBit : 0U));
    switch (packet.kind)
    {
    case Packet::Hello:
        out.byte(packet.version);
        out.byte(packet.side);
        out.fixed(packet.build, 8);
        out.fixed(packet.seed, 4);
        writePingPong(out, packet);
        break;
    case Packet::Bye:
        out.byte(packet.version);
        out.byte(static_cast<std::uint8_t>(packet.reason));
        out.fixed(packet.build, 8);
        break;
    case Packet::Inputs:
        out.fixed(static_cast<std::uint32_t>(packet.frame) & 0xFFFFU, 2);
        out.zigzag(packet.ack - packet.frame);
        out.varint(static_cast<std::uint32_t>(packet.inputs.size()));
        if (!packet.inputs.empty())
        {
            out.zigzag(packet.firstInputFrame - packet.frame);
            writeRuns(out, packet.inputs);
        }
        writePingPong(out, packet);
        if (packet.hasChecksum)
        {
            out.varint(static_cast<std::uint32_t>(packet.frame - packet.checksumFrame));
            out.fixed(packet.checksum, 8);
        }
        break;
    }
    out.fixed(crc16(out.bytes.data(), out.bytes.size()), 2);
    return std::move(out.bytes);
}

bool decode(const std::uint8_t* data, std::size_t size, std::int32_t nearFrame, Packet& packet)
{
    if (size < 3 || size > MaxPacketSize || crc16(data, size - 2) != (data[size - 2] | data[size - 1] << 8U))
        return false;
    Reader in(data, size - 2);
    const std::uint8_t head = in.byte();
    if ((head & ReservedBits) != 0 || (head & KindBits) > Packet::Bye)
        return false;
    packet.kind = static_cast<Packet::Kind>(head & KindBits);
    packet.hasPing = (head & PingBit) != 0;
    packet.hasPong = (head & PongBit) != 0;
    packet.away = (head & AwayBit) != 0;
    const bool heardOrChecksum = (head & HeardOrChecksumBit) != 0;
    switch (packet.kind)
    {
    case Packet::Hello:
        packet.version = in.byte();
        packet.side = in.byte();
        packet.build = in.fixed(8);
        packet.seed = static_cast<std::uint32_t>(in.fixed(4));
        packet.heard = heardOrChecksum;
        readPingPong(in, packet);
        break;
    case Packet::Bye:
        if (packet.hasPing || packet.hasPong || heardOrChecksum)
            return false;
        packet.version = in.byte();
        packet.reason = static_cast<ByeReason>(in.byte());
        packet.build = in.fixed(8);
        if (packet.reason != ByeReason::Left && packet.reason != ByeReason::BuildMismatch)
            return false;
        break;
    case Packet::Inputs:
    {
        packet.frame = nearest(static_cast<std::uint16_t>(in.fixed(2)), nearFrame);
        packet.ack = packet.frame + in.zigzag();
        const std::uint32_t count = in.varint();
        if (!in.ok() || count > MaxInputsPerPacket)
            return false;
        packet.inputs.resize(count);
        if (count > 0)
        {
            packet.firstInputFrame = packet.frame + in.zigzag();
            if (!readRuns(in, packet.inputs))
                return false;
        }
        readPingPong(in, packet);
        packet.hasChecksum = heardOrChecksum;
        if (packet.hasChecksum)
        {
            const std::uint32_t back = in.varint();
            packet.checksumFrame = packet.frame - static_cast<std::int32_t>(back & 0xFFFFFFU);
            packet.checksum = in.fixed(8);
            if (back > 0xFFFFFFU)
                in.fail();
        }
        break;
    }
    }
    return in.ok() && in.atEnd();
}

} // namespace rollback
