// The row's eight playback toggles: the actions across the selection, the per-cue operations and
// the rules between loop, transition and the pauses.

#include "CueRendererFakes.h"
#include "CueTestSupport.h"

#include <gtest/gtest.h>

namespace {

struct ToggleCues {
    RecordingRenderers renderers;
    RecordingOSCOutput osc;
    std::shared_ptr<FakeKavioVideoItemManager> controller = std::make_shared<FakeKavioVideoItemManager>();

    std::shared_ptr<KavioVideoItem> cue()
    {
        auto item = std::make_shared<KavioVideoItem>(osc.sender());
        item->setManager(controller);
        item->setIndex(controller->items.size() + 1);
        item->setItemDuration(10.0f);
        controller->items.push_back(item);
        return item;
    }
};

struct Toggles {
    bool loop, loopEnabled, transition, transitionEnabled, begin, beginEnabled, end, endEnabled;
};

Toggles togglesOf(KavioVideoItem& cue)
{
    return {cue.loopButton().state == 1,      bool(cue.loopButton().enabled),
            cue.transitionButton().state == 1, bool(cue.transitionButton().enabled),
            cue.pauseAtBeginningButton().state == 1, bool(cue.pauseAtBeginningButton().enabled),
            cue.pauseAtEndButton().state == 1, bool(cue.pauseAtEndButton().enabled)};
}

bool operator==(const Toggles& a, const Toggles& b)
{
    return a.loop == b.loop && a.loopEnabled == b.loopEnabled && a.transition == b.transition &&
           a.transitionEnabled == b.transitionEnabled && a.begin == b.begin && a.beginEnabled == b.beginEnabled &&
           a.end == b.end && a.endEnabled == b.endEnabled;
}

std::ostream& operator<<(std::ostream& out, const Toggles& t)
{
    return out << "loop " << t.loop << "/" << t.loopEnabled << " transition " << t.transition << "/"
               << t.transitionEnabled << " begin " << t.begin << "/" << t.beginEnabled << " end " << t.end << "/"
               << t.endEnabled;
}

struct RuleCase {
    const char* name;
    bool loop, transition, begin, end, endless;
    Toggles expected;  // state/enabled pairs
};

class ToggleRules : public testing::TestWithParam<RuleCase> {};

TEST_P(ToggleRules, ValidateTogglesLeavesOnlyAllowedCombinations)
{
    const RuleCase c = GetParam();
    ToggleCues cues;
    const auto cue = cues.cue();
    cue->setNextItem(cues.cue());
    cue->setLoopCount(c.endless ? KavioLoopCountEndless : 3);
    cue->changeLoopToState(c.loop);
    cue->changeTransitionToState(c.transition);
    cue->changePauseAtBeginningToState(c.begin);
    cue->changePauseAtEndToState(c.end);
    cue->validateToggles();
    EXPECT_EQ(togglesOf(*cue), c.expected) << c.name;
    EXPECT_EQ(cue->shouldStopAtEnd(), c.expected.end) << c.name;
    EXPECT_EQ(cue->shouldStopAtBeginning(), c.expected.begin) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ToggleRules,
    testing::Values(
        //                    L  T  B  E  endless   loop   trans   begin   end
        RuleCase{"endless loop", 1, 0, 0, 0, 1, {1, 1, 0, 0, 0, 0, 0, 0}},
        RuleCase{"finite loop", 1, 0, 0, 0, 0, {1, 1, 0, 1, 0, 0, 0, 1}},
        RuleCase{"transition, endless count", 0, 1, 0, 0, 1, {0, 0, 1, 1, 0, 1, 0, 0}},
        RuleCase{"transition, finite count", 0, 1, 0, 0, 0, {0, 1, 1, 1, 0, 1, 0, 0}},
        RuleCase{"pause at end, endless count", 0, 0, 0, 1, 1, {0, 0, 0, 0, 0, 1, 1, 1}},
        RuleCase{"pause at beginning", 0, 0, 1, 0, 0, {0, 1, 0, 1, 1, 1, 0, 1}},
        RuleCase{"finite loop and pause at end", 1, 0, 0, 1, 0, {1, 1, 0, 0, 0, 0, 1, 1}},
        RuleCase{"loop and pause at beginning", 1, 0, 1, 0, 0, {1, 1, 0, 1, 0, 0, 0, 1}}));

TEST(KavioVideoItemToggles, ACueThatFollowsItselfHasEveryRuleToggleOffAndDisabled)
{
    ToggleCues cues;
    const auto cue = cues.cue();
    const auto other = cues.cue();
    other->setUid(QStringLiteral("target"));
    cue->setLoopCount(3);
    cue->changeLoopToState(true);
    cue->changePauseAtEndToState(true);
    cue->setGotoItemUID(QStringLiteral("target"));
    cue->setNextItem(cue);
    cue->validateToggles();
    EXPECT_EQ(togglesOf(*cue), (Toggles{0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(cue->isLooping());
    EXPECT_TRUE(cue->gotoItemUID().isEmpty());
    EXPECT_TRUE(cue->soundButton().enabled);
}

TEST(KavioVideoItemToggles, AClickOnAnUnselectedRowActsOnThatCueAlone)
{
    ToggleCues cues;
    const auto a = cues.cue(), b = cues.cue(), c = cues.cue();
    b->setIsSelected(true);
    c->setIsSelected(true);
    a->loopButton().state = 1;  // the click flipped it
    a->changeLoopOnSelectedItemsFromUI(KavioToggleSender::Button);
    EXPECT_TRUE(a->isSelected());
    EXPECT_FALSE(b->isSelected());
    EXPECT_TRUE(a->isLooping());
    EXPECT_FALSE(b->isLooping());
    EXPECT_FALSE(c->isLooping());
    EXPECT_EQ(cues.controller->calls, (QStringList{"select 1", "toggle 30 1", "loopOn 1"}));
}

TEST(KavioVideoItemToggles, AMenuEntryFlipsTheClickedCueAndAppliesToTheSelection)
{
    ToggleCues cues;
    const auto a = cues.cue(), b = cues.cue(), c = cues.cue();
    for (const auto& cue : {a, b, c})
        cue->setIsSelected(true);
    b->changeLoopToState(true);  // mixed states: the clicked cue's new state wins
    a->changeLoopOnSelectedItemsFromUI(KavioToggleSender::MenuItem);
    for (const auto& cue : {a, b, c}) {
        EXPECT_EQ(cue->loopButton().state, 1);
        EXPECT_TRUE(cue->isLooping());
    }
}

TEST(KavioVideoItemToggles, ADisabledToggleChangesNothingAndMarksNothing)
{
    ToggleCues cues;
    const auto cue = cues.cue();
    cue->loopButton().enabled = false;
    cue->transitionButton().enabled = false;
    const int marks = cues.controller->unsavedChangesCount;
    cue->changeLoopToState(true);
    cue->changeTransitionToState(true);
    cue->changeLoopOnSelectedItemsFromUI(KavioToggleSender::MenuItem);
    EXPECT_EQ(cue->loopButton().state, 0);
    EXPECT_FALSE(cue->isLooping());
    EXPECT_FALSE(cue->hasTransition());
    EXPECT_EQ(cues.controller->unsavedChangesCount, marks);
    EXPECT_TRUE(cues.controller->calls.isEmpty());
}

TEST(KavioVideoItemToggles, PerCueOperationsSetTheirFieldsAndTellTheController)
{
    ToggleCues cues;
    const auto cue = cues.cue();
    const auto next = cues.cue();
    cue->setNextItem(next);
    int marks = cues.controller->unsavedChangesCount;

    // The transition builds its renderer and has the times rebuilt, without marking the project.
    cue->changeTransitionToState(true);
    EXPECT_TRUE(cue->hasTransition());
    EXPECT_NE(cue->transition(), nullptr);
    EXPECT_EQ(cues.controller->calls, (QStringList{"rebuild 1", "transitionChanged 1"}));
    EXPECT_EQ(cues.controller->unsavedChangesCount, marks);

    cues.controller->calls.clear();
    cue->changeLoopToState(true);
    cue->changeLoopToState(false);
    EXPECT_EQ(cues.controller->calls, (QStringList{"loopOn 1", "loopOff 1"}));
    cue->changePauseAtBeginningToState(true);
    EXPECT_TRUE(cue->shouldStopAtBeginning());
    EXPECT_EQ(cues.controller->unsavedChangesCount, marks + 3);

    // Goto rebuilds the transition towards the new next cue and mirrors its state on the label.
    const auto transitionsBefore = cues.renderers.transitions.size();
    cue->gotoButton().enabled = true;
    cue->changeGotoToState(true);
    EXPECT_EQ(cue->gotoTargetButton().state, 1);
    EXPECT_EQ(cues.renderers.transitions.size(), transitionsBefore + 1);
}

}  // namespace
