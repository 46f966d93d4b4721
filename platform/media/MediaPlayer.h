#pragma once
// A movie player for one media file: a clock on the host's monotonic clock times a rate, with
// seeking, preroll, events, and the frame output the renderer reads.
//
// Clock. While the rate is not zero, currentTime() = the time it was started from + (host time
// now − host time it was started at) × rate, held within [0, duration()]; at rate 0 it stands
// still. A seek holds the clock at its target until the frames there are decoded; a playing
// player then runs on from the target. Reaching duration() while playing posts EndReached once;
// the time stays there and the rate is kept (nothing happens at the end on its own).
// Host time is nanoseconds of CLOCK_MONOTONIC as a MediaTime at timescale 1,000,000,000.
//
// Frames. Decoding runs ahead on the player's own threads: decoded pictures (VideoFrameSource)
// for ordinary movies, compressed DXT planes (HapFrameSource) for Hap movies. The renderer asks
// for the frame at an item time, normally currentTime(); see copyFrameForItemTime().
//
// Callbacks. Completions and event handlers run on the DispatchQueue the caller names, never
// inline in the call and never while the player holds its lock, so they may call back into the
// player. Every seek and preroll completion runs exactly once: true when it finished, false
// when it was cancelled, replaced, interrupted, or the player was destroyed first. The named
// queues must outlive the player's pending callbacks.
//
// Threads: every operation may be called from any thread. Two players may open the same file;
// each has its own demuxer and decoder (the loop helper runs two side by side).
//
// Rates below zero are not supported: frames are decoded forward only. setRate() takes them as
// 0 and logs.

#include "HapDecoderFrame.h"
#include "MediaAsset.h"
#include "MediaError.h"
#include "MediaTime.h"
#include "VideoFrame.h"

#include <functional>
#include <memory>
#include <string>

class DispatchQueue;

enum class MediaPlayerEvent {
    TimeJumped,  // the time moved other than by playing: a seek, or a start from another time
    EndReached,  // playing forward reached duration()
};

struct MediaPlayerOptions {
    // Pixel format of decoded frames (ordinary movies; Hap frames stay compressed).
    MediaPixelFormat pixelFormat = MediaPixelFormat::BGRA;
    // Frames kept decoded ahead of the one shown.
    int queueCapacity = 6;
    // Decoding threads per player; 0 takes one per core.
    int decoderThreads = 0;
};

class MediaPlayer {
public:
    using Completion = std::function<void(bool finished)>;
    using EventHandler = std::function<void(MediaPlayerEvent)>;

    // Opens the file's first video track, paused at 0 with the first frame decoding. nullptr
    // with *error set when the file cannot be opened, has no video track or cannot be decoded
    // (see MediaAsset::open, VideoFrameSource::open, HapFrameSource::open).
    static std::unique_ptr<MediaPlayer> open(const std::string& path,
                                             const MediaPlayerOptions& options = {},
                                             MediaError* error = nullptr);
    // Stops decoding and joins the player's threads. Pending completions run with false.
    ~MediaPlayer();
    MediaPlayer(const MediaPlayer&) = delete;
    MediaPlayer& operator=(const MediaPlayer&) = delete;

    static MediaTime hostTimeNow();

    const MediaAsset& asset() const;
    // The video track's length (the asset's when the track does not tell): where the clock stops.
    MediaTime duration() const;
    bool isHap() const;

    float rate() const;
    MediaTime currentTime() const;

    // Plays at `rate` (0 pauses). With `itemTime` and `hostTime` both invalid: from where the
    // player stands, at once ("play now"). A valid `itemTime` other than the current time moves
    // there first, as a frame-exact seek that posts TimeJumped. A valid `hostTime` puts the
    // start at that host time (the clock reads earlier times before it). A non-zero rate ends a
    // pending preroll with false.
    void setRate(float rate, const MediaTime& itemTime = MediaTime::invalid(),
                 const MediaTime& hostTime = MediaTime::invalid());
    // setRate(0): the clock stops where it stands.
    void pause();

    // Moves to `time` (held within [0, duration()]) and posts TimeJumped. The player lands on
    // `time` itself when both tolerances are zero (frame-exact); otherwise on the start of the
    // frame showing there, by the track's nominal frame grid, when that lies within
    // toleranceBefore. The frame shown is the one at `time` either way. A seek replaces a
    // pending one (whose completion gets false) and ends a pending preroll with false.
    // `completion` (may be empty) gets true once the frame at the target is decoded.
    void seekToTime(const MediaTime& time, const MediaTime& toleranceBefore,
                    const MediaTime& toleranceAfter, DispatchQueue& queue, Completion completion);
    // The pending seek's completion runs with false. The clock stays at its target and the
    // frames there still come, so the player is never left without a picture.
    void cancelPendingSeeks();

    // Gets the frames at the current time decoded so that a start at `rate` shows its first
    // frame at once. completion(true) when they are, or when the renderer's read-ahead has taken
    // them already (it asked for a later time since); false when cancelled, replaced by another
    // preroll, interrupted by a seek or a start, when the player is playing, or when nothing can
    // be decoded there (damaged file: gives up after kPrerollTimeoutSeconds).
    void prerollAtRate(float rate, DispatchQueue& queue, Completion completion);
    void cancelPendingPrerolls();
    static constexpr double kPrerollTimeoutSeconds = 10.0;

    // Observers of the player's events; `handler` runs on `queue`. Answers a token for
    // removeEventObserver(); after removal no further call starts.
    int addEventObserver(DispatchQueue& queue, EventHandler handler);
    void removeEventObserver(int token);

    // Frame output, as VideoFrameSource's: the frame showing at `time`, with its presentation
    // time in *displayTime; nullptr while a seek is in flight or before it is decoded. Ask for
    // increasing times between seeks. The render thread may call these: they take the frame
    // queue's lock only for bookkeeping and never wait for decoding.
    // A frame shows at `time` that was not handed out last (either kind of movie).
    bool hasNewFrameForItemTime(const MediaTime& time) const;
    // Ordinary movies; nullptr for Hap.
    VideoFrameRef copyFrameForItemTime(const MediaTime& time, MediaTime* displayTime = nullptr);
    // Hap movies: the compressed planes; nullptr for others.
    HapFrameRef copyHapFrameForItemTime(const MediaTime& time, MediaTime* displayTime = nullptr);

    struct State;

private:
    explicit MediaPlayer(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};
