#pragma once
// Reads one channel of a live audio input device and hands it to its delegate (the master
// clock's LTC decoder) in blocks of exactly 512 float samples. IO cycles of any size are
// re-blocked through a fixed accumulator; a cycle in which no buffer carries the chosen channel
// contributes silence, so the delegate keeps its pace.
//
// Threads: construction, setDeviceUID, setDelegate and removeResources on the main thread; the
// chosen channel from any thread. The delegate runs on the device's IO thread (the backend's
// capture thread), synchronously, and must consume the block before it returns; nothing on that
// path locks, allocates or logs (a cycle size other than 512 is logged once per device).
//
// Ownership: the application delegate owns the input (shared_ptr); releasing it stops the
// device.

#include "AudioBackend.h"

#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <memory>

class QVTAudioInput {
public:
    static constexpr size_t kBlockSamples = 512;
    using Delegate = std::function<void(const float* samples)>;

    // Connects to the device with that UID (or the default input) and starts it.
    explicit QVTAudioInput(const QString& deviceUID, std::shared_ptr<AudioBackend> backend = AudioBackend::shared());
    ~QVTAudioInput();
    QVTAudioInput(const QVTAudioInput&) = delete;
    QVTAudioInput& operator=(const QVTAudioInput&) = delete;

    QString deviceUID() const { return deviceUID_; }
    // The same UID again does nothing; another reconnects and starts (the default input when no
    // device has it).
    void setDeviceUID(const QString& uid);
    // Chooses the device and opens its capture stream; does not start it.
    void connect();
    // Stops the device; nothing is delivered afterwards.
    void removeResources();

    // 0-based, counted across all buffers of a cycle. A channel the device lacks gives silence.
    int32_t inputChannel() const { return inputChannel_.load(std::memory_order_relaxed); }
    void setInputChannel(int32_t channel) { inputChannel_.store(channel, std::memory_order_relaxed); }
    uint64_t deviceChannelCount() const { return deviceChannelCount_; }
    double deviceSampleRate() const { return deviceSampleRate_; }
    AudioDeviceID device() const { return device_; }

    // Replaces the delegate (nullptr: none). When it returns, the old delegate is not running
    // and is not called again.
    void setDelegate(Delegate delegate);

    // The IO thread's work for one cycle (public for tests that feed cycles directly).
    void updateBuffers(std::span<const AudioCaptureBuffer> buffers);

private:
    void push(const float* samples, size_t stride, uint32_t frames);

    std::shared_ptr<AudioBackend> backend_;
    std::unique_ptr<AudioStream> stream_;
    AudioDeviceID device_ = 0;
    QString deviceUID_;
    uint64_t deviceChannelCount_ = 0;
    double deviceSampleRate_ = 0;
    std::atomic<int32_t> inputChannel_{0};
    std::unique_ptr<Delegate> delegateStorage_;  // main thread
    std::atomic<const Delegate*> delegate_{nullptr};
    std::atomic<uint64_t> cycleSequence_{0};  // odd while a cycle runs
    std::array<float, kBlockSamples> block_{};
    size_t filled_ = 0;
    std::atomic<bool> sizeMismatchLogged_{false};
};
