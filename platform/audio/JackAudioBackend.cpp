// The JACK backend: one client "Kavio"; every other client with audio ports is a device (UID
// "jack:<client>", named after the client), its input ports being the device's output channels
// and its output ports its input channels. One output stream and one capture stream at a time,
// each a set of our own ports connected by index to the device's. The process callback renders straight into our output ports; capture
// leaves the process thread through a lock-free ring to a delivery thread.

#include "AudioBackend.h"

#include "Log.h"

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <thread>

namespace {

constexpr size_t kCaptureRingSeconds = 2;

struct JackDevice {
    AudioDeviceInfo info;
    std::vector<std::string> playbackPorts;  // the device's input ports: where we play
    std::vector<std::string> capturePorts;   // the device's output ports: what we record
};

class JackAudioBackend;

// One of our streams: its ports and what the process callback does with them.
class JackStream : public AudioStream {
public:
    JackStream(std::shared_ptr<JackAudioBackend> backend, JackDevice device, uint32_t channels,
               AudioRenderCallback render, AudioCaptureCallback capture);
    ~JackStream() override;
    bool start() override;
    void stop() override;
    bool isRunning() const override { return running_; }
    double latency() const override;
    std::uint64_t underruns() const override;
    void flush() override {}  // the process callback renders each period straight to the ports

    // Process thread.
    void process(jack_nframes_t frames);

private:
    void deliver();

    std::shared_ptr<JackAudioBackend> backend_;
    JackDevice device_;
    uint32_t channels_;
    AudioRenderCallback render_;
    AudioCaptureCallback capture_;
    std::vector<jack_port_t*> ports_;
    std::vector<float*> planes_;       // process thread
    std::vector<float> interleaved_;   // process thread
    jack_ringbuffer_t* ring_ = nullptr;
    std::thread delivery_;
    std::atomic<bool> delivering_{false};
    bool running_ = false;
    uint64_t xrunsBefore_ = 0;  // the client's xruns when the stream was made
};

class JackAudioBackend : public AudioBackend, public std::enable_shared_from_this<JackAudioBackend> {
public:
    ~JackAudioBackend() override {
        {
            std::lock_guard lock(watchGuard_);
            closing_ = true;
        }
        watchWake_.notify_all();
        if (watcher_.joinable()) watcher_.join();
        if (client_) {
            jack_deactivate(client_);
            jack_client_close(client_);
        }
    }

    bool open() {
        jack_status_t status{};
        client_ = jack_client_open("Kavio", JackNoStartServer, &status);
        if (!client_) return false;
        if (jack_get_sample_rate(client_) != jack_nframes_t(kSampleRate))
            KLOG_WARN("JACK runs at {} Hz: audio plays at that rate, unconverted", jack_get_sample_rate(client_));
        jack_set_process_callback(client_, &JackAudioBackend::processCallback, this);
        jack_set_port_registration_callback(client_, &JackAudioBackend::portRegistered, this);
        jack_set_client_registration_callback(client_, &JackAudioBackend::clientRegistered, this);
        jack_on_shutdown(client_, &JackAudioBackend::serverGone, this);
        jack_set_xrun_callback(client_, &JackAudioBackend::xrun, this);
        refresh(false);
        watcher_ = std::thread([this] { watch(); });
        return jack_activate(client_) == 0;
    }

    std::string name() const override { return "jack"; }

    std::vector<AudioDeviceInfo> devices() const override {
        std::lock_guard lock(listGuard_);
        std::vector<AudioDeviceInfo> result;
        for (const JackDevice& d : devices_) result.push_back(d.info);
        return result;
    }

    // The "system" client when it has the channels, else the first device that has.
    AudioDeviceID defaultOutputDevice() const override { return defaultDevice(true); }
    AudioDeviceID defaultInputDevice() const override { return defaultDevice(false); }

    std::unique_ptr<AudioStream> openOutput(AudioDeviceID device, uint32_t channels,
                                            AudioRenderCallback render) override {
        JackDevice target;
        if (channels == 0 || !find(device ? device : defaultOutputDevice(), &target)) return nullptr;
        return std::make_unique<JackStream>(shared_from_this(), target, channels, std::move(render), nullptr);
    }

    std::unique_ptr<AudioStream> openCapture(AudioDeviceID device, AudioCaptureCallback capture, double* sampleRate,
                                             uint32_t* channels) override {
        JackDevice source;
        if (!find(device ? device : defaultInputDevice(), &source) || source.capturePorts.empty()) return nullptr;
        if (sampleRate) *sampleRate = jack_get_sample_rate(client_);
        if (channels) *channels = uint32_t(source.capturePorts.size());
        return std::make_unique<JackStream>(shared_from_this(), source, uint32_t(source.capturePorts.size()), nullptr,
                                            std::move(capture));
    }

    jack_client_t* client() const { return client_; }
    // The client's xruns so far: JACK reports them for the whole graph, not per port. Any thread.
    uint64_t xruns() const { return xruns_.load(std::memory_order_relaxed); }

    // The stream the process callback serves in each role; false when one is already there.
    bool attach(JackStream* stream, bool output) {
        JackStream* expected = nullptr;
        return (output ? output_ : capture_).compare_exchange_strong(expected, stream);
    }
    // When it returns, the process callback no longer runs the stream.
    void detach(JackStream* stream) {
        for (auto* slot : {&output_, &capture_}) {
            JackStream* expected = stream;
            slot->compare_exchange_strong(expected, nullptr);
        }
        // A cycle that took the stream may still run it; a server that died mid-cycle never ends
        // it, hence the bound.
        const uint64_t sequence = processSequence_.load();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (sequence % 2 == 1 && processSequence_.load() == sequence && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
    }

private:
    AudioDeviceID defaultDevice(bool output) const {
        std::lock_guard lock(listGuard_);
        AudioDeviceID first = 0;
        for (const JackDevice& d : devices_) {
            const bool has = output ? !d.playbackPorts.empty() : !d.capturePorts.empty();
            if (!has) continue;
            if (d.info.name == "system") return d.info.id;
            if (!first) first = d.info.id;
        }
        return first;
    }

    bool find(AudioDeviceID id, JackDevice* out) const {
        std::lock_guard lock(listGuard_);
        for (const JackDevice& d : devices_)
            if (d.info.id == id) {
                *out = d;
                return true;
            }
        return false;
    }

    void refresh(bool announce) {
        const std::string self = jack_get_client_name(client_);
        std::map<std::string, JackDevice> byClient;
        std::vector<std::string> order;
        if (const char** ports = jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE, 0)) {
            for (const char** p = ports; *p; ++p) {
                const std::string port = *p;
                const std::string owner = port.substr(0, port.find(':'));
                jack_port_t* handle = jack_port_by_name(client_, *p);
                if (owner == self || !handle) continue;
                auto [it, inserted] = byClient.try_emplace(owner);
                if (inserted) order.push_back(owner);
                (jack_port_flags(handle) & JackPortIsInput ? it->second.playbackPorts : it->second.capturePorts)
                    .push_back(port);
            }
            jack_free(ports);
        }
        std::vector<JackDevice> list;
        for (const std::string& owner : order) {
            JackDevice device = byClient[owner];
            // The UID differs from the name the operator reads, as device UIDs do elsewhere.
            const std::string uid = "jack:" + owner;
            device.info = {idForUid(uid), uid, owner, int(device.capturePorts.size()),
                           int(device.playbackPorts.size()), double(jack_get_sample_rate(client_))};
            list.push_back(std::move(device));
        }
        bool changed;
        {
            std::lock_guard lock(listGuard_);
            auto key = [](const std::vector<JackDevice>& l) {
                std::vector<std::tuple<AudioDeviceID, int, int>> k;
                for (const JackDevice& d : l) k.emplace_back(d.info.id, d.info.inputChannels, d.info.outputChannels);
                return k;
            };
            changed = key(list) != key(devices_);
            devices_ = std::move(list);
        }
        if (announce && changed) postEvent(AudioBackendEvent::DevicesChanged);
    }

    // JACK's notification thread may not call the server: it only marks the list stale.
    void markStale() {
        {
            std::lock_guard lock(watchGuard_);
            stale_ = true;
        }
        watchWake_.notify_all();
    }

    void watch() {
        std::unique_lock lock(watchGuard_);
        while (!closing_) {
            watchWake_.wait(lock, [this] { return closing_ || stale_ || gone_; });
            if (closing_) break;
            if (std::exchange(gone_, false)) {
                lock.unlock();
                KLOG_WARN("JACK: the server went away");
                {
                    std::lock_guard listLock(listGuard_);
                    devices_.clear();
                }
                postEvent(AudioBackendEvent::ConfigurationChanged);
                postEvent(AudioBackendEvent::DevicesChanged);
                lock.lock();
                continue;
            }
            stale_ = false;
            lock.unlock();
            // Let a burst of registrations settle into one read.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            refresh(true);
            lock.lock();
        }
    }

    static int processCallback(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<JackAudioBackend*>(arg);
        self->processSequence_.fetch_add(1);
        if (JackStream* out = self->output_.load()) out->process(frames);
        if (JackStream* in = self->capture_.load()) in->process(frames);
        self->processSequence_.fetch_add(1);
        return 0;
    }
    // JACK's notification thread: only counts.
    static int xrun(void* arg) {
        static_cast<JackAudioBackend*>(arg)->xruns_.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }
    static void portRegistered(jack_port_id_t, int, void* arg) { static_cast<JackAudioBackend*>(arg)->markStale(); }
    static void clientRegistered(const char*, int, void* arg) { static_cast<JackAudioBackend*>(arg)->markStale(); }
    static void serverGone(void* arg) {
        auto* self = static_cast<JackAudioBackend*>(arg);
        {
            std::lock_guard lock(self->watchGuard_);
            self->gone_ = true;
        }
        self->watchWake_.notify_all();
    }

    jack_client_t* client_ = nullptr;
    mutable std::mutex listGuard_;
    std::vector<JackDevice> devices_;
    std::mutex watchGuard_;
    std::condition_variable watchWake_;
    bool stale_ = false;
    bool gone_ = false;
    bool closing_ = false;
    std::thread watcher_;
    std::atomic<JackStream*> output_{nullptr};
    std::atomic<JackStream*> capture_{nullptr};
    std::atomic<uint64_t> processSequence_{0};
    std::atomic<uint64_t> xruns_{0};
};

JackStream::JackStream(std::shared_ptr<JackAudioBackend> backend, JackDevice device, uint32_t channels,
                       AudioRenderCallback render, AudioCaptureCallback capture)
    : backend_(std::move(backend)), device_(std::move(device)), channels_(channels), render_(std::move(render)),
      capture_(std::move(capture)), xrunsBefore_(backend_->xruns()) {
    planes_.resize(channels_);
    const jack_nframes_t bufferFrames = jack_get_buffer_size(backend_->client());
    if (capture_) {
        interleaved_.resize(size_t(bufferFrames) * channels_);
        ring_ = jack_ringbuffer_create(kCaptureRingSeconds * size_t(jack_get_sample_rate(backend_->client())) *
                                       channels_ * sizeof(float));
    }
}

JackStream::~JackStream() {
    stop();
    if (ring_) jack_ringbuffer_free(ring_);
}

bool JackStream::start() {
    if (running_) return true;
    jack_client_t* client = backend_->client();
    const char* prefix = render_ ? "out_" : "in_";
    for (uint32_t c = 0; c < channels_; ++c) {
        const std::string name = prefix + std::to_string(c + 1);
        jack_port_t* port = jack_port_register(client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                               render_ ? JackPortIsOutput : JackPortIsInput, 0);
        if (!port) {
            KLOG_WARN("JACK: cannot register port {}", name);
            stop();
            return false;
        }
        ports_.push_back(port);
    }
    if (!backend_->attach(this, bool(render_))) {
        KLOG_WARN("JACK: a stream of this kind runs already");
        stop();
        return false;
    }
    // Our channel k to the device's channel k, never remixed.
    const auto& theirs = render_ ? device_.playbackPorts : device_.capturePorts;
    for (size_t c = 0; c < ports_.size() && c < theirs.size(); ++c) {
        const char* ours = jack_port_name(ports_[c]);
        if (render_)
            jack_connect(client, ours, theirs[c].c_str());
        else
            jack_connect(client, theirs[c].c_str(), ours);
    }
    if (capture_) {
        delivering_ = true;
        delivery_ = std::thread([this] { deliver(); });
    }
    running_ = true;
    return true;
}

void JackStream::stop() {
    backend_->detach(this);
    if (delivery_.joinable()) {
        delivering_ = false;
        delivery_.join();
    }
    for (jack_port_t* port : ports_) jack_port_unregister(backend_->client(), port);
    ports_.clear();
    running_ = false;
}

double JackStream::latency() const {
    if (ports_.empty() || !render_) return 0;
    jack_latency_range_t range{};
    jack_port_get_latency_range(ports_[0], JackPlaybackLatency, &range);
    const double rate = jack_get_sample_rate(backend_->client());
    return rate > 0 ? double(range.max + jack_get_buffer_size(backend_->client())) / rate : 0;
}

uint64_t JackStream::underruns() const { return render_ ? backend_->xruns() - xrunsBefore_ : 0; }

void JackStream::process(jack_nframes_t frames) {
    if (render_) {
        for (uint32_t c = 0; c < channels_; ++c) {
            planes_[c] = static_cast<float*>(jack_port_get_buffer(ports_[c], frames));
            std::fill_n(planes_[c], frames, 0.0f);
        }
        render_(planes_.data(), channels_, frames);
        return;
    }
    if (size_t(frames) * channels_ > interleaved_.size()) return;  // the buffer size grew: skip
    for (uint32_t c = 0; c < channels_; ++c) {
        const float* in = static_cast<const float*>(jack_port_get_buffer(ports_[c], frames));
        for (jack_nframes_t f = 0; f < frames; ++f) interleaved_[f * channels_ + c] = in[f];
    }
    const size_t bytes = size_t(frames) * channels_ * sizeof(float);
    if (jack_ringbuffer_write_space(ring_) >= bytes)
        jack_ringbuffer_write(ring_, reinterpret_cast<const char*>(interleaved_.data()), bytes);
}

void JackStream::deliver() {
    const size_t frameBytes = channels_ * sizeof(float);
    std::vector<float> chunk(interleaved_.size());
    while (delivering_) {
        const size_t available = jack_ringbuffer_read_space(ring_) / frameBytes;
        if (available == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        const size_t frames = std::min(available, chunk.size() / channels_);
        jack_ringbuffer_read(ring_, reinterpret_cast<char*>(chunk.data()), frames * frameBytes);
        const AudioCaptureBuffer buffer{chunk.data(), channels_, uint32_t(frames)};
        capture_(std::span<const AudioCaptureBuffer>(&buffer, 1));
    }
}

}  // namespace

std::shared_ptr<AudioBackend> makeJackAudioBackend() {
    auto backend = std::make_shared<JackAudioBackend>();
    if (!backend->open()) return nullptr;
    return backend;
}
