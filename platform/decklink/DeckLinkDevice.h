#pragma once
// DeckLink cards as the program uses them, in our own words: a browser that lists the connected
// devices and reports arrivals and removals, and per device its name, two integer IDs, its
// playback formats and keying modes, and playback of pictures and 16-bit audio.
//
// Backends: createDeviceBrowser() answers the virtual browser when KAVIO_VIRTUAL_DECKLINK=<n>
// is set (n devices "Virtual DeckLink <k>"), else nullptr: there is no hardware backend here.
//
// Threads: every call is safe from any thread. Completion handlers and the browser's delegate
// run on the backend's own thread, never inside the call that caused them.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace decklink {

// Display modes and pixel formats as four characters, the first in the high byte:
// fourCC("ntsc") == 0x6E747363.
constexpr uint32_t fourCC(const char (&code)[5])
{
    return uint32_t(uint8_t(code[0])) << 24 | uint32_t(uint8_t(code[1])) << 16 | uint32_t(uint8_t(code[2])) << 8
           | uint32_t(uint8_t(code[3]));
}
constexpr uint32_t kPixelFormat2vuy = fourCC("2vuy");
constexpr uint32_t kPixelFormatBGRA = fourCC("BGRA");
constexpr uint32_t kPixelFormatV210 = fourCC("v210");
constexpr uint32_t kPixelFormatARGB32 = 32;

// A display mode the cards know: its code, picture size and frame rate.
struct DisplayMode {
    const char* name;
    uint32_t code;
    int64_t timeValue;
    int32_t timeScale;
    int fields;  // 1 progressive, 2 interlaced (the rate is the frame rate)
    int width, height;
};
// The 54 modes, SD to 8K.
const std::vector<DisplayMode>& displayModes();

struct VideoFormatDescription {
    uint32_t displayMode = 0;
    uint32_t pixelFormat = 0;
    bool operator==(const VideoFormatDescription&) const = default;
};

struct AudioFormatDescription {
    int channels = 2;
    int sampleRate = 48000;
    int bitsPerSample = 16;
    bool operator==(const AudioFormatDescription&) const = default;
};

enum class KeyingMode { None, Internal, External };

// A picture for playback: rows of `bytesPerRow`, in `pixelFormat`. Immutable once handed over.
struct PixelBuffer {
    uint32_t pixelFormat = 0;
    int width = 0, height = 0, bytesPerRow = 0;
    std::vector<uint8_t> bytes;
};

// Empty on success, else what went wrong.
using Completion = std::function<void(const std::string& error)>;

// A captured picture, top row first; its bytes are shared, not copied, by whoever keeps it.
struct CapturedFrame {
    uint32_t pixelFormat = 0;
    int width = 0, height = 0, bytesPerRow = 0;
    std::shared_ptr<const std::vector<uint8_t>> bytes;
};

// Captured audio: `frames` frames of `channels` interleaved signed 16-bit samples.
struct CapturedAudio {
    int channels = 2;
    int sampleRate = 48000;
    uint32_t frames = 0;
    std::shared_ptr<const std::vector<int16_t>> samples;
};

class DeckLinkDevice;

// Receives an input's deliveries on the backend's thread.
class CaptureDelegate {
public:
    virtual ~CaptureDelegate() = default;
    virtual void didCaptureFrame(DeckLinkDevice& device, const CapturedFrame& frame) = 0;
    virtual void didCaptureAudio(DeckLinkDevice& device, const CapturedAudio& audio) = 0;
    // The signal's format changed (the input follows it).
    virtual void didChangeCaptureFormat(DeckLinkDevice& device, const VideoFormatDescription& format) = 0;
};

class DeckLinkDevice {
public:
    virtual ~DeckLinkDevice() = default;
    virtual std::string displayName() const = 0;
    // 0 when the card has none.
    virtual int64_t persistantID() const = 0;
    virtual int64_t topologicalID() const = 0;
    virtual bool playbackSupported() const = 0;
    virtual bool captureSupported() const = 0;

    virtual std::vector<VideoFormatDescription> playbackVideoFormatDescriptions() const = 0;
    virtual std::vector<AudioFormatDescription> playbackAudioFormatDescriptions() const = 0;
    virtual std::vector<KeyingMode> playbackKeyingModes() const = 0;
    // nullopt deactivates playback.
    virtual void setPlaybackActiveVideoFormatDescription(std::optional<VideoFormatDescription> format,
                                                         Completion done) = 0;
    virtual void setPlaybackActiveAudioFormatDescription(const AudioFormatDescription& format, Completion done) = 0;
    virtual void setPlaybackActiveKeyingMode(KeyingMode mode, double alpha, Completion done) = 0;

    // Plays one picture (not flipped: top row first).
    virtual void playbackPixelBuffer(std::shared_ptr<const PixelBuffer> buffer, bool flipped) = 0;
    // Plays interleaved 16-bit audio: `samples` frames of the active format's channels. The
    // device owns the block from here and releases it with free() once played; `done` follows.
    virtual void playback16bitAudioBuffer(int16_t* block, uint32_t samples, std::function<void()> done) = 0;

    // Capture, for devices with captureSupported(); the others capture nothing and refuse.
    virtual std::vector<VideoFormatDescription> captureVideoFormatDescriptions() const { return {}; }
    virtual std::vector<AudioFormatDescription> captureAudioFormatDescriptions() const { return {}; }
    virtual std::optional<VideoFormatDescription> captureActiveVideoFormatDescription() const { return std::nullopt; }
    // Empty on success, else what went wrong.
    virtual std::string setCaptureActiveVideoFormatDescription(const VideoFormatDescription&) { return kNoCapture; }
    virtual std::string setCaptureActiveAudioFormatDescription(const AudioFormatDescription&) { return kNoCapture; }
    // Not owned; nullptr stops the deliveries (a delivery running on the backend's thread ends first).
    virtual void setCaptureDelegate(CaptureDelegate*) {}
    virtual std::string startCapture() { return kNoCapture; }
    virtual void stopCapture() {}

    static constexpr const char* kNoCapture = "the device has no input";
};

class DeckLinkDeviceBrowser;

class DeckLinkDeviceBrowserDelegate {
public:
    virtual ~DeckLinkDeviceBrowserDelegate() = default;
    virtual void didAddDevice(DeckLinkDeviceBrowser& browser, const std::shared_ptr<DeckLinkDevice>& device) = 0;
    virtual void didRemoveDevice(DeckLinkDeviceBrowser& browser, const std::shared_ptr<DeckLinkDevice>& device) = 0;
};

class DeckLinkDeviceBrowser {
public:
    virtual ~DeckLinkDeviceBrowser() = default;
    virtual void start() = 0;
    virtual void stop() = 0;
    // Not owned; nullptr to stop the reports.
    virtual void setDelegate(DeckLinkDeviceBrowserDelegate* delegate) = 0;
    virtual std::vector<std::shared_ptr<DeckLinkDevice>> connectedDevices() const = 0;
};

// The browser of this machine's backend, or nullptr when there is none.
std::unique_ptr<DeckLinkDeviceBrowser> createDeviceBrowser();

// The framework's version as text.
std::string apiVersion();

}  // namespace decklink
