#include "ShellTestSupport.h"

#include "Controller/KavioVideoItemManager.h"
#include "KeyedArchive.h"
#include "NotificationCenter.h"
#include "Outputs/KavioOutputSetupControls.h"
#include "Views/KavioControllableTextField.h"
#include "Outputs/KavioVideoOutputManager.h"
#include "Rendering/KavioRenderClock.h"
#include "Shell/KavioWindow.h"
#include "UndoManager.h"

#include <QFile>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

// The video outputs as the program carries them: in project files, in the application-wide
// settings across a quit, and off again with Escape.

namespace {

// While the program renders, a change to the outputs waits for the end of the frame.
void applied(KavioVideoOutputManager& outputs)
{
    EXPECT_TRUE(QTest::qWaitFor([&outputs] { return outputs.renderAllowed(); }, 10000));
}

// A grid of outputs and a render resolution, as the set-up window makes them.
void arrange(KavioVideoOutputManager& outputs, int rows, int cols, const QString& resolution)
{
    outputs.controls().screenRowsField->setText(QString::number(rows));
    outputs.controls().screenColsField->setText(QString::number(cols));
    outputs.changeNumberOfScreensManually();
    applied(outputs);
    outputs.undoChangeOutputResolutionTo(resolution);
    applied(outputs);
}

QVariantMap readProject(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return KeyedArchive::unarchiveDictionary(file.readAll()).value_or(QVariantMap());
}

bool isRendering(const ShellTestProgram& program)
{
    const auto clock = program.ui->controller()->renderClock();
    return clock && !clock->isStopped();
}

}  // namespace

TEST(AppDelegateOutputs, AProjectCarriesItsOutputsAndLoadingRestartsRendering)
{
    ShellTestEnvironment env;
    const QString two = env.dir.filePath("Two.kavio2");
    const QString bare = env.dir.filePath("Bare.kavio2");
    writeProjectFile(bare, {{"preferences", QVariantMap{{"jumpBehaviour", 2}}}});
    {
        ShellTestProgram program(env);
        program.launch();
        KavioVideoOutputManager& outputs = *program.ui->videoOutputManager();
        ASSERT_EQ(outputs.outputObjects().size(), 1u);
        arrange(outputs, 1, 2, "1280 x 720");
        ASSERT_TRUE(program.app().processSaveWithURL(two));
        const QVariantMap record = readProject(two).value("videoOutputSettings").toMap();
        EXPECT_EQ(record.value("screensCols").toLongLong(), 2);
        EXPECT_EQ(record.value("outputs").toMap().size(), 2);
    }
    ShellTestProgram program(env);
    program.launch();
    KavioVideoOutputManager& outputs = *program.ui->videoOutputManager();
    ASSERT_EQ(outputs.outputObjects().size(), 1u);
    ASSERT_TRUE(isRendering(program));

    program.load(two);
    EXPECT_EQ(program.app().projectURL(), two);
    EXPECT_EQ(outputs.outputObjects().size(), 2u);
    EXPECT_EQ(outputs.renderResolution(), QSizeF(1280, 720));
    EXPECT_TRUE(isRendering(program)) << "the load ends by restarting rendering";

    // A file without an output record gets the one-screen layout, not the outputs before it.
    program.load(bare);
    EXPECT_EQ(program.app().projectURL(), bare);
    EXPECT_EQ(outputs.outputObjects().size(), 1u);
    EXPECT_TRUE(isRendering(program));

    // Closing a project makes its set-up the application-wide one, which a new project takes.
    program.load(two);
    program.app().newProject();
    EXPECT_TRUE(QTest::qWaitFor([&] { return program.app().projectURL().isEmpty(); }, 10000));
    EXPECT_EQ(program.defaults->dictionaryForKey("videoOutputSetup").value("outputs").toMap().size(), 2);
    EXPECT_EQ(outputs.outputObjects().size(), 2u);
    EXPECT_TRUE(isRendering(program));
}

TEST(AppDelegateOutputs, OutputsLoadAfterThePreferencesWithTheProjectNamedAndUndoOff)
{
    ShellTestEnvironment env;
    const QString path = env.dir.filePath("Order.kavio2");
    {
        ShellTestProgram program(env);
        program.launch();
        arrange(*program.ui->videoOutputManager(), 1, 2, "1280 x 720");
        program.ui->controller()->setJumpBehaviour(2);
        ASSERT_TRUE(program.app().processSaveWithURL(path));
    }
    ShellTestProgram program(env);
    program.launch();
    AppDelegate& app = program.app();
    // The output record's resolution is applied while the outputs load.
    struct Seen {
        QString projectURL;
        long jumpBehaviour;
        bool undoOn, preferencesUndoOn, loading;
    };
    std::vector<Seen> seen;
    int owner = 0;
    NotificationCenter::defaultCenter().addObserver(&owner, "KavioRenderSizeChanged", nullptr, [&](const Notification&) {
        seen.push_back({app.projectURL(), program.ui->controller()->jumpBehaviour(),
                        program.ui->window().undoManager().isUndoRegistrationEnabled(),
                        program.ui->preferencesUndoManager().isUndoRegistrationEnabled(), app.isLoadingProject()});
    });
    program.load(path);
    NotificationCenter::defaultCenter().removeObserver(&owner);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().projectURL, path);
    EXPECT_EQ(seen.back().jumpBehaviour, 2) << "the preferences load first";
    EXPECT_FALSE(seen.back().undoOn);
    EXPECT_FALSE(seen.back().preferencesUndoOn);
    EXPECT_TRUE(seen.back().loading);
    EXPECT_TRUE(program.ui->window().undoManager().isUndoRegistrationEnabled());
    EXPECT_TRUE(program.ui->preferencesUndoManager().isUndoRegistrationEnabled());
}

TEST(AppDelegateOutputs, TheOutputSetupIsStoredAtQuitAndRestoredAtStart)
{
    ShellTestEnvironment env;
    {
        ShellTestProgram program(env);
        program.launch();
        EXPECT_FALSE(program.defaults->hasKey("videoOutputSetup"));
        KavioVideoOutputManager& outputs = *program.ui->videoOutputManager();
        arrange(outputs, 1, 3, "1280 x 720");
        program.app().applicationWillTerminate();
        EXPECT_EQ(program.defaults->dictionaryForKey("videoOutputSetup").value("outputs").toMap().size(), 3);
    }
    ShellTestProgram program(env);
    program.launch();
    KavioVideoOutputManager& outputs = *program.ui->videoOutputManager();
    EXPECT_EQ(outputs.outputObjects().size(), 3u);
    EXPECT_EQ(outputs.renderResolution(), QSizeF(1280, 720));
}

TEST(AppDelegateOutputs, EscapeTakesTheOutputsOffTheMainDisplayOnly)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    KavioVideoOutputManager& outputs = *program.ui->videoOutputManager();
    ASSERT_EQ(outputs.outputObjects().size(), 1u);
    ASSERT_TRUE(outputs.outputObjects()[0]->screenName().contains("Main Display"))
        << outputs.outputObjects()[0]->screenName().toStdString();
    QWindow* window = program.ui->window().windowHandle();
    ASSERT_TRUE(window);

    // Outputs off: Escape changes nothing.
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_FALSE(outputs.shouldOutput());

    outputs.toggleFullscreen();
    ASSERT_TRUE(outputs.isMainDisplayOnFullscreen());
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_FALSE(outputs.shouldOutput()) << "one press, one toggle, however far the key travels";
    EXPECT_FALSE(outputs.controls().fullscreenMenuItem->isChecked());
}
