#include "Controller/KavioVideoItemManager.h"

#include "Clock/QVTClock.h"
#include "Controller/QVTTimelineMarkerControllerInterface.h"
#include "Cue/KavioVideoItem.h"
#include "Shell/AppDelegateInterface.h"
#include "Support/KavioButtonInterface.h"
#include "Support/KavioPopUpButtonInterface.h"
#include "Support/KavioTextFieldInterface.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "UndoManager.h"
#include "UserDefaults.h"

#include <QRegularExpression>
#include <algorithm>

// The playlist settings: start time, frame rate, default fade and transition; and the transport
// controls' states.

namespace {

// A duration popup's title read as seconds; a title that is not a number gives 0.
float secondsOfTitle(const KavioPopUpButtonInterface* popup)
{
    return popup ? popup->titleOfSelectedItem().toFloat() : 0.0f;
}

}  // namespace

void KavioVideoItemManager::registerPreferencesUndo(std::function<void(KavioVideoItemManager&)> undo, const QString& name)
{
    const auto app = delegate();
    UndoManager* manager = app ? app->preferencesUndoManager() : nullptr;
    if (!manager)
        return;
    manager->registerUndo(this, [weakSelf = weak_from_this(), undo = std::move(undo)] {
        if (const auto self = weakSelf.lock())
            undo(*self);
    });
    manager->setActionName(name);
}

void KavioVideoItemManager::editPlaylistSettings()
{
    // The clock may have changed since the pane last showed it (a project, a followed source).
    refreshStartTimeAndFPS();
    if (const auto app = delegate())
        app->showPlaylistPreferences();
}

void KavioVideoItemManager::refreshStartTimeAndFPS()
{
    if (outlets_.frameratePopup)
        outlets_.frameratePopup->selectItemWithTag(masterClock_->smpteFormat());
    if (outlets_.startTimeField)
        outlets_.startTimeField->setStringValue(masterClock_->smpteRepresentationOfTime(masterClock_->clockOffset()));
}

// --- Start time -------------------------------------------------------------------------------------

void KavioVideoItemManager::changeStartTime()
{
    KavioTextFieldInterface* field = outlets_.startTimeField;
    if (!field)
        return;
    static const QRegularExpression timecode(QStringLiteral("^[0-9]+(:[0-9]+)*$"));
    const QString text = field->stringValue().trimmed();
    if (!timecode.match(text).hasMatch()) {
        // An empty field (the pane before any start time was entered) just shows the offset.
        if (!text.isEmpty())
            KLOG_WARN("\"{}\" is no timecode; the playlist start stays where it is", text.toStdString());
        field->setStringValue(masterClock_->smpteRepresentationOfTime(masterClock_->clockOffset()));
    } else {
        undoApplyStartTime(text);
    }
    if (const auto app = delegate(); app && app->isPreferencesWindowVisible())
        app->endPreferencesEditing();
}

void KavioVideoItemManager::undoApplyStartTime(const QString& smpte)
{
    const QString oldText = masterClock_->smpteRepresentationOfTime(masterClock_->clockOffset());
    masterClock_->setClockOffset(masterClock_->secondsForSMPTEString(smpte));
    const QString newText = masterClock_->smpteRepresentationOfTime(masterClock_->clockOffset());
    KLOG_INFO("clock offset: {} newtime: {}", oldText.toStdString(), newText.toStdString());
    if (oldText == newText)
        return;
    if (outlets_.startTimeField)
        outlets_.startTimeField->setStringValue(newText);
    rewind();
    // An empty list has no times; its update would also switch the loop button off, which
    // the playlist defaults have just set.
    if (!items()->empty())
        handleItemTimesUpdated();
    registerPreferencesUndo([oldText](KavioVideoItemManager& self) { self.undoApplyStartTime(oldText); },
                            QStringLiteral("Change Playlist Start Time"));
    defaults_.setString(newText, QStringLiteral("defaultPlaylistStartTime"));
    defaults_.synchronize();
}

// --- Frame rate -------------------------------------------------------------------------------------

void KavioVideoItemManager::changeFramerate()
{
    if (!outlets_.frameratePopup)
        return;
    undoApplyFramerate(std::int32_t(std::clamp<long>(outlets_.frameratePopup->selectedTag(), 0, 3)));
}

void KavioVideoItemManager::undoApplyFramerate(std::int32_t format)
{
    const std::int32_t old = masterClock_->smpteFormat();
    const bool wasRunning = masterClock_->isRunning();
    const auto app = delegate();
    KavioButtonInterface* play = app ? app->playButton() : nullptr;

    // The conversion runs once playback has stopped: the clock thread must not tick on a
    // timeline whose frames are being recounted.
    const auto convert = [weakSelf = weak_from_this(), format, wasRunning] {
        const auto self = weakSelf.lock();
        if (!self)
            return;
        if (format != self->masterClock_->smpteFormat()) {
            self->convertFramerateTo(format);
            // The cues' start and end texts are frame counts: they are recounted at the new rate.
            if (!self->items()->empty())
                self->handleItemTimesUpdated();
        }
        self->rewind();
        if (wasRunning)
            self->startPlayback();
    };
    if (play && play->state() != 0)
        stopPlaybackWithCompletedHandler(convert);
    else
        convert();

    registerPreferencesUndo([old](KavioVideoItemManager& self) { self.undoApplyFramerate(old); },
                            QStringLiteral("Change Playlist Frame rate"));
    if (outlets_.frameratePopup) {
        outlets_.frameratePopup->selectItemWithTag(format);
        defaults_.setString(outlets_.frameratePopup->titleOfSelectedItem(), QStringLiteral("defaultFrameRate"));
        defaults_.synchronize();
    }
}

// --- Default fade and transition ----------------------------------------------------------------------

void KavioVideoItemManager::changeDefaultFadeDuration()
{
    KavioPopUpButtonInterface* popup = outlets_.defaultFadeDurationPopup;
    if (!popup)
        return;
    NotificationCenter::defaultCenter().post(kKavioDefaultFadeDurationChangedNotification, this,
                                             {{kKavioDefaultFadeDurationKey, secondsOfTitle(popup)}});
    defaults_.setString(popup->titleOfSelectedItem(), QStringLiteral("defaultFadeDuration"));
    defaults_.synchronize();
}

void KavioVideoItemManager::changeDefaultTransition()
{
    if (!outlets_.defaultTransitionPopup)
        return;
    defaults_.setInteger(outlets_.defaultTransitionPopup->selectedTag(), QStringLiteral("defaultTransitionType"));
    defaults_.synchronize();
}

void KavioVideoItemManager::changeDefaultTransitionDuration()
{
    KavioPopUpButtonInterface* popup = outlets_.defaultTransitionDurationPopup;
    if (!popup)
        return;
    const float seconds = secondsOfTitle(popup);
    setDefaultTransitionDuration(seconds);
    NotificationCenter::defaultCenter().post(kKavioDefaultTransitionDurationChangedNotification, this,
                                             {{kKavioDefaultTransitionDurationKey, seconds}});
    defaults_.setString(popup->titleOfSelectedItem(), QStringLiteral("defaultTransitionDuration"));
    defaults_.synchronize();
}

// --- Transport controls ---------------------------------------------------------------------------------

void KavioVideoItemManager::validateTransport()
{
    if (isLoadingProject())
        return;
    if (!DispatchQueue::isMainThread()) {
        DispatchQueue::main().sync([weakSelf = weak_from_this()] {
            if (const auto self = weakSelf.lock())
                self->validateTransport();
        });
        return;
    }
    const auto list = items();
    KLOG_VERBOSE("validateTransport, items: {}", list->size());
    const auto app = delegate();
    const auto current = currentItem();
    KavioTransportState state;
    state.itemCount = list->size();
    state.markerDragging = isPlayheadMarkerDragging();
    KavioButtonInterface* play = app ? app->playButton() : nullptr;
    state.playButtonOn = play && play->state() != 0;
    state.hasCurrent = current != nullptr;
    state.currentDuration = current ? current->itemDuration() : 0.0f;
    const KavioTransportControls c = transportControlsForState(state);

    const auto apply = [](KavioButtonInterface* button, const std::optional<bool>& enabled) {
        if (button && enabled)
            button->setEnabled(*enabled);
    };
    apply(outlets_.goto10Button, c.goto10);
    apply(outlets_.goto20Button, c.goto20);
    apply(outlets_.goto30Button, c.goto30);
    if (c.stopPlayback && play) {
        play->setState(0);
        app->togglePlay();
    }
    KavioButtonInterface* const row[] = {play,
                                         app ? app->loopButton() : nullptr,
                                         app ? app->rewindButton() : nullptr,
                                         app ? app->fastforwardButton() : nullptr,
                                         app ? app->prevItemButton() : nullptr,
                                         app ? app->nextItemButton() : nullptr};
    if (c.switchButtonsOff)
        for (KavioButtonInterface* button : row)
            if (button)
                button->setState(0);
    apply(row[0], c.play);
    apply(row[1], c.loop);
    apply(row[2], c.rewind);
    apply(row[3], c.fastForward);
    apply(row[4], c.previous);
    apply(row[5], c.next);
    apply(app ? app->globalTransitionButton() : nullptr, c.globalTransition);
    apply(outlets_.masterButton, c.masterButton);
    if (app && c.timecodeField)
        app->setMainTimecodeFieldEnabled(*c.timecodeField);
    if (const auto marker = outlets_.markerController.lock(); marker && c.marker)
        marker->setEnabled(*c.marker);
}
