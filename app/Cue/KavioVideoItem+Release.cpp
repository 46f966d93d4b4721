#include "Cue/KavioVideoItem.h"

#include "Audio/AudioAnalyzer.h"
#include "Cue/KavioLiveSourceInterfaces.h"
#include "Cue/KavioPlayerItemVideoOutput.h"
#include "Rendering/KavioMetalTransitionRendererInterface.h"
#include "Views/KavioButton.h"
#include "Views/KavioVideoItemView.h"
#include "Rendering/QVTMetalLayerRendererInterface.h"
#include "DispatchQueue.h"
#include "FileWatch.h"
#include "Log.h"
#include "MediaPlayer.h"
#include "NotificationCenter.h"
#include "QVTOSCManager.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace {

// Replaces whatever the clipboard held by `text`, as plain text only.
void putPlainTextOnClipboard(const QString& text)
{
    auto* data = new QMimeData;
    data->setText(text);
    QGuiApplication::clipboard()->setMimeData(data);
}

}  // namespace

// --- Context actions ------------------------------------------------------------------------------

void KavioVideoItem::cutSelf()
{
    if (const auto controller = manager())
        controller->cutSelectedItems();
}

void KavioVideoItem::copySelf()
{
    if (const auto controller = manager())
        controller->copySelectedItems();
}

void KavioVideoItem::pasteSelf()
{
    if (const auto controller = manager())
        controller->pasteSelectedItems();
}

void KavioVideoItem::duplicateSelf()
{
    if (const auto controller = manager())
        controller->duplicateSelectedItems();
}

void KavioVideoItem::deleteSelf()
{
    if (const auto controller = manager())
        controller->removeSelectedItems();
}

void KavioVideoItem::copyNameToClipboard()
{
    const QString name = displayTitle();
    putPlainTextOnClipboard(name.isEmpty() ? defaultTitle() : name);
}

void KavioVideoItem::copyCueIDToClipboard()
{
    const QString id = cueID();
    putPlainTextOnClipboard(id.isEmpty() ? QString::number(long(index())) : id);
}

void KavioVideoItem::makeSeamlessLoop()
{
    if (isLooping())
        changeLoopToState(false);
    changePauseAtBeginningToState(false);
    changePauseAtEndToState(false);
    validateToggles();
    changeGotoToState(false);
    if (!hasTransition())
        changeTransitionToState(true);
    validateToggles();
    const auto controller = manager();
    const auto self = weak_from_this().lock();
    if (controller && self)
        controller->makeSeamlessLoopOfItem(self);
}

// --- Release ----------------------------------------------------------------------------------------

void KavioVideoItem::removeResources()
{
    pausePlayersWithPreroll(false);
    NotificationCenter::defaultCenter().removeObserver(this);
    QVTOSCManager::sharedManager().oscKitNotificationCenter().removeObserver(this);
    if (cueNameMsg_) {
        cueNameMsg_->setAddress(QStringLiteral("/kavio/%1/deleted").arg(long(index())));
        const auto values = cueNameMsg_->values();
        if (!values.empty())
            values.front()->setValue(cueName_);
        sender_(*cueNameMsg_);
    }
    if (!oscAddressIdentifier_.isEmpty())
        removeOSCAddressSpaceForID(oscAddressIdentifier_);
    oscAddressIdentifier_.clear();

    if (const auto transition = transition_.load()) {
        transition->removeResources();
        transition_.store(nullptr);
    }
    for (auto* renderer : {&metalRenderer_, &metalRendererHelper_})
        if (const auto r = renderer->load()) {
            r->removeResources();
            renderer->store(nullptr);
        }
    // The row outlives the release while the cue waits on the undo stack: its buttons must not
    // answer feedback requests for a cue that left the list.
    if (KavioVideoItemView* row = view())
        for (KavioButton* button : {row->openButton, row->fadeInButton, row->fadeOutButton, row->soundButton,
                                    row->errorButton, row->loopButton, row->gotoButton, row->pauseAtEndButton,
                                    row->pauseAtBeginningButton, row->transitionButton, row->collapseExpandButton})
            if (button)
                button->removeResources();
    setIsReady(false);
    setIsSelected(false);

    releaseLiveSources();

    if (normalVideoPlayer_) {
        normalVideoPlayer_->cancelPendingPrerolls();
        if (timeJumpedPlayer_ == normalVideoPlayer_.get())
            observeTimeJumpsOf(nullptr);
    }
    removeLoopHelper();
    observeTimeJumpsOf(nullptr);
    // The frame sources go on the frame queue, so none goes under a frame being taken; a frame
    // still in use keeps its own copy of the set.
    onPixelBufferQueue([this] {
        setPlayerSet(nullptr, nullptr);
        normalVideoOutput_.reset();
    });
    normalVideoPlayer_.reset();
    loopHelperVideoPlayer_.reset();

    const auto audio = normalAudioPlayer_.load();
    normalAudioPlayer_.store(nullptr);
    if (audio) {
        audio->stop();
        audio->removeResources();
    }
    setAudioPlayer(nullptr);

    // Not through setNextItem(): it would build a new transition renderer for a cue that goes.
    nextItem_.store({});
    prevItem_.store({});
    setManager({});
    setUid(QString());
    stillPixelBuffer_.store(nullptr);
    stopWatcher();
    fileWatch_.reset();
    // A loudness analysis still running is cancelled and kept until it stops (its completion
    // lets it go); a finished one goes with the waveform image.
    audioWaveform_.store(nullptr);
    if (const auto analysis = analyzer_.load(); analysis && !analysis->isReady() && !analysis->hadError())
        analysis->setIsCancelled(true);
    else
        analyzer_.store(nullptr);
    // No feedback leaves the cue any more. The messages themselves stay until the cue goes: a
    // setter called late (a queued OSC value, the inspector) still finds them.
    sender_ = [](const QVTOSCMessage&) {};
}
