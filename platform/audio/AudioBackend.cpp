#include "AudioBackend.h"

#include "Log.h"
#include "NullAudioBackend.h"

#include <cstdlib>

AudioStream::~AudioStream() = default;
AudioBackend::~AudioBackend() = default;

bool AudioBackend::deviceInfo(AudioDeviceID id, AudioDeviceInfo* info) const {
    if (id == 0) return false;
    for (const AudioDeviceInfo& device : devices())
        if (device.id == id) {
            if (info) *info = device;
            return true;
        }
    return false;
}

void AudioBackend::setEventHandler(std::function<void(AudioBackendEvent)> handler) {
    std::lock_guard lock(handlerGuard_);
    handler_ = handler ? std::make_shared<std::function<void(AudioBackendEvent)>>(std::move(handler)) : nullptr;
}

void AudioBackend::postEvent(AudioBackendEvent event) {
    std::shared_ptr<std::function<void(AudioBackendEvent)>> handler;
    {
        std::lock_guard lock(handlerGuard_);
        handler = handler_;
    }
    if (handler) (*handler)(event);
}

AudioDeviceID AudioBackend::idForUid(const std::string& uid) {
    std::lock_guard lock(idGuard_);
    auto [it, inserted] = ids_.try_emplace(uid, nextId_);
    if (inserted) ++nextId_;
    return it->second;
}

namespace {

std::mutex sharedGuard;
std::shared_ptr<AudioBackend> sharedBackend;

}  // namespace

std::shared_ptr<AudioBackend> AudioBackend::make(const std::string& name) {
    if (name == "pulse") return makePulseAudioBackend();
    if (name == "jack") return makeJackAudioBackend();
    if (name == "null") return std::make_shared<NullAudioBackend>();
    return nullptr;
}

std::shared_ptr<AudioBackend> AudioBackend::shared() {
    std::lock_guard lock(sharedGuard);
    if (sharedBackend) return sharedBackend;
    const char* wanted = std::getenv("KAVIO_AUDIO_BACKEND");
    if (wanted && *wanted) {
        sharedBackend = make(wanted);
        if (!sharedBackend) KLOG_WARN("audio backend \"{}\" is not available, looking for a server", wanted);
    }
    for (const char* candidate : {"pulse", "jack"}) {
        if (sharedBackend) break;
        sharedBackend = make(candidate);
    }
    if (!sharedBackend) {
        KLOG_WARN("no audio server answers: audio plays nowhere (null backend)");
        sharedBackend = std::make_shared<NullAudioBackend>();
    }
    KLOG_INFO("audio backend: {}", sharedBackend->name());
    return sharedBackend;
}

void AudioBackend::setShared(std::shared_ptr<AudioBackend> backend) {
    std::lock_guard lock(sharedGuard);
    sharedBackend = std::move(backend);
}
