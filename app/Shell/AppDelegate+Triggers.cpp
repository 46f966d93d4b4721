// The MIDI and DMX triggers: notes, control changes and DMX channels bound to Play/Stop,
// Previous, Next and the master fader, learned from the incoming messages.
//
// Threads: MIDI events arrive on the MIDI input thread, DMX on the lighting node's queue. They
// match against a copy of the bindings taken under triggersMutex_ (the receive threads never
// read a widget); every effect runs on the main thread, one main-queue step per event, so they
// apply in arrival order.

#include "Shell/AppDelegate.h"

#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "QVTLightingManager.h"
#include "QVTMIDIManager.h"
#include "Support/KavioButtonInterface.h"
#include "Support/KavioSliderInterface.h"
#include "Support/KavioTextFieldInterface.h"

namespace {

bool isDmxField(KavioTriggerField field)
{
    return int(field) >= kKavioFirstDmxTriggerField;
}

}  // namespace

KavioTextFieldInterface* AppDelegate::triggerField(KavioTriggerField field) const
{
    const AppDelegateOutlets& o = outlets_;
    KavioTextFieldInterface* const fields[kKavioTriggerFieldCount] = {
        o.midiStartField,  o.midiStopField,     o.midiPreviousField, o.midiNextField,     o.midiMainFaderField,
        o.dmxStartStopField, o.dmxPreviousField, o.dmxNextField,      o.dmxMainFaderField};
    return fields[int(field)];
}

void AppDelegate::triggerFieldsChanged()
{
    const auto text = [this](KavioTriggerField field) {
        const KavioTextFieldInterface* f = triggerField(field);
        return f ? f->stringValue() : QString();
    };
    using F = KavioTriggerField;
    KavioTriggerBindings b{text(F::MidiStart),    text(F::MidiStop),    text(F::MidiPrevious),
                           text(F::MidiNext),     text(F::MidiMainFader), text(F::DmxStartStop),
                           text(F::DmxPrevious),  text(F::DmxNext),     text(F::DmxMainFader)};
    std::lock_guard lock(triggersMutex_);
    bindings_ = std::move(b);
}

std::pair<KavioTriggerBindings, std::optional<KavioTriggerField>> AppDelegate::triggerState() const
{
    std::lock_guard lock(triggersMutex_);
    return {bindings_, learnDestination_};
}

std::optional<KavioTriggerField> AppDelegate::learnDestination() const
{
    std::lock_guard lock(triggersMutex_);
    return learnDestination_;
}

void AppDelegate::setMIDIManager(QVTMIDIManager* manager)
{
    if (midiManager_) {
        midiManager_->midiKitNotificationCenter()->removeObserver(this);
        midiTriggerSource_.reset();
    }
    midiManager_ = manager;
    if (!manager)
        return;
    manager->midiKitNotificationCenter()->addObserver(this, TonarilNotifications::kSetupChanged, nullptr,
                                                       [this](const Notification&) { midiSetupChanged(); });
    midiSetupChanged();
}

void AppDelegate::setupMIDIListener()
{
    KLOG_INFO("setupMIDIListener: {} ", selectedMIDISource_.toStdString());
    if (!midiManager_)
        return;
    const std::shared_ptr<NotificationCenter> center = midiManager_->midiKitNotificationCenter();
    center->removeObserver(this, TonarilNotifications::kCCReceived, nullptr);
    center->removeObserver(this, TonarilNotifications::kNoteReceived, nullptr);
    midiTriggerSource_ = currentMIDISource();
    if (midiTriggerSource_) {
        setLearnButtonsEnabled(false, true);
        for (const QString& name : {TonarilNotifications::kCCReceived, TonarilNotifications::kNoteReceived})
            center->addObserver(this, name, midiTriggerSource_.get(),
                                [weakSelf = weak_from_this()](const Notification& n) {
                                    if (const auto self = weakSelf.lock())
                                        self->receivedMIDINoteOrCC(n.userInfo);
                                });
    } else {
        disableLearns();
        setLearnButtonsEnabled(false, false);
    }
}

void AppDelegate::setLearnButtonsEnabled(bool dmx, bool enabled)
{
    for (int i = 0; i < kKavioTriggerFieldCount; ++i)
        if (KavioButtonInterface* button = outlets_.learnTriggerButtons[size_t(i)];
            button && isDmxField(KavioTriggerField(i)) == dmx)
            button->setEnabled(enabled);
}

void AppDelegate::receivedMIDINoteOrCC(const QVariantMap& userInfo)
{
    const std::optional<KavioMIDITriggerEvent> event = KavioTriggerMatching::midiEvent(userInfo);
    if (!event)
        return;
    const auto [bindings, destination] = triggerState();
    if (destination && !isDmxField(*destination)) {
        learned(*destination, KavioTriggerMatching::midiKey(*event));
        return;
    }
    applyTriggerEffect(KavioTriggerMatching::matchMIDI(bindings, *event, followsTimecode()));
}

void AppDelegate::receivedDMX(const QVariantMap& userInfo)
{
    const std::optional<std::pair<int, int>> change = KavioTriggerMatching::dmxChange(userInfo);
    if (!change)
        return;
    const auto [bindings, destination] = triggerState();
    if (destination && isDmxField(*destination)) {
        learned(*destination, KavioTriggerMatching::dmxKey(change->first));
        return;
    }
    const auto controller = outlets_.controller;
    // canJump is read here, before the hop, as the show stands when the desk moved.
    const bool canJump = controller && controller->canJump();
    applyTriggerEffect(KavioTriggerMatching::matchDMX(bindings, change->first, change->second, followsTimecode(), canJump));
}

bool AppDelegate::followsTimecode() const
{
    const auto controller = outlets_.controller;
    const std::shared_ptr<QVTClock> clock = controller ? controller->masterClock() : nullptr;
    return clock && (clock->isMTCSlave() || clock->isLTCSlave());
}

void AppDelegate::learned(KavioTriggerField field, const QString& key)
{
    if (!DispatchQueue::isMainThread()) {
        DispatchQueue::main().async([weakSelf = weak_from_this(), field, key] {
            if (const auto self = weakSelf.lock())
                self->learned(field, key);
        });
        return;
    }
    // Learning may have ended while the event travelled here.
    if (learnDestination() != field)
        return;
    setHasUnsavedChanges(true);
    if (KavioTextFieldInterface* target = triggerField(field))
        target->setStringValue(key);
    triggerFieldsChanged();
}

void AppDelegate::applyTriggerEffect(const KavioTriggerEffect& effect)
{
    if (effect.action == KavioTriggerEffect::None)
        return;
    if (!DispatchQueue::isMainThread()) {
        DispatchQueue::main().async([weakSelf = weak_from_this(), effect] {
            if (const auto self = weakSelf.lock())
                self->applyTriggerEffect(effect);
        });
        return;
    }
    const auto click = [](KavioButtonInterface* button) {
        if (button && button->isEnabled())
            button->performClick();
    };
    switch (effect.action) {
    case KavioTriggerEffect::Play:
    case KavioTriggerEffect::Stop: {
        KavioButtonInterface* play = outlets_.playButton;
        const int target = effect.action == KavioTriggerEffect::Play ? 1 : 0;
        if (!play || play->state() == target || !play->isEnabled())
            return;
        play->setState(target);
        togglePlay();
        return;
    }
    case KavioTriggerEffect::Previous:
        click(outlets_.prevItemButton);
        return;
    case KavioTriggerEffect::Next:
        click(outlets_.nextItemButton);
        return;
    case KavioTriggerEffect::MainFader:
        if (const auto controller = outlets_.controller) {
            if (KavioSliderInterface* fader = controller->outlets().masterSlider)
                fader->setDoubleValue(effect.fader);
            controller->masterSliderChanged();
        }
        return;
    case KavioTriggerEffect::None:
        return;
    }
}

void AppDelegate::learnTrigger(KavioTriggerField field)
{
    KavioButtonInterface* sender = outlets_.learnTriggerButtons[size_t(field)];
    const bool on = sender && sender->state() != 0;
    disableLearns();
    if (!on)
        return;
    sender->setState(1);
    std::lock_guard lock(triggersMutex_);
    learnDestination_ = field;
}

void AppDelegate::clearTrigger(KavioTriggerField field)
{
    setHasUnsavedChanges(true);
    if (KavioTextFieldInterface* target = triggerField(field))
        target->setStringValue(QString());
    triggerFieldsChanged();
}

void AppDelegate::disableLearns()
{
    for (KavioButtonInterface* button : outlets_.learnTriggerButtons)
        if (button)
            button->setState(0);
    std::lock_guard lock(triggersMutex_);
    learnDestination_.reset();
}
