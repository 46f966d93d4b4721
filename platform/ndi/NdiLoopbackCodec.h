#pragma once
// The messages of the loopback backend's TCP connections: pure functions over bytes, no
// sockets. A message is a 4-byte little-endian body length, a 1-byte type, then the body:
//
//   video (1):    u32 width, u32 height, u32 FourCC, i32 rate N, i32 rate D, f32 aspect,
//                 u32 line stride, i64 timecode, then the rows (stride x height, twice the
//                 height for P216)
//   audio (2):    u32 sample rate, u32 channels, u32 samples, u32 FourCC (FLTp), i64 timecode,
//                 then the planes (channels x samples floats)
//   metadata (3): UTF-8 text
//   tally (4):    u8 on program, u8 on preview (receiver to sender)
//
// Every number is little-endian. A body whose sizes disagree with its header is refused whole.

#include "NdiBackend.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace NdiLoopbackCodec {

enum class Type : uint8_t { Video = 1, Audio = 2, Metadata = 3, Tally = 4 };

constexpr size_t kHeaderSize = 5;
// Large enough for an 8K P216 picture.
constexpr uint32_t kMaxBodySize = 160u << 20;
constexpr int kMaxDimension = 16384;
constexpr int kMaxChannels = 64;
constexpr int kMaxSamples = 1 << 20;

struct DecodedVideo {
    ndi::VideoFrame frame;        // data points into `bytes`
    std::vector<uint8_t> bytes;
};
struct DecodedAudio {
    ndi::AudioFrame frame;        // data points into `samples`
    std::vector<float> samples;
};
struct Metadata {
    std::string text;
};
using Message = std::variant<DecodedVideo, DecodedAudio, Metadata, ndi::Tally>;

// Whole messages, header included; empty when the frame cannot be described (sizes out of
// range, no data).
std::vector<uint8_t> encodeVideo(const ndi::VideoFrame& frame);
std::vector<uint8_t> encodeAudio(const ndi::AudioFrame& frame);
std::vector<uint8_t> encodeMetadata(const std::string& text);
std::vector<uint8_t> encodeTally(const ndi::Tally& tally);

struct Header {
    uint32_t bodySize = 0;
    Type type = Type::Video;
};
enum class HeaderStatus { Incomplete, Bad, Ok };
// Reads a header from the start of `data`: Bad for an unknown type or a body over the limit.
HeaderStatus readHeader(const uint8_t* data, size_t size, Header& header);

// The body of a message whose header was Ok; nullopt when it is malformed.
std::optional<Message> decodeBody(Type type, const uint8_t* body, size_t size);

// A stream of bytes split into messages, for readers that receive them in pieces.
class Reader {
public:
    // Appends received bytes.
    void append(const uint8_t* data, size_t size);
    // The next whole message; nullopt while incomplete. After a malformed one failed() is set
    // and nothing more comes: the connection cannot be trusted to be in step.
    std::optional<Message> next();
    bool failed() const { return failed_; }

private:
    std::vector<uint8_t> buffer_;
    size_t offset_ = 0;
    bool failed_ = false;
};

}  // namespace NdiLoopbackCodec
