#pragma once
// Decoded samples of a file's first audio track, read in order from any sample frame.
//
// Two output forms, chosen when the reader is opened:
//  - planar 32-bit float (one array per channel), at a chosen rate (48 kHz for playback): the
//    track down-mixed to stereo, or N discrete channels taking the file's channels in order
//    (file channels beyond N are dropped, output channels beyond the file's are silent);
//  - interleaved signed 32-bit integers (full scale 2^31), at the track's own rate when the rate
//    is 0, with the file's own channel count or the stereo down-mix (for loudness analysis).
//
// A reader is used from one thread at a time (it keeps decoder state); it starts no threads.
// Positions are sample frames at the output rate, counted from the file's start.

#include "MediaError.h"
#include "MediaTime.h"

#include <cstdint>
#include <memory>
#include <string>

struct AudioReadFormat {
    enum class Samples { PlanarFloat32, InterleavedInt32 };
    Samples samples = Samples::PlanarFloat32;
    int sampleRate = 48000;  // 0: the track's own rate
    bool stereoDownmix = false;
    // Output channels when not down-mixing; 0 takes the track's channel count.
    int channels = 0;
};

class AudioSampleReader {
public:
    // Opens the first audio track. nullptr with *error when the file cannot be opened (see
    // MediaAsset::open), has no audio track (NoSuchTrack) or no decoder for it (NoDecoder).
    static std::unique_ptr<AudioSampleReader> open(const std::string& path,
                                                   const AudioReadFormat& format,
                                                   MediaError* error = nullptr);
    ~AudioSampleReader();
    AudioSampleReader(const AudioSampleReader&) = delete;
    AudioSampleReader& operator=(const AudioSampleReader&) = delete;

    int channelCount() const;        // output channels
    int sourceChannelCount() const;  // the track's channels
    int sampleRate() const;          // output rate
    // Where the track ends, measured from the file's start (the file's duration when the track
    // does not say). A track that starts late reads as silence until its first sample.
    MediaTime duration() const;
    // duration x output rate, truncated: the frames a full read is expected to give.
    int64_t lengthInFrames() const;
    // The frame the next read starts at.
    int64_t position() const;

    // Moves to an exact sample frame: the next read starts with that frame. A frame at or past
    // the end leaves the reader at its end (reads give 0). False, with error() set, when the
    // file cannot be repositioned at all.
    bool seekToFrame(int64_t frame);

    // Reads up to maxFrames frames into one array per channel (PlanarFloat32 readers). Answers
    // the frames written: fewer than asked only at the end of the track; 0 at the end or after
    // a failure (see error()). Damaged packets are skipped; the samples after them follow.
    long read(float* const* channels, long maxFrames);
    // The same into channelCount() x maxFrames interleaved integers (InterleavedInt32 readers).
    long read(int32_t* interleaved, long maxFrames);

    // Set when reading stopped early for good: the demuxer or decoder failed repeatedly, or a
    // read into the wrong output form was asked for.
    const MediaError& error() const;
    // Damaged packets skipped so far.
    int skippedPacketCount() const;

    struct State;

private:
    explicit AudioSampleReader(std::unique_ptr<State> state);
    long readInto(uint8_t* const* destinations, bool planar, long maxFrames);
    std::unique_ptr<State> state_;
};
