#pragma once
// The one audio processing graph: every cue's player node on its own input bus of our mixer,
// the mix at a fixed processing format (48000 Hz, 32-bit float, planar, N channels) into one
// output stream of the audio backend, bound to the device the output manager chooses.
//
// Threads: set-up, device binding, stop and start run on the main thread; the bus calls,
// metering reads and the format getter on any thread. render() runs on the backend's
// real-time thread and takes no lock, allocates, frees and logs nothing: node changes reach it
// through atomics, and buffers it has finished leave to the engine's housekeeping thread,
// which also runs their completions.
//
// Notifications on the default centre: "KavioAudioEngineWillStop" and
// "KavioAudioEngineDidStart" (no object) as their names say, posted synchronously on the
// calling thread; kConfigurationChangeNotification, kDevicesChangedNotification and
// kDefaultOutputChangedNotification (object: the engine) on the backend's notification thread
// when the backend reports those events.

#include "AudioBackend.h"
#include "PcmFormat.h"

#include <QString>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class AudioStream;
class KavioAudioPlayerNode;

class KavioAudioEngine {
public:
    static constexpr uint32_t kMixerInputBusCount = 1024;
    static constexpr uint32_t kNoBus = UINT32_MAX;
    static constexpr double kSampleRate = 48000.0;
    // Status codes of setAUDeviceID.
    static constexpr int32_t kAudioHardwareBadDeviceError = 0x21646576;  // '!dev'
    static constexpr int32_t kAudioParamError = -50;

    static inline const QString kWillStopNotification = QStringLiteral("KavioAudioEngineWillStop");
    static inline const QString kDidStartNotification = QStringLiteral("KavioAudioEngineDidStart");
    static inline const QString kConfigurationChangeNotification =
        QStringLiteral("KavioAudioEngineConfigurationChange");
    static inline const QString kDevicesChangedNotification = QStringLiteral("KavioAudioHardwareDevicesChanged");
    static inline const QString kDefaultOutputChangedNotification =
        QStringLiteral("KavioAudioHardwareDefaultOutputChanged");

    // The program's engine on AudioBackend::shared(), made on first use.
    static KavioAudioEngine& sharedEngine();
    explicit KavioAudioEngine(std::shared_ptr<AudioBackend> backend);
    ~KavioAudioEngine();
    KavioAudioEngine(const KavioAudioEngine&) = delete;
    KavioAudioEngine& operator=(const KavioAudioEngine&) = delete;

    const std::shared_ptr<AudioBackend>& backend() const { return backend_; }

    // Nothing until the first setupProcessingFormatWithChannels.
    std::optional<PcmFormat> processingFormat() const;
    // A new processing format of `channels` channels (at least 1), discrete in order, or in
    // the stereo layout when `stereoMixDown`; then reconnectMixer. Neither stops nor starts.
    void setupProcessingFormatWithChannels(int channels, bool stereoMixDown);
    // The output stream takes the processing format's channel count at the next start.
    void reconnectMixer();

    // Binds the output to `device`: kAudioHardwareBadDeviceError for 0 or a device that is not
    // present (the binding stays); after binding, kAudioParamError with the "Cannot initialize
    // audio device :-(" alert (on the main queue) when there is no processing format yet;
    // else 0. A running engine moves its stream to the device.
    int32_t setAUDeviceID(AudioDeviceID device);
    AudioDeviceID getAUDeviceID() const;
    int32_t retryAttempts() const { return retryattempts_; }

    bool isRunning() const { return running_; }
    // Posts "KavioAudioEngineWillStop" when running, then stops; always resets the mixer.
    void stopEngine();
    // Opens and starts the output stream; posts "KavioAudioEngineDidStart" on success only.
    void startEngine();
    // The backend's latency of the running output, in seconds (0 when stopped or unknown).
    double outputLatency() const;
    // How often the device ran dry (under-runs the server reported) since the engine was made,
    // over every output stream it has opened. Main thread.
    uint64_t outputUnderruns() const;
    // Drops the sound the output stream holds ahead of the device (up to its latency), so that
    // players just stopped fall silent at once instead of playing out: after the show's stop or
    // panic. Main thread.
    void dropQueuedOutput();

    // The lowest bus no node holds or has reserved, now reserved; kNoBus when all are.
    uint32_t nextAvailableMixerInputBus();
    // Connects the node to its reserved bus (replacing a node there); the engine holds it.
    void connectNode(const std::shared_ptr<KavioAudioPlayerNode>& node, uint32_t bus);
    // Disconnects whatever node is on the bus and frees the bus. The engine lets the node go
    // once no render cycle can still see it.
    void disconnectBus(uint32_t bus);
    void enableMeteringOnBus(uint32_t bus);
    // The post-fader average power (dB) of each of `channelCount` channels of the bus; one
    // entry per channel (-120 when the bus has no node), empty for a count of 0 or less.
    std::vector<double> meteringDataOnBus(uint32_t bus, int channelCount) const;

    // The main mixer's output volume: the audible master switch of the device output.
    float outputVolume() const { return outputVolume_.load(std::memory_order_relaxed); }
    void setOutputVolume(float volume) { outputVolume_.store(volume, std::memory_order_relaxed); }
    // The engine sample time of the start of the next render cycle.
    int64_t sampleTime() const { return sampleTime_.load(std::memory_order_relaxed); }

    // The render function: mixes every connected node into the planes (arriving zeroed). Real-
    // time thread; public so tests and benchmarks can run it directly.
    void render(float* const* planes, uint32_t channels, uint32_t frames);

    struct Housekeeping;

private:
    void handleBackendEvent(AudioBackendEvent event);
    // Opens and starts the output stream with the processing format on the bound device.
    bool startEngineStream();
    void reopenStream();
    // Drops the output stream, keeping its under-run count.
    void closeOutput();
    void retireNode(std::shared_ptr<KavioAudioPlayerNode> node);

    std::shared_ptr<AudioBackend> backend_;
    std::unique_ptr<Housekeeping> housekeeping_;

    // Main thread.
    std::optional<PcmFormat> processingformat_;
    std::unique_ptr<AudioStream> output_;
    uint64_t underrunsOfClosedOutputs_ = 0;
    AudioDeviceID currentAudioDeviceID_ = 0;
    int32_t retryattempts_ = 0;
    std::atomic<bool> running_{false};

    // Buses: the render thread reads the slots; the rest is under busGuard_.
    mutable std::mutex busGuard_;
    std::array<std::shared_ptr<KavioAudioPlayerNode>, kMixerInputBusCount> owners_;
    std::array<bool, kMixerInputBusCount> reserved_{};
    std::array<std::atomic<KavioAudioPlayerNode*>, kMixerInputBusCount> slots_{};
    std::atomic<uint32_t> busEnd_{0};  // one past the highest bus ever connected

    std::atomic<float> outputVolume_{1.0f};
    std::atomic<int64_t> sampleTime_{0};
    std::atomic<uint64_t> renderSequence_{0};  // odd while a render cycle runs
};
