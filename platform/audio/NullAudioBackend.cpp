#include "NullAudioBackend.h"

#include "Log.h"

#include <algorithm>

class NullAudioBackend::Stream : public AudioStream {
public:
    Stream(NullAudioBackend* backend, AudioDeviceID device, std::uint32_t channels, AudioRenderCallback render,
           AudioCaptureCallback capture)
        : backend_(backend), device_(device), channels_(channels), render_(std::move(render)),
          capture_(std::move(capture)) {}
    ~Stream() override { stop(); }

    bool start() override {
        if (running_) return true;
        if (backend_->takeFailure()) {
            KLOG_WARN("null audio stream refused to start (as asked)");
            return false;
        }
        backend_->streamStarted(this, true);
        running_ = true;
        return true;
    }
    void stop() override {
        if (!running_) return;
        backend_->streamStarted(this, false);
        running_ = false;
    }
    bool isRunning() const override { return running_; }
    double latency() const override { return 0; }
    std::uint64_t underruns() const override { return 0; }  // no device to run dry
    void flush() override {}  // nothing is written ahead: the test renders each cycle by hand

    NullAudioBackend* backend_;
    AudioDeviceID device_;
    std::uint32_t channels_;
    AudioRenderCallback render_;
    AudioCaptureCallback capture_;
    bool running_ = false;
};

std::vector<AudioDeviceInfo> NullAudioBackend::devices() const {
    std::lock_guard lock(guard_);
    return devices_;
}

AudioDeviceID NullAudioBackend::defaultOutputDevice() const {
    std::lock_guard lock(guard_);
    return defaultOutput_;
}

AudioDeviceID NullAudioBackend::defaultInputDevice() const {
    std::lock_guard lock(guard_);
    return defaultInput_;
}

std::unique_ptr<AudioStream> NullAudioBackend::openOutput(AudioDeviceID device, std::uint32_t channels,
                                                          AudioRenderCallback render) {
    if (channels == 0 || (device != 0 && !deviceInfo(device, nullptr))) return nullptr;
    return std::make_unique<Stream>(this, device, channels, std::move(render), nullptr);
}

std::unique_ptr<AudioStream> NullAudioBackend::openCapture(AudioDeviceID device, AudioCaptureCallback capture,
                                                           double* sampleRate, std::uint32_t* channels) {
    if (device == 0) device = defaultInputDevice();
    AudioDeviceInfo info;
    if (!deviceInfo(device, &info) || info.inputChannels <= 0) return nullptr;
    if (sampleRate) *sampleRate = info.sampleRate;
    if (channels) *channels = std::uint32_t(info.inputChannels);
    return std::make_unique<Stream>(this, device, std::uint32_t(info.inputChannels), nullptr, std::move(capture));
}

AudioDeviceID NullAudioBackend::addDevice(const std::string& uid, const std::string& name, int inputChannels,
                                          int outputChannels, double sampleRate) {
    const AudioDeviceID id = idForUid(uid);
    {
        std::lock_guard lock(guard_);
        AudioDeviceInfo info{id, uid, name, inputChannels, outputChannels, sampleRate};
        auto it = std::find_if(devices_.begin(), devices_.end(), [&](const AudioDeviceInfo& d) { return d.id == id; });
        if (it == devices_.end())
            devices_.push_back(info);
        else
            *it = info;
    }
    postEvent(AudioBackendEvent::DevicesChanged);
    return id;
}

void NullAudioBackend::removeDevice(const std::string& uid) {
    bool defaultGone = false;
    {
        std::lock_guard lock(guard_);
        auto it = std::find_if(devices_.begin(), devices_.end(), [&](const AudioDeviceInfo& d) { return d.uid == uid; });
        if (it == devices_.end()) return;
        if (defaultOutput_ == it->id) {
            defaultOutput_ = 0;
            defaultGone = true;
        }
        if (defaultInput_ == it->id) defaultInput_ = 0;
        devices_.erase(it);
    }
    postEvent(AudioBackendEvent::DevicesChanged);
    if (defaultGone) postEvent(AudioBackendEvent::DefaultOutputChanged);
}

void NullAudioBackend::setDefaultOutputDevice(AudioDeviceID id) {
    {
        std::lock_guard lock(guard_);
        if (defaultOutput_ == id) return;
        defaultOutput_ = id;
    }
    postEvent(AudioBackendEvent::DefaultOutputChanged);
}

void NullAudioBackend::setDefaultInputDevice(AudioDeviceID id) {
    std::lock_guard lock(guard_);
    defaultInput_ = id;
}

void NullAudioBackend::failNextStart() {
    std::lock_guard lock(guard_);
    failNextStart_ = true;
}

bool NullAudioBackend::takeFailure() {
    std::lock_guard lock(guard_);
    return std::exchange(failNextStart_, false);
}

void NullAudioBackend::loseServer() { postEvent(AudioBackendEvent::ConfigurationChanged); }

void NullAudioBackend::streamStarted(Stream* stream, bool running) {
    std::lock_guard lock(guard_);
    if (running)
        running_.push_back(stream);
    else
        running_.erase(std::remove(running_.begin(), running_.end(), stream), running_.end());
}

bool NullAudioBackend::renderCycle(std::uint32_t frames, std::vector<std::vector<float>>& planes) {
    // Held for the whole cycle, so a stream stopped on another thread never runs after stop().
    std::lock_guard lock(guard_);
    auto it = std::find_if(running_.rbegin(), running_.rend(), [](Stream* s) { return bool(s->render_); });
    if (it == running_.rend()) return false;
    Stream* stream = *it;
    planes.resize(stream->channels_);
    planePointers_.resize(stream->channels_);
    for (std::uint32_t c = 0; c < stream->channels_; ++c) {
        planes[c].assign(frames, 0.0f);
        planePointers_[c] = planes[c].data();
    }
    stream->render_(planePointers_.data(), stream->channels_, frames);
    return true;
}

AudioDeviceID NullAudioBackend::runningOutputDevice() const {
    std::lock_guard lock(guard_);
    for (auto it = running_.rbegin(); it != running_.rend(); ++it)
        if ((*it)->render_) return (*it)->device_;
    return 0;
}

bool NullAudioBackend::captureCycle(AudioDeviceID device, std::span<const AudioCaptureBuffer> buffers) {
    std::lock_guard lock(guard_);
    for (Stream* stream : running_)
        if (stream->capture_ && stream->device_ == device) {
            stream->capture_(buffers);
            return true;
        }
    return false;
}
