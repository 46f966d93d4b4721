#include "SwitcherProtocol.h"

#include <algorithm>

namespace switcherwire {

namespace {

uint16_t be16(std::span<const uint8_t> bytes, size_t at)
{
    return uint16_t(bytes[at] << 8 | bytes[at + 1]);
}

void put16(std::vector<uint8_t>& out, size_t at, uint16_t value)
{
    out[at] = uint8_t(value >> 8);
    out[at + 1] = uint8_t(value);
}

std::string text(std::span<const uint8_t> bytes)
{
    const auto end = std::find(bytes.begin(), bytes.end(), uint8_t(0));
    return std::string(bytes.begin(), end);
}

void putText(std::vector<uint8_t>& out, size_t at, size_t size, const std::string& value)
{
    std::copy_n(value.begin(), std::min(size, value.size()), out.begin() + std::ptrdiff_t(at));
}

std::vector<uint8_t> headerBytes(const Header& header, size_t length)
{
    std::vector<uint8_t> out(length, 0);
    put16(out, 0, uint16_t((header.flags & 0x1F) << 11 | (length & kMaxDatagram)));
    put16(out, 2, header.session);
    put16(out, 4, header.ackId);
    put16(out, 6, header.resendId);
    put16(out, 10, header.packetId);
    return out;
}

}  // namespace

std::optional<Datagram> parse(std::span<const uint8_t> bytes)
{
    if (bytes.size() < kHeaderSize)
        return std::nullopt;
    const uint16_t word = be16(bytes, 0);
    if ((word & kMaxDatagram) != bytes.size())
        return std::nullopt;
    Datagram datagram;
    datagram.header.flags = uint8_t(word >> 11);
    datagram.header.session = be16(bytes, 2);
    datagram.header.ackId = be16(bytes, 4);
    datagram.header.resendId = be16(bytes, 6);
    datagram.header.packetId = be16(bytes, 10);
    const auto body = bytes.subspan(kHeaderSize);
    if (datagram.header.flags & kHello) {
        if (body.size() < kHelloPayloadSize)
            return std::nullopt;
        datagram.hello.assign(body.begin(), body.begin() + kHelloPayloadSize);
        return datagram;
    }
    if (!(datagram.header.flags & kReliable))
        return datagram;
    for (size_t at = 0; at < body.size();) {
        if (body.size() - at < kCommandHeaderSize) {
            datagram.commandsCut = true;
            break;
        }
        const size_t length = be16(body, at);
        if (length < kCommandHeaderSize || length > body.size() - at) {
            datagram.commandsCut = true;
            break;
        }
        Command command;
        command.name = uint32_t(be16(body, at + 4)) << 16 | be16(body, at + 6);
        command.payload.assign(body.begin() + std::ptrdiff_t(at + kCommandHeaderSize),
                               body.begin() + std::ptrdiff_t(at + length));
        datagram.commands.push_back(std::move(command));
        at += length;
    }
    return datagram;
}

std::vector<uint8_t> encode(const Header& header, std::span<const Command> commands)
{
    size_t length = kHeaderSize;
    for (const Command& command : commands)
        length += kCommandHeaderSize + command.payload.size();
    if (length > kMaxDatagram)
        return {};
    std::vector<uint8_t> out = headerBytes(header, length);
    size_t at = kHeaderSize;
    for (const Command& command : commands) {
        put16(out, at, uint16_t(kCommandHeaderSize + command.payload.size()));
        put16(out, at + 4, uint16_t(command.name >> 16));
        put16(out, at + 6, uint16_t(command.name));
        std::copy(command.payload.begin(), command.payload.end(), out.begin() + std::ptrdiff_t(at + kCommandHeaderSize));
        at += kCommandHeaderSize + command.payload.size();
    }
    return out;
}

std::vector<uint8_t> encodeHello(const Header& header, uint8_t code)
{
    Header hello = header;
    hello.flags |= kHello;
    std::vector<uint8_t> out = headerBytes(hello, kHeaderSize + kHelloPayloadSize);
    out[kHeaderSize] = code;
    return out;
}

uint32_t portTypeCode(uint8_t type)
{
    switch (PortType(type)) {
    case PortType::External: return fourCC("extn");
    case PortType::Black: return fourCC("blak");
    case PortType::ColorBars: return fourCC("colb");
    case PortType::ColorGenerator: return fourCC("colg");
    case PortType::MediaPlayerFill: return fourCC("mpfl");
    case PortType::MediaPlayerKey: return fourCC("mpcu");
    case PortType::SuperSource: return fourCC("ssrc");
    case PortType::MixEffectOutput: return fourCC("meo ");
    case PortType::Auxiliary: return fourCC("aux ");
    case PortType::Mask: return fourCC("mask");
    }
    return 0;
}

std::optional<Version> readVersion(std::span<const uint8_t> payload)
{
    if (payload.size() < 4)
        return std::nullopt;
    return Version{be16(payload, 0), be16(payload, 2)};
}

std::optional<std::string> readProductName(std::span<const uint8_t> payload)
{
    if (payload.size() < 44)
        return std::nullopt;
    return text(payload.first(44));
}

std::optional<uint8_t> readMixEffectCount(std::span<const uint8_t> payload)
{
    if (payload.empty())
        return std::nullopt;
    return payload[0];
}

std::optional<InputProperties> readInputProperties(std::span<const uint8_t> payload)
{
    if (payload.size() < 36)
        return std::nullopt;
    return InputProperties{be16(payload, 0), text(payload.subspan(2, 20)), text(payload.subspan(22, 4)), payload[32]};
}

std::optional<SourceOnBlock> readSourceOnBlock(std::span<const uint8_t> payload)
{
    if (payload.size() < 4)
        return std::nullopt;
    return SourceOnBlock{payload[0], be16(payload, 2)};
}

std::optional<std::vector<Tally>> readTally(std::span<const uint8_t> payload)
{
    if (payload.size() < 2)
        return std::nullopt;
    const size_t count = be16(payload, 0);
    if (payload.size() - 2 < count * 3)
        return std::nullopt;
    std::vector<Tally> tally;
    for (size_t i = 0; i < count; ++i) {
        const size_t at = 2 + i * 3;
        tally.push_back({be16(payload, at), bool(payload[at + 2] & 1), bool(payload[at + 2] & 2)});
    }
    return tally;
}

std::optional<uint8_t> readBlock(std::span<const uint8_t> payload)
{
    if (payload.size() < 4)
        return std::nullopt;
    return payload[0];
}

Command versionCommand(Version version)
{
    Command command{fourCC("_ver"), std::vector<uint8_t>(4)};
    put16(command.payload, 0, version.major);
    put16(command.payload, 2, version.minor);
    return command;
}

Command productNameCommand(const std::string& name)
{
    Command command{fourCC("_pin"), std::vector<uint8_t>(44)};
    putText(command.payload, 0, 43, name);
    return command;
}

Command mixEffectCountCommand(uint8_t count)
{
    return Command{fourCC("_top"), {count, 0, 0, 0}};
}

Command inputPropertiesCommand(const InputProperties& input)
{
    Command command{fourCC("InPr"), std::vector<uint8_t>(36)};
    put16(command.payload, 0, input.id);
    putText(command.payload, 2, 20, input.longName);
    putText(command.payload, 22, 4, input.shortName);
    command.payload[32] = input.portType;
    return command;
}

Command sourceOnBlockCommand(uint32_t name, SourceOnBlock source)
{
    Command command{name, std::vector<uint8_t>(4)};
    command.payload[0] = source.block;
    put16(command.payload, 2, source.input);
    return command;
}

Command tallyCommand(std::span<const Tally> tally)
{
    Command command{fourCC("TlSr"), std::vector<uint8_t>(2 + tally.size() * 3)};
    put16(command.payload, 0, uint16_t(tally.size()));
    for (size_t i = 0; i < tally.size(); ++i) {
        put16(command.payload, 2 + i * 3, tally[i].input);
        command.payload[4 + i * 3] = uint8_t((tally[i].program ? 1 : 0) | (tally[i].preview ? 2 : 0));
    }
    return command;
}

Command blockCommand(uint32_t name, uint8_t block)
{
    return Command{name, {block, 0, 0, 0}};
}

Command emptyCommand(uint32_t name)
{
    return Command{name, {}};
}

uint16_t nextPacketId(uint16_t id)
{
    return id >= kMaxPacketId ? 1 : uint16_t(id + 1);
}

bool isAfter(uint16_t a, uint16_t b)
{
    const int distance = (int(a) - int(b) + kMaxPacketId) % kMaxPacketId;
    return distance != 0 && distance < kMaxPacketId / 2;
}

}  // namespace switcherwire

namespace switcherwire {

std::vector<uint8_t> ReliableLink::send(std::span<const Command> commands, Clock::time_point now)
{
    const uint16_t id = nextPacketId(lastId_);
    std::vector<uint8_t> bytes = encode(Header{kReliable, session_, 0, 0, id}, commands);
    if (bytes.empty())
        return bytes;
    lastId_ = id;
    outstanding_.push_back({id, bytes, now});
    if (outstanding_.size() > kMaxOutstanding)
        outstanding_.pop_front();
    lastSent_ = now;
    return bytes;
}

ReliableLink::Arrival ReliableLink::receive(uint16_t packetId)
{
    if (packetId == nextPacketId(lastReceived_)) {
        lastReceived_ = packetId;
        return Arrival::Next;
    }
    return isAfter(packetId, lastReceived_) ? Arrival::Gap : Arrival::Repeat;
}

std::vector<uint8_t> ReliableLink::ackBytes() const
{
    return encode(Header{kAck, session_, lastReceived_, 0, 0});
}

std::vector<uint8_t> ReliableLink::resendRequestBytes() const
{
    return encode(Header{kRequestResend, session_, 0, nextPacketId(lastReceived_), 0});
}

void ReliableLink::acknowledged(uint16_t ackId)
{
    while (!outstanding_.empty() && !isAfter(outstanding_.front().id, ackId))
        outstanding_.pop_front();
}

void ReliableLink::resendRequested(uint16_t packetId)
{
    for (Pending& pending : outstanding_) {
        if (!isAfter(packetId, pending.id))
            pending.sentAt = Clock::time_point{};
    }
}

std::vector<std::vector<uint8_t>> ReliableLink::due(Clock::time_point now, Clock::duration after)
{
    std::vector<std::vector<uint8_t>> out;
    for (Pending& pending : outstanding_) {
        if (now - pending.sentAt < after)
            continue;
        pending.bytes[0] |= uint8_t(kResent << 3);
        pending.sentAt = now;
        out.push_back(pending.bytes);
    }
    if (!out.empty())
        lastSent_ = now;
    return out;
}

}  // namespace switcherwire
