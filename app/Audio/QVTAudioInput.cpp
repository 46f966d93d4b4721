#include "Audio/QVTAudioInput.h"

#include "Log.h"

#include <thread>

QVTAudioInput::QVTAudioInput(const QString& deviceUID, std::shared_ptr<AudioBackend> backend)
    : backend_(std::move(backend)) {
    setDeviceUID(deviceUID);
}

QVTAudioInput::~QVTAudioInput() {
    if (device_ != 0) removeResources();
}

void QVTAudioInput::setDeviceUID(const QString& uid) {
    if (stream_ && uid == deviceUID_) return;
    deviceUID_ = uid;
    connect();
    if (stream_ && stream_->start()) return;
    KLOG_VERBOSE("procID or device is invalid.");
}

void QVTAudioInput::connect() {
    stream_.reset();
    device_ = 0;
    if (!deviceUID_.isEmpty()) {
        KLOG_VERBOSE("searching for device: {}", deviceUID_.toStdString());
        for (const AudioDeviceInfo& info : backend_->devices())
            if (info.inputChannels > 0 && QString::fromStdString(info.uid) == deviceUID_) device_ = info.id;
        if (device_ == 0)
            KLOG_VERBOSE("Failed to find device matching UID \"{}\".  Using default input device.",
                         deviceUID_.toStdString());
    }
    if (device_ == 0) {
        device_ = backend_->defaultInputDevice();
        if (device_ == 0) KLOG_VERBOSE("Err getting default device: {}", 0);
    }
    double rate = 0;
    uint32_t channels = 0;
    stream_ = backend_->openCapture(
        device_, [this](std::span<const AudioCaptureBuffer> buffers) { updateBuffers(buffers); }, &rate, &channels);
    if (!stream_) KLOG_VERBOSE("Error creating IOProc");
    deviceChannelCount_ = channels;
    deviceSampleRate_ = rate;
    filled_ = 0;
    sizeMismatchLogged_ = false;
    KLOG_VERBOSE("Sample Rate:         {:10.0f} \nChannels per Frame:  {:10d} ", rate, channels);
}

void QVTAudioInput::removeResources() {
    stream_.reset();
    device_ = 0;
}

void QVTAudioInput::setDelegate(Delegate delegate) {
    std::unique_ptr<Delegate> fresh = delegate ? std::make_unique<Delegate>(std::move(delegate)) : nullptr;
    delegate_.store(fresh.get());
    // A cycle that read the old delegate may still be calling it: let it finish.
    const uint64_t sequence = cycleSequence_.load();
    if (sequence % 2 == 1)
        while (cycleSequence_.load() == sequence) std::this_thread::yield();
    delegateStorage_ = std::move(fresh);
}

void QVTAudioInput::push(const float* samples, size_t stride, uint32_t frames) {
    const Delegate* delegate = delegate_.load();
    for (uint32_t f = 0; f < frames; ++f) {
        block_[filled_++] = samples ? samples[f * stride] : 0.0f;
        if (filled_ == kBlockSamples) {
            filled_ = 0;
            if (delegate) (*delegate)(block_.data());
        }
    }
}

void QVTAudioInput::updateBuffers(std::span<const AudioCaptureBuffer> buffers) {
    cycleSequence_.fetch_add(1);
    if (delegate_.load() && !buffers.empty()) {
        const uint32_t frames = buffers.front().frames;
        if (frames != kBlockSamples && !sizeMismatchLogged_.exchange(true))
            KLOG_VERBOSE("too less samples: {}", frames);
        const int32_t channel = inputChannel();
        uint32_t before = 0;
        bool supplied = false;
        for (const AudioCaptureBuffer& buffer : buffers) {
            if (buffer.channels == 0) continue;
            if (channel >= int32_t(before) && channel < int32_t(before + buffer.channels)) {
                push(buffer.samples ? buffer.samples + (channel - int32_t(before)) : nullptr, buffer.channels, buffer.frames);
                supplied = true;
                break;
            }
            before += buffer.channels;
        }
        if (!supplied) push(nullptr, 0, frames);
    }
    cycleSequence_.fetch_add(1);
}
