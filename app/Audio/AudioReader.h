#pragma once
// Reads the whole audio of a file into memory for loudness and waveform analysis: one array of
// 32-bit floats per channel holding 32-bit integer sample values (full scale 2^31), at the
// track's own rate. Used on the waveform queue; one call at a time per delegate.

#include <QString>

#include <cstdint>
#include <vector>

class AudioReaderDelegate {
public:
    virtual ~AudioReaderDelegate() = default;
    // Asked before each block: true ends the reading (the frames not read stay zero). Any
    // thread.
    virtual bool isCancelled() const = 0;
};

struct AudioReaderOutput {
    std::vector<std::vector<float>> channels;  // `channels.size()` arrays of `length` frames
    int64_t length = 0;                        // frames per channel: trunc(duration x rate)
    double sampleRate = 0;                     // the track's rate, a whole number
    // 1 when the file has no readable audio, is too long to hold, or failed while reading.
    int32_t error = 0;
};

class AudioReader {
public:
    // Frames read per block, between two cancellation checks.
    static constexpr long kBlockFrames = 16384;
    // Above this many sample bytes a file is refused (error 1) rather than read: the arrays
    // must fit in memory beside the program.
    static constexpr int64_t kMaxSampleBytes = int64_t(4) << 30;

    // The first audio track of `path`, mixed down to stereo with `shouldmixdown`, else with
    // its own channels. Never throws.
    static AudioReaderOutput readAudioRef(const QString& path, const AudioReaderDelegate* delegate,
                                          bool shouldmixdown);
};
