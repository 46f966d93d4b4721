// The transition popup and length, the volume in decibels and the output routing; a type change
// of a running transition's destination, handed over at the end of a render pass the test runs;
// and the goto change that waits for the end of the pass in the same way.

#include "InspectorTestSupport.h"

#include "../cue/CueRendererFakes.h"

#include "Audio/KavioAudioChannelsView.h"
#include "Audio/KavioAudioOutputManagerInterface.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioSlider.h"

#include "UndoManager.h"

#include <cmath>

#include <gtest/gtest.h>

using InspectorTest::Fixture;

namespace {

// The renderers are recorded for the whole life of the cues.
struct WithRenderers {
    RecordingRenderers renderers;
};

struct TransitionFixture : WithRenderers, Fixture {
    std::shared_ptr<KavioVideoItem> stillCue(const QString& name)
    {
        auto cue = add(still(name));
        cue->setDurationOfNonMovies(20);
        controller->buildItemQueue();
        return cue;
    }
    std::shared_ptr<RecordingTransitionRenderer> current() const
    {
        return std::dynamic_pointer_cast<RecordingTransitionRenderer>(controller->currentTransition());
    }
};

struct AudioOutput : KavioAudioOutputManagerInterface {
    int32_t audioOutputKind() const override { return 30; }
    bool isDisabled() const override { return false; }
    bool shouldUseStereoDownMix() const override { return downmix; }
    QList<int> outputChannelMapping() const override { return {1, 2}; }
    int32_t delayInMs() const override { return 0; }
    bool downmix = false;
};

TEST(KavioInspectorTransitionAudio, MixedTypesTakeOneChoiceInOneStepAndUndoGivesEachItsOwn)
{
    TransitionFixture f;
    const auto a = f.stillCue(QStringLiteral("a.png"));
    const auto b = f.stillCue(QStringLiteral("b.png"));
    a->setTransitionType(KavioTransitionTypeDissolve);
    b->setTransitionType(KavioTransitionTypeWipeRight);
    f.select({a, b});
    KavioPopUpButton* popup = f.o().transitionPopup;
    ASSERT_EQ(popup->titleOfSelectedItem(), kKavioMixedTitle);
    EXPECT_FALSE(popup->itemAtIndex(0).enabled);
    const std::size_t made = f.renderers.transitions.size();
    popup->chooseItemAtIndex(popup->indexOfItemWithTag(KavioTransitionTypeWipeLeft));
    EXPECT_EQ(a->transitionType(), KavioTransitionTypeWipeLeft);
    EXPECT_EQ(b->transitionType(), KavioTransitionTypeWipeLeft);
    // Nothing runs: each cue's renderer is remade at once, of the new type.
    ASSERT_EQ(f.renderers.transitions.size(), made + 2);
    EXPECT_EQ(f.renderers.transitions.back()->type, KavioTransitionTypeWipeLeft);
    EXPECT_EQ(f.undo().undoCount(), 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Transitions"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(a->transitionType(), KavioTransitionTypeDissolve);
    EXPECT_EQ(b->transitionType(), KavioTransitionTypeWipeRight);
    ASSERT_TRUE(f.undo().redo());
    EXPECT_EQ(b->transitionType(), KavioTransitionTypeWipeLeft);
}

TEST(KavioInspectorTransitionAudio, ATypeChangeOfARunningTransitionsDestinationTakesOverAfterThePassAtItsProgress)
{
    TransitionFixture f;
    const auto outgoing = f.addMovieWithPlayhead();
    const auto incoming = f.stillCue(QStringLiteral("next.png"));
    incoming->setIsUsingDefaultTransitionDuration(false);
    incoming->setTransitionTime(1.5);
    outgoing->setHasTransition(true);
    outgoing->setupTransition();
    const auto running = std::dynamic_pointer_cast<RecordingTransitionRenderer>(outgoing->transition());
    ASSERT_NE(running, nullptr);
    running->setDestinationItem(incoming);
    running->setProgress(0.4f);
    f.controller->setCurrentTransition(running);
    outgoing->inTransition = true;

    f.select({incoming});
    f.o().transitionPopup->chooseItemAtIndex(f.o().transitionPopup->indexOfItemWithTag(KavioTransitionTypeRipple));
    EXPECT_EQ(incoming->transitionType(), KavioTransitionTypeRipple);
    // The pass under way keeps the renderer it draws.
    EXPECT_EQ(f.current(), running);

    f.renderPass();
    const auto handedOver = f.current();
    ASSERT_NE(handedOver, nullptr);
    EXPECT_NE(handedOver, running);
    EXPECT_EQ(handedOver, incoming->transition());
    EXPECT_EQ(handedOver->type, KavioTransitionTypeRipple);
    EXPECT_FLOAT_EQ(handedOver->progress(), 0.4f);
    EXPECT_EQ(handedOver->sourceItem(), outgoing);
    EXPECT_EQ(handedOver->destinationItem(), incoming);
    EXPECT_DOUBLE_EQ(handedOver->duration(), incoming->transitionTime());
    outgoing->inTransition = false;
}

TEST(KavioInspectorTransitionAudio, AGotoChangeDuringATransitionReachesTheTransitionAfterThePass)
{
    TransitionFixture f;
    const auto current = f.addMovieWithPlayhead();
    const auto target = f.stillCue(QStringLiteral("target.png"));
    f.stillCue(QStringLiteral("between.png"));
    current->setHasTransition(true);
    current->inTransition = true;
    f.select({current});
    const std::size_t made = f.renderers.transitions.size();
    KavioPopUpButton* popup = f.o().gotoPopup;
    popup->chooseItemAtIndex(popup->indexOfItemWithTitle(QString::number(long(target->index()))));
    ASSERT_EQ(current->gotoItemUID(), target->uid());
    EXPECT_EQ(f.renderers.transitions.size(), made);

    f.renderPass();
    ASSERT_EQ(f.renderers.transitions.size(), made + 1);
    EXPECT_EQ(f.renderers.transitions.back()->sourceItem(), current);
    EXPECT_EQ(current->transition(), f.renderers.transitions.back());
    current->inTransition = false;
}

TEST(KavioInspectorTransitionAudio, TheLengthShowsDefaultOrCustomAndUndoGivesBackTheMode)
{
    TransitionFixture f;
    const auto a = f.stillCue(QStringLiteral("a.png"));
    const auto b = f.stillCue(QStringLiteral("b.png"));
    KavioPopUpButton* mode = f.o().transitionDurationPopup;
    KavioTextField* field = f.o().transitionDurationField;
    a->setIsUsingDefaultTransitionDuration(true);
    f.select({a});
    EXPECT_EQ(mode->titleOfSelectedItem(), QStringLiteral("Project's Default"));
    EXPECT_FALSE(field->isEnabled());
    a->setIsUsingDefaultTransitionDuration(false);
    a->setTransitionTime(2.5);
    f.select({a});
    EXPECT_EQ(mode->titleOfSelectedItem(), QStringLiteral("Custom"));
    EXPECT_EQ(field->text(), QStringLiteral("2.5"));
    EXPECT_TRUE(field->isEnabled());

    // "1" and "1.0" read the same; 1 and 1.5 do not.
    b->setIsUsingDefaultTransitionDuration(false);
    a->setTransitionTime(1.0);
    b->setTransitionTime(1.0);
    f.select({a, b});
    EXPECT_EQ(field->text(), QStringLiteral("1"));
    b->setTransitionTime(1.5);
    f.select({a, b});
    EXPECT_EQ(field->text(), QString());
    EXPECT_EQ(Fixture::placeholder(field), kKavioMixedTitle);

    Fixture::type(field, QStringLiteral("3"));
    EXPECT_DOUBLE_EQ(a->transitionTime(), 3.0);
    EXPECT_DOUBLE_EQ(b->transitionTime(), 3.0);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Transition Durations"));
    for (const char* typed : {"601", "-1", "abc"}) {
        SCOPED_TRACE(typed);
        const int records = f.undo().undoCount();
        Fixture::type(field, QString::fromUtf8(typed));
        EXPECT_EQ(field->text(), QStringLiteral("3"));
        EXPECT_EQ(f.undo().undoCount(), records);
    }

    // To the project's default and back: undo restores the custom mode with its length.
    f.showProjectDefault(&KavioVideoItemManagerOutlets::defaultTransitionDurationPopup, QStringLiteral("4"));
    f.select({a});
    mode->chooseItemAtIndex(mode->indexOfItemWithTitle(QStringLiteral("Project's Default")));
    EXPECT_TRUE(a->isUsingDefaultTransitionDuration());
    EXPECT_DOUBLE_EQ(a->transitionTime(), 4.0);
    EXPECT_FALSE(field->isEnabled());
    ASSERT_TRUE(f.undo().undo());
    EXPECT_FALSE(a->isUsingDefaultTransitionDuration());
    EXPECT_DOUBLE_EQ(a->transitionTime(), 3.0);
    EXPECT_EQ(mode->titleOfSelectedItem(), QStringLiteral("Custom"));
    ASSERT_TRUE(f.undo().redo());
    EXPECT_TRUE(a->isUsingDefaultTransitionDuration());
}

TEST(KavioInspectorTransitionAudio, VolumeIsTypedInDecibelsAndStoredAsGain)
{
    Fixture f;
    const auto a = f.add(InspectorTest::wav());
    const auto b = f.add(InspectorTest::wav());
    a->setVolume(1.0f);
    b->setVolume(0.5f);
    f.select({a, b});
    KavioTextField* field = f.o().audioVolumeField;
    EXPECT_EQ(Fixture::placeholder(field), kKavioMixedTitle);
    // This fixture has no audio device, so a single cue's refresh may have left the field off.
    field->setEnabled(true);
    Fixture::type(field, QStringLiteral("-6"));
    const float gain = float(std::pow(10.0, -6.0 / 20.0));
    EXPECT_NEAR(a->volume(), 0.501187f, 1e-6f);
    EXPECT_FLOAT_EQ(a->volume(), gain);
    EXPECT_FLOAT_EQ(b->volume(), gain);
    EXPECT_FLOAT_EQ(f.o().audioVolumeSlider->floatValue(), gain);
    EXPECT_EQ(field->text(), QStringLiteral("-6"));
    EXPECT_EQ(f.undo().undoCount(), 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Audio Volumes"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_FLOAT_EQ(a->volume(), 1.0f);
    EXPECT_FLOAT_EQ(b->volume(), 0.5f);
    EXPECT_EQ(f.undo().redoActionName(), QStringLiteral("Change Audio Volume"));
    ASSERT_TRUE(f.undo().redo());

    // Up to +6 dB (a gain of 2), no lower bound; no letters.
    for (const char* typed : {"7", "abc", "-"}) {
        SCOPED_TRACE(typed);
        const int records = f.undo().undoCount();
        Fixture::type(field, QString::fromUtf8(typed));
        EXPECT_EQ(field->text(), QStringLiteral("-6"));
        EXPECT_EQ(f.undo().undoCount(), records);
    }
    Fixture::type(field, QStringLiteral("-400"));
    EXPECT_GE(a->volume(), 0.0f);
    EXPECT_TRUE(std::isfinite(a->volume()));
    Fixture::type(field, QStringLiteral("6"));
    EXPECT_NEAR(a->volume(), 1.99526f, 1e-4f);

    // One cue at unity shows 0 dB.
    a->setVolume(1.0f);
    f.panel->handleVolumeField();
    f.select({a});
    EXPECT_EQ(field->text(), QStringLiteral("0"));
}

TEST(KavioInspectorTransitionAudio, RoutingChangesTheCurrentCueAloneAndDownMixKeepsThePopupOff)
{
    Fixture f;
    const auto a = f.add(InspectorTest::wav());
    const auto b = f.add(InspectorTest::wav());
    auto output = std::make_shared<AudioOutput>();
    KavioVideoItemManagerOutlets outlets = f.controller->outlets();
    outlets.audioOutputManager = output;
    f.controller->setOutlets(outlets);
    a->setIsUsingDefaultAudioChannels(false);
    b->setIsUsingDefaultAudioChannels(false);
    f.select({a, b});
    const int records = f.undo().undoCount();
    f.o().audioChannelsPopup->selectItemWithTitle(QStringLiteral("Project's Default"));
    f.panel->changeAudioChannels();
    EXPECT_TRUE(a->isUsingDefaultAudioChannels());
    EXPECT_FALSE(b->isUsingDefaultAudioChannels());
    EXPECT_FALSE(f.o().audioChannelsView->isEditingEnabled());
    EXPECT_EQ(f.undo().undoCount(), records + 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Audio Output Routing"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_FALSE(a->isUsingDefaultAudioChannels());
    EXPECT_TRUE(f.o().audioChannelsView->isEditingEnabled());
    EXPECT_EQ(f.o().audioChannelsPopup->titleOfSelectedItem(), QStringLiteral("Custom"));
    ASSERT_TRUE(f.undo().redo());
    EXPECT_TRUE(a->isUsingDefaultAudioChannels());

    // A mapping change records nothing and marks nothing; under down-mix the popup stays off.
    output->downmix = true;
    const int unsaved = f.app->unsavedChanges;
    const int before = f.undo().undoCount();
    f.o().audioChannelsView->channelMappingChanged();
    EXPECT_FALSE(f.o().audioChannelsPopup->isEnabled());
    EXPECT_EQ(f.undo().undoCount(), before);
    EXPECT_EQ(f.app->unsavedChanges, unsaved);
    output->downmix = false;
    f.o().audioChannelsView->channelMappingChanged();
    EXPECT_TRUE(f.o().audioChannelsPopup->isEnabled());
    outlets.audioOutputManager.reset();
    f.controller->setOutlets(outlets);
}

}  // namespace
