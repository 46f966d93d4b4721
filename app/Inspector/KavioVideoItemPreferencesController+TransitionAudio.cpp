// The transition (type and length) and the Audio Output section (volume in decibels, output
// routing). A type change of the cue a running transition enters is handed over at the end of
// the render pass, so the transition goes on from where it was with the new type.

#include "Inspector/KavioVideoItemPreferencesController.h"

#include "Audio/KavioAudioChannelsView.h"
#include "Audio/KavioAudioOutputManagerInterface.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "Inspector/KavioInspectorMixedValues.h"
#include "Rendering/KavioMetalTransitionRendererInterface.h"
#include "Rendering/KavioRenderClock.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioSlider.h"
#include "Views/KavioTextField.h"

#include <cmath>

namespace {

using Controller = KavioVideoItemPreferencesController;

const QString kProjectDefault = QStringLiteral("Project's Default");
const QString kCustom = QStringLiteral("Custom");
constexpr double kMaximumTransitionSeconds = 600;

QString secondsText(double seconds) { return QString::asprintf("%g", seconds); }

QString titleForTransitionTime(const KavioVideoItem& item)
{
    return item.isUsingDefaultTransitionDuration() ? kProjectDefault : kCustom;
}

// The number a duration popup's title starts with ("2", "2 s").
double secondsOfTitle(const QString& title)
{
    bool ok = false;
    const double seconds = title.section(QLatin1Char(' '), 0, 0).toDouble(&ok);
    return ok ? seconds : 0;
}

}  // namespace

// --- Transition type -----------------------------------------------------------------------------

void KavioVideoItemPreferencesController::handleTransitionPopup()
{
    KavioInspectorMixed::showCommonTag(o_.transitionPopup, items(), [](const KavioVideoItem& i) { return i.transitionType(); });
}

void KavioVideoItemPreferencesController::selectTransition()
{
    const auto type = std::int32_t(o_.transitionPopup->selectedTag());
    if (type == KavioInspectorMixed::kMixedTag)
        return;
    applyToSelectedItems(QStringLiteral("Change Transitions"), [this, type](const QString& uid) { undoChangeTransitionTo(type, uid); });
}

void KavioVideoItemPreferencesController::undoChangeTransitionTo(std::int32_t type, const QString& uid)
{
    const auto item = itemWithUID(uid);
    const auto manager = videoManager();
    if (!item || !manager)
        return;
    markUnsaved();
    const std::int32_t old = item->transitionType();
    o_.transitionPopup->selectItemWithTag(type);
    item->setTransitionType(type);

    const auto current = manager->currentItem();
    const bool running = (current && current->isProcessingTransition()) || manager->isProcessingGlobalTransition();
    const auto transition = running ? manager->currentTransition() : nullptr;
    const auto clock = manager->renderClock();
    if (transition && clock && transition->destinationItem() == item) {
        // The pass under way still draws the old renderer; the new one takes over after it, at
        // the progress the old one reached. Cue and transition are held until then.
        const std::weak_ptr<KavioVideoItemManager> weakManager = manager;
        clock->addCompletedHandlerForCurrentRenderPass([item, transition, weakManager] {
            const float progress = transition->progress();
            item->setupTransition();
            const auto owner = weakManager.lock();
            const auto fresh = item->transition();
            if (!owner || !fresh)
                return;
            owner->setCurrentTransition(fresh);
            fresh->setSourceItem(owner->currentItem());
            fresh->setDestinationItem(item);
            fresh->setProgress(progress);
            fresh->setDuration(item->transitionTime());
        });
    } else {
        item->setupTransition();
    }
    registerInverse(QStringLiteral("Change Transition"), [old, uid](Controller& self) { self.undoChangeTransitionTo(old, uid); });
}

// --- Transition length ---------------------------------------------------------------------------

void KavioVideoItemPreferencesController::handleTransitionDurationTimeFieldAndPopup()
{
    KavioPopUpButton* popup = o_.transitionDurationPopup;
    KavioTextField* field = o_.transitionDurationField;
    KavioInspectorMixed::removeEntry(popup);
    const KavioVideoItemList selected = items();
    if (selected.empty())
        return;
    const QString title = titleForTransitionTime(*selected.front());
    bool sameTitle = true;
    for (const auto& item : selected)
        sameTitle = sameTitle && titleForTransitionTime(*item) == title;
    if (sameTitle)
        popup->selectItemWithTitle(title);
    else
        KavioInspectorMixed::showEntry(popup);

    // Lengths count as equal when they read the same ("1" and "1.0").
    const QString time = secondsText(selected.front()->transitionTime());
    bool sameTime = true;
    for (const auto& item : selected)
        sameTime = sameTime && secondsText(item->transitionTime()) == time;
    if (sameTime)
        showInField(field, time);
    else
        showInField(field, {}, kKavioMixedTitle);
    const bool custom = popup->titleOfSelectedItem() == kCustom;
    field->setEnabled(custom);
    field->setEditable(custom);
}

void KavioVideoItemPreferencesController::changeTransitionTime()
{
    const QString mode = o_.transitionDurationPopup->titleOfSelectedItem();
    if (mode == kKavioMixedTitle)
        return;
    const bool useDefault = mode == kProjectDefault;
    QString seconds;
    if (!useDefault) {
        // Cues of different lengths switched to their own: each keeps its length.
        KavioTextField* field = o_.transitionDurationField;
        const bool keepLengths = field->stringValue().isEmpty();
        std::optional<double> typed;
        if (!keepLengths)
            typed = typedNumber(field);
        if (!keepLengths && !typed)
            return;
        if (typed)
            seconds = secondsText(*typed);
    }
    applyToSelectedItems(QStringLiteral("Change Transition Durations"), [this, useDefault, &seconds](const QString& uid) {
        const auto item = itemWithUID(uid);
        undoChangeTransitionTime(useDefault, seconds.isEmpty() && item ? secondsText(item->transitionTime()) : seconds, uid);
    });
}

void KavioVideoItemPreferencesController::undoChangeTransitionTime(bool useDefault, const QString& seconds, const QString& uid)
{
    const auto item = itemWithUID(uid);
    const auto manager = videoManager();
    if (!item || !manager)
        return;
    double length = seconds.toDouble();
    if (useDefault) {
        const KavioPopUpButtonInterface* defaults = manager->outlets().defaultTransitionDurationPopup;
        length = defaults ? secondsOfTitle(defaults->titleOfSelectedItem()) : manager->defaultTransitionDuration();
    }
    if (!std::isfinite(length) || length < 0 || length > kMaximumTransitionSeconds)
        return;
    markUnsaved();
    // The inverse gives back the mode with the length.
    const bool oldDefault = item->isUsingDefaultTransitionDuration();
    const QString oldSeconds = secondsText(item->transitionTime());
    item->setIsUsingDefaultTransitionDuration(useDefault);
    item->setTransitionTime(length);
    o_.transitionDurationField->setStringValue(secondsText(item->transitionTime()));
    o_.transitionDurationField->setEnabled(!useDefault);
    giveKeyboardToCueList();
    handleTransitionDurationTimeFieldAndPopup();
    registerInverse(QStringLiteral("Change Transition Duration"), [oldDefault, oldSeconds, uid](Controller& self) {
        self.undoChangeTransitionTime(oldDefault, oldSeconds, uid);
    });
}

// --- Volume --------------------------------------------------------------------------------------

void KavioVideoItemPreferencesController::handleVolumeField()
{
    const KavioVideoItemList selected = items();
    QString shown;
    if (!selected.empty()) {
        const float decibels = selected.front()->volumeAsDecibels();
        shown = std::isinf(decibels) ? QStringLiteral("-∞") : QString::number(double(decibels), 'g', 4);
    }
    KavioInspectorMixed::showCommonFloat(o_.audioVolumeField, shown, selected, [](const KavioVideoItem& i) { return i.volume(); },
                                         placeholderattributessmall_);
}

void KavioVideoItemPreferencesController::changeAudioVolume(const QObject* sender)
{
    KavioSlider* slider = o_.audioVolumeSlider;
    if (sender == o_.audioVolumeField) {
        const auto decibels = typedNumber(o_.audioVolumeField);
        if (!decibels)
            return;
        slider->setFloatValue(float(std::pow(10.0, *decibels / 20.0)));
        giveKeyboardToCueList();
    }
    const float volume = slider->floatValue();
    applyToSelectedItems(QStringLiteral("Change Audio Volumes"), [this, volume](const QString& uid) { undoChangeAudioVolume(volume, uid); });
}

void KavioVideoItemPreferencesController::undoChangeAudioVolume(float volume, const QString& uid)
{
    const auto item = itemWithUID(uid);
    if (!item || !std::isfinite(volume) || volume < 0)
        return;
    markUnsaved();
    const float old = item->volume();
    item->setVolume(volume);
    o_.audioVolumeSlider->setFloatValue(item->volume());
    handleVolumeField();
    registerInverse(QStringLiteral("Change Audio Volume"), [old, uid](Controller& self) { self.undoChangeAudioVolume(old, uid); });
    // The players take the new gain last, once the cue holds it.
    item->volumeChanged();
}

// --- Routing -------------------------------------------------------------------------------------

void KavioVideoItemPreferencesController::changeAudioChannels()
{
    if (const auto item = currentItem())
        undoChangeAudioChannels(o_.audioChannelsPopup->titleOfSelectedItem(), item->uid());
}

void KavioVideoItemPreferencesController::undoChangeAudioChannels(const QString& title, const QString& uid)
{
    const auto item = itemWithUID(uid);
    if (!item)
        return;
    markUnsaved();
    const QString old = item->isUsingDefaultAudioChannels() ? kProjectDefault : kCustom;
    const bool useDefault = title == kProjectDefault;
    item->setIsUsingDefaultAudioChannels(useDefault);
    if (useDefault) {
        o_.audioChannelsView->disableEditing();
        item->setPlayersToDefaultChannelMapping();
        const auto current = currentItem();
        if (const auto player = current ? current->audioPlayer() : nullptr)
            o_.audioChannelsView->rebuildChannelsViewWithSettings(player->channelMapping());
    } else {
        o_.audioChannelsView->enableEditing();
    }
    o_.audioChannelsPopup->selectItemWithTitle(useDefault ? kProjectDefault : kCustom);
    registerInverse(QStringLiteral("Change Audio Output Routing"),
                    [old, uid](Controller& self) { self.undoChangeAudioChannels(old, uid); });
}

void KavioVideoItemPreferencesController::channelRoutingChanged()
{
    const auto item = currentItem();
    if (item && item->audioPlayer())
        item->setChannelMappingForPlayers(o_.audioChannelsView->channelMapping());
    const auto manager = videoManager();
    const auto audio = manager ? manager->audioOutputManager() : nullptr;
    o_.audioChannelsPopup->setEnabled(!(audio && audio->shouldUseStereoDownMix()));
}
