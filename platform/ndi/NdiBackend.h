#pragma once
// The NDI operations the framework uses, in our own words, behind one interface with one file
// per backend: the NDI runtime loaded at run time (NdiRuntimeBackend) and the loopback backend
// across processes of one machine (NdiLoopbackBackend). NdiBackend::shared() picks one per
// process: KAVIO_NDI_BACKEND ("runtime", "loopback") when set, else the runtime when it loads,
// else loopback; the choice is logged once.
//
// Frames here describe memory they do not own. Every object is safe to use from one thread at a
// time; a sender's sends and queries may come from different threads (each backend serialises
// what it must).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ndi {

// Four-character codes as the NDI library numbers them: the first character in the low byte.
constexpr uint32_t fourCC(const char (&code)[5]) {
    return uint32_t(uint8_t(code[0])) | uint32_t(uint8_t(code[1])) << 8 | uint32_t(uint8_t(code[2])) << 16
           | uint32_t(uint8_t(code[3])) << 24;
}
constexpr uint32_t kFourCC_UYVY = fourCC("UYVY");  // 8-bit 4:2:2, Cb Y Cr Y
constexpr uint32_t kFourCC_BGRA = fourCC("BGRA");
constexpr uint32_t kFourCC_BGRX = fourCC("BGRX");
constexpr uint32_t kFourCC_RGBA = fourCC("RGBA");
constexpr uint32_t kFourCC_RGBX = fourCC("RGBX");
constexpr uint32_t kFourCC_P216 = fourCC("P216");  // 16-bit luma plane, then interleaved Cb Cr plane
constexpr uint32_t kFourCC_V210 = fourCC("V210");  // 10-bit 4:2:2, 48 pixels in 128 bytes
constexpr uint32_t kFourCC_FLTp = fourCC("FLTp");  // planar 32-bit float audio

// "Synthesise this for me": the timecode and timestamp senders leave to the library.
constexpr int64_t kSynthesize = INT64_MAX;

struct VideoFrame {
    int width = 0, height = 0;
    uint32_t fourCC = 0;
    int frameRateN = 30000, frameRateD = 1001;
    float pictureAspectRatio = 0;
    bool progressive = true;
    int64_t timecode = kSynthesize;
    const uint8_t* data = nullptr;
    // Bytes from one row to the next; for P216 the chroma plane follows the luma plane's
    // height rows at the same stride.
    int lineStride = 0;
    int64_t timestamp = kSynthesize;
};

struct AudioFrame {
    int sampleRate = 48000, channels = 0, samples = 0;
    int64_t timecode = kSynthesize;
    uint32_t fourCC = kFourCC_FLTp;
    const float* data = nullptr;  // channel c at byte c * channelStride
    int channelStride = 0;
    int64_t timestamp = kSynthesize;
};

struct Source {
    std::string name;     // "<host> (<name>)"
    std::string address;  // "127.0.0.1:port" on the loopback backend
    bool operator==(const Source&) const = default;
};

struct Tally {
    bool onProgram = false, onPreview = false;
    bool operator==(const Tally&) const = default;
};

// A frame handed out by a receiver; destroying it hands it back.
class CapturedVideo {
public:
    virtual ~CapturedVideo() = default;
    VideoFrame frame;
};
class CapturedAudio {
public:
    virtual ~CapturedAudio() = default;
    AudioFrame frame;
};

class Finder {
public:
    virtual ~Finder() = default;
    // The sources visible now, without waiting.
    virtual std::vector<Source> sources() = 0;
};

class Sender {
public:
    virtual ~Sender() = default;
    // Receivers connected now.
    virtual int connections() = 0;
    // The combined tally of the connected receivers.
    virtual Tally tally() = 0;
    // Synchronous: the frame's memory may be reused when these return.
    virtual void sendVideo(const VideoFrame& frame) = 0;
    virtual void sendAudio(const AudioFrame& frame) = 0;
};

enum class ColorFormat {
    Best,        // UYVY/BGRA, or 16-bit P216 where the source has more
    UYVY_BGRA,   // UYVY without alpha, BGRA with alpha
};

class Receiver {
public:
    virtual ~Receiver() = default;
    // Never wait: the oldest waiting frame, or nullptr.
    virtual std::unique_ptr<CapturedVideo> captureVideo() = 0;
    virtual std::unique_ptr<CapturedAudio> captureAudio() = 0;
    // Video frames waiting.
    virtual int queuedVideoFrames() = 0;
    // What this receiver shows its source.
    virtual void setTally(const Tally& tally) = 0;
};

class NdiBackend {
public:
    virtual ~NdiBackend() = default;
    // "runtime" or "loopback".
    virtual const char* name() const = 0;
    // Each nullptr when the backend cannot make one.
    virtual std::unique_ptr<Finder> createFinder() = 0;
    virtual std::unique_ptr<Sender> createSender(const std::string& name) = 0;
    virtual std::unique_ptr<Receiver> createReceiver(const Source& source, ColorFormat format,
                                                     const std::string& receiverName) = 0;
    // v210 (`from`, V210) into P216 memory that `to` describes (width, height, data, stride),
    // and back; false when the sizes do not fit.
    virtual bool v210ToP216(const VideoFrame& from, VideoFrame& to) = 0;
    virtual bool p216ToV210(const VideoFrame& from, VideoFrame& to) = 0;

    // The process's backend, chosen on first use.
    static NdiBackend& shared();
};

}  // namespace ndi
