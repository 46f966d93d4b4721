#include "Audio/KavioWaveformManager.h"

#include "Cue/KavioVideoItem.h"
#include "DispatchQueue.h"
#include "NotificationCenter.h"

#include <QImage>

namespace {

// Runs `step` now on the main thread, else queued there while the manager lives.
void onMain(const std::weak_ptr<KavioWaveformManager>& weak, void (KavioWaveformManager::*step)())
{
    auto run = [weak, step] {
        if (const auto manager = weak.lock())
            (manager.get()->*step)();
    };
    if (DispatchQueue::isMainThread())
        run();
    else
        DispatchQueue::main().async(run);
}

}  // namespace

KavioWaveformManager::KavioWaveformManager() : waveformQeue_(std::make_unique<DispatchQueue>("com.kavio.waveformQeue"))
{
}

KavioWaveformManager::~KavioWaveformManager()
{
    NotificationCenter::defaultCenter().removeObserver(this);
}

void KavioWaveformManager::awakeFromNib()
{
    waveformsinprogress_ = 0;
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.removeObserver(this);
    const std::weak_ptr<KavioWaveformManager> weak = weak_from_this();
    const std::pair<QString, void (KavioWaveformManager::*)()> follows[] = {
        {KavioWaveformNotification::DidStart, &KavioWaveformManager::increaseCount},
        {KavioWaveformNotification::DidEnd, &KavioWaveformManager::decreaseCount},
        {kKavioRefreshWaveformViewNotification, &KavioWaveformManager::refreshWaveformView},
        {KavioWaveformNotification::PlaybackStateChanged, &KavioWaveformManager::handlePlaybackStateChange},
    };
    for (const auto& [name, step] : follows)
        // Captured by copy under a name of its own: clang 14 (the fuzz build) cannot capture a
        // structured binding.
        center.addObserver(this, name, nullptr, [weak, step = step](const Notification&) { onMain(weak, step); });
}

void KavioWaveformManager::increaseCount()
{
    if (++waveformsinprogress_ == 1)
        if (const auto indicator = progressIndicator_.lock())
            indicator->startAnimation();
}

void KavioWaveformManager::decreaseCount()
{
    if (--waveformsinprogress_ == 0)
        if (const auto indicator = progressIndicator_.lock())
            indicator->stopAnimation();
}

void KavioWaveformManager::redrawMinMaxOnWaveformWithMin(double min, double max)
{
    const auto view = waveformView_.lock();
    if (!view || view->isHidden())
        return;
    view->setDisplayMin(float(min));
    view->setDisplayMax(float(max));
    view->redraw();
}

void KavioWaveformManager::resetWaveformView()
{
    const auto view = waveformView_.lock();
    if (!view)
        return;
    view->setIsBuilding(false);
    view->setImage(nullptr);
    view->setShowsWarning(false);
    view->setChannels(1);
    view->redraw();
}

void KavioWaveformManager::refreshWaveformView()
{
    const auto view = waveformView_.lock();
    if (!view)
        return;
    const auto item = currentItem();
    if (!item) {
        view->setIsBuilding(false);
        view->setShowsWarning(false);
        view->setImage(nullptr);
    } else {
        if (item->hasVideoError() || item->hasAudioError()) {
            view->setShowsWarning(true);
            view->setWarningText(item->hasVideoError() ? kUnreadableText : kBadSectionsText);
            view->setWarningType(kWarningFile);
        } else {
            view->setShowsWarning(false);
        }
        view->setIsBuilding(item->isBuildingAudioWaveform());
        view->setImage(item->audioWaveform());
        view->setChannels(item->audioChannels());
    }
    handlePlaybackStateChange();
    view->redraw();
}

void KavioWaveformManager::handlePlaybackStateChange()
{
    const auto view = waveformView_.lock();
    const auto item = currentItem();
    if (!view || !item || item->mediaType() != KavioMediaTypeNDI)
        return;
    if (item->isPlaying()) {
        view->setShowsWarning(false);
    } else {
        view->setWarningText(kPausedLiveText);
        view->setShowsWarning(true);
        view->setWarningType(kWarningPausedLive);
    }
    view->redraw();
}
