// OSC remote control: the program's OSC input and feedback output, the global commands under
// "/kavio/", the hand-over of cue-addressed messages to the cues, and the global addresses in
// the OSC-query server.

#include "Shell/AppDelegate.h"

#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "Controller/QVTTimelineMarkerControllerInterface.h"
#include "Cue/KavioVideoItem.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "Outputs/KavioVideoOutputManager.h"
#include "QVTOSCManager.h"
#include "Remote/KavioATEMManager.h"
#include "Remote/KavioOSCArgument.h"
#include "Remote/KavioOSCCueAddressing.h"
#include "Remote/KavioOSCQueryServer.h"
#include "Support/KavioAlert.h"
#include "Support/KavioButtonInterface.h"
#include "Support/KavioPopUpButtonInterface.h"
#include "Support/KavioSliderInterface.h"
#include "Support/KavioTextFieldInterface.h"

#include <QApplication>

#include <cmath>

namespace {

const QString kKavioOSCName = QStringLiteral("Kavio");
constexpr int kKavioOSCPort = 51000;
const QString kDisabled = QStringLiteral("Disabled");
const QString kCustom = QStringLiteral("Custom");
constexpr int kFixedTargetItems = 3;

// What a global command needs of the first argument before it runs.
enum class Needs {
    Nothing,  // the argument is ignored
    Gate,     // an argument that reads as 0 stops the command; one that does not read stops it too
    State,    // none: toggle; present: the state to set (0 or 1)
    Text,     // type 3 with a text value
    AnyText,  // a text value, whatever the type code says
    Index,    // type 2, not 0
    Number,   // a finite number
};

struct GlobalCommand {
    const char* address;
    Needs needs;
    bool refusedAsSlave;
    void (*run)(AppDelegate& app, KavioVideoItemManager& controller, const KavioOSCArgument& argument);
};

// The wanted state of a toggle command: nothing without argument (flip), else 0 or 1.
std::optional<int> wantedState(const KavioOSCArgument& argument)
{
    const auto n = argument.integer();
    return n ? std::optional<int>(*n != 0 ? 1 : 0) : std::nullopt;
}

// "…On" / "…Off" of a main-window switch: nothing while it is disabled or already there.
template <typename Action>
void switchButton(KavioButtonInterface* button, int wanted, Action action)
{
    if (!button || !button->isEnabled() || button->state() == wanted)
        return;
    button->setStateByOSC(wanted);
    action();
}

// The toggle command of a switch: without argument it flips (enabled or not); with one it sets
// that state unless the switch is disabled or already there.
template <typename Action>
void toggleButton(KavioButtonInterface* button, const KavioOSCArgument& argument, Action action)
{
    if (!button)
        return;
    if (!argument.isPresent()) {
        button->setStateByOSC(button->state() == 0 ? 1 : 0);
        action();
        return;
    }
    switchButton(button, *wantedState(argument), action);
}

// The video outputs on (1) or off (0); nothing when they already are.
void switchOutputs(AppDelegate& app, std::optional<int> wanted)
{
    const auto outputs = app.outlets().videoOutputManager.lock();
    if (!outputs || (wanted && int(outputs->shouldOutput()) == *wanted))
        return;
    outputs->toggleFullscreen();
}

void toggleOutputs(AppDelegate& app, const KavioOSCArgument& argument)
{
    switchOutputs(app, argument.isPresent() ? wantedState(argument) : std::nullopt);
}

bool isEnabled(KavioButtonInterface* button) { return button && button->isEnabled(); }

using C = KavioVideoItemManager;
using A = KavioOSCArgument;

// Every global command, by its exact address.
const GlobalCommand kGlobalCommands[] = {
    {"/kavio/ping", Needs::Nothing, false, [](AppDelegate&, C& c, const A&) { c.sendPongOSCFeedback(); }},
    {"/kavio/rewind", Needs::Nothing, false, [](AppDelegate&, C& c, const A&) { c.rewindCurrentItem(); }},
    {"/kavio/panic", Needs::Nothing, false, [](AppDelegate&, C& c, const A&) { c.doPanic(); }},
    {"/kavio/autoFade", Needs::Nothing, false, [](AppDelegate&, C& c, const A&) { c.doFade(); }},
    {"/kavio/play", Needs::Nothing, false,
     [](AppDelegate& a, C&, const A&) { switchButton(a.playButton(), 1, [&a] { a.togglePlay(); }); }},
    {"/kavio/resume", Needs::Nothing, false,
     [](AppDelegate& a, C&, const A&) { switchButton(a.playButton(), 1, [&a] { a.togglePlay(); }); }},
    {"/kavio/stop", Needs::Nothing, false,
     [](AppDelegate& a, C&, const A&) { switchButton(a.playButton(), 0, [&a] { a.togglePlay(); }); }},
    {"/kavio/pause", Needs::Nothing, false,
     [](AppDelegate& a, C&, const A&) { switchButton(a.playButton(), 0, [&a] { a.togglePlay(); }); }},
    {"/kavio/togglePlay", Needs::State, false,
     [](AppDelegate& a, C&, const A& arg) { toggleButton(a.playButton(), arg, [&a] { a.togglePlay(); }); }},
    {"/kavio/togglePause", Needs::State, false,
     [](AppDelegate& a, C&, const A& arg) { toggleButton(a.playButton(), arg, [&a] { a.togglePlay(); }); }},
    {"/kavio/locateCurrentCue", Needs::AnyText, false,
     [](AppDelegate&, C& c, const A& arg) {
         if (!c.isPlaying() && c.currentItem())
             c.seekToSMPTETimeOnCurrentItem(*arg.text());
     }},
    {"/kavio/loopOn", Needs::Nothing, false,
     [](AppDelegate& a, C&, const A&) { switchButton(a.loopButton(), 1, [&a] { a.toggleLoop(); }); }},
    {"/kavio/loopOff", Needs::Nothing, false,
     [](AppDelegate& a, C&, const A&) { switchButton(a.loopButton(), 0, [&a] { a.toggleLoop(); }); }},
    {"/kavio/toggleLoop", Needs::State, false,
     [](AppDelegate& a, C&, const A& arg) { toggleButton(a.loopButton(), arg, [&a] { a.toggleLoop(); }); }},
    {"/kavio/videoOutputsOn", Needs::Nothing, false, [](AppDelegate& a, C&, const A&) { switchOutputs(a, 1); }},
    {"/kavio/videoOutputsOff", Needs::Nothing, false, [](AppDelegate& a, C&, const A&) { switchOutputs(a, 0); }},
    {"/kavio/toggleVideoOutputs", Needs::State, false, [](AppDelegate& a, C&, const A& arg) { toggleOutputs(a, arg); }},
    {"/kavio/triggerPrevCue", Needs::Gate, true, [](AppDelegate&, C& c, const A&) { c.jumpToPrevItem(); }},
    {"/kavio/jumpToPrevCue", Needs::Gate, true, [](AppDelegate&, C& c, const A&) { c.jumpToPrevItem(); }},
    {"/kavio/triggerNextCue", Needs::Gate, true, [](AppDelegate&, C& c, const A&) { c.jumpToNextItem(); }},
    {"/kavio/jumpToNextCue", Needs::Gate, true, [](AppDelegate&, C& c, const A&) { c.jumpToNextItem(); }},
    {"/kavio/jumpToCueWithName", Needs::Text, true,
     [](AppDelegate&, C& c, const A& arg) { c.jumpToItemWithName(*arg.text()); }},
    {"/kavio/playCueAtIndex", Needs::Index, true,
     [](AppDelegate&, C& c, const A& arg) { c.jumpToAndPlayItemAtIndex(std::uint64_t(*arg.integer())); }},
    {"/kavio/playCueWithName", Needs::Text, true,
     [](AppDelegate&, C& c, const A& arg) { c.jumpToAndPlayItemWithName(*arg.text()); }},
    {"/kavio/playCueWithCueID", Needs::Text, true,
     [](AppDelegate&, C& c, const A& arg) { c.jumpToAndPlayItemWithCueID(*arg.text()); }},
    {"/kavio/locate", Needs::Text, false,
     [](AppDelegate&, C& c, const A& arg) {
         c.locateClockToTime(c.masterClock()->secondsForSMPTEString(*arg.text()), {});
     }},
    {"/kavio/playhead", Needs::Number, false,
     [](AppDelegate&, C& c, const A& arg) {
         if (const auto marker = c.outlets().markerController.lock())
             marker->setMarkerTimeByOSC(float(*arg.number()));
     }},
    // Marks the project changed even when the value stays: the fader was touched.
    {"/kavio/mainFader", Needs::Number, false,
     [](AppDelegate& a, C& c, const A& arg) {
         a.setHasUnsavedChanges(true);
         if (KavioSliderInterface* fader = c.outlets().masterSlider) {
             fader->setDoubleValue(std::clamp(*arg.number(), 0.0, 1.0));
             c.masterSliderChanged();
         }
     }},
    {"/kavio/goto10", Needs::Gate, true,
     [](AppDelegate&, C& c, const A&) {
         if (isEnabled(c.outlets().goto10Button))
             c.performGoto10();
     }},
    {"/kavio/goto20", Needs::Gate, true,
     [](AppDelegate&, C& c, const A&) {
         if (isEnabled(c.outlets().goto20Button))
             c.performGoto20();
     }},
    {"/kavio/goto30", Needs::Gate, true,
     [](AppDelegate&, C& c, const A&) {
         if (isEnabled(c.outlets().goto30Button))
             c.performGoto30();
     }},
    {"/kavio/playSelectedCue", Needs::Gate, true,
     [](AppDelegate&, C& c, const A&) {
         if (c.isJumpToSelectedItemEnabled())
             c.jumpToAndPlaySelectedItem();
     }},
    {"/kavio/jumpToSelectedCue", Needs::Gate, true,
     [](AppDelegate&, C& c, const A&) {
         if (c.isJumpToSelectedItemEnabled())
             c.jumpToSelectedItem();
     }},
    {"/kavio/selectNextCue", Needs::Gate, true, [](AppDelegate&, C& c, const A&) { c.selectNextCue(); }},
    {"/kavio/selectPrevCue", Needs::Gate, true, [](AppDelegate&, C& c, const A&) { c.selectPreviousCue(); }},
    {"/kavio/selectCurrentCue", Needs::Gate, true, [](AppDelegate&, C& c, const A&) { c.selectCurrentItem(); }},
    {"/kavio/fullscreenOn", Needs::Gate, false, [](AppDelegate& a, C&, const A&) { switchOutputs(a, 1); }},
    {"/kavio/fullscreenOff", Needs::Gate, false, [](AppDelegate& a, C&, const A&) { switchOutputs(a, 0); }},
    {"/kavio/toggleFullscreen", Needs::State, false, [](AppDelegate& a, C&, const A& arg) { toggleOutputs(a, arg); }},
    {"/kavio/transitionOnPlayOn", Needs::Nothing, false,
     [](AppDelegate& a, C&, const A&) { switchButton(a.globalTransitionButton(), 1, [] {}); }},
    {"/kavio/transitionOnPlayOff", Needs::Nothing, false,
     [](AppDelegate& a, C&, const A&) { switchButton(a.globalTransitionButton(), 0, [] {}); }},
    {"/kavio/toggleTransitionOnPlay", Needs::State, false,
     [](AppDelegate& a, C&, const A& arg) { toggleButton(a.globalTransitionButton(), arg, [] {}); }},
    {"/kavio/resendOSCFeedback", Needs::Nothing, false, [](AppDelegate& a, C&, const A&) { a.resendAllOSCFeedback(); }},
};

// Whether the argument lets the command run.
bool argumentAllows(Needs needs, const KavioOSCArgument& argument)
{
    switch (needs) {
    case Needs::Nothing:
        return true;
    case Needs::Gate:
        return !argument.isPresent() || argument.integer().value_or(0) != 0;
    case Needs::State:
        return !argument.isPresent() || argument.integer().has_value();
    case Needs::Text:
        return argument.type() == QVTOSCValueTypeString && argument.text().has_value();
    case Needs::AnyText:
        return argument.text().has_value();
    case Needs::Index:
        return argument.type() == QVTOSCValueTypeInteger && argument.integer().value_or(0) > 0;
    case Needs::Number:
        return argument.number().has_value();
    }
    return false;
}

// The global addresses as the query server lists them, in registration order.
struct GlobalAddress {
    const char* address;
    const char* type;
    bool hasRange;
    double min, max;
    const char* help;
};

const GlobalAddress kGlobalAddresses[] = {
    {"/kavio/resume", "N", false, 0, 0, "Resumes playback of the Current Cue if not already playing."},
    {"/kavio/pause", "N", false, 0, 0, "Pauses playback of the Current Cue if not already paused."},
    {"/kavio/togglePause", "N", false, 0, 0, "Toggles playback of the Current Cue."},
    {"/kavio/locateCurrentCue", "s", false, 0, 0, "Locates the current Cue to the given SMPTE time."},
    {"/kavio/loopOn", "N", false, 0, 0, "Turns on Playlist Looping."},
    {"/kavio/loopOff", "N", false, 0, 0, "Turns off Playlist Looping"},
    {"/kavio/toggleLoop", "N", false, 0, 0, "Toggles Playlist Looping."},
    {"/kavio/videoOutputsOn", "N", false, 0, 0, "Activates Video Outputs."},
    {"/kavio/videoOutputsOff", "N", false, 0, 0, "Deactivates Video Outputs."},
    {"/kavio/toggleVideoOutputs", "N", false, 0, 0, "Toggles Video Outputs."},
    {"/kavio/mainFader", "f", true, 0.0, 1.0, "Controls the Main Fader."},
    {"/kavio/playhead", "f", true, 0.0, 1.0, "Sets the playhead of the current Cue."},
    {"/kavio/jumpToPrevCue", "N", false, 0, 0, "Jumps to the previous Cue."},
    {"/kavio/jumpToNextCue", "N", false, 0, 0, "Jumps to the next Cue."},
    {"/kavio/jumpToCueWithName", "s", false, 0, 0, "Jumps to the first Cue with the same name as in the parameter."},
    {"/kavio/playCueAtIndex", "i", true, 1, 999, "Plays the Cue with index specified in the parameter."},
    {"/kavio/playCueWithName", "s", false, 0, 0, "Plays the Cue with name specified in the parameter."},
    {"/kavio/locate", "s", false, 0, 0, "Locates to the timecode or seconds specified in the parameter."},
    {"/kavio/panic", "N", false, 0, 0, "Triggers the Panic mode."},
    {"/kavio/ping", "N", false, 0, 0, "Kavio responds with a /kavio/pong OSC feedback message."},
    {"/kavio/rewind", "N", false, 0, 0, "Rewinds the Current Cue."},
    {"/kavio/goto10", "N", false, 0, 0, "Jumps to the last 10 seconds of the Current Cue."},
    {"/kavio/goto20", "N", false, 0, 0, "Jumps to the last 20 seconds of the Current Cue."},
    {"/kavio/goto30", "N", false, 0, 0, "Jumps to the last 30 seconds of the Current Cue."},
    {"/kavio/selectNextCue", "N", false, 0, 0, "Selects the next Cue."},
    {"/kavio/selectPrevCue", "N", false, 0, 0, "Selects the previous Cue."},
    {"/kavio/playSelectedCue", "N", false, 0, 0, "Plays the selected Cue."},
    {"/kavio/selectCurrentCue", "N", false, 0, 0, "Selects the Current Cue."},
    {"/kavio/fullscreenOn", "N", false, 0, 0, "Turns fullscreen Video Output on."},
    {"/kavio/fullscreenOff", "N", false, 0, 0, "Turns fullscreen Video Output off."},
    {"/kavio/toggleFullscreen", "N", false, 0, 0, "Toggles the fullscreen Video Output."},
    {"/kavio/transitionOnPlayOn", "N", false, 0, 0, "Turns Transition on Play on."},
    {"/kavio/transitionOnPlayOff", "N", false, 0, 0, "Turns Transition on Play off."},
    {"/kavio/toggleTransitionOnPlay", "N", false, 0, 0, "Toggles Transition on Play."},
    {"/kavio/jumpToSelectedCue", "N", false, 0, 0, "Jumps to the selected Cue."},
    {"/kavio/resendOSCFeedback", "N", false, 0, 0, "Resends all OSC Feedback messages."},
};

// The state of the list the role prefixes are resolved against, read without a lock.
KavioOSCCueListState cueListState(const KavioVideoItemManager& controller)
{
    KavioOSCCueListState state;
    const auto items = controller.items();
    state.count = items ? items->size() : 0;
    if (const auto current = controller.currentItem())
        state.currentIndex = current->index();
    if (items)
        for (const auto& item : *items)
            if (item->isSelected())
                state.selectedIndexes.push_back(item->index());
    return state;
}

}  // namespace

QVTOSCManager& AppDelegate::oscKit() const
{
    return outlets_.oscKit ? *outlets_.oscKit : QVTOSCManager::sharedManager();
}

void AppDelegate::oscSettingsChanged()
{
    QVTOSCManager& kit = oscKit();
    NotificationCenter& center = kit.oscKitNotificationCenter();
    const std::weak_ptr<AppDelegate> weakSelf = weak_from_this();
    center.removeObserver(this);
    center.addObserver(this, kQVTOSCDetectedClientsChangedNotification, nullptr, [weakSelf](const Notification&) {
        DispatchQueue::main().async([weakSelf] {
            if (const auto self = weakSelf.lock())
                self->oscClientsDetected();
        });
    });
    kit.removeInputWithName(kKavioOSCName);
    kit.removeOutputWithName(kKavioOSCName);
    removeDefaultOSCAddresses();
    if (!outlets_.oscEnableButton || outlets_.oscEnableButton->state() != 1)
        return;

    center.addObserver(this, kQVTOSCReceivedNotification, nullptr, [weakSelf](const Notification& n) {
        if (const auto self = weakSelf.lock())
            self->receivedOSC(n.userInfo);
    });
    if (!kit.createInputWithName(kKavioOSCName, kKavioOSCPort)) {
        KLOG_VERBOSE("cannot create OSC Input...");
        KavioAlertSpec alert;
        alert.messageText = QStringLiteral("Cannot create OSC Input port :(");
        alert.informativeText = QStringLiteral(
            "Kavio was not able to open UDP port 51000 for listening OSC messages. \r\nProbably an other "
            "application already using that port, or your firewall might blocking it.");
        KavioAlert::runModal(alert);
    } else {
        // OSC-query clients send to the port the server names, which is the input's.
        KavioOSCQueryServer::sharedServer().setOSCPort(kit.portOfInputWithName(kKavioOSCName));
    }
    addDefaultOSCAddresses();
}

void AppDelegate::oscEnableButtonChanged()
{
    oscSettingsChanged();
    // Switched on, the program sends feedback to the chosen target at once.
    if (outlets_.oscEnableButton && outlets_.oscEnableButton->state() == 1)
        oscFeedbackTargetSettingsChanged();
}

void AppDelegate::receivedOSC(const QVariantMap& userInfo)
{
    const auto controller = outlets_.controller;
    if (!controller || controller->isLoadingProject())
        return;
    const QString address = userInfo.value(kQVTOSCAddressKey).toString();
    if (address.isEmpty())
        return;
    if (address.count(QLatin1Char('/')) < 3) {
        // The commands test and move widgets: one main-thread step per message, in order.
        DispatchQueue::main().async([weakSelf = weak_from_this(), address, userInfo] {
            if (const auto self = weakSelf.lock())
                self->runGlobalOSCCommand(address, userInfo);
        });
        return;
    }
    NotificationCenter& center = oscKit().oscKitNotificationCenter();
    if (!kavioAddressHasCueRole(address)) {
        center.post(address, nullptr, userInfo);
        return;
    }
    for (const QString& cueAddress : kavioRewrittenCueAddresses(address, cueListState(*controller)))
        center.post(cueAddress, nullptr, userInfo);
}

void AppDelegate::runGlobalOSCCommand(const QString& address, const QVariantMap& userInfo)
{
    const auto controller = outlets_.controller;
    if (!controller || controller->isLoadingProject())
        return;
    const QByteArray name = address.toUtf8();
    for (const GlobalCommand& command : kGlobalCommands) {
        if (name != command.address)
            continue;
        const KavioOSCArgument argument(userInfo);
        if (!argumentAllows(command.needs, argument))
            return;
        if (command.refusedAsSlave) {
            const auto clock = controller->masterClock();
            if (clock && (clock->isMTCSlave() || clock->isLTCSlave()))
                return;
        }
        command.run(*this, *controller, argument);
        return;
    }
}

void AppDelegate::oscClientsDetected()
{
    KavioPopUpButtonInterface* popup = outlets_.oscFeedbackTargetPopup;
    if (!popup)
        return;
    const QString selected = popup->titleOfSelectedItem();
    while (popup->numberOfItems() > kFixedTargetItems)
        popup->removeItemAtIndex(popup->numberOfItems() - 1);
    oscClients_.clear();
    for (const QVariant& entry : oscKit().listOfDetectedOSCClients()) {
        const QVariantList record = entry.toList();
        if (record.size() < 4)
            continue;
        const QString title = record.at(1).toString();
        if (title.contains(QStringLiteral("Kavio:51000")))
            continue;
        // A title appears once; its last record wins.
        if (oscClients_.find(title) == oscClients_.end())
            popup->addItem(title, popup->numberOfItems());
        oscClients_[title] = record;
    }
    if (!popup->selectItemWithTitle(selected))
        popup->selectItemWithTitle(kCustom);
}

void AppDelegate::oscFeedbackTargetSelected()
{
    const AppDelegateOutlets& o = outlets_;
    if (!o.oscFeedbackTargetPopup || !o.oscFeedbackTargetIP || !o.oscFeedbackTargetPort)
        return;
    const QString title = o.oscFeedbackTargetPopup->titleOfSelectedItem();
    KavioTextFieldInterface* host = o.oscFeedbackTargetIP;
    KavioTextFieldInterface* port = o.oscFeedbackTargetPort;
    const auto isBlank = [](KavioTextFieldInterface* field) {
        return field->stringValue().isEmpty() || field->stringValue() == QLatin1String("-");
    };
    if (title == kDisabled) {
        for (KavioTextFieldInterface* field : {host, port}) {
            field->setStringValue(QStringLiteral("-"));
            field->setEnabled(false);
        }
    } else if (title == kCustom) {
        host->setEnabled(true);
        port->setEnabled(true);
        if (isBlank(host))
            host->setStringValue(QStringLiteral("127.0.0.1"));
        if (isBlank(port))
            port->setStringValue(QStringLiteral("1234"));
    } else if (const auto client = oscClients_.find(title); client != oscClients_.end()) {
        host->setStringValue(client->second.at(2).toString());
        port->setStringValue(QString::number(client->second.at(3).toInt()));
        host->setEnabled(false);
        port->setEnabled(false);
    }
    oscFeedbackTargetSettingsChanged();
}

void AppDelegate::oscFeedbackTargetSettingsChanged(KavioTextFieldInterface* sender)
{
    QVTOSCManager& kit = oscKit();
    kit.removeOutputWithName(kKavioOSCName);
    const AppDelegateOutlets& o = outlets_;
    const QString host = o.oscFeedbackTargetIP ? o.oscFeedbackTargetIP->stringValue() : QString();
    int port = o.oscFeedbackTargetPort ? o.oscFeedbackTargetPort->stringValue().trimmed().toInt() : 0;
    // Feedback to this computer's own input would come back in as commands.
    if (port == kKavioOSCPort && KavioATEMManager::localIPs().contains(host)) {
        port = kKavioOSCPort + 1;
        o.oscFeedbackTargetPort->setStringValue(QString::number(port));
    }
    if (kit.createOutputWithName(kKavioOSCName, host, port)) {
        NotificationCenter::defaultCenter().post(QStringLiteral("processOSCFeedback"));
    } else if (!o.oscFeedbackTargetPopup || o.oscFeedbackTargetPopup->titleOfSelectedItem() != kDisabled) {
        QApplication::beep();
    }
    if (sender)
        endPreferencesEditing();
}

void AppDelegate::resendAllOSCFeedback()
{
    NotificationCenter::defaultCenter().post(QStringLiteral("processOSCFeedback"));
    if (const auto controller = outlets_.controller)
        controller->sendCurrentCueOSCFeedback();
    sendTimeRelatedOSCFeedback();
}

void AppDelegate::addDefaultOSCAddresses()
{
    if (oscqueryserver_) {
        oscqueryserver_->restart();
        return;
    }
    KavioOSCQueryServer& server = KavioOSCQueryServer::sharedServer();
    oscqueryserver_ = &server;
    for (const GlobalAddress& entry : kGlobalAddresses) {
        const QString address = QLatin1String(entry.address);
        const QString help = QLatin1String(entry.help);
        if (address == QLatin1String("/kavio/mainFader")) {
            server.addOSCAddress(address, help);
            server.setType(QStringLiteral("f"), address);
            server.setRangeWithMin(0.0, 1.0, address);
            continue;
        }
        const bool isInteger = QLatin1String(entry.type) == QLatin1String("i");
        const QVariant min = !entry.hasRange ? QVariant() : isInteger ? QVariant(int(entry.min)) : QVariant(entry.min);
        const QVariant max = !entry.hasRange ? QVariant() : isInteger ? QVariant(int(entry.max)) : QVariant(entry.max);
        server.addOSCAddress(address, QLatin1String(entry.type), min, max, help);
    }
}

void AppDelegate::removeDefaultOSCAddresses()
{
    if (oscqueryserver_)
        oscqueryserver_->stop();
}
