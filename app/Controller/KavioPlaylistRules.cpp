#include "Controller/KavioPlaylistRules.h"

#include "Cue/KavioVideoItem.h"
#include "MediaTime.h"

namespace {

using Toggle = KavioDefaultToggleStates::Toggle;

void switchOffAndDisable(Toggle& toggle)
{
    toggle.on = false;
    toggle.enabled = false;
}

// Whichever of the two is on switches the other off and disables it; otherwise it is free.
void exclude(const Toggle& winner, Toggle& other)
{
    if (winner.on)
        switchOffAndDisable(other);
    else
        other.enabled = true;
}

}  // namespace

KavioDefaultToggleStates handleDefaultPauseToggleStates(KavioDefaultToggleStates s)
{
    if (!s.transition.on && !s.loop.on) {
        s.pauseAtBeginning.enabled = true;
        s.pauseAtEnd.enabled = true;
        return s;
    }
    if (s.loop.on)
        switchOffAndDisable(s.pauseAtBeginning);
    else
        s.pauseAtBeginning.enabled = true;
    switchOffAndDisable(s.pauseAtEnd);
    return s;
}

KavioDefaultToggleStates handleDefaultLoopAndTransitionToggleStates(KavioDefaultToggleStates s)
{
    if (!s.pauseAtBeginning.on && !s.pauseAtEnd.on) {
        s.loop.enabled = true;
        s.transition.enabled = true;
        return s;
    }
    switchOffAndDisable(s.loop);
    if (s.pauseAtEnd.on)
        switchOffAndDisable(s.transition);
    return s;
}

KavioDefaultToggleStates handleDefaultCueToggleStates(KavioDefaultToggleStates s)
{
    s = handleDefaultLoopAndTransitionToggleStates(handleDefaultPauseToggleStates(s));
    exclude(s.transition, s.loop);
    exclude(s.loop, s.transition);
    return s;
}

KavioMenuValidation validateMenuAction(KavioMenuAction action, const KavioMenuState& s)
{
    if (s.markerDragging)
        return {false, {}};
    // The toggle items name what choosing them does: the state that is not current.
    const auto flip = [](bool on, const char* whenOn, const char* whenOff) {
        return KavioMenuValidation{true, QString::fromLatin1(on ? whenOn : whenOff)};
    };
    const bool free = !s.slave && !s.transcoding;
    switch (action) {
    case KavioMenuAction::RewindCurrentItem:
        return {free && s.hasCurrent, {}};
    case KavioMenuAction::CreateVideoCue:
    case KavioMenuAction::CreateCameraCue:
    case KavioMenuAction::CreateSyphonCue:
    case KavioMenuAction::CreateNDICue:
        return {free && !s.playing, {}};
    case KavioMenuAction::ToggleCollapseExpandCues:
        return {s.anySelected, {}};
    case KavioMenuAction::ToggleTimeDisplay:
        return flip(s.displayTimeLeft, "Display Current Playlist Time", "Display Remaining Cue Time");
    case KavioMenuAction::ToggleTRTDisplay:
        return flip(s.displayTRT, "Display Cue End Times", "Display Cue Total Run Times");
    case KavioMenuAction::ToggleCueTimeOverlay:
        return flip(s.displayCueTimeOverlay, "Hide Cue Times Overlay on Preview", "Show Cue Times Overlay on Preview");
    case KavioMenuAction::ToggleSubtitlesDisplay:
        return flip(s.displaySubtitles, "Hide Subtitles / Closed Captions on Preview",
                    "Show Subtitles / Closed Captions on Preview");
    case KavioMenuAction::ToggleRenderingFPSDisplay:
        return flip(s.displayRenderingFPS, "Hide Rendering FPS on Preview", "Show Rendering FPS on Preview");
    case KavioMenuAction::ToggleCueAutoScroll:
        return flip(s.autoScrollToCurrentCue, "Disable Auto-Scroll to Current Cue", "Enable Auto-Scroll to Current Cue");
    case KavioMenuAction::ResetInOutTime:
        return {free && !s.playing && s.hasCurrent &&
                    (s.currentMediaType == KavioMediaTypeMovie || s.currentMediaType == KavioMediaTypeAudio) &&
                    s.currentHasInOrOutPoint,
                {}};
    case KavioMenuAction::DoPanic:
        return {s.masterFader >= 0.001f && !s.loadingProject, {}};
    case KavioMenuAction::JumpToSelectedItem:
    case KavioMenuAction::JumpToAndPlaySelectedItem:
        return {s.jumpToSelectedEnabled, {}};
    case KavioMenuAction::SelectPreviousCue:
        return {!s.listEmpty && s.referenceHasPrevious && s.cueListIsFirstResponder, {}};
    case KavioMenuAction::SelectNextCue:
        return {!s.listEmpty && s.referenceHasNext && s.cueListIsFirstResponder, {}};
    case KavioMenuAction::SetThumbnailTime:
        return {s.hasCurrent && !s.currentIsMissing && s.currentMediaType == KavioMediaTypeMovie, {}};
    case KavioMenuAction::StepToNextFrame:
        return {free && s.canStepNext && !s.playing && s.cueListIsFirstResponder, {}};
    case KavioMenuAction::StepToPrevFrame:
        return {free && s.canStepPrev && !s.playing && s.cueListIsFirstResponder, {}};
    case KavioMenuAction::SetGotoOnCurrentToSelected:
        return {s.hasCurrent && !s.currentIsSelected, {}};
    case KavioMenuAction::CreateWindowSourceCue:
        return {s.windowCaptureAvailable, {}};
    case KavioMenuAction::Other:
        break;
    }
    return {true, {}};
}

bool gotoFitsDuration(float duration, std::int64_t seconds)
{
    return MediaTime::makeWithSeconds(double(duration), MediaTime::kCueTimescale).value >=
           seconds * MediaTime::kCueTimescale;
}

KavioTransportControls transportControlsForState(const KavioTransportState& s)
{
    KavioTransportControls c;
    if (s.markerDragging) {
        c.play = c.rewind = c.fastForward = c.previous = c.next = false;
        return c;
    }
    if (s.itemCount == 0) {
        c.stopPlayback = s.playButtonOn;
        c.switchButtonsOff = true;
        c.play = c.loop = c.rewind = c.fastForward = c.previous = c.next = false;
        c.globalTransition = c.timecodeField = c.marker = c.masterButton = false;
        return c;
    }
    c.play = c.loop = c.rewind = c.fastForward = c.previous = true;
    c.timecodeField = c.marker = c.masterButton = true;
    c.globalTransition = c.next = s.itemCount >= 2;
    if (s.hasCurrent) {
        c.goto10 = gotoFitsDuration(s.currentDuration, 10);
        c.goto20 = gotoFitsDuration(s.currentDuration, 20);
        c.goto30 = gotoFitsDuration(s.currentDuration, 30);
    }
    return c;
}
