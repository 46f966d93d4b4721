#pragma once
// Compressed frames of a Hap file's first video track, for the movie player's Hap output.
//
// The same contract as VideoFrameSource, with HapDecoderFrame in place of decoded pictures:
// a worker thread demuxes the track's packets and runs each through the Hap section parser
// into a bounded queue; consumers ask for the frame that shows at an item time (the latest
// presentation time at or before it; the first frame before it, the last after the end).
// Every Hap frame stands alone, so a seek reads no frame before the one it lands on.
//
// Packets that do not parse (see HapDecoderFrame) are skipped and counted; the frames around
// them play on. A demuxer that fails for good ends the track with error() set.
//
// Threads: any thread may call anything. The lock is held only for queue bookkeeping, never
// while reading or parsing. Seek completions run on the worker thread (a seek replaced before
// the worker took it up completes on the replacing thread); a completion may start another seek
// but must not destroy the source. Destroying the source stops and joins the worker; frames
// already handed out stay valid.

#include "HapDecoderFrame.h"
#include "MediaError.h"
#include "MediaTime.h"

#include <functional>
#include <memory>
#include <string>

class HapFrameSource {
public:
    // Opens the file's first video track, which must be Hap. nullptr with *error set when the
    // file cannot be opened (see MediaAsset::open), has no video track (NoSuchTrack) or its
    // video is not Hap (NoDecoder).
    static std::unique_ptr<HapFrameSource> open(const std::string& path, int queueCapacity = 4,
                                                MediaError* error = nullptr);
    ~HapFrameSource();
    HapFrameSource(const HapFrameSource&) = delete;
    HapFrameSource& operator=(const HapFrameSource&) = delete;

    // 'Hap1', 'Hap5', 'HapY', 'HapM' or 'HapA', as the file names the track.
    uint32_t codecSubType() const;
    int width() const;
    int height() const;
    MediaTime nominalFrameDuration() const;

    // As VideoFrameSource::seekToTime: queues the frame showing at `time` and the one after;
    // completion(true) once they are queued (or the track ended), false when replaced.
    void seekToTime(const MediaTime& time, std::function<void(bool finished)> completion = {});
    void cancelPendingSeeks();

    // As VideoFrameSource: a frame shows at `time` that was not handed out last.
    bool hasNewFrameForItemTime(const MediaTime& time) const;
    // The frame showing at `time`, releasing the frames before it; nullptr when none is read yet
    // or a seek is in flight. Ask for increasing times between seeks. Does not block.
    HapFrameRef copyFrameForItemTime(const MediaTime& time, MediaTime* displayTime = nullptr);
    // Blocks until the frame for `time` is known exactly, or was handed out already and a later
    // one asked for since, or the timeout passes.
    bool waitForItemTime(const MediaTime& time, double timeoutSeconds);

    bool isAtEnd() const;
    // Packets skipped because they did not parse, over the source's life.
    int skippedFrameCount() const;
    MediaError error() const;

    struct State;

private:
    explicit HapFrameSource(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};
