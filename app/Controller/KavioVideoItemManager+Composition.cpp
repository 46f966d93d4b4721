#include "Controller/KavioVideoItemManager.h"

#include "Audio/KavioAudioStreamersManagerInterface.h"
#include "Audio/KavioWaveformManagerInterface.h"
#include "Caption/QVTCaption.h"
#include "Controller/QVTTimelineMarkerControllerInterface.h"
#include "Cue/KavioVideoItem.h"
#include "Outputs/KavioVideoOutputManagerInterface.h"
#include "Rendering/KavioFrameSlots.h"
#include "Rendering/KavioMetalTransitionRendererInterface.h"
#include "Rendering/KavioOverlayFontManager.h"
#include "Rendering/KavioOverlayer.h"
#include "Rendering/KavioRenderClock.h"
#include "Rendering/QVTMetalManager.h"
#include "Support/KavioColor.h"
#include "Support/KavioColorWellInterface.h"
#include "Support/KavioPopUpButtonInterface.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "UserDefaults.h"
#include "VideoFrame.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

namespace {

// A transition's progress limited to 0..1; not a number (a zero-length transition) counts as 1.
float limitedProgress(double progress)
{
    return std::isnan(progress) ? 1.0f : float(std::clamp(progress, 0.0, 1.0));
}

}  // namespace

// --- The GPU side ------------------------------------------------------------------------------

QVTMetalManager& KavioVideoItemManager::metalManager() const
{
    return metalManager_ ? *metalManager_ : QVTMetalManager::sharedManager();
}

void KavioVideoItemManager::setMetalManager(QVTMetalManager& manager)
{
    metalManager_ = &manager;
    previewoverlayer_ = std::make_unique<KavioOverlayer>(manager);
    outputoverlayer_ = std::make_unique<KavioOverlayer>(manager);
}

void KavioVideoItemManager::createTextureCache()
{
    QVTMetalManager& manager = metalManager();
    if (!manager.device()) {
        KLOG_ERROR("Error at CVMetalTextureCacheCreate:  {}", -1);
        return;
    }
    textureCache_.store(std::make_shared<KavioFrameSlots>(manager));
}

std::shared_ptr<KavioVideoOutputManagerInterface> KavioVideoItemManager::videoOutputManager() const
{
    return outlets_.videoOutputManager.lock();
}

std::int32_t KavioVideoItemManager::renderingFPS() const
{
    const auto clock = renderClock();
    return clock ? clock->renderingFPS() : 0;
}

// --- The pass ----------------------------------------------------------------------------------

void KavioVideoItemManager::createCurrentTextureAtTime(double time)
{
    // Raised before the jump flag is read: a jump that raises its flag afterwards waits for us.
    setIsRendering(true);
    // What a cue throws ends this pass only: the render loop goes on, and a jump waiting for
    // isRendering to drop is not kept waiting for ever. Logged once per run of failing passes.
    try {
        if (!shouldSkipRenderingBecauseOfProcessingJump())
            composeFrame(time);
        passFailureLogged_ = false;
    } catch (const std::exception& error) {
        if (!std::exchange(passFailureLogged_, true))
            KLOG_ERROR("composition pass failed: {}", error.what());
    }
    setIsRendering(false);
}

void KavioVideoItemManager::composeFrame(double time)
{
    const auto item = currentItem();
    if (!item || !item->isReady()) {
        renderedglobaltransition_ = false;
        renderedcuetransition_ = false;
        return;
    }
    // Stored only on a change: storing allocates, and this runs every frame. (setCurrentItem
    // clears it when no cue is current.)
    if (lastrendereditem_.load().lock() != item)
        lastrendereditem_.store(item);

    // The list is a snapshot: walked here without waiting for the items queue.
    const auto cues = items();
    for (const auto& cue : *cues)
        cue->processTasksOnDisplayLink();

    if (shouldFadeOut())
        processFadeOut();
    else if (shouldFadeIn())
        processFadeIn();
    renderedcuetransition_ = false;

    const auto global = isProcessingGlobalTransition() ? currentTransition() : nullptr;
    float globalProgress = 0.0f;
    if (!global) {
        const auto own = item->hasTransition() && item->isProcessingTransition() ? item->transition() : nullptr;
        if (own)
            renderTransition(*own, limitedProgress(item->transitionProgress()), false);
        else
            renderItem(item);
        renderedcuetransition_ = bool(own);
        renderedglobaltransition_ = false;
    } else {
        // The first pass of a crossover adds no time; later ones the time since the previous.
        const double previous = temprendertime_;
        const double step = previous > 0.0 ? time - previous : 0.0;
        const double elapsed = double(global->progress()) * global->duration() + step;
        globalProgress = limitedProgress(elapsed / global->duration());
        renderTransition(*global, globalProgress, true);
        renderedglobaltransition_ = true;

        if (item->hasTransition() && item->isProcessingTransition()) {
            const auto next = item->nextItemToPlay();
            if (next && next->isPlaying()) {
                next->pausePlayersWithPreroll(false);
                next->rewind();
            }
        }
        const auto source = global->sourceItem();
        const auto destination = global->destinationItem();
        if (globalProgress >= 1.0f)
            stopTransitionToItem();
        else
            temprendertime_ = time;
        for (const auto& cue : {source, destination})
            if (cue)
                cue->updateAudioMeter();
    }

    if (isPlaying() || global) {
        const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
        const bool mixing = bool(global);
        const auto markerTime = std::int64_t(globalProgress * 100.0f);
        DispatchQueue::main().async([weakSelf, mixing, markerTime] {
            const auto self = weakSelf.lock();
            if (!self)
                return;
            if (!mixing) {
                self->redrawPlayheadAndMeters();
            } else if (const auto marker = self->outlets_.markerController.lock()) {
                marker->setMarkerTime(markerTime);
                marker->redrawMarkerView();
            }
        });
    }
}

void KavioVideoItemManager::renderTransition(KavioMetalTransitionRendererInterface& transition, float progress,
                                             bool global)
{
    if (const auto streamers = outlets_.audioStreamersManager.lock())
        streamers->setMixProgress(progress);
    const auto source = transition.sourceItem();
    const auto destination = transition.destinationItem();
    if (source) {
        source->setAudioFade((1.0f - progress) * source->fadeOpacity());
        source->volumeChanged();
        renderItem(source);
        // A cue crossing into its own next pass shows its loop helper as the destination.
        if (source->isLooping())
            source->setShouldOperateWithTransitionHelper(true);
    }
    if (destination) {
        destination->setAudioFade(destination->fadeOpacity() * progress);
        destination->volumeChanged();
        if (!global)
            destination->updateAudioMeter();
        // Slot B: slot A still holds the source's frame, which the GPU reads at commit.
        renderItem(destination, true);
    }
    if (source)
        source->setShouldOperateWithTransitionHelper(false);
    transition.setRenderSize(renderSize());
    transition.setProgress(progress);
    transition.render();
    if (source && destination) {
        const int direction = source->index() < destination->index() ? 20 : 10;
        source->animateCurrentStateOffFromDirection(direction, progress);
        destination->animateCurrentStateOnFromDirection(direction, progress);
    }
}

void KavioVideoItemManager::renderItem(const std::shared_ptr<KavioVideoItem>& item, bool isB)
{
    if (!item)
        return;
    std::shared_ptr<GpuTexture> source;
    switch (item->mediaType()) {
    case KavioMediaTypeSyphon:
        source = item->syphonSourceTexture();
        break;
    case KavioMediaTypeBrowser:
        source = item->browserSourceTexture();
        break;
    case KavioMediaTypeWindow:
        source = item->windowSourceTexture();
        break;
    case KavioMediaTypeMovie:
        if (item->isHAP()) {
            source = item->hapTexture();
            break;
        }
        [[fallthrough]];
    default: {
        const auto frameSlots = textureCache_.load();
        if (!frameSlots)
            return;
        item->pixelBufferQueue().sync([&] {
            const auto frame = item->pixelBufferCopy();
            if (!frame)
                return;
            if (!isB) {
                texA_.reset();
                texB_.reset();
            }
            auto& slot = isB ? texB_ : texA_;
            const auto which = isB ? KavioFrameSlots::B : KavioFrameSlots::A;
            // Movie frames come as the decoder's planes and are converted on the GPU; packed
            // frames (stills, live sources, pictures without a plane layout) are uploaded whole.
            if (frame->pixelFormat() == MediaPixelFormat::Native) {
                const QVTPlaneTextures planes = frameSlots->uploadPlanes(frame, which);
                slot = planes.textures[0];
                item->renderLayerControlsWithPlanes(planes);
                return;
            }
            slot = frameSlots->uploadFrame(*frame, which);
            if (slot)
                item->renderLayerControlsWithMTLTexture(slot);
        });
        return;
    }
    }
    // A source without a picture yet keeps the layer's last one.
    if (source)
        item->renderLayerControlsWithMTLTexture(source);
}

std::shared_ptr<GpuTexture> KavioVideoItemManager::textureName() const
{
    if (renderedglobaltransition_) {
        const auto transition = currentTransition();
        return transition ? transition->texture() : nullptr;
    }
    const auto item = lastrendereditem_.load().lock();
    if (!item)
        return nullptr;
    if (renderedcuetransition_) {
        const auto transition = item->transition();
        return transition ? transition->texture() : nullptr;
    }
    return item->displayTexture();
}

// --- Overlays ----------------------------------------------------------------------------------

void KavioVideoItemManager::readOverlayDefaults()
{
    displayCueTimeOverlay_ = defaults_.boolForKey(QStringLiteral("displayCueTimeOverlay"));
    displayRenderingFPS_ = defaults_.boolForKey(QStringLiteral("displayRenderingFPS"));
    displaySubtitles_ = defaults_.boolForKey(QStringLiteral("displaySubtitles"));
}

std::shared_ptr<GpuTexture> KavioVideoItemManager::overlayPreviewTextureForSize(QSizeF size, bool useAbsoluteSize,
                                                                                const QString& fps)
{
    const auto item = currentItem();
    if (!item || size.isEmpty())
        return nullptr;
    const bool times = displayCueTimeOverlay_;
    return previewoverlayer_->renderWithSize(size, useAbsoluteSize, times ? item->currentTimeSMPTE() : QString(),
                                             times ? item->timeLeftSMPTE() : QString(),
                                             displayRenderingFPS_ ? fps : QString(),
                                             displaySubtitles_ ? item->currentCaptionPreview() : nullptr);
}

std::shared_ptr<GpuTexture> KavioVideoItemManager::overlayOutputTextureForSize(QSizeF size, bool useAbsoluteSize,
                                                                               bool renderTime, bool renderCaption)
{
    const auto item = currentItem();
    if ((!renderTime && !renderCaption) || !item || size.isEmpty())
        return nullptr;
    return outputoverlayer_->renderWithSize(size, useAbsoluteSize, renderTime ? item->currentTimeSMPTE() : QString(),
                                            renderTime ? item->timeLeftSMPTE() : QString(), QString(),
                                            renderCaption ? item->currentCaptionOutput() : nullptr);
}

// --- Settings actions --------------------------------------------------------------------------

void KavioVideoItemManager::changeMatteColor()
{
    if (!outlets_.matteColorWell)
        return;
    KavioColor color = KavioColor::fromQColor(outlets_.matteColorWell->color());
    color.alpha = 1.0;
    metalManager().setMatteColor({color.red, color.green, color.blue, color.alpha});
    defaults_.setData(color.toRecord(), QStringLiteral("matteColor"));
    defaults_.synchronize();
}

void KavioVideoItemManager::changeCueTimesOverlay()
{
    const KavioVideoItemManagerOutlets& o = outlets_;
    for (const auto& [key, popup] : {std::pair{"cueTimesOverlayPosition", o.cueTimesOverlayPosition},
                                     {"cueTimesOverlaySize", o.cueTimesOverlaySize},
                                     {"cueTimesOverlayColor", o.cueTimesOverlayColor}})
        if (popup)
            defaults_.setInteger(popup->selectedTag(), QString::fromLatin1(key));
    defaults_.synchronize();
    previewoverlayer_->setShouldClear(true);
    outputoverlayer_->setShouldClear(true);
}

void KavioVideoItemManager::changeSubtitlesOverlayFontSize()
{
    if (outlets_.subtitleOverlaySize)
        defaults_.setInteger(outlets_.subtitleOverlaySize->selectedTag(), QStringLiteral("subtitlesFontSize"));
    captionSettingsChanged();
}

void KavioVideoItemManager::changeSubtitlesOverlayFont()
{
    if (outlets_.subtitleOverlayFont)
        defaults_.setString(outlets_.subtitleOverlayFont->titleOfSelectedItem(), QStringLiteral("subtitlesFont"));
    captionSettingsChanged();
}

void KavioVideoItemManager::changeSubtitlesOverlayBackgroundColor()
{
    if (outlets_.subtitleOverlayBackgroundColor) {
        const KavioColor color = KavioColor::fromQColor(outlets_.subtitleOverlayBackgroundColor->color());
        KavioOverlayFontManager::sharedManager().setSubtitleBackgroundColor(color);
        defaults_.setData(color.toRecord(), QStringLiteral("subtitlesBackgroundColor"));
    }
    captionSettingsChanged();
}

void KavioVideoItemManager::changeSubtitlesOverlayFontColor()
{
    if (outlets_.subtitleOverlayFontColor) {
        // Caption text is drawn opaque.
        KavioColor color = KavioColor::fromQColor(outlets_.subtitleOverlayFontColor->color());
        color.alpha = 1.0;
        KavioOverlayFontManager::sharedManager().setSubtitleFontColor(color);
        defaults_.setData(color.toRecord(), QStringLiteral("subtitlesFontColor"));
    }
    captionSettingsChanged();
}

void KavioVideoItemManager::captionSettingsChanged()
{
    defaults_.synchronize();
    NotificationCenter::defaultCenter().post(kKavioSubtitleSettingsChangedNotification, this);
    previewoverlayer_->setShouldClear(true);
    outputoverlayer_->setShouldClear(true);
}

void KavioVideoItemManager::handleMiddleViewResize()
{
    const auto marker = outlets_.markerController.lock();
    if (!marker)
        return;
    if (const auto waveform = outlets_.waveformManager.lock())
        waveform->redrawMinMaxOnWaveformWithMin(marker->inPointForWaveform(), marker->outPointForWaveform());
    marker->redrawMarkerView();
}
