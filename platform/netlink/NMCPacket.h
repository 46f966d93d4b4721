#pragma once
// The network link's wire format, shared by the master (QVTNMCMaster), the slave (QVTNMCSlave)
// and the master clock that reads the packets.
//
// All datagrams are UDP over IPv4.
// - Command packet, master → slave, 12 bytes:
//     0-3  kMagic ('K', 'N', 'L' and the format version 1)
//     4    command code
//     5-8  hours, minutes, seconds, frames of the time
//     9    frame rate (24, 25 or 30)
//     10   cue number (one byte; the master refuses a cue above 255 rather than wrap it)
//     11   zero
// - Subscribe message, slave → master: the 4 bytes kSubscribe, sent every kSubscribeInterval
//   from the slave's socket; the master sends its commands to that address and port for
//   kSubscriptionExpiry after the last one, to at most kMaxSubscribers slaves.
// - The master listens on kDefaultPort and publishes the zeroconf service kServiceType.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace nmclink {

inline constexpr std::array<uint8_t, 4> kMagic{'K', 'N', 'L', 1};
inline constexpr std::array<uint8_t, 4> kSubscribe{'K', 'N', 'S', 1};
inline constexpr uint16_t kDefaultPort = 52310;
inline constexpr std::chrono::seconds kSubscribeInterval{1};
inline constexpr std::chrono::seconds kSubscriptionExpiry{5};
inline constexpr size_t kMaxSubscribers = 64;
inline constexpr const char* kServiceType = "_nmc._udp.";

}  // namespace nmclink

struct NMC_Packet {
    static constexpr size_t kSize = 12;

    struct SMPTETime {
        uint8_t hours = 0;
        uint8_t minutes = 0;
        uint8_t seconds = 0;
        uint8_t frames = 0;
    };

    uint8_t command = 0;
    SMPTETime smptetime;
    uint8_t fps = 0;
    uint8_t cue = 0;

    // Reads a received packet; pure. Bytes 0-3 and 11 are not read (the slave checks the magic
    // before). Null, with the reason in `error` when given, for fewer than 12 bytes, a frame
    // rate other than 24, 25 or 30, minutes above 59 or frames not below the frame rate. Hours
    // and seconds are taken as they come (a goto counts whole seconds).
    static std::optional<NMC_Packet> fromBytes(std::span<const uint8_t> bytes, std::string* error = nullptr);
    // A packet from a time text "h:m:s:f" (four unsigned numbers, each up to 255); null for any
    // other text. Pure.
    static std::optional<NMC_Packet> fromTimeText(uint8_t command, std::string_view time, uint8_t fps, uint8_t cue);
    // The 12 bytes of the wire format above. Pure.
    std::array<uint8_t, kSize> toBytes() const;
    // The time as "HH:MM:SS:FF".
    std::string timeString() const;
};
