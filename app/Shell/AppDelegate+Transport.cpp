// The transport: the play decision, the sync-source switch, the loop and transition toggles,
// the controls' enabled states and the time display.

#include "Shell/AppDelegate.h"

#include "Audio/KavioAudioEngine.h"
#include "Audio/KavioAudioOutputManager.h"
#include "Audio/KavioAudioOutputPanel.h"
#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "QVTOSCManager.h"
#include "Remote/KavioNMCManager.h"
#include "Shell/KavioTimeFeedbackSender.h"
#include "Shell/KavioWindow.h"
#include "Support/KavioButtonInterface.h"
#include "Support/KavioPopUpButtonInterface.h"
#include "Support/KavioTimecodeTextFieldInterface.h"

#include <QAction>

namespace {


// What the network link's play and stop carry: the elapsed time in the current cue, the frame
// rate's and the cue index's low bytes.
struct LinkArguments {
    QString elapsed;
    uint8_t fps = 0;
    uint64_t cue = 0;  // the whole index: the link refuses one its byte cannot carry
};

LinkArguments linkArguments(const KavioVideoItemManager& controller, const KavioVideoItem& current)
{
    return {current.currentTimeSMPTE(), uint8_t(controller.masterClock()->framerate() & 0xff),
            current.index()};
}

void sendTimeMessage(QVTOSCManager& kit, const QString& address, const QString& time)
{
    QVTOSCMessage message(address);
    message.addOSCValue(std::make_shared<QVTOSCValue>(QVTOSCValueTypeString, time));
    kit.sendOSCMessage(message);
}

void setButton(KavioButtonInterface* button, int state)
{
    if (button)
        button->setState(state);
}

void enable(KavioButtonInterface* button, bool enabled)
{
    if (button)
        button->setEnabled(enabled);
}

}  // namespace

void AppDelegate::togglePlay()
{
    if (!DispatchQueue::isMainThread()) {
        DispatchQueue::main().async([weakSelf = weak_from_this()] {
            if (const auto self = weakSelf.lock())
                self->togglePlay();
        });
        return;
    }
    performTogglePlayWithCompletedHandler({});
}

void AppDelegate::performTogglePlayWithCompletedHandler(std::function<void()> handler)
{
    const auto finish = [](std::function<void()> done) {
        if (done)
            DispatchQueue::main().async(std::move(done));
    };
    const auto controller = outlets_.controller;
    KavioButtonInterface* play = outlets_.playButton;
    const auto current = controller ? controller->currentItem() : nullptr;
    if (!current || !play) {
        setButton(play, 0);
        finish(std::move(handler));
        return;
    }
    const std::shared_ptr<QVTClock> clock = controller->masterClock();
    KavioNMCManager& link = clock->networkLink();

    // A click has already flipped the button: its state is what the operator asks for.
    if (play->state() == 1) {
        // Following time code, the button only arms: the source starts the clock.
        if (!clock->isMTCSlave() && !clock->isLTCSlave()) {
            controller->startClock();
            if (!link.isKavioBackup()) {
                const LinkArguments a = linkArguments(*controller, *current);
                link.sendKavioPlay(a.elapsed, a.fps, a.cue);
            }
        }
        finish(std::move(handler));
        return;
    }
    if (controller->playbackMode() != 0) {
        // The show follows its time code source; only a sync-source switch stops it.
        play->setState(1);
        finish(std::move(handler));
        return;
    }
    const std::weak_ptr<KavioVideoItemManager> weakController = controller;
    // The controller's stop handling clears a pending panic before this stop's continuation
    // runs, so the panic is also read now: a panic's stop is not mirrored as a plain stop.
    const bool panic = controller->shouldProcessPanicBehaviour();
    const std::weak_ptr<KavioAudioOutputManager> weakAudio = outlets_.audioOutputManager;
    controller->stopClockWithCompletedHandler([weakController, weakAudio, handler = std::move(handler), finish, panic] {
        // The clock's thread, once stopped: the cues' players have stopped, and what the output
        // stream still holds of them is dropped rather than played out.
        DispatchQueue::main().async([weakAudio] {
            if (const auto audio = weakAudio.lock())
                audio->engine().dropQueuedOutput();
        });
        if (const auto c = weakController.lock()) {
            KavioNMCManager& nmc = c->masterClock()->networkLink();
            const auto item = c->currentItem();
            if (item && !nmc.isKavioBackup() && !panic && !c->shouldProcessPanicBehaviour()) {
                const LinkArguments a = linkArguments(*c, *item);
                nmc.sendKavioStop(a.elapsed, a.fps, a.cue);
            }
        }
        finish(handler);
    });
}

void AppDelegate::toggleSourceMode(QAction* sender)
{
    KLOG_VERBOSE("toggleSourceMode");
    setHasUnsavedChanges(true);
    enable(outlets_.playButton, true);
    const auto controller = outlets_.controller;
    if (!controller)
        return;
    controller->setPlaybackMode(0);
    const std::shared_ptr<QVTClock> clock = controller->masterClock();
    clock->setIsMTCSlave(false);
    clock->setIsLTCSlave(false);
    clock->setIsConnectedToSlave(false);
    clock->setIsInJamSync(false);

    if (controller->isPlaying() && outlets_.playButton) {
        // The show stops on the standalone path first; the new mode follows once it has.
        outlets_.playButton->setState(0);
        performTogglePlayWithCompletedHandler([weakSelf = weak_from_this(), sender] {
            if (const auto self = weakSelf.lock())
                self->enterSourceMode(sender);
        });
        return;
    }
    enterSourceMode(sender);
}

void AppDelegate::enterSourceMode(QAction* sender)
{
    const auto controller = outlets_.controller;
    const int mode = sender == nullptr                    ? -1
                     : sender == outlets_.standaloneSource ? 0
                     : sender == outlets_.mtcSource        ? 1
                     : sender == outlets_.ltcSource        ? 2
                                                           : -1;
    if (mode < 0 || !controller)
        return;
    KavioButtonInterface* play = outlets_.playButton;
    KavioButtonInterface* loop = outlets_.loopButton;
    if (mode != 0 && loop)
        cachedLoopstate_ = loop->state() != 0;
    for (QAction* item : {outlets_.standaloneSource, outlets_.mtcSource, outlets_.ltcSource}) {
        if (!item)
            continue;
        item->setChecked(item == sender);
        if (item != sender)
            item->setEnabled(true);
    }
    const std::shared_ptr<QVTClock> clock = controller->masterClock();
    KavioPopUpButtonInterface* framerate = controller->outlets().frameratePopup;
    if (mode == 0) {
        if (play) {
            play->setImageName(QStringLiteral("kavio_play"));
            play->setToolTip(QStringLiteral("Play"));
            play->setState(0);
        }
        // Setting the state does not run the loop's action.
        setButton(loop, cachedLoopstate_ ? 1 : 0);
        enable(loop, true);
        if (framerate)
            framerate->setEnabled(true);
        controller->validateTransport();
        controller->handleSwitchToStandaloneMode();
        return;
    }
    if (play) {
        play->setImageName(QStringLiteral("kavio_wait"));
        play->setToolTip(QStringLiteral("Armed"));
    }
    setButton(loop, 0);
    enable(loop, false);
    controller->setPlaybackMode(mode);
    clock->setIsConnectedToSlave(false);
    clock->setIsInJamSync(false);
    clock->setIsMTCSlave(mode == 1);
    clock->setIsLTCSlave(mode == 2);
    if (framerate)
        framerate->setEnabled(false);
    controller->handleSwitchToSlaveMode();
    if (play) {
        // A click: the button turns on and asks to play, which in this mode only arms.
        play->setState(0);
        play->setState(1);
        togglePlay();
    }
}

void AppDelegate::toggleLoop()
{
    setHasUnsavedChanges(true);
    if (outlets_.controller && outlets_.loopButton)
        outlets_.controller->shouldLoop(outlets_.loopButton->state() != 0);
}

void AppDelegate::toggleGlobalTransition()
{
    setHasUnsavedChanges(true);
    if (outlets_.controller)
        outlets_.controller->handleGlobalTransitionChanged();
}

void AppDelegate::setMainUIStateAfterPlaybackChanged()
{
    const auto controller = outlets_.controller;
    if (!controller)
        return;
    const std::size_t count = controller->items()->size();
    KavioTimecodeTextFieldInterface* field = outlets_.mainTimecodeField;
    const auto setSteps = [this](bool next, bool previous, bool rewind, bool forward) {
        enable(outlets_.nextItemButton, next);
        enable(outlets_.prevItemButton, previous);
        enable(outlets_.rewindButton, rewind);
        enable(outlets_.fastforwardButton, forward);
    };
    if (controller->isPlayheadMarkerDragging()) {
        setSteps(false, false, false, false);
        return;
    }
    const bool playing = outlets_.playButton && outlets_.playButton->state() != 0;
    if (playing) {
        if (controller->playbackMode() != 0)
            setSteps(false, false, false, false);
        else
            setSteps(count >= 2, true, true, true);
        if (field)
            field->setEditable(false);
        if (outlets_.window)
            outlets_.window->disableUndo();
        return;
    }
    setSteps(count >= 2, count > 0, count > 0, count > 0);
    if (field)
        field->setEditable(count > 0);
    if (outlets_.window)
        outlets_.window->enableUndo();
}

void AppDelegate::displayTimeIfNeeded(const QString& smpte)
{
    // The clock thread, every frame: only the field's thread-safe text and a raised flag.
    KavioTimecodeTextFieldInterface* field = outlets_.mainTimecodeField;
    if (smpte.isNull() || !field || field->threadsafeTimecodeEquals(smpte))
        return;
    field->setThreadsafeTimecode(smpte);
    timeFeedback_->requestSend();
}

std::shared_ptr<KavioTimeFeedbackSender> AppDelegate::makeTimeFeedbackSender(AppDelegate* app)
{
    return std::make_shared<KavioTimeFeedbackSender>([app] { app->sendTimeRelatedOSCFeedback(); });
}

void AppDelegate::sendTimeRelatedOSCFeedback()
{
    const auto controller = outlets_.controller;
    if (!controller)
        return;
    sendTimeMessage(oscKit(), QStringLiteral("/kavio/time"), controller->masterClock()->clockSMPTETime());
    // While a follow-on is armed, the time left is the next cue's.
    sendTimeMessage(oscKit(), QStringLiteral("/kavio/cueTimeLeft"), controller->smpteTimeLeftOnCurrentItem());
    sendTimeMessage(oscKit(), QStringLiteral("/kavio/cueTimeElapsed"), controller->smpteTimeElapsedOnCurrentItem());
}

void AppDelegate::toggleSourceMode(std::int64_t playbackMode)
{
    QAction* const modes[] = {outlets_.standaloneSource, outlets_.mtcSource, outlets_.ltcSource};
    if (playbackMode >= 0 && playbackMode < 3 && modes[playbackMode])
        toggleSourceMode(modes[playbackMode]);
}
