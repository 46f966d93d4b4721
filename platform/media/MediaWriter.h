#pragma once
// Rewrites a movie into a QuickTime movie whose video is re-encoded for playback on a show
// machine (Hap, Hap Alpha, ProRes 422, ProRes 4444) while audio, timecode and caption tracks are
// copied packet for packet; and exports a file's audio as AAC in an M4A file.
//
// A MediaWriter belongs to one thread at a time (the conversion job's queue). Nothing it writes
// survives a failure or a cancel: an unfinished writer removes its file when it goes away.

#include "MediaAsset.h"
#include "MediaError.h"
#include "MediaTime.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

enum class MediaWriterCodec { Hap, HapAlpha, ProRes422, ProRes4444 };

// What the writer does with a track of the source.
enum class MediaWriterRole { Reencode, Copy, Leave };
// Video is re-encoded; object-descriptor ('odsm') and scene-description ('sdsm') tracks are left
// out; everything else (audio, timecode, captions, data) is copied.
MediaWriterRole mediaWriterRoleOf(const MediaTrack& track);

class MediaWriter {
public:
    // One sample read from the source, before it is appended.
    struct Sample {
        std::size_t input = 0;  // the output stream it goes to, in source order
        MediaTrackKind kind = MediaTrackKind::Other;
        MediaTime time;  // presentation time from the file's start; invalid when unknown
        // Audio: how much of the track's start the source trims away (its priming), or
        // invalid when it says nothing. The caller may set a trim on the first audio sample
        // of a track that has none; the written track then skips that much at its start.
        MediaTime trimAtStart;
        int sampleRate = 0;  // audio; 0 when the format does not tell
    };
    enum class Step { Sample, End, Failed };

    // Opens the source and sets up the output streams (nothing is written yet). nullptr with
    // *error set when the source cannot be read, has no video track, or the encoder refuses the
    // picture (Hap needs sizes in multiples of 4).
    static std::unique_ptr<MediaWriter> open(const std::string& source, const std::string& destination,
                                             MediaWriterCodec codec, MediaError* error);
    ~MediaWriter();
    MediaWriter(const MediaWriter&) = delete;
    MediaWriter& operator=(const MediaWriter&) = delete;

    std::size_t inputCount() const;
    // The source's last audio track is AAC.
    bool audioIsAAC() const;
    // The source's length; invalid when it does not say.
    MediaTime duration() const;

    // Creates the file and writes its header.
    bool start(MediaError* error);
    // Reads the source's next sample in file order (the container interleaves the tracks by
    // time): a decoded picture for the video, a packet otherwise. End once every track is
    // drained; Failed with *error set on a read or decode failure.
    Step readSample(Sample& sample, MediaError* error);
    // Encodes or copies the sample read last. False with *error set when it cannot be written
    // (a full disk, an encoder error).
    bool append(const Sample& sample, MediaError* error);
    // Flushes the encoder and writes the index. False with *error set when anything of the file
    // failed; the file is then removed.
    bool finish(MediaError* error);
    // Stops writing and removes the file.
    void cancel();

    struct State;

private:
    explicit MediaWriter(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// Exports the first audio track of a file as AAC in an M4A file (the same channels where the
// encoder takes their layout, else stereo; the same rate where it takes it, else 48 kHz).
// Runs on the calling thread; `progress` (0..1) moves as it goes; a set `cancelled` stops it at
// the next block. On failure or cancel the partial file is removed and false comes back with
// *error set.
bool exportAudioToM4A(const std::string& source, const std::string& destination,
                      const std::atomic<bool>& cancelled, std::atomic<float>& progress, MediaError* error);
