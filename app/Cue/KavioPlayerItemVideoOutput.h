#pragma once
// KavioPlayerItemVideoOutput: the frame source of one movie player of a cue (a cue has one for
// its normal player and one for its loop helper). It delivers the frame to show at an item time.
//
// Ordinary movies: decoded frames (VideoFrameRef, released by dropping them) from the player's
// frame output, with a three-slot read-ahead ring on top. While the cue plays at 100 % on its own
// clock, each hand-out returns the current slot and refills the slot shown last with the frame
// after the ring's newest, so the frame for the next render is decoded and copied a frame ahead.
// A paused cue keeps returning the same slot. Failed ring reads are retried from the next new
// frame; the eleventh failure of the source's life switches the ring off for good (the cue then
// reads directly every frame). A decoder that lags behind the ring fills a slot with a frame
// again or leaves it empty (it stands for the time it was read for); such a slot is passed over
// once its successor is due, and the ring never stops.
//
// Hap movies: the compressed planes of the frame at a time go to the GPU through one
// HapMetalPixelBufferTexture and are drawn by one textured-quad pass into one BGRA output
// texture of the picture's size, both made on the first frame and kept. A frame that is invalid
// or has more than two planes keeps the previous picture.
//
// Threads: the ring's operations run on the cue's pixel-buffer queue (hand-outs from the render
// pass, fills from preroll and resume), one at a time. The Hap operations run on the render
// thread and encode into the frame's command buffer; the thumbnail path makes, commits and waits
// for its own command buffer.

#include "HapDecoderFrame.h"
#include "MediaTime.h"
#include "VideoFrame.h"

#include <QSizeF>

#include <cstdint>
#include <memory>

class GpuCommandBuffer;
class GpuTexture;
class HapMetalPixelBufferTexture;
class KavioVideoItem;
class MediaPlayer;
class QVTMetalManager;
class TextureRenderer;

// What the frame source reads of its player: the player's frame output, as a seam tests script.
class KavioPlayerFrameOutput {
public:
    virtual ~KavioPlayerFrameOutput() = default;
    // A frame newer than the last one read shows at `time`.
    virtual bool hasNewFrameForItemTime(const MediaTime& time) const = 0;
    // The frame showing at `time` with its presentation time, or nullptr (none decoded yet).
    virtual VideoFrameRef copyFrameForItemTime(const MediaTime& time, MediaTime* displayTime) = 0;
    // Hap movies: the compressed frame showing at `time`, or nullptr.
    virtual HapFrameRef copyHapFrameForItemTime(const MediaTime& time) = 0;
    // The player's current item time.
    virtual MediaTime currentTime() const = 0;

    // The output of a real player, which must outlive it.
    static std::shared_ptr<KavioPlayerFrameOutput> forPlayer(MediaPlayer& player);
};

class KavioPlayerItemVideoOutput {
public:
    // A source over `output`; a Hap source reads compressed frames and draws them with `metal`
    // (nullptr: the default manager below), which must outlive the source.
    KavioPlayerItemVideoOutput(std::shared_ptr<KavioPlayerFrameOutput> output, bool isHAP,
                               QVTMetalManager* metal = nullptr);
    ~KavioPlayerItemVideoOutput();
    KavioPlayerItemVideoOutput(const KavioPlayerItemVideoOutput&) = delete;
    KavioPlayerItemVideoOutput& operator=(const KavioPlayerItemVideoOutput&) = delete;

    // The GPU manager of sources made without one: QVTMetalManager::sharedManager() unless set
    // (at start, or by tests on their own device, before the sources are made).
    static void setDefaultMetalManager(QVTMetalManager* manager);

    bool isHAP() const { return isHAP_; }
    // The player output the source reads.
    KavioPlayerFrameOutput& realVideoOutput() const { return *output_; }

    // Sets the weak owner and probes whether the ring can work: a new frame found before the
    // cue's end (or the cue within 0.3 s of it) switches the ring on, else off.
    void setVideoItem(const std::shared_ptr<KavioVideoItem>& item);
    std::shared_ptr<KavioVideoItem> videoItem() const { return videoItem_.lock(); }

    // The ring may be used: it is on and the cue plays at exactly 100 %.
    bool canUseTripleBuffering() const;

    // Direct read: the output's frame for `time` (nullptr for Hap or none).
    VideoFrameRef copyPixelBufferForItemTime(const MediaTime& time, MediaTime* displayTime = nullptr);
    // Whether the output has a new frame for `time`; true for a Hap source.
    bool hasNewPixelBufferForTime(const MediaTime& time) const;
    // Ring read for the player's current time `time`: the current slot's frame (maybe nullptr),
    // or nullptr without moving the ring when `time` lies more than one movie frame before it.
    // A playing cue then refills the slot shown last and moves on; a paused cue stays. Slots
    // whose successor already shows at `time` are passed over first (a late tick).
    // `displayTime` is never written.
    VideoFrameRef copyBufferedPixelBufferForCurrentTime(const MediaTime& time, MediaTime* displayTime = nullptr);
    // Fills slot 0 with the frame at `time` and slots 1 and 2 with the next two new frames.
    // Nothing for Hap or while the ring may not be used.
    void fillBuffersFromCMTime(const MediaTime& time);
    // After a pause: a slot that holds an earlier frame than the one before it is either taken as
    // the current slot (it matches the player's time) or refilled with the next frame.
    void fillBuffersAfterPauseIfNeeded();

    // Steps of the ring, public for tests. The search steps half a rendered frame (half a movie
    // frame before the render clock runs) from lastPixelBufferTime() to the next time a new frame
    // shows, up to the cue's end; true when it found one, or ran past the end within 0.3 s of
    // it. Otherwise the time stays where it was: the decoder has nothing newer yet.
    bool findNextPixelBufferTime();
    void readNextPixelBufferForTime(MediaTime time, int index);
    bool hasPixelBufferForRequestedTime(const MediaTime& time, int index) const;

    // Ring state (pixel-buffer queue).
    int bufferIndex() const { return bufferindex_; }
    int lastBufferPlayedOut() const { return lastbufferplayedout_; }
    MediaTime lastPixelBufferTime() const { return lastpixelbuffertime_; }
    const VideoFrameRef& pixelBuffer(int index) const { return pixelbuffers_[index]; }
    MediaTime pixelBufferTime(int index) const { return pixelbufferstimes_[index]; }
    bool ringEnabled() const { return canusetriplebuffering_; }
    int pixelBufferReadingProblems() const { return pixelbufferreadingproblems_; }

    // --- Hap (render thread) ---------------------------------------------------------------------
    // The frame at `time` drawn into the output texture (flipped upright by default) on the
    // frame's command buffer; the previous frame again when the output has none; nullptr
    // without a Hap frame so far, a GPU or a command buffer.
    std::shared_ptr<GpuTexture> hapTextureAtTime(const MediaTime& time, bool isFlipped = true);
    // A new texture holding the frame at `time`, rendered and finished before return.
    std::shared_ptr<GpuTexture> hapTextureForThumbnailAtTime(const MediaTime& time, bool isFlipped);
    // The current frame's compressed size rounded up to powers of two, per axis.
    QSizeF hapTextureSize() const { return hapTextureSize_; }
    MediaTime lastHapTime() const { return lastHapTime_; }
    // The output texture, made on the first frame drawn.
    const std::shared_ptr<GpuTexture>& outputTexture() const { return outputtexture_; }

private:
    // The current slot counts as shown: the slot shown before it is refilled, the ring moves on.
    void advanceRing();
    std::shared_ptr<GpuTexture> hapTextureAtTime(const MediaTime& time, bool isFlipped, bool forThumbnail);
    std::shared_ptr<GpuTexture> makeHAPTexture();
    std::shared_ptr<GpuTexture> makeHAPTextureForThumbnail();
    // Draws the current planes into `destination` with `renderer`; false for an unexpected count.
    bool drawHapPlanes(TextureRenderer& renderer, const std::shared_ptr<GpuTexture>& destination,
                       GpuCommandBuffer& commandBuffer) const;
    std::shared_ptr<GpuTexture> createTexture(std::uint32_t width, std::uint32_t height) const;
    QVTMetalManager& metal() const;

    std::shared_ptr<KavioPlayerFrameOutput> output_;
    const bool isHAP_;
    QVTMetalManager* metal_;
    std::weak_ptr<KavioVideoItem> videoItem_;

    // The ring
    VideoFrameRef pixelbuffers_[3];
    MediaTime pixelbufferstimes_[3];
    int bufferindex_ = 0;
    int lastbufferplayedout_ = -1;
    MediaTime lastpixelbuffertime_ = MediaTime::zero();
    bool canusetriplebuffering_ = true;
    int pixelbufferreadingproblems_ = 0;

    // Hap
    std::unique_ptr<HapMetalPixelBufferTexture> hapTexture_;
    std::shared_ptr<TextureRenderer> texturerenderer_;
    std::shared_ptr<GpuTexture> outputtexture_;
    HapFrameRef dxtFrame_;
    MediaTime lastHapTime_ = MediaTime::invalid();
    QSizeF hapTextureSize_;
    bool loggedBadHapFrame_ = false;
};
