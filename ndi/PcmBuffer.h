#pragma once
// A block of planar float audio that owns its samples: one plane per channel, each holding
// `frameCapacity` frames, of which the first `frameLength` are valid. Its buffer-list view has
// one buffer per channel whose byte size follows the frame length, so it can be queued into a
// ring as it stands. Not thread-safe; shared between threads as std::shared_ptr<const PcmBuffer>
// once filled.

#include "PcmFormat.h"

#include <cstdint>
#include <memory>
#include <vector>

class PcmBuffer {
public:
    // Zeroed samples, frame length 0. An invalid format gives a buffer without channels.
    PcmBuffer(const PcmFormat& format, uint32_t frameCapacity);
    PcmBuffer(const PcmBuffer&) = delete;
    PcmBuffer& operator=(const PcmBuffer&) = delete;

    const PcmFormat& format() const { return format_; }
    uint32_t frameCapacity() const { return frameCapacity_; }
    uint32_t frameLength() const { return frameLength_; }
    // Clamped to the capacity.
    void setFrameLength(uint32_t frames);

    // Plane of channel c (0-based), frameCapacity() samples; null for c out of range.
    float* floatChannelData(uint32_t channel);
    const float* floatChannelData(uint32_t channel) const;

    // One buffer per channel, mDataByteSize = frameLength() * 4; valid while the buffer lives.
    const AudioBufferList* audioBufferList() const;

private:
    PcmFormat format_;
    uint32_t frameCapacity_ = 0;
    uint32_t frameLength_ = 0;
    size_t stride_ = 0;  // floats from one plane to the next, keeping planes 16-byte aligned
    std::vector<float> samples_;
    std::unique_ptr<uint64_t[]> listStorage_;  // the AudioBufferList, suitably aligned
};
