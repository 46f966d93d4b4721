#include "Cue/KavioVideoItem.h"

#include "Log.h"
#include "NotificationCenter.h"

// --- The row's actions -----------------------------------------------------------------------------

std::shared_ptr<KavioVideoItemManagerInterface> KavioVideoItem::selectItemIfNotSelected()
{
    const auto controller = manager();
    const auto self = weak_from_this().lock();
    if (!controller || !self)
        return nullptr;
    if (!isSelected())
        controller->selectItem(self);
    return controller;
}

void KavioVideoItem::toggleActionFromUI(KavioRowButton& button, KavioToggleCode code, KavioToggleSender sender)
{
    if (!button.enabled)
        return;
    // A button click has flipped its state already; a menu entry has not.
    if (sender == KavioToggleSender::MenuItem)
        button.state = button.state == 1 ? 0 : 1;
    // A click on an unselected row's toggle acts on that cue alone.
    if (const auto controller = selectItemIfNotSelected())
        controller->cueToggleChangedOnSelectedItems(code, button.state == 1);
}

void KavioVideoItem::changeAudioOnSelectedItemsFromUI(KavioToggleSender sender)
{
    toggleActionFromUI(soundButton_, KavioToggleSound, sender);
}

void KavioVideoItem::changeFadeInOnSelectedItemsFromUI(KavioToggleSender sender)
{
    toggleActionFromUI(fadeInButton_, KavioToggleFadeIn, sender);
}

void KavioVideoItem::changeFadeOutOnSelectedItemsFromUI(KavioToggleSender sender)
{
    toggleActionFromUI(fadeOutButton_, KavioToggleFadeOut, sender);
}

void KavioVideoItem::changePauseAtBeginningOnSelectedItemsFromUI(KavioToggleSender sender)
{
    toggleActionFromUI(pauseAtBeginningButton_, KavioTogglePauseAtBeginning, sender);
}

void KavioVideoItem::changePauseAtEndOnSelectedItemsFromUI(KavioToggleSender sender)
{
    toggleActionFromUI(pauseAtEndButton_, KavioTogglePauseAtEnd, sender);
}

void KavioVideoItem::changeLoopOnSelectedItemsFromUI(KavioToggleSender sender)
{
    toggleActionFromUI(loopButton_, KavioToggleLoop, sender);
}

void KavioVideoItem::changeTransitionOnSelectedItemsFromUI(KavioToggleSender sender)
{
    toggleActionFromUI(transitionButton_, KavioToggleTransition, sender);
}

void KavioVideoItem::changeGotoOnSelectedItemsFromUI(KavioToggleSender sender)
{
    toggleActionFromUI(gotoButton_, KavioToggleGoto, sender);
}

// --- The per-cue operations ----------------------------------------------------------------------

void KavioVideoItem::changeToggleToState(int code, bool state)
{
    switch (code) {
    case KavioToggleSound:
        changeAudioToState(state);
        break;
    case KavioToggleFadeIn:
        changeFadeInToState(state);
        break;
    case KavioToggleFadeOut:
        changeFadeOutToState(state);
        break;
    case KavioTogglePauseAtBeginning:
        changePauseAtBeginningToState(state);
        break;
    case KavioTogglePauseAtEnd:
        changePauseAtEndToState(state);
        break;
    case KavioToggleLoop:
        changeLoopToState(state);
        break;
    case KavioToggleTransition:
        changeTransitionToState(state);
        break;
    case KavioToggleGoto:
        changeGotoToState(state);
        break;
    default:
        break;
    }
}

void KavioVideoItem::markToggleChanged()
{
    if (const auto controller = manager())
        controller->setHasUnsavedChanges(true);
}

bool KavioVideoItem::takeToggleState(KavioRowButton& button, bool state)
{
    // A disabled toggle refuses every change.
    if (!button.enabled)
        return false;
    button.state = state ? 1 : 0;
    return true;
}

void KavioVideoItem::changeAudioToState(bool state)
{
    if (!takeToggleState(soundButton_, state))
        return;
    if (audioPlayer())
        volumeChanged();
    markToggleChanged();
}

void KavioVideoItem::changeFadeInToState(bool state)
{
    if (takeToggleState(fadeInButton_, state))
        markToggleChanged();
}

void KavioVideoItem::changeFadeOutToState(bool state)
{
    if (takeToggleState(fadeOutButton_, state))
        markToggleChanged();
}

void KavioVideoItem::changePauseAtBeginningToState(bool state)
{
    if (!takeToggleState(pauseAtBeginningButton_, state))
        return;
    setShouldStopAtBeginning(state);
    markToggleChanged();
}

void KavioVideoItem::changePauseAtEndToState(bool state)
{
    if (!takeToggleState(pauseAtEndButton_, state))
        return;
    setShouldStopAtEnd(state);
    markToggleChanged();
}

void KavioVideoItem::changeLoopToState(bool state)
{
    if (!takeToggleState(loopButton_, state))
        return;
    const bool looping = loopButton_.state == 1;
    if (isLooping_.exchange(looping) != looping) {
        setupLoopHelper();
        const auto controller = manager();
        const auto self = weak_from_this().lock();
        if (controller && self) {
            if (looping)
                controller->loopingTurnedOnOnItem(self);
            else
                controller->loopingTurnedOffOnItem(self);
        }
        if (!looping)
            KLOG_VERBOSE("disable looping!");
    }
    markToggleChanged();
}

void KavioVideoItem::changeTransitionToState(bool state)
{
    if (!transitionButton_.enabled)
        return;
    const bool changed = hasTransition_.exchange(state) != state;
    transitionButton_.state = state ? 1 : 0;
    if (!changed)
        return;
    setupTransition();
    const auto controller = manager();
    const auto self = weak_from_this().lock();
    if (controller && self) {
        controller->rebuildItemTimesByTransitioningItem(self);
        controller->handleTransitionTimeChangeOnItem(self);
    }
}

void KavioVideoItem::changeGotoToState(bool state)
{
    if (!takeToggleState(gotoButton_, state))
        return;
    // The cue that follows may have changed.
    if (hasTransition())
        setupTransition();
    updateTransitionIcon();
    gotoTargetButton_.state = gotoButton_.state;
    NotificationCenter::defaultCenter().post(kKavioCueOSCAddressSpaceChangedNotification, this);
    markToggleChanged();
}

// --- The rules between the toggles ----------------------------------------------------------------

void KavioVideoItem::validateToggles()
{
    const auto isOn = [](const KavioRowButton& button) { return button.state == 1; };
    const bool endless = loopCount() == KavioLoopCountEndless;

    // A cue that follows itself (the only cue of a looping list) can neither pause, loop on its
    // own nor cross into anything else.
    if (nextItem().get() == this) {
        changeLoopToState(false);
        loopButton_.enabled = false;
        changeTransitionToState(false);
        transitionButton_.enabled = false;
        setGotoItemUID(QString());
        updateTransitionOnGotoItemChangeIfNeeded();
        changePauseAtBeginningToState(false);
        pauseAtBeginningButton_.enabled = false;
        changePauseAtEndToState(false);
        pauseAtEndButton_.enabled = false;
        return;
    }

    // Pauses against loop and transition.
    if (!isOn(loopButton_) && !isOn(transitionButton_)) {
        pauseAtBeginningButton_.enabled = true;
        pauseAtEndButton_.enabled = true;
    } else {
        if (isOn(loopButton_) && !isOn(transitionButton_) && !endless) {
            pauseAtEndButton_.enabled = true;
        } else {
            changePauseAtEndToState(false);
            pauseAtEndButton_.enabled = false;
        }
        if (isOn(loopButton_)) {
            changePauseAtBeginningToState(false);
            pauseAtBeginningButton_.enabled = false;
        } else {
            pauseAtBeginningButton_.enabled = true;
        }
    }

    // The goto button and label follow the target again.
    setGotoItemUID(gotoItemUID());
    updateTransitionOnGotoItemChangeIfNeeded();

    // Loop and transition against the pauses.
    if (!isOn(pauseAtBeginningButton_) && !isOn(pauseAtEndButton_)) {
        loopButton_.enabled = true;
        transitionButton_.enabled = true;
    } else {
        loopButton_.enabled = !isOn(transitionButton_) && !endless;
        transitionButton_.enabled = !isOn(pauseAtEndButton_);
    }

    // An endless loop and a transition exclude each other. Only the buttons change here: the
    // cue's fields follow through validateTransition() and the next changeLoopToState().
    if (isOn(loopButton_)) {
        if (endless) {
            transitionButton_.state = 0;
            transitionButton_.enabled = false;
        } else if (!isOn(pauseAtEndButton_)) {
            transitionButton_.enabled = true;
        }
    }
    if (isOn(transitionButton_)) {
        if (endless) {
            loopButton_.state = 0;
            loopButton_.enabled = false;
        } else {
            loopButton_.enabled = true;
        }
    }
}
