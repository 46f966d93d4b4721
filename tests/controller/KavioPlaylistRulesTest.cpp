// The rules of the default cue toggles, the menu items and the transport controls, as tables.

#include "Controller/KavioPlaylistRules.h"
#include "Cue/KavioVideoItem.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

using Toggle = KavioDefaultToggleStates::Toggle;

std::ostream& operator<<(std::ostream& out, const Toggle& t)
{
    return out << (t.on ? "on" : "off") << (t.enabled ? "" : "/disabled");
}

}  // namespace

void PrintTo(const KavioDefaultToggleStates& s, std::ostream* out)
{
    *out << "transition " << s.transition << ", loop " << s.loop << ", pause at beginning " << s.pauseAtBeginning
         << ", pause at end " << s.pauseAtEnd;
}

namespace {

constexpr Toggle kOn{true, true}, kOff{false, true}, kOffDisabled{false, false};

KavioDefaultToggleStates statesOf(bool transition, bool loop, bool pauseAtBeginning, bool pauseAtEnd)
{
    // Inputs arrive disabled: every rule must decide the enabled flags itself.
    return {{transition, false}, {loop, false}, {pauseAtBeginning, false}, {pauseAtEnd, false}};
}

TEST(DefaultToggleRules, AllSixteenStatesOfTheFourCoupledToggles)
{
    for (int bits = 0; bits < 16; ++bits) {
        const bool transition = bits & 8, loop = bits & 4, pauseAtBeginning = bits & 2, pauseAtEnd = bits & 1;
        KavioDefaultToggleStates expected;
        if (!transition && !loop) {
            // Nothing to exclude: every toggle stays free and keeps its state.
            expected = {kOff, kOff, pauseAtBeginning ? kOn : kOff, pauseAtEnd ? kOn : kOff};
        } else if (transition) {
            // Transition wins over loop; pause at end is impossible; pause at beginning survives
            // unless loop was on too.
            expected = {kOn, kOffDisabled, !loop && pauseAtBeginning ? kOn : (loop ? kOffDisabled : kOff), kOffDisabled};
        } else {
            // Loop alone: both pauses go; transition is excluded.
            expected = {kOffDisabled, kOn, kOffDisabled, kOffDisabled};
        }
        EXPECT_EQ(handleDefaultCueToggleStates(statesOf(transition, loop, pauseAtBeginning, pauseAtEnd)), expected)
            << "transition " << transition << " loop " << loop << " pause at beginning " << pauseAtBeginning
            << " pause at end " << pauseAtEnd;
    }
}

TEST(DefaultToggleRules, TheHalvesFollowTheirOwnRule)
{
    // Pause at end on: loop and transition both go off and disabled.
    auto s = handleDefaultLoopAndTransitionToggleStates(statesOf(true, true, false, true));
    EXPECT_EQ(s.loop, kOffDisabled);
    EXPECT_EQ(s.transition, kOffDisabled);
    // Pause at beginning alone: only loop goes; transition keeps its state and enabled flag.
    s = handleDefaultLoopAndTransitionToggleStates({{true, true}, {true, true}, {true, true}, {false, true}});
    EXPECT_EQ(s.loop, kOffDisabled);
    EXPECT_EQ(s.transition, kOn);
    // Transition on: pause at end goes, pause at beginning stays free.
    s = handleDefaultPauseToggleStates(statesOf(true, false, true, true));
    EXPECT_EQ(s.pauseAtEnd, kOffDisabled);
    EXPECT_EQ(s.pauseAtBeginning, kOn);
    // Loop on: both pauses go.
    s = handleDefaultPauseToggleStates(statesOf(false, true, true, true));
    EXPECT_EQ(s.pauseAtEnd, kOffDisabled);
    EXPECT_EQ(s.pauseAtBeginning, kOffDisabled);
}

// --- Menu items ---------------------------------------------------------------------------------

KavioMenuState idleShow()
{
    KavioMenuState s;
    s.listEmpty = false;
    s.hasCurrent = true;
    s.currentMediaType = KavioMediaTypeMovie;
    s.currentHasInOrOutPoint = true;
    s.canStepNext = s.canStepPrev = true;
    s.cueListIsFirstResponder = true;
    s.anySelected = true;
    s.jumpToSelectedEnabled = true;
    s.referenceHasPrevious = s.referenceHasNext = true;
    s.windowCaptureAvailable = true;
    return s;
}

TEST(MenuValidation, FollowingTimecodeDisablesTheEditingItemsButNotTheViewToggles)
{
    KavioMenuState s = idleShow();
    for (const KavioMenuAction action :
         {KavioMenuAction::CreateVideoCue, KavioMenuAction::CreateCameraCue, KavioMenuAction::CreateSyphonCue,
          KavioMenuAction::CreateNDICue, KavioMenuAction::RewindCurrentItem, KavioMenuAction::ResetInOutTime,
          KavioMenuAction::StepToNextFrame, KavioMenuAction::StepToPrevFrame})
        EXPECT_TRUE(validateMenuAction(action, s).enabled) << int(action);
    s.slave = true;
    for (const KavioMenuAction action :
         {KavioMenuAction::CreateVideoCue, KavioMenuAction::CreateCameraCue, KavioMenuAction::CreateSyphonCue,
          KavioMenuAction::CreateNDICue, KavioMenuAction::RewindCurrentItem, KavioMenuAction::ResetInOutTime,
          KavioMenuAction::StepToNextFrame, KavioMenuAction::StepToPrevFrame})
        EXPECT_FALSE(validateMenuAction(action, s).enabled) << int(action);
    for (const KavioMenuAction action :
         {KavioMenuAction::ToggleTimeDisplay, KavioMenuAction::ToggleTRTDisplay, KavioMenuAction::ToggleCueTimeOverlay,
          KavioMenuAction::ToggleSubtitlesDisplay, KavioMenuAction::ToggleRenderingFPSDisplay,
          KavioMenuAction::ToggleCueAutoScroll, KavioMenuAction::Other})
        EXPECT_TRUE(validateMenuAction(action, s).enabled) << int(action);
}

TEST(MenuValidation, TheViewTogglesNameTheStateThatIsNotCurrent)
{
    struct Row {
        KavioMenuAction action;
        bool KavioMenuState::*flag;
        const char* whenOn;
        const char* whenOff;
    };
    const Row rows[] = {
        {KavioMenuAction::ToggleTimeDisplay, &KavioMenuState::displayTimeLeft, "Display Current Playlist Time",
         "Display Remaining Cue Time"},
        {KavioMenuAction::ToggleTRTDisplay, &KavioMenuState::displayTRT, "Display Cue End Times",
         "Display Cue Total Run Times"},
        {KavioMenuAction::ToggleCueTimeOverlay, &KavioMenuState::displayCueTimeOverlay,
         "Hide Cue Times Overlay on Preview", "Show Cue Times Overlay on Preview"},
        {KavioMenuAction::ToggleSubtitlesDisplay, &KavioMenuState::displaySubtitles,
         "Hide Subtitles / Closed Captions on Preview", "Show Subtitles / Closed Captions on Preview"},
        {KavioMenuAction::ToggleRenderingFPSDisplay, &KavioMenuState::displayRenderingFPS,
         "Hide Rendering FPS on Preview", "Show Rendering FPS on Preview"},
        {KavioMenuAction::ToggleCueAutoScroll, &KavioMenuState::autoScrollToCurrentCue,
         "Disable Auto-Scroll to Current Cue", "Enable Auto-Scroll to Current Cue"},
    };
    for (const Row& row : rows) {
        KavioMenuState s;
        s.*row.flag = true;
        EXPECT_EQ(validateMenuAction(row.action, s).title, QLatin1String(row.whenOn));
        s.*row.flag = false;
        EXPECT_EQ(validateMenuAction(row.action, s).title, QLatin1String(row.whenOff));
    }
    // Other items keep their titles.
    EXPECT_TRUE(validateMenuAction(KavioMenuAction::DoPanic, idleShow()).title.isEmpty());
}

TEST(MenuValidation, PanicNeedsTheFaderUpAndNoProjectLoading)
{
    KavioMenuState s = idleShow();
    s.masterFader = 0.0f;
    EXPECT_FALSE(validateMenuAction(KavioMenuAction::DoPanic, s).enabled);
    s.masterFader = 0.001f;
    EXPECT_TRUE(validateMenuAction(KavioMenuAction::DoPanic, s).enabled);
    s.loadingProject = true;
    EXPECT_FALSE(validateMenuAction(KavioMenuAction::DoPanic, s).enabled);
}

TEST(MenuValidation, EachItemsOwnCondition)
{
    struct Row {
        KavioMenuAction action;
        void (*change)(KavioMenuState&);
    };
    // Every row: enabled on the idle show, disabled once its one condition fails.
    const Row rows[] = {
        {KavioMenuAction::RewindCurrentItem, [](KavioMenuState& s) { s.hasCurrent = false; }},
        {KavioMenuAction::CreateVideoCue, [](KavioMenuState& s) { s.playing = true; }},
        {KavioMenuAction::CreateNDICue, [](KavioMenuState& s) { s.transcoding = true; }},
        {KavioMenuAction::ToggleCollapseExpandCues, [](KavioMenuState& s) { s.anySelected = false; }},
        {KavioMenuAction::ResetInOutTime, [](KavioMenuState& s) { s.currentHasInOrOutPoint = false; }},
        {KavioMenuAction::ResetInOutTime, [](KavioMenuState& s) { s.currentMediaType = KavioMediaTypeStill; }},
        {KavioMenuAction::ResetInOutTime, [](KavioMenuState& s) { s.playing = true; }},
        {KavioMenuAction::JumpToSelectedItem, [](KavioMenuState& s) { s.jumpToSelectedEnabled = false; }},
        {KavioMenuAction::JumpToAndPlaySelectedItem, [](KavioMenuState& s) { s.jumpToSelectedEnabled = false; }},
        {KavioMenuAction::SelectPreviousCue, [](KavioMenuState& s) { s.referenceHasPrevious = false; }},
        {KavioMenuAction::SelectNextCue, [](KavioMenuState& s) { s.referenceHasNext = false; }},
        {KavioMenuAction::SelectNextCue, [](KavioMenuState& s) { s.cueListIsFirstResponder = false; }},
        {KavioMenuAction::SetThumbnailTime, [](KavioMenuState& s) { s.currentIsMissing = true; }},
        {KavioMenuAction::SetThumbnailTime, [](KavioMenuState& s) { s.currentMediaType = KavioMediaTypeAudio; }},
        {KavioMenuAction::StepToNextFrame, [](KavioMenuState& s) { s.canStepNext = false; }},
        {KavioMenuAction::StepToPrevFrame, [](KavioMenuState& s) { s.playing = true; }},
        {KavioMenuAction::SetGotoOnCurrentToSelected, [](KavioMenuState& s) { s.currentIsSelected = true; }},
        {KavioMenuAction::CreateWindowSourceCue, [](KavioMenuState& s) { s.windowCaptureAvailable = false; }},
    };
    for (const Row& row : rows) {
        KavioMenuState s = idleShow();
        EXPECT_TRUE(validateMenuAction(row.action, s).enabled) << int(row.action);
        row.change(s);
        EXPECT_FALSE(validateMenuAction(row.action, s).enabled) << int(row.action);
    }
    // An audio cue's in and out points can be reset too.
    KavioMenuState audio = idleShow();
    audio.currentMediaType = KavioMediaTypeAudio;
    EXPECT_TRUE(validateMenuAction(KavioMenuAction::ResetInOutTime, audio).enabled);
}

TEST(MenuValidation, DraggingThePlayheadDisablesEverything)
{
    KavioMenuState s = idleShow();
    s.markerDragging = true;
    for (int action = int(KavioMenuAction::Other); action <= int(KavioMenuAction::CreateWindowSourceCue); ++action)
        EXPECT_FALSE(validateMenuAction(KavioMenuAction(action), s).enabled) << action;
}

// --- Transport controls ---------------------------------------------------------------------------

TEST(TransportValidation, ControlsFollowTheListAndTheCurrentCue)
{
    struct Row {
        std::size_t items;
        bool dragging;
        float current;  // seconds; < 0 for no current cue
        bool play, next, transition, gotos[3];
    };
    const Row rows[] = {
        {1, false, -1.0f, true, false, false, {false, false, false}},
        {2, false, -1.0f, true, true, true, {false, false, false}},
        {2, false, 9.99f, true, true, true, {false, false, false}},
        {2, false, 10.0f, true, true, true, {true, false, false}},
        {2, false, 15.0f, true, true, true, {true, false, false}},
        {2, false, 20.0f, true, true, true, {true, true, false}},
        {2, false, 29.99f, true, true, true, {true, true, false}},
        {2, false, 30.0f, true, true, true, {true, true, true}},
    };
    for (const Row& row : rows) {
        KavioTransportState state{row.items, row.dragging, false, row.current >= 0, std::max(row.current, 0.0f)};
        const KavioTransportControls c = transportControlsForState(state);
        SCOPED_TRACE(::testing::Message() << row.items << " cues, current " << row.current);
        EXPECT_EQ(c.play, row.play);
        EXPECT_EQ(c.loop, true);
        EXPECT_EQ(c.previous, true);
        EXPECT_EQ(c.rewind, true);
        EXPECT_EQ(c.fastForward, true);
        EXPECT_EQ(c.next, row.next);
        EXPECT_EQ(c.globalTransition, row.transition);
        EXPECT_EQ(c.timecodeField, true);
        EXPECT_EQ(c.marker, true);
        EXPECT_EQ(c.masterButton, true);
        EXPECT_EQ((std::array{c.goto10, c.goto20, c.goto30}), (std::array{row.gotos[0], row.gotos[1], row.gotos[2]}));
        EXPECT_FALSE(c.stopPlayback);
        EXPECT_FALSE(c.switchButtonsOff);
    }
}

TEST(TransportValidation, AnEmptyListStopsAndDisablesEverything)
{
    for (const bool playing : {false, true}) {
        const KavioTransportControls c = transportControlsForState({0, false, playing, false, 0.0f});
        EXPECT_EQ(c.stopPlayback, playing);
        EXPECT_TRUE(c.switchButtonsOff);
        for (const auto& control : {c.play, c.loop, c.globalTransition, c.rewind, c.fastForward, c.previous, c.next,
                                    c.timecodeField, c.marker, c.masterButton})
            EXPECT_EQ(control, false);
        EXPECT_FALSE(c.goto10 || c.goto20 || c.goto30);
    }
}

TEST(TransportValidation, DraggingThePlayheadDisablesThePlayRowAndLeavesTheRest)
{
    const KavioTransportControls c = transportControlsForState({3, true, true, true, 40.0f});
    for (const auto& control : {c.play, c.rewind, c.fastForward, c.previous, c.next})
        EXPECT_EQ(control, false);
    for (const auto& control : {c.loop, c.globalTransition, c.timecodeField, c.marker, c.masterButton})
        EXPECT_EQ(control, std::nullopt);
    EXPECT_FALSE(c.goto10 || c.goto20 || c.goto30);
    EXPECT_FALSE(c.stopPlayback);
}

}  // namespace
