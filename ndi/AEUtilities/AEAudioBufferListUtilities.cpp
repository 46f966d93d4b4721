#include "AEAudioBufferListUtilities.h"

#include "AEUtilities.h"
#include "Log.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kReadChunkFrames = 4096;

// Clamps a byte range [offset, offset + length) to a buffer of `size` bytes.
uint64_t clampedLength(uint64_t size, uint64_t offset, uint64_t length) {
    return offset >= size ? 0 : std::min(length, size - offset);
}

}  // namespace

AudioBufferList* AEAudioBufferListCreateWithFormat(const AudioStreamBasicDescription* format, int frameCount) {
    const bool planar = AudioStreamBasicDescriptionIsNonInterleaved(*format);
    const uint32_t buffers = planar ? format->mChannelsPerFrame : 1;
    const uint32_t channelsPerBuffer = planar ? 1 : format->mChannelsPerFrame;
    const uint64_t bytes = uint64_t(std::max(frameCount, 0)) * format->mBytesPerFrame;
    if (bytes > UINT32_MAX) return nullptr;

    auto* list = static_cast<AudioBufferList*>(std::calloc(1, AudioBufferListSize(std::max(buffers, 1u))));
    if (!list) return nullptr;
    list->mNumberBuffers = buffers;
    for (uint32_t i = 0; i < buffers; ++i) {
        AudioBuffer& buffer = list->mBuffers[i];
        if (bytes > 0) {
            buffer.mData = std::calloc(1, size_t(bytes));
            if (!buffer.mData) {
                AEAudioBufferListFree(list);
                return nullptr;
            }
        }
        buffer.mDataByteSize = uint32_t(bytes);
        buffer.mNumberChannels = channelsPerBuffer;
    }
    return list;
}

AudioBufferList* AEAudioBufferListCreate(int frameCount) {
    return AEAudioBufferListCreateWithFormat(&AEAudioDescription, frameCount);
}

AudioBufferList* AEAudioBufferListCreateWithContentsOfFile(const std::string& path,
                                                           AudioStreamBasicDescription format) {
    AudioStreamBasicDescription fileFormat{};
    uint64_t length = 0;
    AEFileError error;
    AEExtAudioFile* file = AEExtAudioFileOpen(path, &fileFormat, &length, &error);
    if (!file) {
        KLOG_ERROR("Unable to open {} for reading: {}", path, error.description);
        return nullptr;
    }
    if (format.mSampleRate == 0) format.mSampleRate = fileFormat.mSampleRate;
    if (AEExtAudioFileSetClientFormat(file, &format) != 0) {
        AEExtAudioFileDispose(file);
        return nullptr;
    }
    // The length is the file's own claim; converted to the client rate and given some slack,
    // and reading never writes past it.
    const double ratio = fileFormat.mSampleRate > 0 ? format.mSampleRate / fileFormat.mSampleRate : 1.0;
    const uint64_t capacity = uint64_t(double(length) * ratio) + kReadChunkFrames;
    if (capacity * format.mBytesPerFrame > UINT32_MAX) {
        AEExtAudioFileDispose(file);
        return nullptr;
    }
    AudioBufferList* list = AEAudioBufferListCreateWithFormat(&format, int(capacity));
    if (!list) {
        AEExtAudioFileDispose(file);
        return nullptr;
    }

    auto* scratch = static_cast<AudioBufferList*>(std::malloc(AudioBufferListSize(list->mNumberBuffers)));
    uint32_t total = 0;
    while (scratch && total < capacity) {
        uint32_t frames = std::min<uint32_t>(kReadChunkFrames, uint32_t(capacity) - total);
        AEAudioBufferListAssignWithFormat(scratch, list, &format, total, frames);
        if (AEExtAudioFileRead(file, &frames, scratch) != 0 || frames == 0) break;
        total += frames;
    }
    std::free(scratch);
    AEExtAudioFileDispose(file);
    AEAudioBufferListSetLengthWithFormat(list, &format, total);
    return list;
}

AudioBufferList* AEAudioBufferListCopy(const AudioBufferList* original) {
    auto* list = static_cast<AudioBufferList*>(std::calloc(1, AudioBufferListSize(std::max(original->mNumberBuffers, 1u))));
    if (!list) return nullptr;
    list->mNumberBuffers = original->mNumberBuffers;
    for (uint32_t i = 0; i < original->mNumberBuffers; ++i) {
        const AudioBuffer& source = original->mBuffers[i];
        AudioBuffer& copy = list->mBuffers[i];
        copy.mNumberChannels = source.mNumberChannels;
        copy.mDataByteSize = source.mDataByteSize;
        if (source.mDataByteSize == 0 || !source.mData) continue;
        copy.mData = std::malloc(source.mDataByteSize);
        if (!copy.mData) {
            AEAudioBufferListFree(list);
            return nullptr;
        }
        std::memcpy(copy.mData, source.mData, source.mDataByteSize);
    }
    return list;
}

void AEAudioBufferListFree(AudioBufferList* list) {
    if (!list) return;
    for (uint32_t i = 0; i < list->mNumberBuffers; ++i) std::free(list->mBuffers[i].mData);
    std::free(list);
}

uint32_t AEAudioBufferListGetLength(const AudioBufferList* list, int* outChannelCount) {
    return AEAudioBufferListGetLengthWithFormat(list, &AEAudioDescription, outChannelCount);
}

uint32_t AEAudioBufferListGetLengthWithFormat(const AudioBufferList* list, const AudioStreamBasicDescription* format,
                                              int* outChannelCount) {
    if (outChannelCount)
        *outChannelCount = AudioStreamBasicDescriptionIsNonInterleaved(*format) || list->mNumberBuffers == 0
                               ? int(list->mNumberBuffers)
                               : int(list->mBuffers[0].mNumberChannels);
    if (list->mNumberBuffers == 0 || format->mBytesPerFrame == 0) return 0;
    return list->mBuffers[0].mDataByteSize / format->mBytesPerFrame;
}

void AEAudioBufferListSetLength(AudioBufferList* list, uint32_t frames) {
    AEAudioBufferListSetLengthWithFormat(list, &AEAudioDescription, frames);
}

void AEAudioBufferListSetLengthWithFormat(AudioBufferList* list, const AudioStreamBasicDescription* format,
                                          uint32_t frames) {
    for (uint32_t i = 0; i < list->mNumberBuffers; ++i)
        list->mBuffers[i].mDataByteSize = frames * format->mBytesPerFrame;
}

void AEAudioBufferListOffset(AudioBufferList* list, uint32_t frames) {
    AEAudioBufferListOffsetWithFormat(list, &AEAudioDescription, frames);
}

void AEAudioBufferListOffsetWithFormat(AudioBufferList* list, const AudioStreamBasicDescription* format,
                                       uint32_t frames) {
    for (uint32_t i = 0; i < list->mNumberBuffers; ++i) {
        AudioBuffer& buffer = list->mBuffers[i];
        const uint32_t bytes = uint32_t(std::min<uint64_t>(uint64_t(frames) * format->mBytesPerFrame, buffer.mDataByteSize));
        buffer.mData = static_cast<char*>(buffer.mData) + bytes;
        buffer.mDataByteSize -= bytes;
    }
}

void AEAudioBufferListAssign(AudioBufferList* target, const AudioBufferList* source, uint32_t offset,
                             uint32_t length) {
    AEAudioBufferListAssignWithFormat(target, source, &AEAudioDescription, offset, length);
}

void AEAudioBufferListAssignWithFormat(AudioBufferList* target, const AudioBufferList* source,
                                       const AudioStreamBasicDescription* format, uint32_t offset, uint32_t length) {
    target->mNumberBuffers = source->mNumberBuffers;
    for (uint32_t i = 0; i < source->mNumberBuffers; ++i) {
        target->mBuffers[i].mNumberChannels = source->mBuffers[i].mNumberChannels;
        target->mBuffers[i].mData = static_cast<char*>(source->mBuffers[i].mData) + size_t(offset) * format->mBytesPerFrame;
        target->mBuffers[i].mDataByteSize = length * format->mBytesPerFrame;
    }
}

void AEAudioBufferListSilence(const AudioBufferList* list, uint32_t offset, uint32_t length) {
    AEAudioBufferListSilenceWithFormat(list, &AEAudioDescription, offset, length);
}

void AEAudioBufferListSilenceWithFormat(const AudioBufferList* list, const AudioStreamBasicDescription* format,
                                        uint32_t offset, uint32_t length) {
    const uint64_t start = uint64_t(offset) * format->mBytesPerFrame;
    for (uint32_t i = 0; i < list->mNumberBuffers; ++i) {
        const AudioBuffer& buffer = list->mBuffers[i];
        const uint64_t bytes = clampedLength(buffer.mDataByteSize, start, uint64_t(length) * format->mBytesPerFrame);
        if (buffer.mData && bytes > 0) std::memset(static_cast<char*>(buffer.mData) + start, 0, size_t(bytes));
    }
}

void AEAudioBufferListCopyContents(const AudioBufferList* target, const AudioBufferList* source,
                                   uint32_t targetOffset, uint32_t sourceOffset, uint32_t length) {
    AEAudioBufferListCopyContentsWithFormat(target, source, &AEAudioDescription, targetOffset, sourceOffset, length);
}

void AEAudioBufferListCopyContentsWithFormat(const AudioBufferList* target, const AudioBufferList* source,
                                             const AudioStreamBasicDescription* format, uint32_t targetOffset,
                                             uint32_t sourceOffset, uint32_t length) {
    if (source->mNumberBuffers == 0) return;
    const uint64_t targetStart = uint64_t(targetOffset) * format->mBytesPerFrame;
    const uint64_t sourceStart = uint64_t(sourceOffset) * format->mBytesPerFrame;
    const uint64_t bytes = uint64_t(length) * format->mBytesPerFrame;
    for (uint32_t i = 0; i < target->mNumberBuffers; ++i) {
        uint32_t from = i;
        if (i >= source->mNumberBuffers) {
            if (i > 2) break;
            from = source->mNumberBuffers - 1;
        }
        const AudioBuffer& out = target->mBuffers[i];
        const AudioBuffer& in = source->mBuffers[from];
        const uint64_t n = std::min(clampedLength(out.mDataByteSize, targetStart, bytes),
                                    clampedLength(in.mDataByteSize, sourceStart, bytes));
        if (n > 0)
            std::memmove(static_cast<char*>(out.mData) + targetStart, static_cast<const char*>(in.mData) + sourceStart,
                         size_t(n));
    }
}
