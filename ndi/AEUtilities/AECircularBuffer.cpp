#include "AECircularBuffer.h"

#include "AEUtilities.h"
#include "TPCircularBuffer+AudioBufferList.h"

#include <algorithm>
#include <cstring>

int32_t AECircularBufferByteLengthForFrames(uint32_t capacityInFrames, int channels) {
    if (channels <= 0) return 0;
    const int64_t bytes = int64_t(capacityInFrames) * channels * int64_t(AEAudioDescription.mBytesPerFrame);
    const int64_t length = int64_t(double(bytes) + std::min(0.15 * double(bytes), 2048.0));
    return length > 0 && length <= INT32_MAX ? int32_t(length) : 0;
}

bool AECircularBufferInit(AECircularBuffer* ring, uint32_t capacityInFrames, int channels, double sampleRate) {
    ring->audioDescription = AEAudioDescriptionWithChannelsAndRate(channels, sampleRate);
    const int32_t length = AECircularBufferByteLengthForFrames(capacityInFrames, channels);
    return length > 0 && TPCircularBufferInit(&ring->buffer, length);
}

void AECircularBufferCleanup(AECircularBuffer* ring) { TPCircularBufferCleanup(&ring->buffer); }

void AECircularBufferSetChannelCountAndSampleRate(AECircularBuffer* ring, int channels, double sampleRate) {
    TPCircularBufferClear(&ring->buffer);
    ring->audioDescription = AEAudioDescriptionWithChannelsAndRate(channels, sampleRate);
}

void AECircularBufferClear(AECircularBuffer* ring) { TPCircularBufferClear(&ring->buffer); }

void AECircularBufferSetAtomic(AECircularBuffer* ring, bool atomic) { TPCircularBufferSetAtomic(&ring->buffer, atomic); }

bool AECircularBufferEnqueue(AECircularBuffer* ring, const AudioBufferList* list, const AudioTimeStamp* timestamp,
                             uint32_t frames) {
    return TPCircularBufferCopyAudioBufferList(&ring->buffer, list, timestamp, frames, &ring->audioDescription);
}

uint32_t AECircularBufferGetAvailableSpace(AECircularBuffer* ring) {
    return TPCircularBufferGetAvailableSpace(&ring->buffer, &ring->audioDescription);
}

AudioBufferList* AECircularBufferPrepareEmptyAudioBufferList(AECircularBuffer* ring, uint32_t frames,
                                                             const AudioTimeStamp* timestamp) {
    return TPCircularBufferPrepareEmptyAudioBufferListWithAudioFormat(&ring->buffer, &ring->audioDescription, frames,
                                                                      timestamp);
}

void AECircularBufferProduceAudioBufferList(AECircularBuffer* ring) {
    TPCircularBufferProduceAudioBufferList(&ring->buffer, nullptr);
}

uint32_t AECircularBufferPeek(AECircularBuffer* ring, AudioTimeStamp* outTimestamp) {
    return TPCircularBufferPeek(&ring->buffer, outTimestamp, &ring->audioDescription);
}

void AECircularBufferDequeue(AECircularBuffer* ring, uint32_t* ioFrames, const AudioBufferList* outList,
                             AudioTimeStamp* outTimestamp) {
    TPCircularBufferDequeueBufferListFrames(&ring->buffer, ioFrames, outList, outTimestamp, &ring->audioDescription);
}

AudioBufferList* AECircularBufferNextBufferList(AECircularBuffer* ring, AudioTimeStamp* outTimestamp,
                                                const AudioBufferList* previous) {
    if (previous) return TPCircularBufferNextBufferListAfter(&ring->buffer, previous, outTimestamp);
    AudioBufferList* list = TPCircularBufferNextBufferList(&ring->buffer, outTimestamp);
    if (!list && outTimestamp) std::memset(outTimestamp, 0, sizeof(AudioTimeStamp));
    return list;
}

int32_t AECircularBufferConsumeNextBufferList(AECircularBuffer* ring) {
    int32_t queued = 0;
    auto* block = static_cast<TPCircularBufferABLBlockHeader*>(TPCircularBufferTail(&ring->buffer, &queued));
    if (block) TPCircularBufferConsume(&ring->buffer, int32_t(block->totalLength));
    return ring->buffer.fillCount.load();
}

void AECircularBufferConsumeNextBufferListPartial(AECircularBuffer* ring, int frames) {
    TPCircularBufferConsumeNextBufferListPartial(&ring->buffer, frames, &ring->audioDescription);
}
