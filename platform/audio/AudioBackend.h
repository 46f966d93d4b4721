#pragma once
// Our audio services layer: the device list, default devices, device events, an output stream
// pulled by a render callback and a capture stream pushing each IO cycle to a callback, behind
// one backend interface with one file per backend (PulseAudio, JACK, null).
//
// Devices are named by our own numbers: each stable device name (the backend's own name of a
// sink, a source or a JACK client) gets a number the first time it is seen, keeps it for the
// rest of the run (also when it goes and comes back) and no other name ever gets it. 0 is none.
//
// Threads: every operation may be called from any thread that is not a stream's callback
// thread. The event handler runs on the backend's notification thread (never the caller's
// stack for the real servers; the null backend runs it on the thread that changed its
// devices) and must not call back into the backend synchronously for long. Render and capture
// callbacks run on the backend's real-time IO thread: they must not lock, allocate or log.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

using AudioDeviceID = std::uint32_t;

struct AudioDeviceInfo {
    AudioDeviceID id = 0;
    std::string uid;   // the stable name the id stands for
    std::string name;  // what the operator reads; may be empty
    int inputChannels = 0;
    int outputChannels = 0;
    double sampleRate = 0;
};

enum class AudioBackendEvent {
    DevicesChanged,        // a device came or went
    DefaultOutputChanged,  // the default output device is another one
    ConfigurationChanged,  // the server was lost or is back, or a stream was lost
};

// Fills `channels` planes of `frames` float samples each (48000 Hz). Planes arrive zeroed.
using AudioRenderCallback = std::function<void(float* const* planes, std::uint32_t channels, std::uint32_t frames)>;

// One buffer of an IO cycle of a capture stream: `channels` interleaved floats per frame.
struct AudioCaptureBuffer {
    const float* samples = nullptr;
    std::uint32_t channels = 0;
    std::uint32_t frames = 0;
};
using AudioCaptureCallback = std::function<void(std::span<const AudioCaptureBuffer> buffers)>;

class AudioStream {
public:
    virtual ~AudioStream();
    // Starts the callbacks; false (logged) when the server refuses. Destruction stops them: no
    // callback runs after the destructor or stop() has returned.
    virtual bool start() = 0;
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
    // Output: the seconds between a sample leaving the render callback and the device playing
    // it, as the server reports it; 0 when unknown.
    virtual double latency() const = 0;
    // Output: how often the device ran dry since the stream was made (the server's under-run or
    // xrun reports: samples came too late and silence played). Counted lock-free on the server's
    // threads; any thread may read it. 0 for capture streams and servers that report none.
    virtual std::uint64_t underruns() const = 0;
    // Output: drops what the stream has written ahead of the device and not yet played (up to
    // its latency), so what the render callback stopped falls silent at once; the callback
    // refills from now. Not on the callback's thread. Nothing for capture streams.
    virtual void flush() = 0;
};

class AudioBackend {
public:
    static constexpr double kSampleRate = 48000.0;

    virtual ~AudioBackend();

    // "pulse", "jack" or "null".
    virtual std::string name() const = 0;
    // The devices present now, in the server's order.
    virtual std::vector<AudioDeviceInfo> devices() const = 0;
    // 0 when there is none.
    virtual AudioDeviceID defaultOutputDevice() const = 0;
    virtual AudioDeviceID defaultInputDevice() const = 0;
    // Present devices only; false when `id` is not one.
    bool deviceInfo(AudioDeviceID id, AudioDeviceInfo* info) const;

    // One handler; replaces the previous one. See the threads note above.
    void setEventHandler(std::function<void(AudioBackendEvent)> handler);

    // An output stream of `channels` planar float channels at 48000 Hz on `device` (0: the
    // default device, followed when it changes). Nothing when the device is not present or the
    // server refuses (logged). Not started.
    virtual std::unique_ptr<AudioStream> openOutput(AudioDeviceID device, std::uint32_t channels,
                                                    AudioRenderCallback render) = 0;
    // A capture stream of every input channel of `device` (0: the default input) at the
    // device's own rate, reported through *sampleRate and *channels. Not started.
    virtual std::unique_ptr<AudioStream> openCapture(AudioDeviceID device, AudioCaptureCallback capture,
                                                     double* sampleRate, std::uint32_t* channels) = 0;

    // The backend named by KAVIO_AUDIO_BACKEND ("pulse", "jack", "null"); when it is unset or
    // names a server that does not answer, the first server answering (PulseAudio, then JACK),
    // else the null backend, with a warning. Made once per process.
    static std::shared_ptr<AudioBackend> shared();
    // Tests and tools: the backend shared() answers from now on.
    static void setShared(std::shared_ptr<AudioBackend> backend);
    static std::shared_ptr<AudioBackend> make(const std::string& name);

protected:
    // Our number for a stable device name (see the file's note). Any thread.
    AudioDeviceID idForUid(const std::string& uid);
    void postEvent(AudioBackendEvent event);

private:
    mutable std::mutex idGuard_;
    std::unordered_map<std::string, AudioDeviceID> ids_;
    AudioDeviceID nextId_ = 1;
    std::mutex handlerGuard_;
    std::shared_ptr<std::function<void(AudioBackendEvent)>> handler_;
};

// Backend makers, one file each. Nothing when the server does not answer.
std::shared_ptr<AudioBackend> makePulseAudioBackend();
std::shared_ptr<AudioBackend> makeJackAudioBackend();
