#include "Audio/KavioAudioEngine.h"

#include "Audio/KavioAudioPlayerNode.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "Support/KavioAlert.h"

#include <chrono>
#include <condition_variable>

// Runs the completions of played buffers and frees what the render thread let go: retired
// buffers, and nodes disconnected while a render cycle could still see them.
struct KavioAudioEngine::Housekeeping {
    KavioAudioPlayerNode::RetireList retired;
    std::mutex guard;
    std::condition_variable wake;
    bool stopping = false;
    struct Grave {
        std::shared_ptr<KavioAudioPlayerNode> node;
        uint64_t sequence;
    };
    std::vector<Grave> graves;
    std::thread thread;

    explicit Housekeeping(const std::atomic<uint64_t>& renderSequence) {
        thread = std::thread([this, &renderSequence] { run(renderSequence); });
    }
    ~Housekeeping() {
        {
            std::lock_guard lock(guard);
            stopping = true;
        }
        wake.notify_all();
        thread.join();
        drain();
    }

    void drain() {
        KavioAudioPlayerNode::Item* item = retired.takeAll();
        // Newest first: reverse, so completions run in the order the buffers finished.
        KavioAudioPlayerNode::Item* ordered = nullptr;
        while (item) {
            KavioAudioPlayerNode::Item* next = item->next;
            item->next = ordered;
            ordered = item;
            item = next;
        }
        while (ordered) {
            KavioAudioPlayerNode::Item* next = ordered->next;
            if (ordered->played && ordered->completion) ordered->completion();
            delete ordered;
            ordered = next;
        }
    }

    void run(const std::atomic<uint64_t>& renderSequence) {
        std::unique_lock lock(guard);
        while (!stopping) {
            wake.wait_for(lock, std::chrono::milliseconds(5));
            const uint64_t now = renderSequence.load();
            std::vector<Grave> freed;
            std::erase_if(graves, [&](Grave& grave) {
                if (grave.sequence == now) return false;
                freed.push_back(std::move(grave));
                return true;
            });
            lock.unlock();
            freed.clear();
            drain();
            lock.lock();
        }
    }
};

KavioAudioEngine& KavioAudioEngine::sharedEngine() {
    static KavioAudioEngine engine(AudioBackend::shared());
    return engine;
}

KavioAudioEngine::KavioAudioEngine(std::shared_ptr<AudioBackend> backend)
    : backend_(std::move(backend)) {
    for (auto& slot : slots_) slot.store(nullptr, std::memory_order_relaxed);
    // Started once every member it reads exists.
    housekeeping_ = std::make_unique<Housekeeping>(renderSequence_);
    currentAudioDeviceID_ = backend_->defaultOutputDevice();
    backend_->setEventHandler([this](AudioBackendEvent event) { handleBackendEvent(event); });
    KLOG_VERBOSE("input buses: {}", kMixerInputBusCount);
}

KavioAudioEngine::~KavioAudioEngine() {
    backend_->setEventHandler({});
    output_.reset();
    {
        std::lock_guard lock(busGuard_);
        for (auto& slot : slots_) slot.store(nullptr);
    }
    housekeeping_.reset();
}

void KavioAudioEngine::handleBackendEvent(AudioBackendEvent event) {
    switch (event) {
    case AudioBackendEvent::DevicesChanged:
        NotificationCenter::defaultCenter().post(kDevicesChangedNotification, this);
        break;
    case AudioBackendEvent::DefaultOutputChanged:
        NotificationCenter::defaultCenter().post(kDefaultOutputChangedNotification, this);
        break;
    case AudioBackendEvent::ConfigurationChanged:
        NotificationCenter::defaultCenter().post(kConfigurationChangeNotification, this);
        break;
    }
}

std::optional<PcmFormat> KavioAudioEngine::processingFormat() const {
    std::lock_guard lock(busGuard_);
    return processingformat_;
}

void KavioAudioEngine::setupProcessingFormatWithChannels(int channels, bool stereoMixDown) {
    {
        std::lock_guard lock(busGuard_);
        processingformat_ = PcmFormat(kSampleRate, uint32_t(std::max(1, channels)), stereoMixDown);
    }
    reconnectMixer();
}

void KavioAudioEngine::reconnectMixer() {
    // The stream takes the processing format when it opens: a running one is reopened.
    if (running_) reopenStream();
}

void KavioAudioEngine::closeOutput() {
    if (output_) underrunsOfClosedOutputs_ += output_->underruns();
    output_.reset();
}

void KavioAudioEngine::reopenStream() {
    closeOutput();
    running_ = false;
    if (!startEngineStream()) KLOG_VERBOSE("cannot restart engine: {}", "the output stream could not be reopened");
}

int32_t KavioAudioEngine::setAUDeviceID(AudioDeviceID device) {
    KLOG_VERBOSE("currentaudiounit: {} deviceId to change: {}", currentAudioDeviceID_, device);
    if (device == 0) return kAudioHardwareBadDeviceError;
    KLOG_VERBOSE("AudioUnitSetProperty...");
    if (!backend_->deviceInfo(device, nullptr)) {
        KLOG_VERBOSE("error when setting kAudioOutputUnitProperty_CurrentDevice: {}", kAudioHardwareBadDeviceError);
        ++retryattempts_;
        return kAudioHardwareBadDeviceError;
    }
    const bool moved = currentAudioDeviceID_ != device;
    currentAudioDeviceID_ = device;
    KLOG_VERBOSE("new output DeviceID has been set!");
    if (moved && running_) reopenStream();
    KLOG_VERBOSE("buffer size: {}", int(outputLatency() * kSampleRate));
    if (!processingFormat()) {
        KavioAlertSpec alert;
        alert.messageText = QStringLiteral("Cannot initialize audio device :-(");
        alert.informativeText = QStringLiteral(
            "We are so sorry, but Kavio was not able to initialize the audio device for some reason :/ Please "
            "contact us from the Help menu and submit a bug report. Thanks! ");
        KavioAlert::showOnMainQueue(alert);
        return kAudioParamError;
    }
    return 0;
}

AudioDeviceID KavioAudioEngine::getAUDeviceID() const { return currentAudioDeviceID_; }

void KavioAudioEngine::stopEngine() {
    if (running_) {
        NotificationCenter::defaultCenter().post(kWillStopNotification);
        closeOutput();
        running_ = false;
    }
    std::lock_guard lock(busGuard_);
    for (const auto& node : owners_)
        if (node) node->resetMeters();
}

bool KavioAudioEngine::startEngineStream() {
    const auto format = processingFormat();
    if (!format) {
        KLOG_VERBOSE("cannot restart engine: {}", "no processing format");
        return false;
    }
    output_ = backend_->openOutput(currentAudioDeviceID_, format->channelCount(),
                                   [this](float* const* p, uint32_t c, uint32_t f) { render(p, c, f); });
    if (!output_ || !output_->start()) {
        KLOG_VERBOSE("cannot restart engine: {}", "the audio server refused the output stream");
        closeOutput();
        return false;
    }
    running_ = true;
    return true;
}

void KavioAudioEngine::startEngine() {
    if (running_) return;
    if (!startEngineStream()) return;
    KLOG_VERBOSE("engine started");
    KLOG_VERBOSE("voiceprocessing: {}", 0);
    NotificationCenter::defaultCenter().post(kDidStartNotification);
}

double KavioAudioEngine::outputLatency() const { return output_ ? output_->latency() : 0.0; }

void KavioAudioEngine::dropQueuedOutput() {
    if (output_) output_->flush();
}

uint64_t KavioAudioEngine::outputUnderruns() const {
    return underrunsOfClosedOutputs_ + (output_ ? output_->underruns() : 0);
}

uint32_t KavioAudioEngine::nextAvailableMixerInputBus() {
    std::lock_guard lock(busGuard_);
    for (uint32_t bus = 0; bus < kMixerInputBusCount; ++bus)
        if (!reserved_[bus]) {
            reserved_[bus] = true;
            return bus;
        }
    return kNoBus;
}

void KavioAudioEngine::connectNode(const std::shared_ptr<KavioAudioPlayerNode>& node, uint32_t bus) {
    if (bus >= kMixerInputBusCount || !node) return;
    std::shared_ptr<KavioAudioPlayerNode> previous;
    {
        std::lock_guard lock(busGuard_);
        reserved_[bus] = true;
        previous = std::exchange(owners_[bus], node);
        node->setLastRenderSampleTime(sampleTime_.load(std::memory_order_relaxed));
        slots_[bus].store(node.get());
        if (busEnd_.load() <= bus) busEnd_.store(bus + 1);
    }
    if (previous && previous != node) retireNode(std::move(previous));
}

void KavioAudioEngine::disconnectBus(uint32_t bus) {
    if (bus >= kMixerInputBusCount) return;
    std::shared_ptr<KavioAudioPlayerNode> node;
    {
        std::lock_guard lock(busGuard_);
        slots_[bus].store(nullptr);
        node = std::move(owners_[bus]);
        reserved_[bus] = false;
    }
    if (node) retireNode(std::move(node));
}

void KavioAudioEngine::retireNode(std::shared_ptr<KavioAudioPlayerNode> node) {
    // The slot no longer names the node. A cycle that started before that may still be using
    // it: then the node waits for the render sequence to move on.
    const uint64_t sequence = renderSequence_.load();
    if (sequence % 2 == 0) return;
    std::lock_guard lock(housekeeping_->guard);
    housekeeping_->graves.push_back({std::move(node), sequence});
}

void KavioAudioEngine::enableMeteringOnBus(uint32_t bus) {
    std::lock_guard lock(busGuard_);
    if (bus < kMixerInputBusCount && owners_[bus]) owners_[bus]->setMetering(true);
}

std::vector<double> KavioAudioEngine::meteringDataOnBus(uint32_t bus, int channelCount) const {
    std::vector<double> levels;
    if (channelCount <= 0) return levels;
    std::lock_guard lock(busGuard_);
    const KavioAudioPlayerNode* node = bus < kMixerInputBusCount ? owners_[bus].get() : nullptr;
    for (int c = 0; c < channelCount; ++c) levels.push_back(node ? node->averagePower(uint32_t(c)) : -120.0);
    return levels;
}

void KavioAudioEngine::render(float* const* planes, uint32_t channels, uint32_t frames) {
    renderSequence_.fetch_add(1);
    const int64_t cycleStart = sampleTime_.load(std::memory_order_relaxed);
    const uint32_t end = busEnd_.load(std::memory_order_acquire);
    for (uint32_t bus = 0; bus < end; ++bus)
        if (KavioAudioPlayerNode* node = slots_[bus].load(std::memory_order_acquire))
            node->render(planes, channels, frames, cycleStart, housekeeping_->retired);
    const float volume = outputVolume_.load(std::memory_order_relaxed);
    if (volume != 1.0f)
        for (uint32_t c = 0; c < channels; ++c)
            for (uint32_t f = 0; f < frames; ++f) planes[c][f] *= volume;
    sampleTime_.store(cycleStart + frames, std::memory_order_relaxed);
    renderSequence_.fetch_add(1);
}
