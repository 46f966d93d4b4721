#pragma once
// The virtual DeckLink backend, for users without a card and for tests: playback-only devices
// "Virtual DeckLink <k>" (persistent ID k, topological ID 0) that play all 54 display modes in
// '2vuy', 'BGRA' and 'v210', audio of 2, 8 and 16 channels, and keying None, Internal and
// External. Each records what it is set to and sent; tests can change its formats, make its
// next activation fail and plug devices in and out. A device made with an input captures the same
// formats in '2vuy' and 'v210' and 2 channels of audio: while started, what a test feeds it
// goes to its capture delegate on the device's thread.

#include "DeckLinkDevice.h"

#include <mutex>

class DispatchQueue;

namespace decklink {

class VirtualDeckLinkDevice : public DeckLinkDevice, public std::enable_shared_from_this<VirtualDeckLinkDevice> {
public:
    VirtualDeckLinkDevice(std::string name, int64_t persistentID, int64_t topologicalID = 0, bool hasInput = false);
    ~VirtualDeckLinkDevice() override;

    std::string displayName() const override { return name_; }
    int64_t persistantID() const override { return persistentID_; }
    int64_t topologicalID() const override { return topologicalID_; }
    bool playbackSupported() const override { return true; }
    bool captureSupported() const override { return hasInput_; }
    std::vector<VideoFormatDescription> playbackVideoFormatDescriptions() const override;
    std::vector<AudioFormatDescription> playbackAudioFormatDescriptions() const override;
    std::vector<KeyingMode> playbackKeyingModes() const override;
    void setPlaybackActiveVideoFormatDescription(std::optional<VideoFormatDescription> format, Completion done) override;
    void setPlaybackActiveAudioFormatDescription(const AudioFormatDescription& format, Completion done) override;
    void setPlaybackActiveKeyingMode(KeyingMode mode, double alpha, Completion done) override;
    void playbackPixelBuffer(std::shared_ptr<const PixelBuffer> buffer, bool flipped) override;
    void playback16bitAudioBuffer(int16_t* block, uint32_t samples, std::function<void()> done) override;

    std::vector<VideoFormatDescription> captureVideoFormatDescriptions() const override;
    std::vector<AudioFormatDescription> captureAudioFormatDescriptions() const override;
    std::optional<VideoFormatDescription> captureActiveVideoFormatDescription() const override;
    std::string setCaptureActiveVideoFormatDescription(const VideoFormatDescription& format) override;
    std::string setCaptureActiveAudioFormatDescription(const AudioFormatDescription& format) override;
    void setCaptureDelegate(CaptureDelegate* delegate) override;
    std::string startCapture() override;
    void stopCapture() override;

    // --- For tests ---
    // Delivered to the capture delegate while capturing (dropped otherwise).
    void feedFrame(CapturedFrame frame);
    void feedAudio(CapturedAudio audio);
    void feedFormatChange(VideoFormatDescription format);
    bool isCapturing() const;
    void setPlaybackVideoFormats(std::vector<VideoFormatDescription> formats);
    void setPlaybackAudioFormats(std::vector<AudioFormatDescription> formats);
    // The next activation (video format, audio format or keying) reports an error.
    void failNextActivation();
    std::optional<VideoFormatDescription> activeVideoFormat() const;
    std::optional<AudioFormatDescription> activeAudioFormat() const;
    KeyingMode activeKeyingMode() const;
    std::shared_ptr<const PixelBuffer> lastPixelBuffer() const;
    uint64_t framesPlayed() const;
    // Frames of audio played, and the samples of the last block (interleaved).
    uint64_t audioFramesPlayed() const;
    std::vector<int16_t> lastAudioBlock() const;
    // Waits until every callback asked for so far has run.
    void flush();

private:
    void activate(std::function<void()> apply, Completion done);
    // Runs `deliver` with the delegate on the device's thread while capturing.
    void deliver(std::function<void(CaptureDelegate&)> deliver);

    const std::string name_;
    const int64_t persistentID_, topologicalID_;
    const bool hasInput_;
    std::unique_ptr<DispatchQueue> callbacks_;
    mutable std::mutex mutex_;
    std::vector<VideoFormatDescription> videoFormats_;
    std::vector<AudioFormatDescription> audioFormats_;
    bool failNext_ = false;
    std::optional<VideoFormatDescription> activeVideo_;
    std::optional<AudioFormatDescription> activeAudio_;
    KeyingMode keying_ = KeyingMode::None;
    std::shared_ptr<const PixelBuffer> lastPixels_;
    uint64_t frames_ = 0, audioFrames_ = 0;
    std::vector<int16_t> lastAudio_;
    std::optional<VideoFormatDescription> captureFormat_;
    CaptureDelegate* captureDelegate_ = nullptr;  // read on the device's thread
    bool capturing_ = false;
};

class VirtualDeckLinkBrowser : public DeckLinkDeviceBrowser {
public:
    // `count` devices, "Virtual DeckLink 1" to "Virtual DeckLink <count>".
    explicit VirtualDeckLinkBrowser(int count);
    ~VirtualDeckLinkBrowser() override;
    void start() override;
    void stop() override;
    void setDelegate(DeckLinkDeviceBrowserDelegate* delegate) override;
    std::vector<std::shared_ptr<DeckLinkDevice>> connectedDevices() const override;

    // --- For tests: reported to the delegate while started ---
    void plugIn(const std::shared_ptr<DeckLinkDevice>& device);
    void unplug(const std::shared_ptr<DeckLinkDevice>& device);
    // Waits until every report so far has run.
    void flush();

private:
    std::unique_ptr<DispatchQueue> reports_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<DeckLinkDevice>> devices_;
    DeckLinkDeviceBrowserDelegate* delegate_ = nullptr;
    bool started_ = false;
};

}  // namespace decklink
