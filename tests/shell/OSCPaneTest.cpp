// The preferences window's OSC pane driven as an operator does, under the test's X server: the
// enable toggle opens the program's OSC input, the target pop-up and the port field build the
// feedback output. A picture of the pane is kept in the build folder.

#include "ShellTestSupport.h"

#include "QVTOSCManager.h"
#include "Views/KavioButton.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioTextField.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// Named with the preferences tests: the pane switches OSC on, which takes UDP 51000.
TEST(AppDelegatePreferences, OSCPaneSwitchesTheInputAndChoosesTheTarget)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    const AppDelegateOutlets& o = program.app().outlets();
    QWidget& window = program.ui->preferencesWindow();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTabWidget* tabs = o.preferencesTabView;
    ASSERT_NE(tabs, nullptr);
    for (int i = 0; i < tabs->count(); ++i)
        if (tabs->tabText(i) == QStringLiteral("OSC"))
            tabs->setCurrentIndex(i);

    auto* enable = dynamic_cast<KavioButton*>(o.oscEnableButton);
    auto* target = dynamic_cast<KavioPopUpButton*>(o.oscFeedbackTargetPopup);
    auto* port = dynamic_cast<KavioTextField*>(o.oscFeedbackTargetPort);
    ASSERT_TRUE(enable && target && port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return enable->isVisible(); }, 5000));

    QVTOSCManager& kit = QVTOSCManager::sharedManager();
    QTest::mouseClick(enable, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return kit.portOfInputWithName(QStringLiteral("Kavio")) == 51000; }, 5000));
    EXPECT_TRUE(env.alerts.isEmpty());

    // "Custom" from the pop-up's menu fills the empty fields.
    // The menu runs modally: it is answered from a timer once it shows.
    auto* chooser = new QTimer(target);
    QObject::connect(chooser, &QTimer::timeout, target, [target, chooser] {
        QMenu* menu = target->openMenu();
        if (!menu || !menu->isVisible())
            return;
        chooser->stop();
        for (QAction* action : menu->actions())
            if (action->text() == QStringLiteral("Custom"))
                menu->setActiveAction(action);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    chooser->start(20);
    QTest::mouseClick(target, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return o.oscFeedbackTargetIP->stringValue() == QStringLiteral("127.0.0.1"); }, 5000));
    EXPECT_EQ(port->text(), QStringLiteral("1234"));

    // A port typed in and confirmed; the own input's port moves on by one.
    port->setFocus();
    port->selectAll();
    QTest::keyClicks(port, QStringLiteral("51000"));
    QTest::keyClick(port, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return port->text() == QStringLiteral("51001"); }, 5000));

    QDir().mkpath(QStringLiteral(KAVIO_SCREENSHOT_DIR));
    const QString path = QStringLiteral(KAVIO_SCREENSHOT_DIR "/preferences-osc-pane.png");
    EXPECT_TRUE(window.grab().save(path)) << path.toStdString();

    QTest::mouseClick(enable, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return kit.portOfInputWithName(QStringLiteral("Kavio")) == 0; }, 5000));
}

}  // namespace
