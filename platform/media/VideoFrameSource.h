#pragma once
// Decoded frames of a file's first video track, for the movie player and its frame output.
//
// Two threads per source (plus the decoder's and the scaler's own) fill a bounded queue ahead of
// playback: the worker demuxes, decodes and seeks, a second thread converts each picture to the
// chosen pixel format meanwhile. Consumers ask which frame shows at an item time: the frame with
// the latest presentation time at or before it. A picture holds before the first frame and
// after the last one: any earlier time answers the first frame, any later time the last.
//
// Times are item times: media time from the start of the file. Frames are handed out as shared
// references; the source never copies a frame's pixels again and never changes a frame.
//
// Threads: all operations may be called from any thread. The source's lock is held only for
// queue bookkeeping, never while demuxing, decoding or converting. Seek completions run on the
// worker thread (a seek replaced before the worker took it up completes on the replacing
// thread); a completion may start another seek but must not destroy the source. Destroying the
// source stops both threads and waits for them; frames already handed out stay valid.

#include "MediaError.h"
#include "MediaTime.h"
#include "VideoFrame.h"

#include <functional>
#include <memory>
#include <string>

struct VideoFrameSourceOptions {
    MediaPixelFormat pixelFormat = MediaPixelFormat::BGRA;
    // Frames kept decoded: the frame last handed out and those after it.
    int queueCapacity = 6;
    // Threads for decoding and for converting pixels; 0 takes one per core.
    int decoderThreads = 0;
};

class VideoFrameSource {
public:
    // Opens the file's first video track and starts decoding from its start. nullptr with
    // *error set when the file cannot be opened (see MediaAsset::open), has no video track
    // (NoSuchTrack) or no decoder for it (NoDecoder).
    static std::unique_ptr<VideoFrameSource> open(const std::string& path,
                                                  const VideoFrameSourceOptions& options = {},
                                                  MediaError* error = nullptr);
    ~VideoFrameSource();
    VideoFrameSource(const VideoFrameSource&) = delete;
    VideoFrameSource& operator=(const VideoFrameSource&) = delete;

    MediaPixelFormat pixelFormat() const;
    int width() const;
    int height() const;
    // One frame at the track's nominal rate; invalid when the file does not say.
    MediaTime nominalFrameDuration() const;

    // Frame-exact seek: goes to the key frame at or before `time`, decodes and discards up to
    // it, and queues the frame showing at `time` and the one after it. Frames queued before
    // are dropped at once, so until the seek completes no frame is offered. `completion` (may
    // be empty) gets true when the frame for `time` is queued (or the track ended before any
    // was found), false when a later seek or cancelPendingSeeks() replaced this one.
    void seekToTime(const MediaTime& time, std::function<void(bool finished)> completion = {});
    // Ends the pending seek, if any, with false. Frames are offered again only after a new seek.
    void cancelPendingSeeks();

    // True when a frame shows at `time` among those decoded, and it is not the frame last
    // handed out by copyFrameForItemTime. Does not block and changes nothing.
    bool hasNewFrameForItemTime(const MediaTime& time) const;
    // The frame showing at `time` among those decoded, with its presentation time in
    // *displayTime; nullptr when none is decoded for it yet, when a seek is in flight, or when
    // the time lies before the frames still kept. Frames before the one returned are released:
    // ask for times in increasing order between seeks. The answer is exact once the frame after
    // it is decoded or the track has ended; waitForItemTime() waits for that. Does not block.
    VideoFrameRef copyFrameForItemTime(const MediaTime& time, MediaTime* displayTime = nullptr);
    // Blocks until the frame for `time` is known exactly (releasing frames before it so the
    // worker can go on) or the timeout passes. True when copyFrameForItemTime(time) now answers
    // exactly with a frame, or when the frame for `time` was handed out already and a later one
    // asked for since (the reader is past it).
    bool waitForItemTime(const MediaTime& time, double timeoutSeconds);

    // The decoder has delivered the track's last frame (since the last seek).
    bool isAtEnd() const;
    // Packets or pictures that failed to decode and were skipped, over the source's life.
    int skippedFrameCount() const;
    // Set when decoding stopped early for good (too many consecutive failures); the frames
    // decoded until then are still offered and the track counts as ended.
    MediaError error() const;

    struct State;

private:
    explicit VideoFrameSource(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};
