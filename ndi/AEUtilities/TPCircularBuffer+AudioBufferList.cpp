#include "TPCircularBuffer+AudioBufferList.h"

#include "AETime.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

using Header = TPCircularBufferABLBlockHeader;

constexpr uintptr_t align16(uintptr_t value) { return (value + 15) & ~uintptr_t(15); }

// Bytes from a block's start to the end of its n buffer descriptors.
constexpr size_t headerSize(uint32_t n) {
    return offsetof(Header, bufferList) + AudioBufferListSize(n);
}

Header* headerOf(const AudioBufferList* list) {
    return reinterpret_cast<Header*>(reinterpret_cast<uintptr_t>(list) - offsetof(Header, bufferList));
}

uint32_t buffersForFormat(const AudioStreamBasicDescription& format) {
    return AudioStreamBasicDescriptionIsNonInterleaved(format) ? format.mChannelsPerFrame : 1;
}

}  // namespace

AudioBufferList* TPCircularBufferPrepareEmptyAudioBufferList(TPCircularBuffer* ring, int numberOfBuffers,
                                                             int bytesPerBuffer,
                                                             const AudioTimeStamp* timestamp) {
    if (numberOfBuffers <= 0 || bytesPerBuffer < 0) return nullptr;
    int32_t room = 0;
    auto* block = static_cast<Header*>(TPCircularBufferHead(ring, &room));
    const uint32_t n = uint32_t(numberOfBuffers);
    if (!block || int64_t(room) < int64_t(headerSize(n)) + int64_t(n) * bytesPerBuffer) return nullptr;

    if (timestamp) block->timestamp = *timestamp;
    else std::memset(&block->timestamp, 0, sizeof(AudioTimeStamp));
    std::memset(&block->bufferList, 0, AudioBufferListSize(n));
    block->bufferList.mNumberBuffers = n;

    const auto start = reinterpret_cast<uintptr_t>(block);
    uintptr_t position = start + headerSize(n);
    for (uint32_t i = 0; i < n; ++i) {
        position = align16(position);
        if (position + uintptr_t(bytesPerBuffer) - start > uintptr_t(room)) return nullptr;
        block->bufferList.mBuffers[i].mData = reinterpret_cast<void*>(position);
        block->bufferList.mBuffers[i].mDataByteSize = uint32_t(bytesPerBuffer);
        block->bufferList.mBuffers[i].mNumberChannels = 1;
        position += uintptr_t(bytesPerBuffer);
    }
    const uintptr_t total = align16(position) - start;
    if (total > uintptr_t(room)) return nullptr;
    block->totalLength = uint32_t(total);
    return &block->bufferList;
}

AudioBufferList* TPCircularBufferPrepareEmptyAudioBufferListWithAudioFormat(
    TPCircularBuffer* ring, const AudioStreamBasicDescription* format, uint32_t frames,
    const AudioTimeStamp* timestamp) {
    const int64_t bytes = int64_t(frames) * format->mBytesPerFrame;
    if (bytes > INT32_MAX) return nullptr;
    return TPCircularBufferPrepareEmptyAudioBufferList(ring, int(buffersForFormat(*format)), int(bytes), timestamp);
}

int32_t TPCircularBufferProduceAudioBufferList(TPCircularBuffer* ring, const AudioTimeStamp* timestamp) {
    int32_t room = 0;
    auto* block = static_cast<Header*>(TPCircularBufferHead(ring, &room));
    if (!block || block->bufferList.mNumberBuffers == 0 || block->bufferList.mBuffers[0].mDataByteSize == 0)
        return ring->fillCount.load();
    if (timestamp) block->timestamp = *timestamp;

    const AudioBuffer& last = block->bufferList.mBuffers[block->bufferList.mNumberBuffers - 1];
    const uintptr_t end = reinterpret_cast<uintptr_t>(last.mData) + last.mDataByteSize;
    const uintptr_t length = align16(end - reinterpret_cast<uintptr_t>(block));
    block->totalLength = std::min(block->totalLength, uint32_t(length));
    TPCircularBufferProduce(ring, int32_t(block->totalLength));
    return ring->fillCount.load();
}

bool TPCircularBufferCopyAudioBufferList(TPCircularBuffer* ring, const AudioBufferList* list,
                                         const AudioTimeStamp* timestamp, uint32_t frames,
                                         const AudioStreamBasicDescription* format) {
    if (frames == 0 || !list || list->mNumberBuffers == 0) return true;
    const uint64_t bytes = frames == UINT32_MAX ? uint64_t(list->mBuffers[0].mDataByteSize)
                                                : uint64_t(frames) * format->mBytesPerFrame;
    if (bytes == 0) return true;
    if (bytes > INT32_MAX) return false;
    for (uint32_t i = 0; i < list->mNumberBuffers; ++i)
        if (list->mBuffers[i].mDataByteSize < bytes || !list->mBuffers[i].mData) return false;

    AudioBufferList* target =
        TPCircularBufferPrepareEmptyAudioBufferList(ring, int(list->mNumberBuffers), int(bytes), timestamp);
    if (!target) return false;
    for (uint32_t i = 0; i < list->mNumberBuffers; ++i)
        std::memcpy(target->mBuffers[i].mData, list->mBuffers[i].mData, size_t(bytes));
    TPCircularBufferProduceAudioBufferList(ring, nullptr);
    return true;
}

AudioBufferList* TPCircularBufferNextBufferList(TPCircularBuffer* ring, AudioTimeStamp* outTimestamp) {
    int32_t queued = 0;
    auto* block = static_cast<Header*>(TPCircularBufferTail(ring, &queued));
    if (!block) return nullptr;
    if (outTimestamp) *outTimestamp = block->timestamp;
    return &block->bufferList;
}

AudioBufferList* TPCircularBufferNextBufferListAfter(TPCircularBuffer* ring, const AudioBufferList* list,
                                                     AudioTimeStamp* outTimestamp) {
    int32_t queued = 0;
    auto* front = static_cast<char*>(TPCircularBufferTail(ring, &queued));
    if (!front || !list) return nullptr;
    auto* block = reinterpret_cast<char*>(headerOf(list));
    char* end = front + queued;
    if (block < front || block >= end) return nullptr;
    auto* next = reinterpret_cast<Header*>(block + headerOf(list)->totalLength);
    if (reinterpret_cast<char*>(next) >= end) return nullptr;
    if (outTimestamp) *outTimestamp = next->timestamp;
    return &next->bufferList;
}

uint32_t TPCircularBufferPeekContiguousWrapped(TPCircularBuffer* ring, AudioTimeStamp* outTimestamp,
                                               const AudioStreamBasicDescription* format,
                                               uint32_t contiguousToleranceSampleTime,
                                               uint32_t wrapPoint) {
    int32_t queued = 0;
    auto* block = static_cast<Header*>(TPCircularBufferTail(ring, &queued));
    if (!block || format->mBytesPerFrame == 0) return 0;
    if (outTimestamp) *outTimestamp = block->timestamp;

    const char* end = reinterpret_cast<char*>(block) + queued;
    const double tolerance = contiguousToleranceSampleTime;
    uint64_t bytes = block->bufferList.mBuffers[0].mDataByteSize;
    for (;;) {
        auto* next = reinterpret_cast<Header*>(reinterpret_cast<char*>(block) + block->totalLength);
        if (reinterpret_cast<char*>(next) >= end) break;
        if (contiguousToleranceSampleTime != UINT32_MAX) {
            double expected = block->timestamp.mSampleTime +
                              double(block->bufferList.mBuffers[0].mDataByteSize / format->mBytesPerFrame);
            if (wrapPoint != 0 && expected > wrapPoint) expected = std::fmod(expected, double(wrapPoint));
            const double difference = std::fabs(next->timestamp.mSampleTime - expected);
            if (difference > tolerance && (wrapPoint == 0 || std::fabs(difference - wrapPoint) > tolerance))
                break;
        }
        bytes += next->bufferList.mBuffers[0].mDataByteSize;
        block = next;
    }
    return uint32_t(bytes / format->mBytesPerFrame);
}

uint32_t TPCircularBufferPeekContiguous(TPCircularBuffer* ring, AudioTimeStamp* outTimestamp,
                                        const AudioStreamBasicDescription* format,
                                        uint32_t contiguousToleranceSampleTime) {
    return TPCircularBufferPeekContiguousWrapped(ring, outTimestamp, format, contiguousToleranceSampleTime, 0);
}

uint32_t TPCircularBufferPeek(TPCircularBuffer* ring, AudioTimeStamp* outTimestamp,
                              const AudioStreamBasicDescription* format) {
    return TPCircularBufferPeekContiguousWrapped(ring, outTimestamp, format, UINT32_MAX, 0);
}

void TPCircularBufferConsumeNextBufferListPartial(TPCircularBuffer* ring, int frames,
                                                  const AudioStreamBasicDescription* format) {
    if (frames < 0) return;
    int32_t queued = 0;
    auto* block = static_cast<Header*>(TPCircularBufferTail(ring, &queued));
    if (!block) return;
    AudioBufferList& list = block->bufferList;
    const uint64_t size0 = list.mBuffers[0].mDataByteSize;
    const uint32_t bytes = uint32_t(std::min(uint64_t(frames) * format->mBytesPerFrame, size0));
    if (bytes == size0) {
        TPCircularBufferConsume(ring, int32_t(block->totalLength));
        return;
    }
    for (uint32_t i = 0; i < list.mNumberBuffers; ++i) {
        AudioBuffer& buffer = list.mBuffers[i];
        const uint32_t step = std::min(bytes, buffer.mDataByteSize);
        buffer.mData = static_cast<char*>(buffer.mData) + step;
        buffer.mDataByteSize -= step;
    }
    AudioTimeStamp& time = block->timestamp;
    if (time.mFlags & kAudioTimeStampSampleTimeValid) time.mSampleTime += frames;
    if ((time.mFlags & kAudioTimeStampHostTimeValid) && format->mSampleRate > 0)
        time.mHostTime += uint64_t(frames / format->mSampleRate / AESecondsFromHostTicks(1));

    // Move the header up to just before the remaining data, so the consumed bytes free up.
    const uint32_t distance = bytes & ~15u;
    if (distance == 0) return;
    auto* moved = reinterpret_cast<Header*>(reinterpret_cast<char*>(block) + distance);
    std::memmove(moved, block, headerSize(list.mNumberBuffers));
    moved->totalLength -= distance;
    TPCircularBufferConsume(ring, int32_t(distance));
}

void TPCircularBufferDequeueBufferListFrames(TPCircularBuffer* ring, uint32_t* ioFrames,
                                             const AudioBufferList* outList, AudioTimeStamp* outTimestamp,
                                             const AudioStreamBasicDescription* format) {
    const uint32_t bytesPerFrame = format->mBytesPerFrame;
    uint64_t bytesToGo = uint64_t(*ioFrames) * bytesPerFrame;
    uint64_t copied = 0;
    bool met = false;
    while (bytesToGo > 0) {
        AudioBufferList* list = TPCircularBufferNextBufferList(ring, met ? nullptr : outTimestamp);
        if (!list) break;
        met = true;
        const uint64_t take = std::min<uint64_t>(bytesToGo, list->mBuffers[0].mDataByteSize);
        if (outList) {
            const uint32_t buffers = std::min(outList->mNumberBuffers, list->mNumberBuffers);
            for (uint32_t i = 0; i < buffers; ++i) {
                const AudioBuffer& out = outList->mBuffers[i];
                if (!out.mData || out.mDataByteSize <= copied) continue;
                const uint64_t fits = std::min<uint64_t>({take, out.mDataByteSize - copied,
                                                          list->mBuffers[i].mDataByteSize});
                std::memcpy(static_cast<char*>(out.mData) + copied, list->mBuffers[i].mData, size_t(fits));
            }
        }
        TPCircularBufferConsumeNextBufferListPartial(ring, int(take / bytesPerFrame), format);
        bytesToGo -= take;
        copied += take;
    }
    *ioFrames = bytesPerFrame ? uint32_t(copied / bytesPerFrame) : 0;
    if (!met && outTimestamp) std::memset(outTimestamp, 0, sizeof(AudioTimeStamp));
}

uint32_t TPCircularBufferGetAvailableSpace(TPCircularBuffer* ring, const AudioStreamBasicDescription* format) {
    const uint32_t n = buffersForFormat(*format);
    int32_t room = 0;
    if (!TPCircularBufferHead(ring, &room) || n == 0 || format->mBytesPerFrame == 0) return 0;
    const uintptr_t dataStart = align16(headerSize(n));
    if (dataStart >= uintptr_t(room)) return 0;
    const uintptr_t perBuffer = ((uintptr_t(room) - dataStart) / n) & ~uintptr_t(15);
    return uint32_t(perBuffer / format->mBytesPerFrame);
}
