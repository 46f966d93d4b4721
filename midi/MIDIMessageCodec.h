#pragma once
// The MIDI wire format of the framework, as pure functions over bytes: what one incoming packet
// means (with the SysEx gathering that spans packets), and the bytes of the time code and
// transport messages the framework sends.

#include <QString>
#include <QVariantMap>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace MIDIMessageCodec {

// A SysEx message that grows past this many bytes is dropped: none that we decode comes close,
// and a sender that never ends its message must not grow the buffer without end.
constexpr std::size_t kMaxSysexLength = 4096;

struct Message {
    QString name;  // one of TonarilNotifications
    QVariantMap userInfo;
};

enum class Problem {
    None,
    SysexTooLong,         // the gathered SysEx passed kMaxSysexLength and was dropped
    CueNumberNotNumeric,  // an MSC GO whose cue number holds a character other than a digit,
                          // or a fraction other than zeros ("12.5")
};

struct Result {
    std::optional<Message> message;
    Problem problem = Problem::None;
};

// Decodes one packet. Only its first byte decides: a note on or off, control change, MTC
// quarter frame or real-time Stop is decoded from this packet alone (a packet too short for
// its message yields nothing, and further messages in it are not read); an 0xF0 packet starts
// or extends the SysEx in `sysexBuffer`, and a packet with any other first byte extends a
// pending one. When a gathered SysEx ends (the packet's last byte is 0xF7) it is decoded and
// the buffer emptied.
Result decodePacket(std::span<const std::uint8_t> packet, std::uint64_t timeStamp,
                    std::vector<std::uint8_t>& sysexBuffer);

// Decodes one whole SysEx message (0xF0 ... 0xF7): MMC stop, play, rewind and locate, MSC, and
// the MTC full frame. Anything else yields no message.
Result decodeSysex(std::span<const std::uint8_t> message);

// A time text "HH:MM:SS:FF" at 30 frames per second.
struct SMPTEFields {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int frames = 0;
};

// Exactly four fields of digits, within 23:59:59:29; anything else is refused.
std::optional<SMPTEFields> parseSMPTEText(const QString& text);
// Frames since 00:00:00:00 at 30 frames per second.
std::int64_t frameCount(const SMPTEFields& time);

// The data bytes of the eight quarter frames (each sent after 0xF1), rate code 3 in piece 7.
std::array<std::uint8_t, 8> mtcQuarterFrameData(const SMPTEFields& time);
// MMC locate to the time, device id 0x7F, rate code 3, subframes 0.
std::array<std::uint8_t, 13> mmcLocateMessage(const SMPTEFields& time);

constexpr std::array<std::uint8_t, 6> kMMCPlayMessage{0xF0, 0x7F, 0x7F, 0x06, 0x02, 0xF7};
constexpr std::array<std::uint8_t, 6> kMMCStopMessage{0xF0, 0x7F, 0x7F, 0x06, 0x01, 0xF7};
// Control change 0 with value 0 on channel 1.
constexpr std::array<std::uint8_t, 3> kControlChangeMessage{0xB0, 0x00, 0x00};

}  // namespace MIDIMessageCodec
