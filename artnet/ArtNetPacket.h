#pragma once
// The Art-Net datagrams the lighting node reads and writes, as pure functions over bytes.
// Nothing here touches a socket, a clock or shared state, so every function may be called
// from any thread and fed any bytes: malformed input gives nullopt or zeros, never a crash.
//
// Offsets are bytes from the start of the UDP payload; multi-byte fields are little-endian
// unless the Art-Net standard marks them big-endian (the ArtDmx Length).

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace ArtNet {

constexpr std::uint16_t kPort = 6454;
constexpr int kDmxSlots = 512;
// The smallest datagram whose ID and OpCode are read.
constexpr int kMinimumPacketSize = 11;
constexpr int kArtDmxHeaderSize = 18;
constexpr int kArtPollSize = 14;
constexpr int kArtPollReplySize = 208;

enum ArtNetOpCode : std::uint16_t {
    OpPoll = 0x2000,
    OpPollReply = 0x2100,
    OpDmx = 0x5000,
};

// The OpCode of an Art-Net datagram: nullopt when the datagram is shorter than
// kMinimumPacketSize or does not start with "Art-Net" and a zero byte.
std::optional<std::uint16_t> opCodeOf(const QByteArray& datagram);

// An ArtDmx as the node reads it. `slotValues` holds the slot values the datagram really carries,
// never more than 512 and never more than Length says (Length 0: none).
struct ArtDmx {
    std::uint8_t sequence = 0;
    std::uint8_t subUni = 0;
    std::uint8_t net = 0;
    std::uint16_t length = 0;  // as declared, big-endian on the wire
    QByteArray slotValues;
};
// nullopt when the datagram is shorter than the 18-byte ArtDmx header. Does not check ID or
// OpCode (opCodeOf does); Physical and ProtVer are not looked at.
std::optional<ArtDmx> parseArtDmx(const QByteArray& datagram);

// Compares `slotValues` with `cache` in ascending order; for each slot whose value differs, stores
// the new value and then calls changed(slot number from 1, new value) before comparing the next.
void applyDmxSlots(const QByteArray& slotValues, std::array<std::uint8_t, kDmxSlots>& cache,
                   const std::function<void(int slot, int value)>& changed);

// The 14-byte ArtPoll the node sends: ProtVer 14, Flags 0, DiagPriority 0xFF.
QByteArray artPollPacket();

// The 208-byte ArtPollReply record, field by field. encode() writes it byte for byte;
// decode() reads the first 208 bytes of a datagram, bytes a shorter one lacks read as zero.
struct ArtNet_Packet_ArtPollReply {
    std::array<std::uint8_t, 4> IPAddress{};
    std::uint16_t Port = 0;
    std::uint8_t VersInfoH = 0;
    std::uint8_t VersInfo = 0;
    std::uint8_t NetSwitch = 0;
    std::uint8_t SubSwitch = 0;
    std::uint8_t OemHi = 0;
    std::uint8_t OemLo = 0;
    std::uint8_t UbeaVersion = 0;
    std::uint8_t Status1 = 0;
    std::uint8_t EstaManLo = 0;
    std::uint8_t EstaManHi = 0;
    std::array<std::uint8_t, 18> ShortName{};
    std::array<std::uint8_t, 64> LongName{};
    std::array<std::uint8_t, 64> NodeReport{};
    std::uint8_t NumPortsHi = 0;
    std::uint8_t NumPortsLo = 0;
    std::array<std::uint8_t, 4> PortTypes{};
    std::array<std::uint8_t, 4> GoodInput{};
    std::array<std::uint8_t, 4> GoodOutput{};
    std::array<std::uint8_t, 4> SwIn{};
    std::array<std::uint8_t, 4> SwOut{};
    std::uint8_t SwVideo = 0;
    std::uint8_t SwMacro = 0;
    std::uint8_t SwRemote = 0;
    std::array<std::uint8_t, 3> Spare{};
    std::uint8_t Style = 0;
    std::array<std::uint8_t, 6> MAC{};

    // Always kArtPollReplySize bytes, with the "Art-Net" ID and OpCode 0x2100.
    QByteArray encode() const;
    static ArtNet_Packet_ArtPollReply decode(const QByteArray& datagram);
};

// Fills `reply` as the node presents itself: one DMX output port whose Port-Address is the one
// the node listens to: Net `net` (7 bits), Sub-Net the high nibble of `subUni` (the ArtDmx
// Sub-Uni byte), the port's SwOut the whole of `subUni` (the universe in its low nibble).
// Controllers that send unicast send only to nodes that advertise the universe. The IP address is the first four dot-separated parts of
// `interfaceAddress` (each part's leading integer, low 8 bits; missing parts 0). The names are
// `portName` in UTF-8, cut to at most 17 and 63 bytes at a character boundary and always
// zero-terminated. The OEM bytes are the low 16 bits of `oemCode`. Fields it does not name keep
// their value (zero in a fresh record).
void assembleArtPollReply(ArtNet_Packet_ArtPollReply& reply, const QString& interfaceAddress,
                          const QString& portName, std::uint64_t oemCode, std::uint8_t net, std::uint8_t subUni);

// One DMX output port found in another node's ArtPollReply.
struct FoundOutputPort {
    QString longName;
    QString ipAddress;  // "%d.%d.%d.%d"
    int subSwitch = 0;
    int universe = 0;   // the port's SwOut & 0x0F
};
// The output ports (PortTypes entry with the output bit 0x80, whatever else the port can do)
// among the first min(NumPortsLo, 4) ports.
// A reply whose LongName equals `ownPortName` gives none: that is our own reply.
std::vector<FoundOutputPort> outputPortsOfPollReply(const ArtNet_Packet_ArtPollReply& reply,
                                                    const QString& ownPortName);

// The directed broadcast address of the /24 network of an IPv4 dotted address: "a.b.c.255".
// A null host, "127.0.0.1" and anything that is not four dot-separated parts give "127.0.0.1".
QString directBroadcastAddressForHost(const QString& host);

// The leading decimal integer of a text (after blanks, with an optional sign), 0 when there is
// none; clamped to the int range. Dotted-address parts are read this way.
int leadingIntValue(const QString& text);

}  // namespace ArtNet
