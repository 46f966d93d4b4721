#include "PcmBuffer.h"

#include <algorithm>

PcmBuffer::PcmBuffer(const PcmFormat& format, uint32_t frameCapacity)
    : format_(format), frameCapacity_(frameCapacity) {
    const uint32_t channels = format.isValid() ? format.channelCount() : 0;
    stride_ = (size_t(frameCapacity) + 3) & ~size_t(3);
    samples_.assign(stride_ * channels, 0.0f);
    const size_t words = (AudioBufferListSize(std::max(channels, 1u)) + sizeof(uint64_t) - 1) / sizeof(uint64_t);
    listStorage_ = std::make_unique<uint64_t[]>(words);
    auto* list = reinterpret_cast<AudioBufferList*>(listStorage_.get());
    list->mNumberBuffers = channels;
    for (uint32_t c = 0; c < channels; ++c) {
        list->mBuffers[c].mNumberChannels = 1;
        list->mBuffers[c].mDataByteSize = 0;
        list->mBuffers[c].mData = samples_.data() + c * stride_;
    }
}

void PcmBuffer::setFrameLength(uint32_t frames) {
    frameLength_ = std::min(frames, frameCapacity_);
    auto* list = reinterpret_cast<AudioBufferList*>(listStorage_.get());
    for (uint32_t c = 0; c < list->mNumberBuffers; ++c) list->mBuffers[c].mDataByteSize = frameLength_ * sizeof(float);
}

float* PcmBuffer::floatChannelData(uint32_t channel) {
    return channel < audioBufferList()->mNumberBuffers ? samples_.data() + channel * stride_ : nullptr;
}

const float* PcmBuffer::floatChannelData(uint32_t channel) const {
    return channel < audioBufferList()->mNumberBuffers ? samples_.data() + channel * stride_ : nullptr;
}

const AudioBufferList* PcmBuffer::audioBufferList() const {
    return reinterpret_cast<const AudioBufferList*>(listStorage_.get());
}
