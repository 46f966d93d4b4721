#include "Cue/KavioPlayerItemVideoOutput.h"

#include "Cue/KavioVideoItem.h"
#include "HAP/HapMetalPixelBufferTexture.h"
#include "HAP/TextureRenderer.h"
#include "Rendering/KavioRenderClock.h"
#include "Rendering/QVTMetalManager.h"
#include "Log.h"
#include "MediaPlayer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>

namespace {

constexpr int kRingSize = 3;
// Failed ring reads a source may have before the ring is switched off for good.
constexpr int kReadProblemsAllowed = 9;
// Near the end the search keeps its time instead of starting over.
constexpr double kEndWindowSeconds = 0.3;

class PlayerFrameOutput final : public KavioPlayerFrameOutput {
public:
    explicit PlayerFrameOutput(MediaPlayer& player) : player_(player) {}
    bool hasNewFrameForItemTime(const MediaTime& time) const override { return player_.hasNewFrameForItemTime(time); }
    VideoFrameRef copyFrameForItemTime(const MediaTime& time, MediaTime* displayTime) override
    {
        return player_.copyFrameForItemTime(time, displayTime);
    }
    HapFrameRef copyHapFrameForItemTime(const MediaTime& time) override { return player_.copyHapFrameForItemTime(time); }
    MediaTime currentTime() const override { return player_.currentTime(); }

private:
    MediaPlayer& player_;
};

std::atomic<QVTMetalManager*> defaultMetalManager{nullptr};

std::uint32_t powerOfTwoAtLeast(int value)
{
    std::uint32_t result = 1;
    while (result < std::uint32_t(std::max(value, 1)))
        result <<= 1;
    return result;
}

}  // namespace

std::shared_ptr<KavioPlayerFrameOutput> KavioPlayerFrameOutput::forPlayer(MediaPlayer& player)
{
    return std::make_shared<PlayerFrameOutput>(player);
}

KavioPlayerItemVideoOutput::KavioPlayerItemVideoOutput(std::shared_ptr<KavioPlayerFrameOutput> output, bool isHAP,
                                                       QVTMetalManager* metal)
    : output_(std::move(output)), isHAP_(isHAP), metal_(metal)
{
}

KavioPlayerItemVideoOutput::~KavioPlayerItemVideoOutput() = default;

void KavioPlayerItemVideoOutput::setDefaultMetalManager(QVTMetalManager* manager)
{
    defaultMetalManager.store(manager);
}

QVTMetalManager& KavioPlayerItemVideoOutput::metal() const
{
    if (metal_)
        return *metal_;
    QVTMetalManager* fallback = defaultMetalManager.load();
    return fallback ? *fallback : QVTMetalManager::sharedManager();
}

// --- The ring ------------------------------------------------------------------------------------

void KavioPlayerItemVideoOutput::setVideoItem(const std::shared_ptr<KavioVideoItem>& item)
{
    videoItem_ = item;
    canusetriplebuffering_ = findNextPixelBufferTime() && lastpixelbuffertime_ != MediaTime::zero();
    lastpixelbuffertime_ = MediaTime::zero();
}

bool KavioPlayerItemVideoOutput::canUseTripleBuffering() const
{
    const auto cue = videoItem_.lock();
    return canusetriplebuffering_ && cue && cue->playbackRateAsPercent() == 100;
}

VideoFrameRef KavioPlayerItemVideoOutput::copyPixelBufferForItemTime(const MediaTime& time, MediaTime* displayTime)
{
    if (isHAP_)
        return nullptr;
    return output_->copyFrameForItemTime(time, displayTime);
}

bool KavioPlayerItemVideoOutput::hasNewPixelBufferForTime(const MediaTime& time) const
{
    return isHAP_ || output_->hasNewFrameForItemTime(time);
}

bool KavioPlayerItemVideoOutput::hasPixelBufferForRequestedTime(const MediaTime& time, int index) const
{
    if (time >= pixelbufferstimes_[bufferindex_])
        return true;
    const auto cue = videoItem_.lock();
    const float fps = cue ? cue->videoFPS() : 0.0f;
    if (!(fps > 0.0f))
        return false;
    // Seconds of times on different timescales differ by rounding: a frame early is a frame early.
    return std::fabs(time.seconds() - pixelbufferstimes_[index].seconds()) <= 1.0 / double(fps) + 1e-9;
}

bool KavioPlayerItemVideoOutput::findNextPixelBufferTime()
{
    const auto cue = videoItem_.lock();
    if (!cue)
        return false;
    // Half a rendered frame, so no movie frame is stepped over. Before the render clock runs
    // there is no rendered frame: the movie's own frame stands in.
    const auto controller = cue->manager();
    const auto clock = controller ? controller->renderClock() : nullptr;
    double frameTime = clock ? clock->frameTime() : 0.0;
    if (!std::isfinite(frameTime) || frameTime <= 0.0) {
        const float fps = cue->videoFPS();
        frameTime = fps > 0.0f ? 1.0 / double(fps) : 0.0;
    }
    const double step = frameTime / 2.0;
    const MediaTime end = cue->absoluteEndCMTime();
    const MediaTime start = lastpixelbuffertime_;
    bool pastEnd = !(step > 0.0);
    while (!pastEnd) {
        lastpixelbuffertime_ = MediaTime::makeWithSeconds(lastpixelbuffertime_.seconds() + step, 600);
        if (!lastpixelbuffertime_.isNumeric()) {
            // An invalid time never turns valid by stepping on: end the search here.
            KLOG_VERBOSE("invalid lastpixelbuffertime!");
            break;
        }
        if (lastpixelbuffertime_ > end)
            pastEnd = true;
        else if (hasNewPixelBufferForTime(lastpixelbuffertime_))
            return true;
    }
    const MediaTime window = end - MediaTime::makeWithSeconds(kEndWindowSeconds, 600);
    if (cue->absoluteCurrentCMTime() >= window && lastpixelbuffertime_.isNumeric())
        return true;
    KLOG_VERBOSE("will break findNextPixelBufferTime - {} over from {} absoluteCurrentCMTime: {}",
                 lastpixelbuffertime_.seconds(), end.seconds(), cue->absoluteCurrentCMTime().seconds());
    // No new frame decoded yet: the next search starts here again. (Going back to zero would
    // read frames the player has released already, fail every read and end the ring.)
    lastpixelbuffertime_ = start;
    return false;
}

// By value: callers pass lastpixelbuffertime_ itself, which the retry moves.
void KavioPlayerItemVideoOutput::readNextPixelBufferForTime(MediaTime time, int index)
{
    const auto cue = videoItem_.lock();
    const std::string path = cue ? cue->mediaPath().toStdString() : std::string();
    pixelbuffers_[index].reset();
    pixelbufferstimes_[index] = MediaTime::invalid();
    pixelbuffers_[index] = output_->copyFrameForItemTime(time, &pixelbufferstimes_[index]);
    if (!pixelbufferstimes_[index].isValid()) {
        KLOG_VERBOSE("invalid targettime on {}!", path);
        // An empty slot stands for the time asked: the ring passes it there and refills it,
        // where an invalid time (later than any other) would stop the ring for good.
        pixelbufferstimes_[index] = time;
    }
    if (!pixelbuffers_[index] && canusetriplebuffering_) {
        if (pixelbufferreadingproblems_++ > kReadProblemsAllowed) {
            KLOG_VERBOSE("too many read tryies on file, fallback to non-triplebuffering: {}", path);
            canusetriplebuffering_ = false;
        }
        KLOG_VERBOSE("stalling error #{}", pixelbufferreadingproblems_);
        KLOG_VERBOSE("invalid pixelbuffer {} for {}!", index, time.seconds());
        KLOG_VERBOSE("finding new lastpixelbuffertime & read again...");
        lastpixelbuffertime_ = time;
        findNextPixelBufferTime();
        // Without a newer frame a read again would only fail again.
        if (cue && lastpixelbuffertime_ > time && !(lastpixelbuffertime_ > cue->endCMTime())) {
            readNextPixelBufferForTime(lastpixelbuffertime_, index);
            KLOG_VERBOSE("...read again done!");
        } else {
            KLOG_VERBOSE("...lastpixelbuffertime is over endCMTime, break!");
        }
        return;
    }
    lastpixelbuffertime_ = time;
}

void KavioPlayerItemVideoOutput::fillBuffersFromCMTime(const MediaTime& time)
{
    if (isHAP_ || !canUseTripleBuffering())
        return;
    bufferindex_ = 0;
    lastbufferplayedout_ = -1;
    lastpixelbuffertime_ = time;
    const auto cue = videoItem_.lock();
    KLOG_VERBOSE("fillbuffers from {} on {}", time.seconds(), cue ? cue->mediaPath().toStdString() : std::string());
    for (int index = 0; index < kRingSize; ++index) {
        readNextPixelBufferForTime(lastpixelbuffertime_, index);
        findNextPixelBufferTime();
    }
}

VideoFrameRef KavioPlayerItemVideoOutput::copyBufferedPixelBufferForCurrentTime(const MediaTime& time, MediaTime*)
{
    if (!hasPixelBufferForRequestedTime(time, bufferindex_))
        return nullptr;
    const auto cue = videoItem_.lock();
    if (!cue || !cue->isPlaying()) {
        lastbufferplayedout_ = -1;
        return pixelbuffers_[bufferindex_];
    }
    // A tick that came late (the first after a preroll, or one under load) finds the clock past
    // the current slot: the slots it overtook are passed as if shown, or the ring would show
    // every later frame one tick behind the clock for the rest of the playback.
    for (int pass = 0; pass < kRingSize - 1; ++pass) {
        const int next = (bufferindex_ + 1) % kRingSize;
        if (!pixelbuffers_[next] || !(pixelbufferstimes_[next] <= time) ||
            !(pixelbufferstimes_[next] > pixelbufferstimes_[bufferindex_]))
            break;
        advanceRing();
    }
    VideoFrameRef frame = pixelbuffers_[bufferindex_];
    advanceRing();
    return frame;
}

void KavioPlayerItemVideoOutput::advanceRing()
{
    if (lastbufferplayedout_ != -1) {
        // The slot shown last takes the frame after the ring's newest.
        findNextPixelBufferTime();
        readNextPixelBufferForTime(lastpixelbuffertime_, lastbufferplayedout_);
    }
    lastbufferplayedout_ = bufferindex_;
    bufferindex_ = (bufferindex_ + 1) % kRingSize;
}

void KavioPlayerItemVideoOutput::fillBuffersAfterPauseIfNeeded()
{
    KLOG_VERBOSE("fillBuffersAfterPauseIfNeeded");
    if (isHAP_ || !canUseTripleBuffering())
        return;
    MediaTime previous = pixelbufferstimes_[bufferindex_];
    int slot = bufferindex_;
    for (int pass = 0; pass < kRingSize - 1; ++pass) {
        slot = (slot + 1) % kRingSize;
        if (!pixelbuffers_[slot]) {
            KLOG_VERBOSE("problem, there is no pixelbuffers[{}]", slot);
            continue;
        }
        if (!(pixelbufferstimes_[slot] < previous)) {
            previous = pixelbufferstimes_[slot];
            continue;
        }
        const MediaTime now = output_->currentTime();
        if (hasPixelBufferForRequestedTime(now, slot)) {
            KLOG_VERBOSE("will set back to buffer: {} currentTime:{} buffertime: {}", slot, now.seconds(),
                         pixelbufferstimes_[slot].seconds());
            bufferindex_ = slot;
            return;
        }
        KLOG_VERBOSE("found earlier pixelbuffer in {}, replacing it now", slot);
        lastpixelbuffertime_ = previous;
        findNextPixelBufferTime();
        readNextPixelBufferForTime(lastpixelbuffertime_, slot);
    }
}

// --- Hap -----------------------------------------------------------------------------------------

std::shared_ptr<GpuTexture> KavioPlayerItemVideoOutput::hapTextureAtTime(const MediaTime& time, bool isFlipped)
{
    return hapTextureAtTime(time, isFlipped, false);
}

std::shared_ptr<GpuTexture> KavioPlayerItemVideoOutput::hapTextureForThumbnailAtTime(const MediaTime& time,
                                                                                      bool isFlipped)
{
    KLOG_VERBOSE("generating thumbnail at time: {}", time.seconds());
    return hapTextureAtTime(time, isFlipped, true);
}

std::shared_ptr<GpuTexture> KavioPlayerItemVideoOutput::hapTextureAtTime(const MediaTime& time, bool isFlipped,
                                                                         bool forThumbnail)
{
    QVTMetalManager& manager = metal();
    if (!hapTexture_) {
        if (!manager.device() || !manager.library())
            return nullptr;
        hapTexture_ = std::make_unique<HapMetalPixelBufferTexture>(manager.device(), *manager.library());
    }
    if (!isHAP_)
        return nullptr;
    const HapFrameRef frame = output_->copyHapFrameForItemTime(time);
    lastHapTime_ = time;
    // The same frame again needs no new upload; a damaged frame keeps the previous picture.
    if (frame && frame != dxtFrame_) {
        if (frame->isValid() && frame->dxtPlaneCount() >= 1 && frame->dxtPlaneCount() <= 2) {
            dxtFrame_ = frame;
            hapTexture_->setDecodedFrame(frame);
            loggedBadHapFrame_ = false;
        } else if (!std::exchange(loggedBadHapFrame_, true)) {
            KLOG_ERROR("Hap frame at {} not shown: {}", time.seconds(),
                       frame->isValid() ? "more than two planes" : frame->error());
        }
    }
    if (texturerenderer_)
        texturerenderer_->setFlip(isFlipped);
    return forThumbnail ? makeHAPTextureForThumbnail() : makeHAPTexture();
}

std::shared_ptr<GpuTexture> KavioPlayerItemVideoOutput::createTexture(std::uint32_t width, std::uint32_t height) const
{
    const auto& device = metal().device();
    return device ? device->newTexture({GpuPixelFormat::BGRA8Unorm, width, height}) : nullptr;
}

bool KavioPlayerItemVideoOutput::drawHapPlanes(TextureRenderer& renderer, const std::shared_ptr<GpuTexture>& destination,
                                               GpuCommandBuffer& commandBuffer) const
{
    switch (hapTexture_->textureCount()) {
    case 2:
        renderer.renderFromTexture(hapTexture_->textureForIndex(0), destination, commandBuffer,
                                   {hapTexture_->textureForIndex(1)});
        return true;
    case 1:
        renderer.renderFromTexture(hapTexture_->textureForIndex(0), destination, commandBuffer);
        return true;
    default:
        KLOG_ERROR("this is unexpected");
        return false;
    }
}

std::shared_ptr<GpuTexture> KavioPlayerItemVideoOutput::makeHAPTexture()
{
    if (!hapTexture_ || !hapTexture_->decodedFrame())
        return nullptr;
    const HapDecoderFrame& frame = *hapTexture_->decodedFrame();
    hapTextureSize_ = QSizeF(powerOfTwoAtLeast(frame.dxtImgSize().width), powerOfTwoAtLeast(frame.dxtImgSize().height));
    if (!outputtexture_)
        outputtexture_ = createTexture(std::uint32_t(frame.imgSize().width), std::uint32_t(frame.imgSize().height));
    const auto commandBuffer = metal().currentCommandBuffer();
    if (!outputtexture_ || !commandBuffer)
        return nullptr;
    if (!texturerenderer_) {
        // Kept for the source's life, like its fragment function.
        texturerenderer_ = TextureRenderer::create(*metal().library(), GpuPixelFormat::BGRA8Unorm,
                                                   hapTexture_->fragmentForFrame(), hapTexture_->textureCount() - 1);
        if (!texturerenderer_)
            return nullptr;
    }
    drawHapPlanes(*texturerenderer_, outputtexture_, *commandBuffer);
    return outputtexture_;
}

std::shared_ptr<GpuTexture> KavioPlayerItemVideoOutput::makeHAPTextureForThumbnail()
{
    if (!hapTexture_ || !hapTexture_->decodedFrame())
        return nullptr;
    const HapDecoderFrame& frame = *hapTexture_->decodedFrame();
    const auto texture = createTexture(std::uint32_t(frame.imgSize().width), std::uint32_t(frame.imgSize().height));
    const auto queue = metal().commandQueue();
    if (!texture || !queue)
        return nullptr;
    const auto renderer = TextureRenderer::create(*metal().library(), GpuPixelFormat::BGRA8Unorm,
                                                  hapTexture_->fragmentForFrame(), hapTexture_->textureCount() - 1);
    if (!renderer)
        return nullptr;
    renderer->setFlip(false);
    const auto commandBuffer = queue->commandBuffer();
    const bool drawn = drawHapPlanes(*renderer, texture, *commandBuffer);
    commandBuffer->commit();
    commandBuffer->waitUntilCompleted();
    return drawn ? texture : nullptr;
}
