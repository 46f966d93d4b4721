// The PulseAudio backend (also PipeWire's Pulse server): one context on a threaded main loop,
// subscribed to sinks, sources and the server. Sinks are output devices, sources (monitors
// included) input devices, each named by its server name. Every callback of the loop runs with
// the loop's lock held; our calls take that lock, except when already on the loop's thread.

#include "AudioBackend.h"

#include "Log.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>

namespace {

constexpr std::uint32_t kMaxRenderFrames = 4096;
// The server's buffer ahead of the device. An underrun loses the samples written late, so it is
// long enough for a loaded machine's late refill.
constexpr pa_usec_t kTargetLatency = 100000;
constexpr pa_usec_t kReconnectDelay = 500000;
constexpr auto kConnectTimeout = std::chrono::seconds(3);

class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop_(pa_threaded_mainloop_in_thread(loop) ? nullptr : loop) {
        if (loop_) pa_threaded_mainloop_lock(loop_);
    }
    ~LoopLock() {
        if (loop_) pa_threaded_mainloop_unlock(loop_);
    }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

struct DeviceEntry {
    AudioDeviceInfo info;
    pa_channel_map map{};
};

class PulseAudioBackend;

// What a stream needs of its backend; outlives the backend while a stream holds it.
struct PulseCore {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;  // loop thread, or under the loop lock
};

class PulseStream : public AudioStream {
public:
    PulseStream(std::shared_ptr<PulseCore> core, std::string device, pa_sample_spec spec, pa_channel_map map,
                bool follow, AudioRenderCallback render, AudioCaptureCallback capture,
                std::function<void()> lost)
        : core_(std::move(core)), device_(std::move(device)), spec_(spec), map_(map), follow_(follow),
          render_(std::move(render)), capture_(std::move(capture)), lost_(std::move(lost)) {
        if (render_) {
            planes_.assign(spec_.channels, std::vector<float>(kMaxRenderFrames));
            for (auto& plane : planes_) planePointers_.push_back(plane.data());
        }
    }
    ~PulseStream() override { stop(); }

    bool start() override {
        LoopLock lock(core_->loop);
        if (stream_) return true;
        if (!core_->context || pa_context_get_state(core_->context) != PA_CONTEXT_READY) {
            KLOG_WARN("PulseAudio: no server to start a stream on");
            return false;
        }
        stream_ = pa_stream_new(core_->context, render_ ? "Kavio output" : "Kavio input", &spec_, &map_);
        if (!stream_) return false;
        pa_stream_set_state_callback(stream_, &PulseStream::stateChanged, this);
        const char* device = device_.empty() ? nullptr : device_.c_str();
        int result;
        if (render_) {
            pa_buffer_attr attr{};
            attr.maxlength = std::uint32_t(-1);
            attr.tlength = std::uint32_t(pa_usec_to_bytes(kTargetLatency, &spec_));
            attr.prebuf = std::uint32_t(-1);
            attr.minreq = std::uint32_t(pa_usec_to_bytes(kTargetLatency / 4, &spec_));
            attr.fragsize = std::uint32_t(-1);
            int flags = PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_INTERPOLATE_TIMING |
                        PA_STREAM_NO_REMIX_CHANNELS | PA_STREAM_NO_REMAP_CHANNELS;
            if (!follow_) flags |= PA_STREAM_DONT_MOVE;
            pa_stream_set_write_callback(stream_, &PulseStream::writable, this);
            pa_stream_set_underflow_callback(stream_, &PulseStream::underflow, this);
            result = pa_stream_connect_playback(stream_, device, &attr, pa_stream_flags_t(flags), nullptr, nullptr);
        } else {
            pa_buffer_attr attr{};
            attr.maxlength = std::uint32_t(-1);
            attr.fragsize = std::uint32_t(pa_usec_to_bytes(10000, &spec_));
            pa_stream_set_read_callback(stream_, &PulseStream::readable, this);
            result = pa_stream_connect_record(stream_, device, &attr,
                                              pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE));
        }
        if (result < 0) {
            KLOG_WARN("PulseAudio: cannot connect a stream to \"{}\": {}", device_,
                      pa_strerror(pa_context_errno(core_->context)));
            dropStream();
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
        while (pa_stream_get_state(stream_) == PA_STREAM_CREATING && std::chrono::steady_clock::now() < deadline &&
               !pa_threaded_mainloop_in_thread(core_->loop))
            pa_threaded_mainloop_wait(core_->loop);
        if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
            KLOG_WARN("PulseAudio: the stream on \"{}\" did not become ready", device_);
            dropStream();
            return false;
        }
        return true;
    }

    void stop() override {
        LoopLock lock(core_->loop);
        dropStream();
    }

    bool isRunning() const override {
        LoopLock lock(core_->loop);
        return stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY;
    }

    double latency() const override {
        LoopLock lock(core_->loop);
        pa_usec_t usec = 0;
        int negative = 0;
        if (!stream_ || pa_stream_get_latency(stream_, &usec, &negative) < 0) return 0;
        return negative ? 0 : double(usec) / 1e6;
    }

    std::uint64_t underruns() const override { return underruns_.load(std::memory_order_relaxed); }

    void flush() override {
        LoopLock lock(core_->loop);
        if (!render_ || !stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
        if (pa_operation* operation = pa_stream_flush(stream_, nullptr, nullptr)) pa_operation_unref(operation);
    }

private:
    void dropStream() {
        if (!stream_) return;
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }

    static void stateChanged(pa_stream* stream, void* userdata) {
        auto* self = static_cast<PulseStream*>(userdata);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        pa_threaded_mainloop_signal(self->core_->loop, 0);
        if ((state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) && self->lost_) self->lost_();
    }

    // The loop thread's real-time side: renders into the fixed planes, interleaves into the
    // server's memory block.
    static void writable(pa_stream* stream, size_t bytes, void* userdata) {
        auto* self = static_cast<PulseStream*>(userdata);
        const std::uint32_t channels = self->spec_.channels;
        const size_t frameBytes = sizeof(float) * channels;
        while (bytes >= frameBytes) {
            void* data = nullptr;
            size_t size = bytes;
            if (pa_stream_begin_write(stream, &data, &size) < 0 || !data) return;
            const std::uint32_t frames = std::uint32_t(std::min<size_t>(size / frameBytes, kMaxRenderFrames));
            if (frames == 0) {
                pa_stream_cancel_write(stream);
                return;
            }
            for (auto& plane : self->planes_) std::fill_n(plane.data(), frames, 0.0f);
            self->render_(self->planePointers_.data(), channels, frames);
            auto* out = static_cast<float*>(data);
            for (std::uint32_t f = 0; f < frames; ++f)
                for (std::uint32_t c = 0; c < channels; ++c) *out++ = self->planes_[c][f];
            pa_stream_write(stream, data, frames * frameBytes, nullptr, 0, PA_SEEK_RELATIVE);
            bytes -= frames * frameBytes;
        }
    }

    // The loop thread, beside the writes: only counts.
    static void underflow(pa_stream*, void* userdata) {
        static_cast<PulseStream*>(userdata)->underruns_.fetch_add(1, std::memory_order_relaxed);
    }

    static void readable(pa_stream* stream, size_t, void* userdata) {
        auto* self = static_cast<PulseStream*>(userdata);
        const void* data = nullptr;
        size_t bytes = 0;
        while (pa_stream_readable_size(stream) > 0) {
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
            if (data) {
                const AudioCaptureBuffer buffer{static_cast<const float*>(data), self->spec_.channels,
                                                std::uint32_t(bytes / (sizeof(float) * self->spec_.channels))};
                self->capture_(std::span<const AudioCaptureBuffer>(&buffer, 1));
            }
            pa_stream_drop(stream);
        }
    }

    std::shared_ptr<PulseCore> core_;
    std::string device_;
    pa_sample_spec spec_;
    pa_channel_map map_;
    bool follow_;
    AudioRenderCallback render_;
    AudioCaptureCallback capture_;
    std::function<void()> lost_;
    pa_stream* stream_ = nullptr;
    std::vector<std::vector<float>> planes_;
    std::vector<float*> planePointers_;
    std::atomic<std::uint64_t> underruns_{0};
};

class PulseAudioBackend : public AudioBackend, public std::enable_shared_from_this<PulseAudioBackend> {
public:
    PulseAudioBackend() : core_(std::make_shared<PulseCore>()) {}

    ~PulseAudioBackend() override {
        if (!core_->loop) return;
        {
            LoopLock lock(core_->loop);
            closing_ = true;
            if (reconnectTimer_) api()->time_free(reconnectTimer_);
            dropContext();
        }
        pa_threaded_mainloop_stop(core_->loop);
        pa_threaded_mainloop_free(core_->loop);
        core_->loop = nullptr;
    }

    // Connects and reads the first device list; false when no server answers.
    bool open() {
        core_->loop = pa_threaded_mainloop_new();
        if (!core_->loop || pa_threaded_mainloop_start(core_->loop) < 0) return false;
        LoopLock lock(core_->loop);
        if (!connectContext()) return false;
        const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
        while (!listed_ && core_->context && std::chrono::steady_clock::now() < deadline) {
            const pa_context_state_t state = pa_context_get_state(core_->context);
            if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) break;
            pa_threaded_mainloop_wait(core_->loop);
        }
        return listed_;
    }

    std::string name() const override { return "pulse"; }

    std::vector<AudioDeviceInfo> devices() const override {
        std::lock_guard lock(listGuard_);
        std::vector<AudioDeviceInfo> result;
        for (const DeviceEntry& entry : devices_) result.push_back(entry.info);
        return result;
    }

    AudioDeviceID defaultOutputDevice() const override { return defaultDevice(defaultSink_); }
    AudioDeviceID defaultInputDevice() const override { return defaultDevice(defaultSource_); }

    std::unique_ptr<AudioStream> openOutput(AudioDeviceID device, std::uint32_t channels,
                                            AudioRenderCallback render) override {
        if (channels == 0 || channels > PA_CHANNELS_MAX) return nullptr;
        DeviceEntry entry;
        if (device != 0 && (!entry_(device, &entry) || entry.info.outputChannels <= 0)) return nullptr;
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, std::uint32_t(kSampleRate), std::uint8_t(channels)};
        // A named device keeps its own channel map; the stream's channels go to its channels
        // by index, never remixed.
        pa_channel_map map;
        if (device != 0 && entry.map.channels == channels)
            map = entry.map;
        else
            pa_channel_map_init_extend(&map, channels, PA_CHANNEL_MAP_DEFAULT);
        return std::make_unique<PulseStream>(core_, device ? entry.info.uid : std::string(), spec, map, device == 0,
                                             std::move(render), nullptr, lostHandler());
    }

    std::unique_ptr<AudioStream> openCapture(AudioDeviceID device, AudioCaptureCallback capture, double* sampleRate,
                                             std::uint32_t* channels) override {
        if (device == 0) device = defaultInputDevice();
        DeviceEntry entry;
        if (!entry_(device, &entry) || entry.info.inputChannels <= 0) return nullptr;
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, std::uint32_t(entry.info.sampleRate),
                                  std::uint8_t(entry.info.inputChannels)};
        if (sampleRate) *sampleRate = entry.info.sampleRate;
        if (channels) *channels = spec.channels;
        return std::make_unique<PulseStream>(core_, entry.info.uid, spec, entry.map, false, nullptr,
                                             std::move(capture), lostHandler());
    }

private:
    pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(core_->loop); }

    std::function<void()> lostHandler() {
        std::weak_ptr<PulseAudioBackend> weak = weak_from_this();
        return [weak] {
            if (auto self = weak.lock()) self->postEvent(AudioBackendEvent::ConfigurationChanged);
        };
    }

    AudioDeviceID defaultDevice(const std::string& uid) const {
        std::lock_guard lock(listGuard_);
        for (const DeviceEntry& entry : devices_)
            if (entry.info.uid == uid) return entry.info.id;
        return 0;
    }

    bool entry_(AudioDeviceID id, DeviceEntry* out) const {
        std::lock_guard lock(listGuard_);
        for (const DeviceEntry& entry : devices_)
            if (entry.info.id == id) {
                *out = entry;
                return true;
            }
        return false;
    }

    // Loop lock held.
    bool connectContext() {
        core_->context = pa_context_new(api(), "Kavio");
        if (!core_->context) return false;
        pa_context_set_state_callback(core_->context, &PulseAudioBackend::contextStateChanged, this);
        pa_context_set_subscribe_callback(core_->context, &PulseAudioBackend::subscribed, this);
        if (pa_context_connect(core_->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            dropContext();
            return false;
        }
        return true;
    }

    void dropContext() {
        if (!core_->context) return;
        pa_context_set_state_callback(core_->context, nullptr, nullptr);
        pa_context_set_subscribe_callback(core_->context, nullptr, nullptr);
        pa_context_disconnect(core_->context);
        pa_context_unref(core_->context);
        core_->context = nullptr;
        // A read in flight dies with its context and never answers: without this, the next
        // context's first read would wait on it for ever and the list would stay empty.
        refreshing_ = false;
        refreshAgain_ = false;
        pendingLeft_ = 0;
        pending_.clear();
    }

    void scheduleReconnect() {
        if (closing_ || reconnectTimer_) return;
        timeval when;
        pa_timeval_add(pa_gettimeofday(&when), kReconnectDelay);
        reconnectTimer_ = api()->time_new(api(), &when, &PulseAudioBackend::reconnect, this);
    }

    static void reconnect(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* userdata) {
        auto* self = static_cast<PulseAudioBackend*>(userdata);
        api->time_free(event);
        self->reconnectTimer_ = nullptr;
        self->dropContext();
        if (!self->connectContext()) self->scheduleReconnect();
    }

    static void contextStateChanged(pa_context* context, void* userdata) {
        auto* self = static_cast<PulseAudioBackend*>(userdata);
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            pa_operation_unref(pa_context_subscribe(
                context, pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE |
                                                PA_SUBSCRIPTION_MASK_SERVER),
                nullptr, nullptr));
            if (self->lost_) {
                KLOG_INFO("PulseAudio: the server is back");
                self->lost_ = false;
                self->announceConfiguration_ = true;
            }
            self->refresh();
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            pa_threaded_mainloop_signal(self->core_->loop, 0);
            if (!self->listed_) return;  // open() gives up on its own
            if (!self->lost_) {
                KLOG_WARN("PulseAudio: the server was lost, reconnecting");
                self->lost_ = true;
                {
                    std::lock_guard lock(self->listGuard_);
                    self->devices_.clear();
                }
                self->postEvent(AudioBackendEvent::ConfigurationChanged);
                self->postEvent(AudioBackendEvent::DevicesChanged);
            }
            self->scheduleReconnect();
            break;
        default:
            break;
        }
    }

    static void subscribed(pa_context*, pa_subscription_event_type_t, uint32_t, void* userdata) {
        static_cast<PulseAudioBackend*>(userdata)->refresh();
    }

    // Reads the server, sink and source lists; a storm of events while a read runs costs one
    // more read, not one per event.
    void refresh() {
        if (refreshing_) {
            refreshAgain_ = true;
            return;
        }
        refreshing_ = true;
        pendingLeft_ = 3;
        pending_.clear();
        pa_context* context = core_->context;
        pa_operation_unref(pa_context_get_server_info(context, &PulseAudioBackend::serverInfo, this));
        pa_operation_unref(pa_context_get_sink_info_list(context, &PulseAudioBackend::sinkInfo, this));
        pa_operation_unref(pa_context_get_source_info_list(context, &PulseAudioBackend::sourceInfo, this));
    }

    static void serverInfo(pa_context*, const pa_server_info* info, void* userdata) {
        auto* self = static_cast<PulseAudioBackend*>(userdata);
        if (info) {
            self->pendingSink_ = info->default_sink_name ? info->default_sink_name : "";
            self->pendingSource_ = info->default_source_name ? info->default_source_name : "";
        }
        self->partDone();
    }

    void addPending(const char* name, const char* description, const pa_sample_spec& spec,
                    const pa_channel_map& map, bool output) {
        if (!name) return;
        DeviceEntry entry;
        entry.info.id = idForUid(name);
        entry.info.uid = name;
        entry.info.name = description ? description : "";
        (output ? entry.info.outputChannels : entry.info.inputChannels) = spec.channels;
        entry.info.sampleRate = spec.rate;
        entry.map = map;
        pending_.push_back(entry);
    }

    static void sinkInfo(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
        auto* self = static_cast<PulseAudioBackend*>(userdata);
        if (eol) return self->partDone();
        if (info) self->addPending(info->name, info->description, info->sample_spec, info->channel_map, true);
    }

    static void sourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
        auto* self = static_cast<PulseAudioBackend*>(userdata);
        if (eol) return self->partDone();
        if (info) self->addPending(info->name, info->description, info->sample_spec, info->channel_map, false);
    }

    void partDone() {
        if (--pendingLeft_ > 0) return;
        bool devicesChanged;
        bool defaultChanged;
        {
            std::lock_guard lock(listGuard_);
            auto key = [](const std::vector<DeviceEntry>& list) {
                std::map<AudioDeviceID, std::pair<int, int>> k;
                for (const DeviceEntry& e : list) k[e.info.id] = {e.info.inputChannels, e.info.outputChannels};
                return k;
            };
            devicesChanged = key(devices_) != key(pending_);
            defaultChanged = listed_ && defaultSink_ != pendingSink_;
            devices_ = pending_;
            defaultSink_ = pendingSink_;
            defaultSource_ = pendingSource_;
        }
        const bool first = !listed_;
        listed_ = true;
        refreshing_ = false;
        pa_threaded_mainloop_signal(core_->loop, 0);
        if (!first && devicesChanged) postEvent(AudioBackendEvent::DevicesChanged);
        if (defaultChanged) postEvent(AudioBackendEvent::DefaultOutputChanged);
        if (std::exchange(announceConfiguration_, false)) postEvent(AudioBackendEvent::ConfigurationChanged);
        if (std::exchange(refreshAgain_, false)) refresh();
    }

    std::shared_ptr<PulseCore> core_;
    pa_time_event* reconnectTimer_ = nullptr;
    bool closing_ = false;
    // The loop thread's own state.
    bool listed_ = false;
    bool lost_ = false;
    bool announceConfiguration_ = false;
    bool refreshing_ = false;
    bool refreshAgain_ = false;
    int pendingLeft_ = 0;
    std::vector<DeviceEntry> pending_;
    std::string pendingSink_, pendingSource_;
    // What other threads read.
    mutable std::mutex listGuard_;
    std::vector<DeviceEntry> devices_;
    std::string defaultSink_, defaultSource_;
};

}  // namespace

std::shared_ptr<AudioBackend> makePulseAudioBackend() {
    auto backend = std::make_shared<PulseAudioBackend>();
    if (!backend->open()) return nullptr;
    return backend;
}
