#pragma once
// Small helpers of the audio suites: buffers of known content, notification counting.

#include "AudioWait.h"
#include "NotificationCenter.h"
#include "PcmBuffer.h"

#include <QString>

#include <functional>
#include <map>
#include <memory>

namespace AudioTestSupport {

// `frames` frames of `channels` planes, sample f of channel c = value(c, f).
inline std::shared_ptr<PcmBuffer> makeBuffer(uint32_t channels, uint32_t frames,
                                             const std::function<float(uint32_t, uint32_t)>& value) {
    auto buffer = std::make_shared<PcmBuffer>(PcmFormat(48000, channels), frames);
    buffer->setFrameLength(frames);
    for (uint32_t c = 0; c < channels; ++c)
        for (uint32_t f = 0; f < frames; ++f) buffer->floatChannelData(c)[f] = value(c, f);
    return buffer;
}

// Counts the notifications of the given names on the default centre while it lives.
class PostCounter {
public:
    explicit PostCounter(std::initializer_list<QString> names) {
        for (const QString& name : names)
            NotificationCenter::defaultCenter().addObserver(this, name, nullptr,
                                                            [this](const Notification& n) { ++counts_[n.name]; });
    }
    ~PostCounter() { NotificationCenter::defaultCenter().removeObserver(this); }
    int count(const QString& name) const {
        auto it = counts_.find(name);
        return it == counts_.end() ? 0 : it->second;
    }

private:
    std::map<QString, int> counts_;
};

}  // namespace AudioTestSupport
