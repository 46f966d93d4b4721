// The program's windows hold the custom-drawn controls, none of the plain stand-ins.

#include "ShellTestSupport.h"
#include "ViewsTestSupport.h"

#include "Audio/KavioAudioOutputPanel.h"
#include "Inspector/KavioVideoItemPreferencesView.h"
#include "Shell/KavioWindow.h"
#include "Support/KavioPlainTextField.h"
#include "Views/KavioButton.h"
#include "Views/KavioColorWell.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioSlider.h"
#include "Views/KavioStylishButtonCell.h"
#include "Views/KavioTextField.h"
#include "Views/KavioTimecodeTextField.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>

namespace {

template <typename T>
int count(const QList<QWidget*>& widgets)
{
    int n = 0;
    for (QWidget* w : widgets)
        n += dynamic_cast<T*>(w) ? 1 : 0;
    return n;
}

QList<QWidget*> allWidgets(QWidget& window)
{
    QList<QWidget*> all = window.findChildren<QWidget*>();
    all << &window;
    return all;
}

}  // namespace

TEST(ControlSwap, WindowsHoldTheCustomControls)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    const QList<QWidget*> main = allWidgets(program.ui->window());
    const QList<QWidget*> preferences = allWidgets(program.ui->preferencesWindow());
    const QList<QWidget*> startup = allWidgets(program.ui->startupWindow());
    for (const QList<QWidget*>* widgets : {&main, &preferences, &startup}) {
        EXPECT_EQ(count<QComboBox>(*widgets), 0);
        EXPECT_EQ(count<QCheckBox>(*widgets), 0);
        EXPECT_EQ(count<QPushButton>(*widgets), 0) << "plain buttons and colour wells";
        EXPECT_EQ(count<QSlider>(*widgets), 0);
        EXPECT_EQ(count<KavioPlainTextField>(*widgets), 0);
    }
    // The inspector in the right panel holds controls of its own.
    EXPECT_EQ(count<KavioVideoItemPreferencesView>(main), 1);
    QList<QWidget*> outsideInspector;
    for (QWidget* w : main) {
        bool inInspector = false;
        for (QWidget* up = w; up && !inInspector; up = up->parentWidget())
            inInspector = qobject_cast<KavioVideoItemPreferencesView*>(up) != nullptr;
        if (!inInspector)
            outsideInspector << w;
    }
    EXPECT_EQ(count<KavioTimecodeTextField>(outsideInspector), 1) << "the time display";
    EXPECT_EQ(count<KavioButton>(outsideInspector), 11)
        << "the transport, the three panel buttons and the network master switch";
    EXPECT_EQ(count<KavioSlider>(outsideInspector), 1) << "the master fader";
    EXPECT_GE(count<KavioPopUpButton>(preferences), 17);
    EXPECT_GE(count<KavioTextField>(preferences), 4);
    EXPECT_EQ(count<KavioColorWell>(preferences), 3);
    EXPECT_EQ(count<KavioSlider>(preferences), 1) << "the audio panel's main volume";
    int checkBoxes = 0;
    for (QWidget* w : preferences)
        if (auto* button = dynamic_cast<KavioButton*>(w))
            checkBoxes += dynamic_cast<KavioStylishButtonCell*>(&button->cell()) ? 1 : 0;
    EXPECT_EQ(checkBoxes, 26) << "the playlist (nine default toggles among them) and general toggles, OSC input, the "
                                 "audio normalisation, the nine trigger Learn toggles, the HyperDeck and NDI switches";
    EXPECT_EQ(count<KavioButton>(startup), 7) << "three commands, three pages and the launch check box";

    program.ui->preferencesWindow().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&program.ui->preferencesWindow()));
    ViewsTest::saveScreenshot(program.ui->preferencesWindow(), QStringLiteral("preferences"));
}
