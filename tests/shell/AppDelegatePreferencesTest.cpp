#include "ShellTestSupport.h"

#include "Controller/KavioVideoItemManager.h"
#include "Shell/KavioWindow.h"
#include "Support/KavioButtonInterface.h"
#include "Support/KavioPopUpButtonInterface.h"
#include "Support/KavioSliderInterface.h"
#include "Support/KavioTextFieldInterface.h"

#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

namespace {

// Gives every pop-up that the record names two items and selects the second.
void fillPopups(const KavioVideoItemManagerOutlets& c)
{
    for (KavioPopUpButtonInterface* popup : {c.defaultFadeDurationPopup, c.defaultTransitionPopup, c.defaultTransitionDurationPopup})
        if (popup->numberOfItems() == 0) {
            popup->addItem("First", 1);
            popup->addItem("Second", 2);
        }
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
        fillPopups(c);
        for (KavioPopUpButtonInterface* popup : {c.defaultFadeDurationPopup, c.defaultTransitionPopup, c.defaultTransitionDurationPopup})
            popup->selectItemWithTitle("Second");
        c.startTimeField->setStringValue("01:00:00:00");
        c.masterSlider->setDoubleValue(0.5);
        for (KavioButtonInterface* button : {c.defaultToggleAudio, c.defaultToggleFadeIn, c.defaultToggleFadeOut,
                                             c.defaultToggleTransition, c.defaultTogglePauseAtBeginning,
                                             c.defaultTogglePauseAtEnd, c.defaultToggleLoop})
            button->setState(1);
        program.app().outlets().loopButton->setState(1);
        program.app().outlets().globalTransitionButton->setState(1);
        controller->setDefaultNonMovieCueDuration(7.5);
        controller->setJumpBehaviour(2);
        program.ui->window().setGeometry(60, 70, 900, 600);
        saved = program.app().saveData();
    }
    ShellTestProgram program(env);
    program.launch();
    fillPopups(program.ui->controller()->outlets());
    program.app().loadWithData(saved);
    const QVariantMap again = program.app().saveData();
    EXPECT_EQ(again.keys(), saved.keys());
    for (const QString& key : saved.keys())
        EXPECT_EQ(again.value(key), saved.value(key)) << key.toStdString();
    EXPECT_EQ(saved.value("startTime"), "01:00:00:00");
    EXPECT_EQ(saved.value("masterSlider").typeId(), QMetaType::Float);
    EXPECT_EQ(saved.value("jumpBehaviour").typeId(), QMetaType::Int);
    EXPECT_EQ(saved.value("defaultToggleLoop"), true);
}

TEST(AppDelegatePreferences, WrongKindsAndStaleTitlesLeaveControlsAsTheyAre)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    const auto controller = program.ui->controller();
    const KavioVideoItemManagerOutlets& c = controller->outlets();
    fillPopups(c);
    c.defaultTransitionPopup->selectItemWithTitle("Second");
    controller->setJumpBehaviour(2);
    program.app().outlets().loopButton->setState(1);
    const QRect frame = program.ui->window().geometry();

    program.app().loadWithData({{"defaultTransition", "No such transition"},
                                {"defaultFadeDurationPopup", 3},
                                {"jumpBehaviour", "fast"},
                                {"loopButton", QVariantMap()},
                                {"mainWindowFrame", "{{1, 2}, {broken"},
                                {"audioOutputData", "not a record"}});
    EXPECT_EQ(c.defaultTransitionPopup->titleOfSelectedItem(), "Second");
    EXPECT_EQ(controller->jumpBehaviour(), 2);
    EXPECT_EQ(program.app().outlets().loopButton->state(), 1);
    EXPECT_EQ(program.ui->window().geometry(), frame);
    // An absent fader value is full level.
    EXPECT_DOUBLE_EQ(c.masterSlider->doubleValue(), 1.0);
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
