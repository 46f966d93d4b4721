#include "NMCPacket.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

std::optional<NMC_Packet> NMC_Packet::fromBytes(std::span<const uint8_t> bytes, std::string* error)
{
    const auto refuse = [error](std::string reason) -> std::optional<NMC_Packet> {
        if (error) {
            *error = std::move(reason);
        }
        return std::nullopt;
    };
    if (bytes.size() < kSize) {
        return refuse("packet of " + std::to_string(bytes.size()) + " bytes, shorter than " + std::to_string(kSize));
    }
    NMC_Packet packet;
    packet.command = bytes[4];
    packet.smptetime = {bytes[5], bytes[6], bytes[7], bytes[8]};
    packet.fps = bytes[9];
    packet.cue = bytes[10];
    if (packet.fps != 24 && packet.fps != 25 && packet.fps != 30) {
        return refuse("frame rate " + std::to_string(packet.fps));
    }
    if (packet.smptetime.minutes > 59 || packet.smptetime.frames >= packet.fps) {
        return refuse("time " + packet.timeString() + " out of range at " + std::to_string(packet.fps) + " fps");
    }
    return packet;
}

std::optional<NMC_Packet> NMC_Packet::fromTimeText(uint8_t command, std::string_view time, uint8_t fps, uint8_t cue)
{
    uint8_t fields[4] = {};
    const char* p = time.data();
    const char* const end = time.data() + time.size();
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (p == end || *p != ':') {
                return std::nullopt;
            }
            ++p;
        }
        unsigned value = 0;
        const auto [next, ec] = std::from_chars(p, end, value);
        if (ec != std::errc() || next == p || value > 255) {
            return std::nullopt;
        }
        fields[i] = uint8_t(value);
        p = next;
    }
    if (p != end) {
        return std::nullopt;
    }
    NMC_Packet packet;
    packet.command = command;
    packet.smptetime = {fields[0], fields[1], fields[2], fields[3]};
    packet.fps = fps;
    packet.cue = cue;
    return packet;
}

std::array<uint8_t, NMC_Packet::kSize> NMC_Packet::toBytes() const
{
    std::array<uint8_t, kSize> bytes{};
    std::copy(nmclink::kMagic.begin(), nmclink::kMagic.end(), bytes.begin());
    bytes[4] = command;
    bytes[5] = smptetime.hours;
    bytes[6] = smptetime.minutes;
    bytes[7] = smptetime.seconds;
    bytes[8] = smptetime.frames;
    bytes[9] = fps;
    bytes[10] = cue;
    return bytes;
}

std::string NMC_Packet::timeString() const
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d:%02d", smptetime.hours, smptetime.minutes, smptetime.seconds,
                  smptetime.frames);
    return text;
}
