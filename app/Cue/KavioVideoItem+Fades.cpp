#include "Cue/KavioVideoItem.h"

#include "Audio/KavioAudioPlayer.h"
#include "Clock/QVTClock.h"
#include "Cue/KavioLiveSourceInterfaces.h"
#include "DispatchQueue.h"
#include "MediaPlayer.h"
#include "NotificationCenter.h"

#include <cmath>

namespace {

// The threshold between a cut and a fade, as the single-precision constant the icons compare to.
constexpr float kCutThreshold = 0.1f;

// The fade toggles' images, on the main thread, while both toggles are enabled.
void showFadeIcons(KavioVideoItem& cue, const QString& in, const QString& out)
{
    if (!DispatchQueue::isMainThread()) {
        DispatchQueue::main().async([weak = cue.weak_from_this(), in, out] {
            if (const auto self = weak.lock())
                showFadeIcons(*self, in, out);
        });
        return;
    }
    if (!cue.fadeInButton().enabled || !cue.fadeOutButton().enabled)
        return;
    cue.fadeInButton().imageName = in;
    cue.fadeOutButton().imageName = out;
}

}  // namespace

// --- Per-frame tasks (render path) ------------------------------------------------------------------

void KavioVideoItem::processTasksOnDisplayLink()
{
    fadeOpacity_.store(1.0f);
    audioFade_.store(1.0f);
    if (fadeInButton_.state == 1)
        processFadeIn();
    if (fadeOutButton_.state == 1)
        processFadeOut();
    switch (mediaType()) {
    case KavioMediaTypeNDI:
        if (DispatchQueue* queue = ndiQueue_.load(); queue && !isMissing())
            queue->sync([this] {
                if (ndiReceiver_)
                    if (auto buffer = ndiReceiver_->audioPCMBuffer())
                        receivedAudioPCMBuffer(buffer);
            });
        break;
    case KavioMediaTypeBrowser:
    case KavioMediaTypeWindow: {
        const auto controller = manager();
        const auto source = mediaType() == KavioMediaTypeBrowser ? browserSource_ : windowSource_;
        if (controller && source)
            source->setRenderingFPS(controller->renderingFPS());
        break;
    }
    default:
        break;
    }
}

void KavioVideoItem::processFadeIn()
{
    const MediaTime t = currentCMTime();
    const float fade = fadetime();
    const MediaTime length = MediaTime::makeWithSeconds(fade, t.timescale > 0 ? t.timescale : MediaTime::kCueTimescale);
    if (t < length) {
        const double level = t.seconds() / double(fade) * double(opacity());
        fadeOpacity_.store(level > 1.0 ? 1.0f : float(level));
    } else if (fade < kCutThreshold && t == MediaTime::zero()) {
        fadeOpacity_.store(0.0f);
    } else {
        fadeOpacity_.store(opacity());
    }
    if (audioPlayer() && soundButton_.state == 1 && !isProcessingTransition())
        volumeChanged();
}

void KavioVideoItem::processFadeOut()
{
    const auto controller = manager();
    const auto clock = controller ? controller->masterClock() : nullptr;
    if (clock && clock->clockSMPTETime() == itemEndSMPTETime()) {
        if (fadeOpacity() > 0.0f) {
            fadeOpacity_.store(0.0f);
            const auto next = nextItemToPlay();
            if (audioPlayer() && soundButton_.state == 1 && !hasTransition() && !(next && next->hasTransition()))
                volumeChanged();
        }
        return;
    }
    const MediaTime t = currentCMTime();
    const float fade = fadetime();
    const double duration = itemDuration();
    const std::int32_t timescale = t.timescale > 0 ? t.timescale : MediaTime::kCueTimescale;
    if (t < MediaTime::makeWithSeconds(duration - fade, timescale))
        return;
    if (fade < kCutThreshold && t == MediaTime::makeWithSeconds(duration, timescale)) {
        fadeOpacity_.store(0.0f);
    } else {
        const double level = (duration - t.seconds()) / double(fade);
        // A fade time of 0 past the end divides to minus infinity: black.
        fadeOpacity_.store(level >= 0.0 ? float(std::min(level, 1.0)) : 0.0f);
    }
    if (audioPlayer() && soundButton_.state == 1 && !isProcessingTransition())
        volumeChanged();
}

// --- Fade time and icons ------------------------------------------------------------------------------

void KavioVideoItem::setFadetime(float seconds)
{
    const float old = fadetime_.exchange(seconds);
    if (seconds < kCutThreshold && old > kCutThreshold)
        changeToCutIcons();
    else if (seconds > kCutThreshold && old < kCutThreshold)
        changeToFadeIcons();
}

void KavioVideoItem::changeToCutIcons()
{
    showFadeIcons(*this, kKavioCutInImage, kKavioCutOutImage);
}

void KavioVideoItem::changeToFadeIcons()
{
    showFadeIcons(*this, kKavioFadeInImage, kKavioFadeOutImage);
}

void KavioVideoItem::changeDefaultFadeDuration(const Notification& notification)
{
    if (!isUsingDefaultFadeDuration())
        return;
    const QVariant value = notification.userInfo.value(kKavioDefaultFadeDurationKey);
    if (value.isValid())
        setFadetime(value.toFloat());
}

// --- Playhead ----------------------------------------------------------------------------------------

std::int64_t KavioVideoItem::currentPlayhead() const
{
    float position;
    MediaPlayer* player = videoPlayer();
    if (mediaType() == KavioMediaTypeMovie && !isMissing() && normalVideoPlayer_ && player) {
        position = float(player->currentTime().seconds());
        if (playbackRateAsPercent() != 100)
            position = float(position / playbackRate());
    } else {
        position = float(tempCurrentTimeForNonMovies());
    }
    if (std::isnan(position))
        position = 0.0f;
    const auto controller = manager();
    const auto clock = controller ? controller->masterClock() : nullptr;
    return clock ? clock->frameCountSMPTEString(clock->smpteRepresentationOfTime(position)) : 0;
}
