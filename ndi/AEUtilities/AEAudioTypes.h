#pragma once
// Plain C-layout audio structures shared by the ring buffers, the streamer and the audio engine:
// a list of sample buffers, the description of a stream's format and a time stamp. Field names
// and widths follow the layout the rest of the program's audio code is written against.

#include <cstddef>
#include <cstdint>

// One buffer of samples. The buffer never owns mData: whoever made the list says who frees it.
struct AudioBuffer {
    uint32_t mNumberChannels;  // interleaved channels in this buffer (1 for planar audio)
    uint32_t mDataByteSize;    // bytes of valid data at mData
    void* mData;
};

// A count followed by that many buffers. Lists are allocated with AudioBufferListSize(n) bytes;
// mBuffers is declared with one element and indexed up to mNumberBuffers - 1.
struct AudioBufferList {
    uint32_t mNumberBuffers;
    AudioBuffer mBuffers[1];
};

// Bytes of a list with n buffer descriptors.
constexpr size_t AudioBufferListSize(uint32_t n) {
    return offsetof(AudioBufferList, mBuffers) + size_t(n) * sizeof(AudioBuffer);
}

constexpr uint32_t kAudioFormatLinearPCM = 0x6C70636D;  // 'lpcm'
enum : uint32_t {
    kAudioFormatFlagIsFloat = 1u << 0,
    kAudioFormatFlagIsBigEndian = 1u << 1,
    kAudioFormatFlagIsSignedInteger = 1u << 2,
    kAudioFormatFlagIsPacked = 1u << 3,
    kAudioFormatFlagIsNonInterleaved = 1u << 5,
};

struct AudioStreamBasicDescription {
    double mSampleRate;
    uint32_t mFormatID;
    uint32_t mFormatFlags;
    uint32_t mBytesPerPacket;
    uint32_t mFramesPerPacket;
    uint32_t mBytesPerFrame;  // per buffer: one channel's sample for non-interleaved audio
    uint32_t mChannelsPerFrame;
    uint32_t mBitsPerChannel;
    uint32_t mReserved;
};

inline bool AudioStreamBasicDescriptionIsNonInterleaved(const AudioStreamBasicDescription& d) {
    return (d.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0;
}

struct SMPTETime {
    int16_t mSubframes;
    int16_t mSubframeDivisor;
    uint32_t mCounter;
    uint32_t mType;
    uint32_t mFlags;
    int16_t mHours;
    int16_t mMinutes;
    int16_t mSeconds;
    int16_t mFrames;
};

enum : uint32_t {
    kAudioTimeStampSampleTimeValid = 1u << 0,
    kAudioTimeStampHostTimeValid = 1u << 1,
    kAudioTimeStampRateScalarValid = 1u << 2,
    kAudioTimeStampWordClockTimeValid = 1u << 3,
    kAudioTimeStampSMPTETimeValid = 1u << 4,
};

struct AudioTimeStamp {
    double mSampleTime;
    uint64_t mHostTime;  // host ticks (AETime)
    double mRateScalar;
    uint64_t mWordClockTime;
    SMPTETime mSMPTETime;
    uint32_t mFlags;
    uint32_t mReserved;
};

// Identifies an audio processing component by four-character codes.
struct AudioComponentDescription {
    uint32_t componentType;
    uint32_t componentSubType;
    uint32_t componentManufacturer;
    uint32_t componentFlags;
    uint32_t componentFlagsMask;
};
