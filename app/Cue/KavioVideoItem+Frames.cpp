#include "Cue/KavioVideoItem.h"

#include "Cue/KavioLiveSourceInterfaces.h"
#include "Cue/KavioPlayerItemVideoOutput.h"
#include "Rendering/QVTMetalLayerRendererInterface.h"
#include "DispatchQueue.h"
#include "FrameTransferSession.h"
#include "GpuTexture.h"
#include "Log.h"
#include "MediaPlayer.h"
#include "NotificationCenter.h"
#include "QVTOSCQueryServer.h"

#include <cmath>

namespace {

KavioSnapshotCell<std::shared_ptr<KavioCameraManagerInterface>> sharedCameraManager;

// The largest render size the renderers' textures take.
constexpr double kMaxRenderSide = 16384.0;
const QSizeF kNoFrameSize(1, 1);

// The player's time as the frame sources read it: never past the out point. The clock loops or
// follows on one tick after the player reaches the out point; until then the last frame holds.
// `earlyBy` is how early a source may hand out a frame (the ring takes one up to a frame early),
// so its time stops that much sooner; one tick of the cue's timescale covers the rounding.
MediaTime shownTimeOf(const MediaPlayer* player, const MediaTime& outTime, double earlyBy = 0.0)
{
    if (!player)
        return MediaTime::zero();
    const MediaTime now = player->currentTime();
    const MediaTime duration = player->duration();
    if (!duration.isNumeric() || !outTime.isNumeric() || !std::isfinite(earlyBy))
        return now;
    const MediaTime margin = MediaTime::add(MediaTime::makeWithSeconds(earlyBy, MediaTime::kCueTimescale),
                                            MediaTime::make(1, MediaTime::kCueTimescale));
    const MediaTime last = MediaTime::subtract(MediaTime::subtract(duration, outTime), margin);
    return last > MediaTime::zero() ? MediaTime::minimum(now, last) : now;
}

double frameSpanOf(float fps)
{
    return fps > 0.0f ? 1.0 / double(fps) : 0.0;
}

}  // namespace

std::shared_ptr<KavioCameraManagerInterface> KavioCameraManagerInterface::sharedManager()
{
    return sharedCameraManager.load();
}

void KavioCameraManagerInterface::setSharedManager(std::shared_ptr<KavioCameraManagerInterface> manager)
{
    sharedCameraManager.store(std::move(manager));
}

// --- Frame sources --------------------------------------------------------------------------------

bool KavioVideoItem::setupVideoOutputForItem()
{
    if (videoOutput())
        return true;
    if (!normalVideoPlayer_)
        return false;
    normalVideoOutput_ = std::make_unique<KavioPlayerItemVideoOutput>(
        KavioPlayerFrameOutput::forPlayer(*normalVideoPlayer_), isHAP());
    if (const auto self = weak_from_this().lock())
        normalVideoOutput_->setVideoItem(self);
    setPlayerSet(normalVideoPlayer_, normalVideoOutput_);
    return true;
}

KavioPlayerItemVideoOutput* KavioVideoItem::videoOutputOfPlayer(const MediaPlayer* player) const
{
    if (!player)
        return nullptr;
    if (player == normalVideoPlayer_.get())
        return normalVideoOutput_.get();
    if (player == loopHelperVideoPlayer_.get())
        return loopHelperVideoOutput_.get();
    return nullptr;
}

void KavioVideoItem::onPixelBufferQueue(const std::function<void()>& step)
{
    if (pixelBufferQueue().isCurrent())
        step();
    else
        pixelBufferQueue().sync(step);
}

void KavioVideoItem::fillVideoOutputOfPlayerFromCMTime(MediaPlayer& player, const MediaTime& time)
{
    // A cue that is not current may still be drawn (the incoming side of a transition): its
    // ring is filled on its queue too.
    onPixelBufferQueue([&] {
        KavioPlayerItemVideoOutput* output = videoOutputOfPlayer(&player);
        if (!output)
            return;
        if (!output->videoItem())
            if (const auto self = weak_from_this().lock())
                output->setVideoItem(self);
        output->fillBuffersFromCMTime(time);
    });
}

void KavioVideoItem::releaseVideoOutputs()
{
    // The render pass reads the sources on this queue: none is dropped under a frame being taken.
    onPixelBufferQueue([this] {
        setPlayerSet(playerSet_.load().player, nullptr);
        normalVideoOutput_.reset();
        loopHelperVideoOutput_.reset();
    });
}

void KavioVideoItem::fillVideoOutputAfterPauseIfNeeded()
{
    onPixelBufferQueue([this] {
        if (const auto output = playerSet_.load().output)
            output->fillBuffersAfterPauseIfNeeded();
    });
}

// --- The picture of this frame (render thread) ----------------------------------------------------

std::shared_ptr<const VideoFrame> KavioVideoItem::pixelBufferCopy()
{
    switch (mediaType()) {
    case KavioMediaTypeMovie:
        return moviePixelBufferCopy();
    case KavioMediaTypeCamera:
        return cameraPixelBufferCopy();
    case KavioMediaTypeNDI:
        return ndiPixelBufferCopy();
    case KavioMediaTypeStill: {
        if (isMissing()) {
            setSourceSize(kNoFrameSize);
            return nullptr;
        }
        auto still = stillPixelBuffer();
        if (still)
            setSourceSize(QSizeF(still->width(), still->height()));
        return still;
    }
    case KavioMediaTypeAudio:
        return stillPixelBuffer();
    default:
        return nullptr;
    }
}

std::shared_ptr<const VideoFrame> KavioVideoItem::moviePixelBufferCopy()
{
    if (isMissing())
        return nullptr;
    if (shouldOperateWithTransitionHelper()) {
        // The cue crosses into its own next pass: the other player's frames feed the helper side.
        const bool normalPlays = playerSet_.load().player == normalVideoPlayer_;
        KavioPlayerItemVideoOutput* output = normalPlays ? loopHelperVideoOutput_.get() : normalVideoOutput_.get();
        const MediaPlayer* player = normalPlays ? loopHelperVideoPlayer_.get() : normalVideoPlayer_.get();
        return output ? output->copyBufferedPixelBufferForCurrentTime(shownTimeOf(player, outTime(), frameSpanOf(videoFPS())))
                      : nullptr;
    }
    // One copy of the set per frame: the player and its own frame source, alive until the end.
    const PlayerSet set = playerSet_.load();
    KavioPlayerItemVideoOutput* output = set.output.get();
    if (!output)
        return nullptr;
    // The ring holds frames in playing order: only for normal speed on the own clock, unscrubbed.
    const auto controller = manager();
    const bool ordered = !controller || (!controller->isPlayheadMarkerDragging() && controller->playbackMode() == 0);
    if (output->canUseTripleBuffering() && ordered && playbackRateAsPercent() == 100)
        return output->copyBufferedPixelBufferForCurrentTime(shownTimeOf(set.player.get(), outTime(), frameSpanOf(videoFPS())));
    return output->copyPixelBufferForItemTime(shownTimeOf(set.player.get(), outTime()));
}

std::shared_ptr<const VideoFrame> KavioVideoItem::cameraPixelBufferCopy()
{
    const auto cameras = KavioCameraManagerInterface::sharedManager();
    if (isMissing() || !cameras) {
        setSourceSize(kNoFrameSize);
        return nullptr;
    }
    copiedSampleBuffer_ = isSecondaryCamera() ? cameras->videoSampleBufferSecondary() : cameras->videoSampleBufferCopy();
    if (!copiedSampleBuffer_) {
        setSourceSize(kNoFrameSize);
        return nullptr;
    }
    VideoFrameRef result = copiedSampleBuffer_;
    const auto controller = manager();
    if (controller && controller->useHighBitDepthRendering() && !isDeckLinkDevice()) {
        // A frame that cannot be converted is dropped: the layer keeps its last picture rather
        // than showing a buffer nothing was written into.
        if (!inputTransferSession_)
            inputTransferSession_ = std::make_shared<FrameTransferSession>();
        result = inputTransferSession_->transferToV210(*copiedSampleBuffer_);
        if (!result) {
            KLOG_VERBOSE("problem transfering to kCVPixelFormatType_444YpCbCr10");
            return nullptr;
        }
    }
    setSourceSize(QSizeF(result->width(), result->height()));
    return result;
}

std::shared_ptr<const VideoFrame> KavioVideoItem::ndiPixelBufferCopy()
{
    DispatchQueue* queue = ndiQueue_.load();
    if (!queue) {
        setSourceSize(kNoFrameSize);
        return nullptr;
    }
    VideoFrameRef result;
    // Always pixel-buffer queue first, then the NDI queue: never the other way round.
    queue->sync([&] {
        if (isMissing() || !ndiReceiver_) {
            setSourceSize(kNoFrameSize);
            return;
        }
        setHasAlpha(ndiReceiver_->hasAlpha());
        result = ndiReceiver_->pixelBuffer();
        if (result)
            setSourceSize(QSizeF(result->width(), result->height()));
        setIsYUV(ndiReceiver_->isYUV());
    });
    return result;
}

void KavioVideoItem::setNDIReceiver(std::shared_ptr<KavioNDIReceiverInterface> receiver)
{
    if (!ndiQueueOwner_) {
        ndiQueueOwner_ = std::make_shared<DispatchQueue>(kKavioNDISourceQueueLabel.toStdString());
        ndiQueue_.store(ndiQueueOwner_.get());
    }
    ndiQueueOwner_->sync([&] { ndiReceiver_ = std::move(receiver); });
}

std::shared_ptr<GpuTexture> KavioVideoItem::hapTexture()
{
    if (isMissing())
        return nullptr;
    std::shared_ptr<GpuTexture> texture;
    // On the cue's queue, where the sources are dropped.
    onPixelBufferQueue([&] {
        const PlayerSet set = playerSet_.load();
        if (set.output)
            texture = set.output->hapTextureAtTime(shownTimeOf(set.player.get(), outTime()));
    });
    return texture;
}

QSizeF KavioVideoItem::hapTextureSize() const
{
    const auto output = playerSet_.load().output;
    return isMissing() || !output ? sourceSize() : output->hapTextureSize();
}

std::shared_ptr<GpuTexture> KavioVideoItem::syphonSourceTexture()
{
    const auto client = syphonClient_.load();
    if (!client)
        return nullptr;
    auto texture = client->texture();
    if (texture)
        setSourceSize(QSizeF(texture->width(), texture->height()));
    return texture;
}

std::shared_ptr<GpuTexture> KavioVideoItem::browserSourceTexture()
{
    const auto source = browserSource_;
    return source ? source->texture() : nullptr;
}

std::shared_ptr<GpuTexture> KavioVideoItem::windowSourceTexture()
{
    const auto source = windowSource_;
    return source ? source->texture() : nullptr;
}

// --- The layer ------------------------------------------------------------------------------------

std::shared_ptr<QVTMetalLayerRendererInterface> KavioVideoItem::makeLayerRenderer() const
{
    const auto controller = manager();
    auto renderer = QVTMetalLayerRendererInterface::make(
        controller ? controller->renderSize() : QSizeF(), isYUV(),
        controller && controller->useHighBitDepthRendering(), preferedTransform() == 10,
        isInterlaced() && controller && controller->deinterlaceMode() != 0);
    if (renderer)
        renderer->setInputSize(sourceSize());
    return renderer;
}

std::shared_ptr<QVTMetalLayerRendererInterface> KavioVideoItem::layerRendererForFrame()
{
    const auto current = metalRenderer_.load();
    if (!current || current->isYUV() != isYUV() || shouldrebuildlayerrenderer_.load()) {
        if (current)
            KLOG_VERBOSE("rebuild metalRenderer because YUV format change OR _shouldrebuildlayerrenderer");
        shouldrebuildlayerrenderer_ = false;
        metalRenderer_.store(makeLayerRenderer());
        metalRendererHelper_.store(makeLayerRenderer());
    }
    return shouldOperateWithTransitionHelper() ? metalRendererHelper_.load() : metalRenderer_.load();
}

QVTLayerSettings KavioVideoItem::layerSettings() const
{
    const auto controller = manager();
    const KavioGeometryCrop crop = geometryCrop();
    QVTLayerSettings settings;
    settings.pixelAspectRatio = pixelAspect();
    settings.colorspace = workingcolorspace();
    settings.sizingMode = geometryScaleMode();
    settings.transformOrigin = geometryOrigin();
    settings.scaleX = geometryScaleH() + 1.0f;
    settings.scaleY = geometryScaleV() + 1.0f;
    settings.translationX = geometryPosX();
    settings.translationY = geometryPosY();
    settings.rotation = geometryRotate();
    settings.brightness = brightness();
    settings.contrast = contrast();
    settings.hue = hue();
    settings.saturation = saturation() + 1.0f;
    settings.vibrance = vibrance();
    settings.cropTop = crop.top;
    settings.cropRight = crop.right;
    settings.cropBottom = crop.bottom;
    settings.cropLeft = crop.left;
    settings.opacity = opacity() * fadeOpacity() * (controller ? controller->masterSliderValue() : 1.0f);
    return settings;
}

void KavioVideoItem::renderLayerControlsWithMTLTexture(const std::shared_ptr<GpuTexture>& texture)
{
    if (!texture)
        return;
    if (const auto renderer = layerRendererForFrame())
        renderer->renderWithTexture(texture, layerSettings());
}

void KavioVideoItem::renderLayerControlsWithPlanes(const QVTPlaneTextures& planes)
{
    if (!planes.textures[0])
        return;
    if (const auto renderer = layerRendererForFrame())
        renderer->renderWithPlanes(planes, layerSettings());
}

std::shared_ptr<GpuTexture> KavioVideoItem::displayTexture() const
{
    const auto renderer = metalRenderer_.load();
    if (!renderer)
        return nullptr;
    if (renderer->textureIsBlank())
        renderer->clearTexture();
    return renderer->texture();
}

std::shared_ptr<GpuTexture> KavioVideoItem::helperTexture() const
{
    const auto renderer = metalRendererHelper_.load();
    return renderer ? renderer->texture() : nullptr;
}

std::shared_ptr<QVTMetalLayerRendererInterface> KavioVideoItem::metalRenderer() const
{
    return metalRenderer_.load();
}

std::shared_ptr<QVTMetalLayerRendererInterface> KavioVideoItem::metalRendererHelper() const
{
    return metalRendererHelper_.load();
}

void KavioVideoItem::setSourceSize(const QSizeF& size)
{
    sourceSize_.store(size);
    for (const auto& renderer : {metalRenderer_.load(), metalRendererHelper_.load()})
        if (renderer)
            renderer->setInputSize(size);
}

void KavioVideoItem::deinterlaceModeChanged()
{
    if (isInterlaced())
        shouldrebuildlayerrenderer_ = true;
}

// --- The render size --------------------------------------------------------------------------------

void KavioVideoItem::observeRenderingNotifications()
{
    NotificationCenter& center = NotificationCenter::defaultCenter();
    const std::weak_ptr<KavioVideoItem> weak = weak_from_this();
    center.addObserver(this, kKavioRenderSizeChangedNotification, nullptr, [weak](const Notification&) {
        if (const auto cue = weak.lock())
            cue->renderSizeChanged();
    });
    center.addObserver(this, kKavioDeinterlaceStateChangedNotification, nullptr, [weak](const Notification&) {
        if (const auto cue = weak.lock())
            cue->deinterlaceModeChanged();
    });
    center.addObserver(this, kKavioDefaultTransitionDurationChangedNotification, nullptr,
                       [weak](const Notification& notification) {
                           if (const auto cue = weak.lock())
                               cue->changeDefaultTransitionDuration(notification);
                       });
    center.addObserver(this, kKavioDefaultFadeDurationChangedNotification, nullptr,
                       [weak](const Notification& notification) {
                           if (const auto cue = weak.lock())
                               cue->changeDefaultFadeDuration(notification);
                       });
}

void KavioVideoItem::renderSizeChanged()
{
    const auto controller = manager();
    if (!controller)
        return;
    const QSizeF size = controller->renderSize();
    // Nothing can render at such a size: the cue keeps its layers and ranges as they are.
    if (!(size.width() >= 1.0 && size.height() >= 1.0 && size.width() <= kMaxRenderSide &&
          size.height() <= kMaxRenderSide)) {
        KLOG_ERROR("render size {} x {} ignored", size.width(), size.height());
        return;
    }
    if (hascaption_.load())
        setSelectedCaptionTrack(selectedCaptionTrack());
    if (const auto browser = browserSourceInterface())
        browser->setRenderSize(size);
    for (const auto& renderer : {metalRenderer_.load(), metalRendererHelper_.load()})
        if (renderer)
            renderer->setRenderSize(size);

    QVTOSCQueryServer* server = controller->oscQueryServer();
    if (!server)
        return;
    const QString id = cueID().isEmpty() ? QString::number(long(index())) : cueID();
    const long w = long(size.width()), h = long(size.height());
    const struct {
        const char* name;
        long min, max;
    } ranges[] = {
        {"posXAsPixels", -w, w},          {"posYAsPixels", -h, h},
        {"cropTopAsPixels", h / 2, h},    {"cropBottomAsPixels", 0, h / 2},
        {"cropLeftAsPixels", 0, w / 2},   {"cropRightAsPixels", w / 2, w},
    };
    for (const auto& range : ranges)
        server->setRangeWithMin(QVariant::fromValue(range.min), QVariant::fromValue(range.max),
                                QStringLiteral("/kavio/%1/%2").arg(id, QLatin1String(range.name)));
}

// --- The web-page source's settings ------------------------------------------------------------------

std::shared_ptr<KavioBrowserSourceInterface> KavioVideoItem::browserSourceInterface() const
{
    return std::dynamic_pointer_cast<KavioBrowserSourceInterface>(browserSource_);
}

QString KavioVideoItem::browserCustomCSS() const
{
    const auto source = browserSourceInterface();
    return source ? source->customCSS() : QString();
}

void KavioVideoItem::setBrowserCustomCSS(const QString& css)
{
    if (const auto source = browserSourceInterface())
        source->setCustomCSS(css);
}

bool KavioVideoItem::browserNeedsOnloadOnPause() const
{
    const auto source = browserSourceInterface();
    return source && source->shouldUnloadOnPause();
}

void KavioVideoItem::setBrowserNeedsUnloadOnPause(bool unload)
{
    if (const auto source = browserSourceInterface())
        source->setShouldUnloadOnPause(unload);
}

std::int32_t KavioVideoItem::browserRenderSizeMultiplierTag() const
{
    const auto source = browserSourceInterface();
    return source ? source->renderSizeMultiplierTag() : 0;
}

void KavioVideoItem::setBrowserRenderSizeMultiplierTag(std::int32_t tag)
{
    const auto source = browserSourceInterface();
    if (!source)
        return;
    source->setRenderSizeMultiplierTag(tag);
    // The multiplier takes effect at once.
    const auto controller = manager();
    source->setRenderSize(controller ? controller->renderSize() : QSizeF());
}

QWindow* KavioVideoItem::browserWindow() const
{
    const auto source = browserSourceInterface();
    return source ? source->webWindow() : nullptr;
}

void KavioVideoItem::putBrowserWindowToSafeArea()
{
    if (const auto source = browserSourceInterface())
        source->setWindowOriginToASafeArea();
}

void KavioVideoItem::handleBrowserSourceAfterLoading()
{
    const auto source = browserSourceInterface();
    if (!source)
        return;
    const auto controller = manager();
    source->setRenderSize(controller ? controller->renderSize() : QSizeF());
    if (isCurrent())
        return;
    if (source->shouldUnloadOnPause())
        source->unloadPage();
    else
        source->setShouldRender(false);
}
