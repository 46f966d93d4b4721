#pragma once
// What the conversion tests read back from the files they write, straight through the decoder
// library (independent of the writer under test), and the sources they convert.

#include <cstdint>
#include <string>
#include <vector>

namespace TranscoderTestSupport {

// A 3 s 1280x720 25 fps H.264 movie with stereo AAC (its priming declared in an edit list), a
// timed-text caption track and a timecode track starting at 01:00:00:00.
std::string showSource();
// 128x96, 1 s, PNG pictures whose left half is transparent.
std::string alphaSource();
// 128x96, 1 s, H.264 with 48 kHz AAC written without an edit list (no priming declared).
std::string undeclaredPrimingSource();

struct Packet {
    int64_t pts = 0;
    int64_t duration = 0;
    std::vector<uint8_t> data;
    bool operator==(const Packet&) const = default;
};
// The packets of the first stream of a kind ("video", "audio"), in file order.
std::vector<Packet> packetsOf(const std::string& path, const std::string& kind);
// The first audio stream's time base denominator (its sample rate for the files here).
int audioTimescale(const std::string& path);
// The alpha (0..255) of the first picture at (x, y), decoded and converted to RGBA; -1 on failure.
int alphaAt(const std::string& path, int x, int y);

}  // namespace TranscoderTestSupport
