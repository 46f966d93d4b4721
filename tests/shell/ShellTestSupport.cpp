#include "ShellTestSupport.h"

#include "KeyedArchive.h"
#include "Views/KavioPopUpButton.h"
#include "Shell/KavioWindow.h"

#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

ShellTestEnvironment::ShellTestEnvironment()
{
    // The program-wide settings object is made once per process, on the folder named then.
    static QTemporaryDir config;
    setenv("XDG_CONFIG_HOME", qPrintable(config.path()), 1);
    setenv("XDG_RUNTIME_DIR", qPrintable(dir.filePath("run")), 1);
    setenv("XDG_STATE_HOME", qPrintable(dir.filePath("state")), 1);
    setenv("KAVIO_AUDIO_BACKEND", "null", 1);
    // The program's HyperDeck server listens on a free port, so suites never contend for 9993.
    setenv("KAVIO_HYPERDECK_PORT", "0", 1);
    QDir().mkpath(dir.filePath("run"));
    QFile::setPermissions(dir.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    KavioAlert::setAnswerer([this](const KavioAlertSpec& spec) {
        alerts.append(spec.messageText);
        alertDetails.append(spec.informativeText);
        KavioAlertAnswer answer;
        if (!alertResponses.empty()) {
            answer.response = alertResponses.front();
            alertResponses.pop_front();
        }
        return answer;
    });
}

ShellTestEnvironment::~ShellTestEnvironment()
{
    KavioAlert::setAnswerer({});
}

ShellTestProgram::ShellTestProgram(ShellTestEnvironment& e)
    : env(e), defaults(std::make_unique<UserDefaults>(e.dir.filePath("Kavio.conf")))
{
    ui = std::make_unique<KavioMainInterface>(*defaults);
    app().setPanelAnswerer([&e] {
        if (e.panelAnswers.empty())
            return QString();
        const QString answer = e.panelAnswers.front();
        e.panelAnswers.pop_front();
        return answer;
    });
}

void ShellTestProgram::launch(const QStringList& files)
{
    app().applicationWillFinishLaunching();
    for (const QString& file : files)
        app().openFile(file);
    ui->window().show();
    app().applicationDidFinishLaunching();
    waitUntilLoaded();
}

void ShellTestProgram::load(const QString& path)
{
    app().loadProjectWithURL(path);
    waitUntilLoaded();
}

void ShellTestProgram::waitUntilLoaded()
{
    EXPECT_TRUE(QTest::qWaitFor([this] { return !app().isLoadingProject(); }, 10000)) << "the load never ended";
}

void writeProjectFile(const QString& path, const QVariantMap& root)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(KeyedArchive::archive(root));
}

void chooseItemWithTitle(KavioPopUpButtonInterface* control, const QString& title)
{
    auto* popup = dynamic_cast<KavioPopUpButton*>(control);
    ASSERT_TRUE(popup);
    const int index = popup->indexOfItemWithTitle(title);
    ASSERT_GE(index, 0) << title.toStdString();
    popup->chooseItemAtIndex(index);
}
