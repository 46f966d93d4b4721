#include "ShellTestSupport.h"

#include "Controller/KavioVideoItemManager.h"
#include "DispatchQueue.h"
#include "Cue/KavioVideoItem.h"
#include "NotificationCenter.h"
#include "Shell/KavioWindow.h"
#include "Support/KavioButtonInterface.h"
#include "Support/KavioPopUpButtonInterface.h"
#include "UndoManager.h"
#include "UserDefaults.h"

#include "Views/KavioButton.h"
#include "Views/KavioItemsViewInterface.h"
#include "Views/KavioPopUpButton.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

void addCue(const std::shared_ptr<KavioVideoItemManager>& controller)
{
    const auto cue = KavioVideoItem::initWithCamera(QStringLiteral("Test camera"), controller);
    ASSERT_TRUE(cue);
    controller->insertItem(cue, 1);
}

}  // namespace

TEST(AppDelegateLaunch, FirstLaunchOnEmptyDefaults)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    const QRect frameBefore = program.ui->window().geometry();
    program.launch();
    AppDelegate& app = program.app();

    EXPECT_TRUE(app.appStarted());
    EXPECT_TRUE(program.defaults->hasKey("toggleShowCueTypes"));
    EXPECT_FALSE(program.defaults->boolForKey("toggleShowCueTypes"));
    EXPECT_TRUE(program.defaults->hasKey("checkForUpdates"));
    EXPECT_FALSE(program.defaults->boolForKey("checkForUpdates"));
    EXPECT_TRUE(program.ui->startupWindow().isVisible());
    EXPECT_EQ(app.outlets().disableConfirmOnQuit->state(), 0);
    EXPECT_EQ(app.outlets().enableBetaUpdatesButton->state(), 0);
    EXPECT_TRUE(app.projectURL().isEmpty());
    EXPECT_EQ(program.ui->window().geometry().size(), frameBefore.size());
    EXPECT_EQ(program.ui->window().minimumHeight(), 210);
    EXPECT_TRUE(app.isTicking());
    EXPECT_EQ(program.ui->controller()->delegate().get(), &app);
    EXPECT_EQ(program.ui->window().windowTitle(), AppDelegate::versionInformationString() + " - Untitled Project - (TRT: 00:00:00:00)");
}

// Launch seen from outside: at each moment launch changes a control, which steps have been
// taken (the step making the change included).
TEST(AppDelegateLaunch, StepsRunInTheirOrder)
{
    ShellTestEnvironment env;
    const QString path = env.dir.filePath("Gala.kavio2");
    writeProjectFile(path, {{"preferences", QVariantMap()}});
    ShellTestProgram program(env);
    // Stored settings that launch puts into controls, each a moment to look.
    program.defaults->setBool(true, "SUUpdaterChecksForBetaUpdates");
    program.defaults->setBool(true, "disableConfirmOnQuit");
    program.defaults->setInteger(0, "deinterlaceMode");
    // The audio output step is seen by the key it writes into the process-wide settings: a
    // launch earlier in this process has written it already.
    UserDefaults::standardUserDefaults().removeObjectForKey("audioVolumeNormalization");
    AppDelegate& app = program.app();
    const auto controller = program.ui->controller();
    QWidget& startup = program.ui->startupWindow();
    auto* beta = dynamic_cast<KavioButton*>(app.outlets().enableBetaUpdatesButton);
    auto* noConfirm = dynamic_cast<KavioButton*>(app.outlets().disableConfirmOnQuit);
    auto* deinterlace = dynamic_cast<KavioPopUpButton*>(controller->outlets().renderingDeinterlacePopup);
    ASSERT_TRUE(beta && noConfirm && deinterlace);

    // One letter per step taken, in launch order.
    const auto taken = [&] {
        QString steps;
        const auto step = [&steps](char letter, bool isTaken) {
            if (isTaken)
                steps += QLatin1Char(letter);
        };
        step('W', program.ui->window().minimumHeight() == 210);               // window layout
        step('S', UserDefaults::standardUserDefaults().hasKey("audioVolumeNormalization"));  // audio output
        step('C', controller->renderClock() != nullptr);                       // cue list controller set up
        step('D', controller->delegate().get() == &app);                       // its delegate
        step('L', app.appStarted());                                           // launched
        step('U', startup.isVisible());                                        // start-up window
        step('B', beta->state() != 0);                                          // beta updates
        step('Q', noConfirm->state() != 0);                                     // quit without asking
        app.setHasUnsavedChanges(false);
        NotificationCenter::defaultCenter().post(kKavioProjectHasUnsavedChangesNotification);
        step('R', app.hasUnsavedChanges());                                    // edits mark the project
        app.setHasUnsavedChanges(false);
        step('T', app.isTicking());                                            // the interface tick
        step('K', program.defaults->hasKey("checkForUpdates"));                // updates recorded
        return steps;
    };
    QStringList moments;
    const auto look = [&](const QString& moment) { moments.append(moment + ": " + taken()); };
    QObject::connect(deinterlace, &KavioPopUpButton::selectionChanged, [&] { look("deinterlace"); });
    QObject::connect(beta, &KavioButton::stateChanged, [&] { look("beta"); });
    QObject::connect(noConfirm, &KavioButton::stateChanged, [&] { look("no confirm"); });
    struct ShowWatch : QObject {
        std::function<void(const QString&)> look;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::Show)
                look("start-up shown");
            if (event->type() == QEvent::Hide)
                look("start-up closed");
            return QObject::eventFilter(watched, event);
        }
    } showWatch;
    showWatch.look = look;
    startup.installEventFilter(&showWatch);

    look("before");
    program.launch({path});
    startup.removeEventFilter(&showWatch);
    look("after");
    EXPECT_EQ(moments.join(" | ").toStdString(),
              "before:  | deinterlace: WS | start-up shown: WSCDLU | beta: WSCDLUB | no confirm: WSCDLUBQ"
              // The project opened at launch closes the start-up window.
              " | start-up closed: WSCDLBQRT | after: WSCDLBQRTK");
    EXPECT_EQ(app.projectURL(), path);
}

TEST(AppDelegateLaunch, StoredSettingsComeBackAfterQuitAndStart)
{
    ShellTestEnvironment env;
    {
        ShellTestProgram program(env);
        program.launch();
        program.app().outlets().loopButton->setState(1);
        program.ui->controller()->setJumpBehaviour(3);
        program.ui->window().setGeometry(100, 120, 1000, 700);
        program.app().applicationWillTerminate();
        EXPECT_FALSE(program.app().isTicking());
    }
    ShellTestProgram program(env);
    program.launch();
    EXPECT_EQ(program.app().outlets().loopButton->state(), 1);
    EXPECT_EQ(program.ui->controller()->jumpBehaviour(), 3);
    EXPECT_EQ(program.ui->window().geometry().size(), QSize(1000, 700));
}

TEST(AppDelegateLaunch, ProjectOpenedAtLaunchLoadsAtTheEndInsteadOfTheStoredSettings)
{
    ShellTestEnvironment env;
    const QString path = env.dir.filePath("Gala.kavio2");
    writeProjectFile(path, {{"preferences", QVariantMap{{"jumpBehaviour", 2}}}});
    {
        ShellTestProgram program(env);
        program.defaults->setDictionary({{"jumpBehaviour", 3}}, "appSetup");
        program.launch({env.dir.filePath("notes.txt"), path});
        AppDelegate& app = program.app();
        EXPECT_EQ(app.projectURL(), path);
        EXPECT_EQ(program.ui->controller()->jumpBehaviour(), 2);
        // The start-up window opened earlier in launch, and the load closed it.
        EXPECT_FALSE(program.ui->startupWindow().isVisible());
        EXPECT_FALSE(app.isLoadingProject());
        EXPECT_FALSE(app.hasUnsavedChanges());
        EXPECT_TRUE(app.recentProjects().isEmpty()) << "loading adds no recent project";
    }
}

TEST(AppDelegateLaunch, DamagedStoredSettingsAreSkipped)
{
    const struct {
        const char* name;
        QVariant appSetup;
    } cases[] = {
        {"not a record", QStringLiteral("{{0, 0}, {800, 600}}")},
        {"a list", QVariantList{1, 2}},
        {"values of other kinds", QVariantMap{{"jumpBehaviour", "fast"},
                                              {"mainWindowFrame", 12},
                                              {"loopButton", "yes"},
                                              {"audioOutputData", QVariantList{}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ShellTestEnvironment env;
        ShellTestProgram program(env);
        program.defaults->setObject(c.appSetup, "appSetup");
        const QSize size = program.ui->window().size();
        program.launch();
        EXPECT_TRUE(program.app().appStarted());
        EXPECT_EQ(program.ui->controller()->jumpBehaviour(), 1);
        EXPECT_EQ(program.app().outlets().loopButton->state(), 0);
        EXPECT_EQ(program.ui->window().size(), size);
    }
}

TEST(AppDelegateQuit, QuestionsTable)
{
    enum Setup { NoConfirm, Clean, Dirty, Playing };
    struct Case {
        const char* name;
        Setup setup;
        std::deque<long> responses;
        std::deque<QString> panel;
        AppDelegate::TerminateReply expected;
        QStringList alerts;
    };
    const QString save = "Do you want to save the changes made to the project?";
    const QString quit = "Are you sure you want to Quit?";
    const std::vector<Case> cases = {
        {"no confirmation, dirty and playing", NoConfirm, {}, {}, AppDelegate::TerminateReply::Now, {}},
        {"clean", Clean, {}, {}, AppDelegate::TerminateReply::Now, {}},
        {"dirty, Save", Dirty, {1000}, {"saved.kavio2"}, AppDelegate::TerminateReply::Now, {save}},
        {"dirty, Save then panel cancelled", Dirty, {1000}, {}, AppDelegate::TerminateReply::Cancel, {save}},
        {"dirty, Cancel", Dirty, {1001}, {}, AppDelegate::TerminateReply::Cancel, {save}},
        {"dirty, Don't Save", Dirty, {1002}, {}, AppDelegate::TerminateReply::Now, {save}},
        {"playing, Quit", Playing, {1000}, {}, AppDelegate::TerminateReply::Now, {quit}},
        {"playing, Cancel", Playing, {1001}, {}, AppDelegate::TerminateReply::Cancel, {quit}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ShellTestEnvironment env;
        ShellTestProgram program(env);
        program.launch();
        AppDelegate& app = program.app();
        const auto controller = program.ui->controller();
        addCue(controller);
        if (c.setup == NoConfirm) {
            app.outlets().disableConfirmOnQuit->setState(1);
            app.setHasUnsavedChanges(true);
            controller->setIsPlaying(true);
        }
        if (c.setup == Dirty)
            app.setHasUnsavedChanges(true);
        if (c.setup == Playing)
            controller->setIsPlaying(true);
        env.alertResponses = c.responses;
        for (const QString& file : c.panel)
            env.panelAnswers.push_back(env.dir.filePath(file));
        EXPECT_EQ(app.applicationShouldTerminate(), c.expected);
        EXPECT_EQ(env.alerts, c.alerts);
        controller->setIsPlaying(false);
    }
}

TEST(AppDelegateQuit, CloseButtonAsksAndKeepsTheWindowOnCancel)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    const auto controller = program.ui->controller();
    controller->setIsPlaying(true);
    env.alertResponses = {1001};
    EXPECT_FALSE(program.ui->window().close());
    EXPECT_TRUE(program.ui->window().isVisible());
    EXPECT_EQ(env.alerts, QStringList{"Are you sure you want to Quit?"});
    controller->setIsPlaying(false);
}

TEST(AppDelegateRunning, AltPressAndReleasePostYesThenNo)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    QWidget& window = program.ui->window();
    window.activateWindow();
    QList<bool> states;
    int owner = 0;
    NotificationCenter::defaultCenter().addObserver(&owner, kKavioAltPressedNotification, nullptr,
                                                    [&states](const Notification& n) { states.append(n.userInfo.value("state").toBool()); });
    QTest::keyPress(&window, Qt::Key_Alt);
    EXPECT_TRUE(program.app().altPressed());
    QTest::keyRelease(&window, Qt::Key_Alt, Qt::AltModifier);
    NotificationCenter::defaultCenter().removeObserver(&owner);
    EXPECT_EQ(states, (QList<bool>{true, false}));
    EXPECT_FALSE(program.app().altPressed());
}

TEST(AppDelegateRunning, CloseUndoAndRedoAreDisabledWhenTheyMustNotRun)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    KavioWindow& window = program.ui->window();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    UndoManager& undo = window.undoManager();
    int value = 0;
    undo.registerUndo(&value, [&value] { value = 0; });
    undo.setActionName("Edit");

    QAction *close = nullptr, *undoItem = nullptr;
    for (QAction* menu : window.menuBar()->actions())
        for (QAction* item : menu->menu()->actions()) {
            if (item->shortcut() == QKeySequence(QKeySequence::Close))
                close = item;
            if (item->shortcut() == QKeySequence(QKeySequence::Undo))
                undoItem = item;
        }
    ASSERT_TRUE(close && undoItem);
    undoItem->setText(undo.undoMenuItemTitle());
    EXPECT_FALSE(window.validateMenuItem(close));
    EXPECT_TRUE(window.validateMenuItem(undoItem));
    window.disableUndo();
    EXPECT_FALSE(window.validateMenuItem(undoItem));
    window.enableUndo();
    EXPECT_TRUE(window.validateMenuItem(undoItem));

    // The undo key, with a step newer than the item's title ("Undo Edit" against "Undo Move").
    int moved = 1;
    undo.registerUndo(&moved, [&moved] { moved = 0; });
    undo.setActionName("Move");
    window.disableUndo();
    QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(moved, 1);
    window.enableUndo();
    QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(moved, 0);
}

// The list holds the keys after launch, a seek gives them back to it while the main window is
// the active one, and the focus answer follows the real focus widget.
TEST(AppDelegateRunning, TheCueListTakesTheKeysBackAfterASeek)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    AppDelegate& app = program.app();
    const auto controller = program.ui->controller();
    addCue(controller);
    auto* list = dynamic_cast<QWidget*>(controller->outlets().itemsView.lock().get());
    ASSERT_TRUE(list);
    KavioWindow& window = program.ui->window();
    // Another control of the main window that takes the keys.
    auto* field = new QLineEdit(window.centralWidget());
    field->show();
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return QApplication::focusWidget() == list; }, 30.0));
    EXPECT_TRUE(app.isCueListFirstResponder());

    field->setFocus();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return QApplication::focusWidget() == field; }, 30.0));
    EXPECT_FALSE(app.isCueListFirstResponder());
    controller->seekToSMPTETime("00:00:00:10");
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return QApplication::focusWidget() == list; }, 30.0));
    EXPECT_TRUE(app.isCueListFirstResponder());

    // Another window active: the main window's focus stays where it is.
    field->setFocus();
    QWidget& preferences = program.ui->preferencesWindow();
    preferences.show();
    preferences.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&preferences));
    controller->seekToSMPTETime("00:00:00:05");
    // On the main thread the seek hands the focus on (or not) before it returns.
    EXPECT_EQ(window.focusWidget(), field);
    EXPECT_FALSE(app.isCueListFirstResponder());
    preferences.close();
}

TEST(AppDelegateRunning, ClosingThePreferencesDropsTheControllersUndoStepsOnly)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    UndoManager& undo = program.ui->preferencesUndoManager();
    int other = 0;
    undo.registerUndo(&other, [] {});
    undo.registerUndo(program.ui->controller().get(), [] {});
    QWidget& preferences = program.ui->preferencesWindow();
    preferences.show();
    preferences.close();
    ASSERT_TRUE(undo.canUndo());
    EXPECT_TRUE(undo.undo());
    EXPECT_FALSE(undo.canUndo()) << "only the other target's step was left";
}

TEST(AppDelegateRunning, TheTickGoesOnInsideAModalDialog)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    QMessageBox box(QMessageBox::Warning, "Modal", "Ticks go on", QMessageBox::Ok, &program.ui->window());
    int ticks = 0;
    int owner = 0;
    NotificationCenter::defaultCenter().addObserver(&owner, kKavioUpdateUINotification, nullptr, [&](const Notification&) {
        if (++ticks == 3)
            box.accept();
    });
    // A generous bound: the dialog closes itself after three ticks.
    QTimer::singleShot(60000, &box, &QMessageBox::reject);
    EXPECT_EQ(box.exec(), QDialog::Accepted);
    NotificationCenter::defaultCenter().removeObserver(&owner);
    EXPECT_GE(ticks, 3);
}

TEST(AppDelegateRunning, NetworkWatchSeesALoopbackAddressAdded)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    const QString address = "127.0.0.77/8";
    int changes = 0;
    int owner = 0;
    NotificationCenter::defaultCenter().addObserver(&owner, kKavioNetworkConfigurationDidChangeNotification, nullptr,
                                                    [&changes](const Notification&) { ++changes; });
    if (QProcess::execute("ip", {"addr", "add", address, "dev", "lo"}) != 0) {
        NotificationCenter::defaultCenter().removeObserver(&owner);
        GTEST_SKIP() << "adding an address to lo was refused";
    }
    const bool seen = QTest::qWaitFor([&changes] { return changes > 0; }, 30000);
    QProcess::execute("ip", {"addr", "del", address, "dev", "lo"});
    NotificationCenter::defaultCenter().removeObserver(&owner);
    EXPECT_TRUE(seen);
}
