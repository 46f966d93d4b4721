#pragma once
// The backend without a server: its devices and events are set by the caller, and render and
// capture cycles of any size are run by hand on the caller's thread, so tests decide every
// sample and every moment. Also what the program falls back to when no server answers.

#include "AudioBackend.h"

#include <atomic>

class NullAudioBackend : public AudioBackend {
public:
    std::string name() const override { return "null"; }
    std::vector<AudioDeviceInfo> devices() const override;
    AudioDeviceID defaultOutputDevice() const override;
    AudioDeviceID defaultInputDevice() const override;
    // Output streams open on present devices or the default; the default on an empty list too.
    std::unique_ptr<AudioStream> openOutput(AudioDeviceID device, std::uint32_t channels,
                                            AudioRenderCallback render) override;
    std::unique_ptr<AudioStream> openCapture(AudioDeviceID device, AudioCaptureCallback capture,
                                             double* sampleRate, std::uint32_t* channels) override;

    // Adds (or updates) the device named `uid` and posts "devices changed"; answers its id.
    AudioDeviceID addDevice(const std::string& uid, const std::string& name, int inputChannels,
                            int outputChannels, double sampleRate = kSampleRate);
    // Removes it and posts "devices changed"; a default that was it becomes none.
    void removeDevice(const std::string& uid);
    // Posts "default output changed" when the default output is another one.
    void setDefaultOutputDevice(AudioDeviceID id);
    void setDefaultInputDevice(AudioDeviceID id);
    // The next start of a stream fails (once).
    void failNextStart();
    // Posts "configuration changed", as a lost server would.
    void loseServer();

    // Runs one render cycle of `frames` frames of the running output stream into `planes`
    // (resized to its channel count); false when no output stream runs.
    bool renderCycle(std::uint32_t frames, std::vector<std::vector<float>>& planes);
    // The device the running output stream plays on (0: the default), or 0 without one.
    AudioDeviceID runningOutputDevice() const;
    // Hands `buffers` to the running capture stream of `device`; false when none runs there.
    bool captureCycle(AudioDeviceID device, std::span<const AudioCaptureBuffer> buffers);

    class Stream;

private:
    friend class Stream;
    void streamStarted(Stream* stream, bool running);
    bool takeFailure();

    mutable std::mutex guard_;
    std::vector<AudioDeviceInfo> devices_;
    AudioDeviceID defaultOutput_ = 0;
    AudioDeviceID defaultInput_ = 0;
    bool failNextStart_ = false;
    std::vector<Stream*> running_;
    std::vector<float*> planePointers_;
};
