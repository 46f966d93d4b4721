#pragma once
// The cue list controller's rules for its playlist defaults, its menu items and its transport
// controls, as pure functions of the state they read: the controller gathers the state from its
// controls and neighbours and applies the answer, tests check the rules as tables.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

// --- Default cue toggles ---------------------------------------------------------------------------

// The four default-toggle checkboxes the coupling rules tie together.
struct KavioDefaultToggleStates {
    struct Toggle {
        bool on = false;
        bool enabled = true;
        bool operator==(const Toggle&) const = default;
    };
    Toggle transition, loop, pauseAtBeginning, pauseAtEnd;
    bool operator==(const KavioDefaultToggleStates&) const = default;
};

// Pause rule: with neither transition nor loop on both pause checkboxes are free; otherwise pause
// at end goes off and disabled, and pause at beginning too while loop is on.
KavioDefaultToggleStates handleDefaultPauseToggleStates(KavioDefaultToggleStates states);
// Loop-and-transition rule: with neither pause on, loop and transition are free; otherwise loop
// goes off and disabled, and transition too while pause at end is on.
KavioDefaultToggleStates handleDefaultLoopAndTransitionToggleStates(KavioDefaultToggleStates states);
// Both rules, then transition and loop exclude each other (transition wins).
KavioDefaultToggleStates handleDefaultCueToggleStates(KavioDefaultToggleStates states);

// --- Menu validation -------------------------------------------------------------------------------

// The actions the controller validates; a menu item names its action in its "kavioMenuAction"
// property (an int of this enum).
enum class KavioMenuAction : int {
    Other = 0,
    RewindCurrentItem,
    CreateVideoCue,
    CreateCameraCue,
    CreateSyphonCue,
    CreateNDICue,
    ToggleCollapseExpandCues,
    ToggleTimeDisplay,
    ToggleTRTDisplay,
    ToggleCueTimeOverlay,
    ToggleSubtitlesDisplay,
    ToggleRenderingFPSDisplay,
    ToggleCueAutoScroll,
    ResetInOutTime,
    DoPanic,
    JumpToSelectedItem,
    JumpToAndPlaySelectedItem,
    SelectPreviousCue,
    SelectNextCue,
    SetThumbnailTime,
    StepToNextFrame,
    StepToPrevFrame,
    SetGotoOnCurrentToSelected,
    CreateWindowSourceCue,
};

// What the menu rules read.
struct KavioMenuState {
    bool markerDragging = false;
    bool slave = false;  // following MIDI timecode or LTC
    bool transcoding = false;
    bool playing = false;
    bool loadingProject = false;
    bool anySelected = false;
    float masterFader = 1.0f;
    bool jumpToSelectedEnabled = false;
    bool listEmpty = true;
    // The reference cue (last clicked, else current) has a previous / next cue.
    bool referenceHasPrevious = false, referenceHasNext = false;
    bool cueListIsFirstResponder = false;
    bool canStepPrev = false, canStepNext = false;
    bool windowCaptureAvailable = false;
    // The current cue, when there is one.
    bool hasCurrent = false;
    int currentMediaType = -1;
    bool currentIsMissing = false;
    bool currentIsSelected = false;
    bool currentHasInOrOutPoint = false;
    // The display defaults the View items flip.
    bool displayTimeLeft = false, displayTRT = false, displayCueTimeOverlay = false;
    bool displaySubtitles = false, displayRenderingFPS = false, autoScrollToCurrentCue = false;
};

struct KavioMenuValidation {
    bool enabled = true;
    QString title;  // empty: the item keeps its title
};

KavioMenuValidation validateMenuAction(KavioMenuAction action, const KavioMenuState& state);

// --- Transport validation --------------------------------------------------------------------------

struct KavioTransportState {
    std::size_t itemCount = 0;
    bool markerDragging = false;
    bool playButtonOn = false;
    bool hasCurrent = false;
    float currentDuration = 0.0f;  // seconds
};

// Each control's enabled state; nullopt leaves the control as it is.
struct KavioTransportControls {
    std::optional<bool> play, loop, globalTransition, rewind, fastForward, previous, next;
    std::optional<bool> timecodeField, marker, masterButton;
    bool goto10 = false, goto20 = false, goto30 = false;
    // The play button is on with nothing to play: switch it off and stop playback.
    bool stopPlayback = false;
    // Switch the play, loop, rewind, fast-forward, previous and next buttons off.
    bool switchButtonsOff = false;
};

KavioTransportControls transportControlsForState(const KavioTransportState& state);

// Whether a cue of `duration` seconds is long enough for a goto `seconds` before its end;
// compared in whole ticks of 1/600 s, as the cue's times are kept.
bool gotoFitsDuration(float duration, std::int64_t seconds);
