#include "ShellTestSupport.h"

#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "Shell/KavioWindow.h"
#include "Support/KavioButtonInterface.h"
#include "Support/KavioPopUpButtonInterface.h"
#include "Support/KavioSliderInterface.h"
#include "Support/KavioTextFieldInterface.h"

#include <QAction>
#include "Views/KavioPopUpButton.h"

#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

namespace {

// The source pop-ups, which list the devices and interfaces there are; the tests give them two
// more. (The LTC channels follow the LTC device, which is none of the machine's here.)
std::vector<KavioPopUpButtonInterface*> sourcePopups(const AppDelegateOutlets& o)
{
    return {o.mtcSourcePopup, o.mmcSourcePopup, o.mscSourcePopup, o.midiSourcePopup, o.ltcSourcePopup,
            o.freeWheelTimePopup, o.dmxSourcePopup};
}

void fillPopups(const AppDelegateOutlets& o)
{
    for (KavioPopUpButtonInterface* popup : sourcePopups(o))
        if (auto* list = dynamic_cast<KavioPopUpButton*>(popup); list && list->indexOfItemWithTitle("Second") < 0) {
            popup->addItem("First", 1);
            popup->addItem("Second", 2);
        }
}

// The trigger messages, as the operator learned them.
std::vector<std::pair<KavioTextFieldInterface*, QString>> triggerTexts(const AppDelegateOutlets& o)
{
    return {{o.midiStartField, "90 3C"},  {o.midiStopField, "90 3D"},    {o.midiPreviousField, "90 3E"},
            {o.midiNextField, "90 3F"},   {o.midiMainFaderField, "B0 07"}, {o.dmxStartStopField, "12"},
            {o.dmxPreviousField, "13"},   {o.dmxNextField, "14"},        {o.dmxMainFaderField, "15"}};
}

}  // namespace

TEST(AppDelegatePreferences, EveryControlOffItsDefaultRoundTrips)
{
    ShellTestEnvironment env;
    QVariantMap saved;
    {
        ShellTestProgram program(env);
        program.launch();
        const auto controller = program.ui->controller();
        const KavioVideoItemManagerOutlets& c = controller->outlets();
        const AppDelegateOutlets& o = program.app().outlets();
        // The controller's pop-ups start on its defaults.
        EXPECT_EQ(c.frameratePopup->selectedTag(), 3);
        EXPECT_EQ(c.defaultFadeDurationPopup->titleOfSelectedItem(), "1");
        EXPECT_EQ(c.defaultTransitionPopup->titleOfSelectedItem(), "Dissolve");
        EXPECT_EQ(c.defaultTransitionDurationPopup->titleOfSelectedItem(), "2");
        EXPECT_EQ(c.jumpBehaviourPopup->selectedTag(), 1);
        controller->masterClock()->setSmpteFormat(1);
        ASSERT_TRUE(c.frameratePopup->selectItemWithTag(1));
        ASSERT_TRUE(c.defaultFadeDurationPopup->selectItemWithTitle("0 (cut)"));
        ASSERT_TRUE(c.defaultTransitionPopup->selectItemWithTitle("Wipe Left"));
        ASSERT_TRUE(c.defaultTransitionDurationPopup->selectItemWithTitle("0.5"));
        fillPopups(o);
        for (KavioPopUpButtonInterface* popup : sourcePopups(o))
            popup->selectItemWithTitle("Second");
        for (const auto& [field, text] : triggerTexts(o))
            field->setStringValue(text);
        o.dmxSubNetPopup->selectItemWithTitle("48");
        o.dmxUniversePopup->selectItemWithTitle("7");
        o.oscEnableButton->setState(1);
        o.oscFeedbackTargetPopup->selectItemWithTitle("Custom");
        o.oscFeedbackTargetIP->setStringValue("10.0.0.5");
        o.oscFeedbackTargetPort->setStringValue("9000");
        c.startTimeField->setStringValue("01:00:00:00");
        c.masterSlider->setDoubleValue(0.5);
        // A combination the coupling rules keep (loop excludes the pauses and the transition).
        for (KavioButtonInterface* button :
             {c.defaultToggleAudio, c.defaultToggleFadeIn, c.defaultToggleFadeOut, c.defaultToggleLoop})
            button->setState(1);
        for (KavioButtonInterface* button :
             {c.defaultToggleTransition, c.defaultTogglePauseAtBeginning, c.defaultTogglePauseAtEnd})
            button->setState(0);
        program.app().outlets().loopButton->setState(1);
        program.app().outlets().globalTransitionButton->setState(1);
        controller->setDefaultNonMovieCueDuration(7.5);
        controller->setJumpBehaviour(0);
        program.ui->window().setGeometry(60, 70, 900, 600);
        saved = program.app().saveData();
    }
    ShellTestProgram program(env);
    program.launch();
    fillPopups(program.app().outlets());
    program.app().loadWithData(saved);
    const QVariantMap again = program.app().saveData();
    // The record's 49 keys, the network link's among them.
    EXPECT_EQ(saved.size(), 49);
    EXPECT_EQ(saved.value("nmcManager").toMap().value("serversPopup"), "Disabled");
    EXPECT_EQ(again.keys(), saved.keys());
    for (const QString& key : saved.keys())
        EXPECT_EQ(again.value(key), saved.value(key)) << key.toStdString();
    EXPECT_EQ(saved.value("startTime"), "01:00:00:00");
    EXPECT_EQ(saved.value("masterSlider").typeId(), QMetaType::Float);
    EXPECT_EQ(saved.value("jumpBehaviour").typeId(), QMetaType::Int);
    EXPECT_EQ(saved.value("defaultToggleLoop"), true);
    EXPECT_EQ(saved.value("mtcSource"), "Second");
    EXPECT_EQ(saved.value("dmxUniversePopup"), "7");
    EXPECT_EQ(saved.value("oscEnableButton").typeId(), QMetaType::Bool);
    EXPECT_EQ(program.app().lastInterfaces().midi, "Second");
    const KavioVideoItemManagerOutlets& c = program.ui->controller()->outlets();
    EXPECT_EQ(saved.value("smpteFormat"), 1);
    EXPECT_EQ(c.frameratePopup->titleOfSelectedItem(), "25 fps");
    EXPECT_EQ(saved.value("defaultFadeDurationPopup"), "0 (cut)");
    EXPECT_EQ(saved.value("defaultTransition"), "Wipe Left");
    EXPECT_EQ(saved.value("defaultTransitionDurationPopup"), "0.5");
    EXPECT_EQ(saved.value("jumpBehaviour"), 0);
    EXPECT_EQ(c.jumpBehaviourPopup->selectedTag(), 0);
    EXPECT_EQ(c.defaultToggleTransition->isEnabled(), false) << "the rules ran on the restored toggles";

    // A record with every default toggle on comes back as the rules allow it: the transition
    // wins over the loop, and the loop had already switched both pauses off.
    QVariantMap conflicting = saved;
    for (const char* key : {"defaultToggleAudio", "defaultToggleFadeIn", "defaultToggleFadeOut", "defaultToggleTransition",
                            "defaultTogglePauseAtBeginning", "defaultTogglePauseAtEnd", "defaultToggleLoop"})
        conflicting.insert(QString::fromLatin1(key), true);
    program.app().loadWithData(conflicting);
    const QVariantMap restored = program.app().saveData();
    for (const auto& [key, on] : std::vector<std::pair<const char*, bool>>{{"defaultToggleAudio", true},
                                                                          {"defaultToggleFadeIn", true},
                                                                          {"defaultToggleFadeOut", true},
                                                                          {"defaultToggleTransition", true},
                                                                          {"defaultTogglePauseAtBeginning", false},
                                                                          {"defaultTogglePauseAtEnd", false},
                                                                          {"defaultToggleLoop", false}})
        EXPECT_EQ(restored.value(QString::fromLatin1(key)), on) << key;
    EXPECT_FALSE(c.defaultToggleLoop->isEnabled());
    EXPECT_FALSE(c.defaultTogglePauseAtEnd->isEnabled());
}

TEST(AppDelegatePreferences, SourcesComeBackMarkedWhileMissingAndPlainOnceBack)
{
    const QString mark = " - DISCONNECTED";
    const struct {
        const char* name;
        QString stored;
        QString selected;
    } cases[] = {
        {"there", "Port B", "Port B"},
        {"gone", "Port X", "Port X" + mark},
        {"still gone", "Port X" + mark, "Port X" + mark},
        {"back", "Port A" + mark, "Port A"},
    };
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    const AppDelegateOutlets& o = program.app().outlets();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (KavioPopUpButtonInterface* popup : {o.mtcSourcePopup, o.ltcSourcePopup, o.dmxSourcePopup}) {
            auto* list = dynamic_cast<KavioPopUpButton*>(popup);
            ASSERT_TRUE(list);
            list->removeAllItems();
            popup->addItem("Port A", 1);
            popup->addItem("Port B", 2);
        }
        program.app().loadWithData({{"mtcSource", c.stored}, {"ltcSource", c.stored}, {"dmxSourcePopup", c.stored}});
        for (KavioPopUpButtonInterface* popup : {o.mtcSourcePopup, o.ltcSourcePopup, o.dmxSourcePopup})
            EXPECT_EQ(popup->titleOfSelectedItem(), c.selected);
        EXPECT_EQ(dynamic_cast<KavioPopUpButton*>(o.mtcSourcePopup)->indexOfItemWithTitle(c.selected + mark), -1)
            << "one marker at most";
        // The source's own action then remembers a source that is there by its plain title.
        EXPECT_EQ(program.app().lastInterfaces().mtc, c.selected.contains(mark) ? c.stored : c.selected);
        EXPECT_EQ(program.app().lastInterfaces().dmx, c.stored) << "no interface of the machine";
    }
    // A record without a source leaves the pop-up and the last interface as they are.
    program.app().loadWithData({{"jumpBehaviour", 1}});
    EXPECT_EQ(o.mtcSourcePopup->titleOfSelectedItem(), "Port A");
    EXPECT_EQ(program.app().lastInterfaces().mtc, "Port A");
}

TEST(AppDelegatePreferences, OlderTriggerKeysAndAFeedbackTargetNoLongerSeen)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    const AppDelegateOutlets& o = program.app().outlets();
    program.app().loadWithData({{"midiStartStopField", "90 40"}, {"midiStopField", "90 41"}});
    EXPECT_EQ(o.midiStartField->stringValue(), "90 40");
    EXPECT_EQ(o.midiStopField->stringValue(), "90 41");

    const int freeWheelTimes = o.freeWheelTimePopup->numberOfItems();
    program.app().loadWithData({{"oscFeedbackTargetPopup", "Laptop (192.168.1.20)"},
                                {"oscFeedbackTargetIP", "192.168.1.20"},
                                {"oscFeedbackTargetPort", "53001"},
                                {"freewheel", "No such time"},
                                {"dmxSubNetPopup", "99"}});
    EXPECT_EQ(o.oscFeedbackTargetPopup->titleOfSelectedItem(), "Custom");
    EXPECT_EQ(o.oscFeedbackTargetIP->stringValue(), "192.168.1.20");
    EXPECT_EQ(o.oscFeedbackTargetPort->stringValue(), "53001");
    EXPECT_EQ(o.freeWheelTimePopup->numberOfItems(), freeWheelTimes) << "a stale title adds no item";
    EXPECT_EQ(o.dmxSubNetPopup->titleOfSelectedItem(), "0");

    for (bool onTop : {true, false}) {
        program.app().loadWithData({{"alwaysOnTop", onTop}});
        EXPECT_EQ(o.alwaysOnTopMenuItem->isChecked(), onTop);
        EXPECT_EQ(program.ui->window().windowFlags().testFlag(Qt::WindowStaysOnTopHint), onTop);
        EXPECT_EQ(program.app().saveData().value("alwaysOnTop"), onTop);
    }
}

TEST(AppDelegatePreferences, WrongKindsAndStaleTitlesLeaveControlsAsTheyAre)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    const auto controller = program.ui->controller();
    const KavioVideoItemManagerOutlets& c = controller->outlets();
    c.defaultTransitionPopup->selectItemWithTitle("Wipe Left");
    controller->setJumpBehaviour(0);
    program.app().outlets().loopButton->setState(1);
    const QRect frame = program.ui->window().geometry();

    program.app().loadWithData({{"defaultTransition", "No such transition"},
                                {"defaultFadeDurationPopup", 3},
                                {"jumpBehaviour", "fast"},
                                {"loopButton", QVariantMap()},
                                {"mainWindowFrame", "{{1, 2}, {broken"},
                                {"audioOutputData", "not a record"}});
    EXPECT_EQ(c.defaultTransitionPopup->titleOfSelectedItem(), "Wipe Left");
    EXPECT_EQ(c.defaultFadeDurationPopup->titleOfSelectedItem(), "1");
    EXPECT_EQ(controller->jumpBehaviour(), 0);
    EXPECT_EQ(c.jumpBehaviourPopup->selectedTag(), 0);
    EXPECT_EQ(program.app().outlets().loopButton->state(), 1);
    EXPECT_EQ(program.ui->window().geometry(), frame);
    // An absent fader value is full level.
    EXPECT_DOUBLE_EQ(c.masterSlider->doubleValue(), 1.0);

    // The zero frame keeps the window where it is; absent default toggles are off.
    const std::vector<KavioButtonInterface*> toggles = {c.defaultToggleAudio, c.defaultToggleFadeIn,
                                                        c.defaultToggleFadeOut, c.defaultToggleTransition,
                                                        c.defaultTogglePauseAtBeginning, c.defaultTogglePauseAtEnd,
                                                        c.defaultToggleLoop};
    for (KavioButtonInterface* toggle : toggles)
        toggle->setState(1);
    program.app().loadWithData({{"mainWindowFrame", "{{0, 0}, {0, 0}}"}});
    EXPECT_EQ(program.ui->window().geometry(), frame);
    for (KavioButtonInterface* toggle : toggles)
        EXPECT_EQ(toggle->state(), 0) << toggle->title().toStdString();
}

TEST(AppDelegatePreferences, AWindowFrameOffEveryScreenComesBackOntoTheNearest)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    program.app().loadWithData({{"mainWindowFrame", "{{20000, -9000}, {900, 500}}"}});
    const QRect frame = program.ui->window().geometry();
    EXPECT_EQ(frame.size(), QSize(900, 500));
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens())
        onScreen = onScreen || screen->availableGeometry().intersects(frame);
    EXPECT_TRUE(onScreen) << frame.x() << "," << frame.y();
}
