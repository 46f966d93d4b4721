#pragma once
// The switcher's UDP control protocol as far as we speak it: the wire format, pure (no sockets,
// no clocks), shared by the session (SwitcherSession), the fuzz target and the tests' simulated
// switcher.
//
// Every datagram (both ways, UDP port kDefaultPort) starts with a 12-byte header, big-endian:
//   0-1   flags (top 5 bits) and the datagram's whole length (low 11 bits)
//   2-3   session id: a number of the client's own choosing in the handshake, then the one the
//         switcher assigns (its first packet after the handshake carries it)
//   4-5   acknowledged packet id (with kAck): every reliable packet up to it arrived
//   6-7   with kRequestResend: the packet id the receiver wants again (and all after it)
//   8-9   unused (zero)
//   10-11 the sender's packet id (with kReliable), counting 1, 2, … and wrapping after 0x7FFF
// Handshake: the client sends kHello with an 8-byte payload whose first byte is kHelloConnect;
// the switcher answers kHello with kHelloAccepted; the client acknowledges it (kAck, id 0). The
// switcher then sends its state as reliable packets of commands, ending with kInitComplete.
// Each side acknowledges reliable packets, asks again for a gap (kRequestResend), resends what
// stays unacknowledged (flag kResent added), and sends an empty reliable packet as keep-alive.
//
// A reliable packet's payload is a sequence of command blocks:
//   0-1   the block's whole length (8 + payload), 2-3 unused, 4-7 the four-letter name, payload.
// The commands we read (payload offsets; names zero-padded; ids unsigned 16-bit):
//   "_ver" 0-1 protocol major, 2-3 minor; we speak major kProtocolMajor only
//   "_pin" 0-43 product name
//   "_top" 0 number of mix-effect blocks
//   "InPr" 0-1 input id, 2-21 long name, 22-25 short name, 26-31 unused, 32 port type
//          (PortType below); 36 bytes
//   "PrgI" 0 mix-effect block, 2-3 input id (program);   "PrvI" the same for preview
//   "TlSr" 0-1 count, then count × (0-1 input id, 2 flags: bit 0 program, bit 1 preview)
//   "InCm" the state dump is complete
// The commands we send, each for mix-effect block 0 only:
//   "CPvI" 0 block, 2-3 input id (set preview);  "DCut" 0 block (cut);  "DAut" 0 block (auto)
// Unknown commands are skipped by their length.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace switcherwire {

inline constexpr uint16_t kDefaultPort = 9910;
inline constexpr size_t kHeaderSize = 12;
inline constexpr size_t kCommandHeaderSize = 8;
inline constexpr size_t kMaxDatagram = 0x7FF;  // the 11-bit length field
inline constexpr uint16_t kMaxPacketId = 0x7FFF;
inline constexpr uint16_t kProtocolMajor = 2;

enum Flag : uint8_t {
    kReliable = 0x01,
    kHello = 0x02,
    kResent = 0x04,
    kRequestResend = 0x08,
    kAck = 0x10,
};
inline constexpr uint8_t kHelloConnect = 0x01;
inline constexpr uint8_t kHelloAccepted = 0x02;
inline constexpr size_t kHelloPayloadSize = 8;

// Four letters as one 32-bit code, first letter in the most significant byte.
constexpr uint32_t fourCC(const char (&name)[5])
{
    return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 | uint32_t(uint8_t(name[2])) << 8 |
           uint32_t(uint8_t(name[3]));
}

struct Header {
    uint8_t flags = 0;
    uint16_t session = 0;
    uint16_t ackId = 0;
    uint16_t resendId = 0;
    uint16_t packetId = 0;
    bool operator==(const Header&) const = default;
};

struct Command {
    uint32_t name = 0;
    std::vector<uint8_t> payload;
    bool operator==(const Command&) const = default;
};

struct Datagram {
    Header header;
    std::vector<uint8_t> hello;      // the handshake payload (kHello only)
    std::vector<Command> commands;   // kReliable only
    bool commandsCut = false;        // a block's length ran past the datagram: the rest was dropped
};

// Reads one received datagram. Null for fewer than 12 bytes, a length field that differs from
// the datagram's size, a hello without its 8-byte payload. A command block shorter than its
// header or running past the end ends the command list there (commandsCut).
std::optional<Datagram> parse(std::span<const uint8_t> bytes);
// The bytes of a datagram; empty when it would exceed kMaxDatagram.
std::vector<uint8_t> encode(const Header& header, std::span<const Command> commands = {});
std::vector<uint8_t> encodeHello(const Header& header, uint8_t code);

// The port types of "InPr" and the four-letter codes the switcher interface reports for them.
enum class PortType : uint8_t {
    External = 0,
    Black = 1,
    ColorBars = 2,
    ColorGenerator = 3,
    MediaPlayerFill = 4,
    MediaPlayerKey = 5,
    SuperSource = 6,
    MixEffectOutput = 128,
    Auxiliary = 129,
    Mask = 130,
};
// 'extn', 'blak', 'colb', 'colg', 'mpfl', 'mpcu', 'ssrc', 'meo ', 'aux ', 'mask'; 0 for others.
uint32_t portTypeCode(uint8_t type);

struct Version {
    uint16_t major = 0, minor = 0;
};
struct InputProperties {
    uint16_t id = 0;
    std::string longName, shortName;
    uint8_t portType = 0;
    bool operator==(const InputProperties&) const = default;
};
struct SourceOnBlock {
    uint8_t block = 0;
    uint16_t input = 0;
};
struct Tally {
    uint16_t input = 0;
    bool program = false, preview = false;
    bool operator==(const Tally&) const = default;
};

// Readers of the commands' payloads; null when the payload is too short for its fields. Names
// end at their first zero byte.
std::optional<Version> readVersion(std::span<const uint8_t> payload);
std::optional<std::string> readProductName(std::span<const uint8_t> payload);
std::optional<uint8_t> readMixEffectCount(std::span<const uint8_t> payload);
std::optional<InputProperties> readInputProperties(std::span<const uint8_t> payload);
std::optional<SourceOnBlock> readSourceOnBlock(std::span<const uint8_t> payload);  // "PrgI", "PrvI", "CPvI"
std::optional<std::vector<Tally>> readTally(std::span<const uint8_t> payload);
std::optional<uint8_t> readBlock(std::span<const uint8_t> payload);  // "DCut", "DAut"

// Writers, the inverse of the readers (the simulated switcher and the session use them).
Command versionCommand(Version version);
Command productNameCommand(const std::string& name);
Command mixEffectCountCommand(uint8_t count);
Command inputPropertiesCommand(const InputProperties& input);
Command sourceOnBlockCommand(uint32_t name, SourceOnBlock source);
Command tallyCommand(std::span<const Tally> tally);
Command blockCommand(uint32_t name, uint8_t block);
Command emptyCommand(uint32_t name);

// The next packet id after `id`: 1 … kMaxPacketId, then 1 again (0 is never a packet id).
uint16_t nextPacketId(uint16_t id);
// True when `a` comes after `b` in the wrapping id sequence (within half its range).
bool isAfter(uint16_t a, uint16_t b);

}  // namespace switcherwire

namespace switcherwire {

// One side's reliable delivery over a session: numbers outgoing reliable packets, keeps them
// until acknowledged and resends what stays unacknowledged; takes incoming reliable packets in
// order only, so a gap is asked for again. Pure: the caller passes the time and sends the bytes.
// Not thread-safe.
class ReliableLink {
public:
    using Clock = std::chrono::steady_clock;
    // More unacknowledged packets than this and the oldest are given up (the peer is gone; the
    // session's silence check ends it).
    static constexpr size_t kMaxOutstanding = 256;

    void setSession(uint16_t session) { session_ = session; }
    uint16_t session() const { return session_; }

    // A reliable packet of `commands` to send now, kept until acknowledged. Empty when the
    // commands do not fit one datagram.
    std::vector<uint8_t> send(std::span<const Command> commands, Clock::time_point now);

    enum class Arrival { Next, Gap, Repeat };
    // A received reliable packet's id: Next (take it; it is now acknowledged), Gap (one before
    // it is missing: drop it and ask again) or Repeat (seen before: acknowledge again).
    Arrival receive(uint16_t packetId);
    // The acknowledgement of everything received in order so far.
    std::vector<uint8_t> ackBytes() const;
    // The request for the first packet not yet received.
    std::vector<uint8_t> resendRequestBytes() const;

    // The peer acknowledged every packet up to `ackId`.
    void acknowledged(uint16_t ackId);
    // The peer asks for `packetId` and all after it: they are due at once.
    void resendRequested(uint16_t packetId);
    // The packets unacknowledged for `after` (or asked for), flagged as resent; their timers
    // start again.
    std::vector<std::vector<uint8_t>> due(Clock::time_point now, Clock::duration after);
    size_t outstanding() const { return outstanding_.size(); }
    Clock::time_point lastSent() const { return lastSent_; }

private:
    struct Pending {
        uint16_t id;
        std::vector<uint8_t> bytes;
        Clock::time_point sentAt;
    };
    uint16_t session_ = 0;
    uint16_t lastId_ = 0;        // the last id we sent
    uint16_t lastReceived_ = 0;  // the last id taken in order (0: none yet)
    std::deque<Pending> outstanding_;
    Clock::time_point lastSent_{};
};

}  // namespace switcherwire
