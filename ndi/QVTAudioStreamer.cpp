#include "QVTAudioStreamer.h"

#include "AEUtilities/AEAudioBufferListUtilities.h"
#include "AEUtilities/AEDSPUtilities.h"
#include "AEUtilities/AEUtilities.h"
#include "DispatchQueue.h"
#include "Log.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

const float* plane(const AudioBufferList* list, uint32_t channel) {
    return static_cast<const float*>(list->mBuffers[channel].mData);
}

int16_t toInt16(float sample) {
    const float scaled = sample * 32767.0f;
    if (std::isnan(scaled)) return 0;
    return int16_t(int32_t(std::clamp(scaled, -32768.0f, 32767.0f)));
}

}  // namespace

QVTAudioStreamer::QVTAudioStreamer(double sampleRate, uint8_t channels) {
    KLOG_INFO("will init with {:f} sample rate and {} channels", sampleRate, channels);
    queue = std::make_unique<DispatchQueue>("com.dalvek.ndikit_audiostreamer");
    if (sampleRate < 1000) sampleRate = 48000;
    if (channels == 0) channels = 1;

    const AudioStreamBasicDescription format = AEAudioDescriptionWithChannelsAndRate(channels, sampleRate);
    asbd_[0] = asbd_[1] = tempformat = format;
    for (int ring = 0; ring < 2; ++ring) {
        AECircularBufferInit(&circularbuffer[ring], kRingFrames, channels, sampleRate);
        bufferList[ring] = AEAudioBufferListCreateWithFormat(&asbd_[ring], kWorkFrames);
    }
    bufferList1_temp = AEAudioBufferListCreateWithFormat(&tempformat, kWorkFrames);
    bufferList2_temp = AEAudioBufferListCreateWithFormat(&tempformat, kWorkFrames);
    bufferListMix = AEAudioBufferListCreateWithFormat(&tempformat, kWorkFrames);

    for (int c = 1; c <= channels; ++c) channelMappingA_.push_back(c);
    channelMappingB_ = channelMappingA_;
}

QVTAudioStreamer::~QVTAudioStreamer() { removeResources(); }

void QVTAudioStreamer::removeResources() {
    queue->sync([this] {
        if (removed_) return;
        removed_ = true;
        AECircularBufferClear(&circularbuffer[buffer1]);
        AECircularBufferClear(&circularbuffer[buffer2]);
        channelMappingA_.clear();
        channelMappingB_.clear();
        freeMixingLists();
        for (int ring = 0; ring < 2; ++ring) {
            AEAudioBufferListFree(bufferList[ring]);
            bufferList[ring] = nullptr;
            AECircularBufferCleanup(&circularbuffer[ring]);
        }
    });
}

void QVTAudioStreamer::freeMixingLists() {
    for (AudioBufferList** list : {&bufferList1_temp, &bufferList2_temp, &bufferListMix}) {
        AEAudioBufferListFree(*list);
        *list = nullptr;
    }
}

void QVTAudioStreamer::setChannelMappingA(const std::vector<int>& mapping) {
    queue->sync([&] { channelMappingA_ = mapping; });
}

void QVTAudioStreamer::setChannelMappingB(const std::vector<int>& mapping) {
    queue->sync([&] { channelMappingB_ = mapping; });
}

std::vector<int> QVTAudioStreamer::channelMappingA() const {
    std::vector<int> mapping;
    queue->sync([&] { mapping = channelMappingA_; });
    return mapping;
}

std::vector<int> QVTAudioStreamer::channelMappingB() const {
    std::vector<int> mapping;
    queue->sync([&] { mapping = channelMappingB_; });
    return mapping;
}

void QVTAudioStreamer::addBufferA(const std::shared_ptr<const PcmBuffer>& buffer) { addBuffer(0, buffer); }

void QVTAudioStreamer::addBufferB(const std::shared_ptr<const PcmBuffer>& buffer) { addBuffer(1, buffer); }

void QVTAudioStreamer::addBuffer(int deck, const std::shared_ptr<const PcmBuffer>& buffer) {
    if (!buffer) return;
    const AudioBufferList* list = buffer->audioBufferList();
    if (list->mNumberBuffers == 0 || list->mBuffers[0].mDataByteSize == 0) return;
    queue->sync([&] {
        if (removed_) return;
        const int ring = deck == 0 ? buffer1 : buffer2;
        const uint32_t channels = buffer->format().channelCount();
        if (channels != asbd_[ring].mChannelsPerFrame) {
            asbd_[ring].mChannelsPerFrame = channels;
            AEAudioBufferListFree(bufferList[ring]);
            AECircularBufferSetChannelCountAndSampleRate(&circularbuffer[ring], int(channels),
                                                         buffer->format().sampleRate());
            bufferList[ring] = AEAudioBufferListCreateWithFormat(&asbd_[ring], kWorkFrames);
        }
        if (AECircularBufferEnqueue(&circularbuffer[ring], list, nullptr, UINT32_MAX)) return;
        if (deck == 0)
            KLOG_ERROR("error, could not copy audiobufferlist to the circular buffer A->{}", list->mBuffers[0].mDataByteSize);
        else
            KLOG_ERROR("error, could not copy audiobufferlist to the circular buffer B->{}", list->mBuffers[0].mDataByteSize);
    });
}

void QVTAudioStreamer::switchBuffers() {
    queue->sync([this] { std::swap(buffer1, buffer2); });
    queue->sync([this] { AECircularBufferClear(&circularbuffer[buffer2]); });
}

void QVTAudioStreamer::clearBuffers() {
    clearCurrentBuffer();
    clearPreviousBuffer();
}

void QVTAudioStreamer::clearCurrentBuffer() {
    queue->sync([this] { AECircularBufferClear(&circularbuffer[buffer1]); });
}

void QVTAudioStreamer::clearPreviousBuffer() {
    queue->sync([this] { AECircularBufferClear(&circularbuffer[buffer2]); });
}

void QVTAudioStreamer::changeHelpersToChannels(int32_t channels) {
    queue->sync([&] {
        KLOG_INFO("channels change {} -> {}", tempformat.mChannelsPerFrame, channels);
        freeMixingLists();
        tempformat.mChannelsPerFrame = uint32_t(channels);
        bufferList1_temp = AEAudioBufferListCreateWithFormat(&tempformat, kWorkFrames);
        bufferList2_temp = AEAudioBufferListCreateWithFormat(&tempformat, kWorkFrames);
        bufferListMix = AEAudioBufferListCreateWithFormat(&tempformat, kWorkFrames);
    });
}

AudioStreamBasicDescription QVTAudioStreamer::asbd() {
    AudioStreamBasicDescription format{};
    queue->sync([&] {
        const bool deckBWider = asbd_[buffer2].mChannelsPerFrame > asbd_[buffer1].mChannelsPerFrame;
        format = isMixing() && deckBWider ? asbd_[buffer2] : asbd_[buffer1];
    });
    return format;
}

bool QVTAudioStreamer::padWithSilence(int ring, uint32_t frames) {
    // The ring's own work list serves as the silence: it is overwritten by the dequeue anyway.
    AEAudioBufferListSilenceWithFormat(bufferList[ring], &asbd_[ring], 0, frames);
    return AECircularBufferEnqueue(&circularbuffer[ring], bufferList[ring], nullptr, frames);
}

void QVTAudioStreamer::mapDeck(int ring, const std::vector<int>& mapping, int32_t channels, uint32_t frames,
                               AudioBufferList* target) {
    const AudioBufferList* source = bufferList[ring];
    const int available = int(std::min(asbd_[ring].mChannelsPerFrame, source->mNumberBuffers));
    // Unmapped channels are silenced, so a stale block of an earlier pull never plays again.
    for (size_t k = 0; k < size_t(channels); ++k) {
        const int m = k < mapping.size() ? mapping[k] : 0;
        if (m >= 1 && m <= available)
            std::memcpy(target->mBuffers[k].mData, plane(source, uint32_t(m - 1)), frames * sizeof(float));
        else
            std::memset(target->mBuffers[k].mData, 0, frames * sizeof(float));
    }
}

template <typename WritePlane>
void QVTAudioStreamer::pull(int32_t frameCount, int32_t channels, WritePlane&& writePlane) {
    if (frameCount > kWorkFrames) {
        KLOG_ERROR("pull of {} frames exceeds the work buffers of {} frames", frameCount, kWorkFrames);
        return;
    }
    const auto frames = uint32_t(frameCount);
    queue->sync([&] {
        if (removed_) return;
        if (int32_t(tempformat.mChannelsPerFrame) != channels) changeHelpersToChannels(channels);
        if (!bufferList[0] || !bufferList[1] || !bufferList1_temp || !bufferList2_temp || !bufferListMix) return;
        AECircularBuffer* deckA = &circularbuffer[buffer1];
        AECircularBuffer* deckB = &circularbuffer[buffer2];

        uint32_t a = AECircularBufferPeek(deckA, nullptr);
        uint32_t b = AECircularBufferPeek(deckB, nullptr);
        if (a < frames) {
            if (!padWithSilence(buffer1, frames - a)) KLOG_ERROR("error, could not copy add silence to the circular buffer A!");
            a = AECircularBufferPeek(deckA, nullptr);
        }
        if (a < frames) {
            KLOG_ERROR("only {} / {} frames available, needed {}", a, b, frameCount);
            return;
        }
        uint32_t n = frames;
        AECircularBufferDequeue(deckA, &n, bufferList[buffer1], nullptr);
        if (!isMixing()) AEDSPApplyGain(bufferList[buffer1], float(volumeA()), n);
        if (n != frames) KLOG_ERROR("ERROR: sample count does not match on A!");

        if (b < frames) {
            if (!padWithSilence(buffer2, frames - b)) KLOG_ERROR("error, could not copy add silence to the circular buffer B!");
            b = AECircularBufferPeek(deckB, nullptr);
        }

        if (!isMixing() || b < frames) {
            const AudioBufferList* source = bufferList[buffer1];
            const int available = int(std::min(asbd().mChannelsPerFrame, source->mNumberBuffers));
            const size_t count = std::min(channelMappingA_.size(), size_t(channels));
            for (size_t k = 0; k < count; ++k) {
                const int m = channelMappingA_[k];
                if (m >= 1 && m <= available) writePlane(k, plane(source, uint32_t(m - 1)));
            }
            return;
        }

        uint32_t mixLength = n;
        AECircularBufferDequeue(deckB, &mixLength, bufferList[buffer2], nullptr);
        if (mixLength != frames) KLOG_ERROR("ERROR: sample count does not match on B!");
        mapDeck(buffer1, channelMappingA_, channels, frames, bufferList1_temp);
        mapDeck(buffer2, channelMappingB_, channels, frames, bufferList2_temp);
        const double progress = mixProgress();
        const auto gainA = float((1.0 - progress) * volumeA());
        const auto gainB = float(progress * volumeB());
        AEDSPMix(bufferList1_temp, bufferList2_temp, gainA, gainB, true, mixLength, bufferListMix);
        if (mixLength != frames) KLOG_ERROR("ERROR: sample count does not match on after mix!");
        for (int32_t c = 0; c < channels; ++c) writePlane(size_t(c), plane(bufferListMix, uint32_t(c)));
    });
}

float* QVTAudioStreamer::audioDataWithNumberOfFrames(int32_t frames, int32_t channelCount) {
    if (frames < 1 || channelCount < 1) return nullptr;
    auto* block = static_cast<float*>(std::calloc(size_t(frames) * size_t(channelCount), sizeof(float)));
    if (!block) return nullptr;
    pull(frames, channelCount, [&](size_t channel, const float* samples) {
        std::memcpy(block + channel * size_t(frames), samples, size_t(frames) * sizeof(float));
    });
    return block;
}

int16_t* QVTAudioStreamer::interleaved16AudioDataWithNumberOfFrames(int32_t frames, int32_t channelCount) {
    if (frames < 1 || channelCount < 1) return nullptr;
    auto* block = static_cast<int16_t*>(std::calloc(size_t(frames) * size_t(channelCount), sizeof(int16_t)));
    if (!block) return nullptr;
    pull(frames, channelCount, [&](size_t channel, const float* samples) {
        for (int32_t j = 0; j < frames; ++j) block[size_t(j) * size_t(channelCount) + channel] = toInt16(samples[j]);
    });
    return block;
}
