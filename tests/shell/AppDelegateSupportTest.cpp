// The support side: the log files joined, the component logs, the log bundle read back by
// libplist, crash reports written by dying child processes, and the report parameters.

#include "ShellTestSupport.h"

#include "Log.h"
#include "Shell/KavioCrashReports.h"
#include "Support/KavioButtonInterface.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTabWidget>

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace {

QString logFolder()
{
    return QString::fromStdString(KavioLog::logDirectory());
}

// A log file with the given content and modification time (seconds ago).
void writeLog(const QString& name, const QByteArray& content, int age)
{
    QDir().mkpath(logFolder());
    QFile file(logFolder() + QLatin1Char('/') + name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.flush();
    file.setFileTime(QDateTime::currentDateTime().addSecs(-age), QFileDevice::FileModificationTime);
}

// An entry as the file log writes it, `minutes` ago, from the source file `source`.
QByteArray entry(int minutes, const char* source, const QByteArray& message)
{
    const QByteArray stamp = QDateTime::currentDateTime().addSecs(-60 * minutes).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1();
    return stamp + " info [42] Some::function (/src/kavio/" + source + ":12) " + message + "\n";
}

// The keys of the bundle's dictionary, in file order, and their string values.
std::vector<std::pair<std::string, std::string>> readBundle(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray xml = file.readAll();
    plist_t root = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &root);
    std::vector<std::pair<std::string, std::string>> entries;
    if (!root || plist_get_node_type(root) != PLIST_DICT) {
        ADD_FAILURE() << "not a dictionary property list";
        return entries;
    }
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(root, &it);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root, it, &key, &value);
        if (!key)
            break;
        char* text = nullptr;
        plist_get_string_val(value, &text);
        entries.emplace_back(key, text ? text : "");
        free(key);
        free(text);
    }
    free(it);
    plist_free(root);
    return entries;
}

std::vector<std::string> keysOf(const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::vector<std::string> keys;
    for (const auto& entry : entries)
        keys.push_back(entry.first);
    return keys;
}

TEST(AppDelegateSupport, LogFilesJoinOldestFirst)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    EXPECT_EQ(program.app().getLogFilesContent(), QString());

    writeLog(QStringLiteral("kavio_b.log"), "B", 10);
    writeLog(QStringLiteral("kavio_a.log"), "A", 100);
    EXPECT_EQ(program.app().getLogFilesContent(), QStringLiteral("A---B---"));

    // An older file that cannot be read as text leaves the error line in its place.
    writeLog(QStringLiteral("kavio_0.log"), QByteArray("\xff\xfe broken", 9), 1000);
    const QString joined = program.app().getLogFilesContent();
    EXPECT_TRUE(joined.startsWith(QStringLiteral("couldn't get log data, error: "))) << joined.toStdString();
    EXPECT_TRUE(joined.endsWith(QStringLiteral("---A---B---"))) << joined.toStdString();
}

TEST(AppDelegateSupport, ComponentLogsPickTheirSourcesAndAge)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    writeLog(QStringLiteral("kavio.log"),
             entry(10, "app/Remote/KavioNMCManager.cpp", "nmc recent") + "  a continuation line\n" +
                 entry(120, "app/Remote/KavioNMCManager.cpp", "nmc two hours") +
                 entry(120, "platform/osc/QVTOSCManager.cpp", "osc two hours") +
                 entry(13 * 60, "platform/osc/QVTOSCManager.cpp", "osc thirteen hours") +
                 entry(300, "artnet/QVTLightingManager.cpp", "artnet five hours") +
                 entry(1, "app/Shell/AppDelegate+Lifecycle.cpp", "shell"),
             0);
    const std::optional<QString> nmc = program.app().nmcLog();
    const std::optional<QString> osc = program.app().oscLog();
    const std::optional<QString> artnet = program.app().artnetLog();
    ASSERT_TRUE(nmc && osc && artnet);
    EXPECT_EQ(nmc->count(QLatin1Char('\n')), 1);
    EXPECT_TRUE(nmc->contains(QStringLiteral("nmc recent")));
    EXPECT_TRUE(nmc->endsWith(QStringLiteral("  a continuation line")));
    EXPECT_TRUE(osc->contains(QStringLiteral("osc two hours")));
    EXPECT_FALSE(osc->contains(QStringLiteral("thirteen")));
    EXPECT_FALSE(osc->contains(QStringLiteral("nmc")));
    EXPECT_TRUE(artnet->endsWith(QStringLiteral("artnet five hours")));
    EXPECT_FALSE(artnet->contains(QStringLiteral("shell")));
}

TEST(AppDelegateSupport, TheBundleKeepsItsFiveKeysInOrderAndDropsOnlyAMissingLog)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    writeLog(QStringLiteral("kavio.log"),
             entry(5, "app/Remote/KavioNMCManager.cpp", "link <up> & running") +
                 entry(5, "artnet/ArtNetPacket.cpp", "universe \x01 1"),
             0);
    const QString target = env.dir.filePath(QStringLiteral("support"));
    env.panelAnswers = {target};
    ASSERT_TRUE(program.app().collectAndSaveLogs());
    auto entries = readBundle(target + QStringLiteral(".kaviologs"));
    EXPECT_EQ(keysOf(entries), (std::vector<std::string>{"DDLOG", "NMC_LOG", "OSC_LOG", "ARTNET_LOG", "FRFeedback"}));
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_NE(entries[0].second.find("link <up> & running\n"), std::string::npos);
    // A character XML cannot hold is left out.
    EXPECT_NE(entries[0].second.find("universe  1\n---"), std::string::npos);
    EXPECT_NE(entries[1].second.find("link <up> & running"), std::string::npos);
    EXPECT_EQ(entries[2].second, "");

    // An OSC entry that is not UTF-8: only "OSC_LOG" goes.
    writeLog(QStringLiteral("kavio_osc.log"), entry(5, "platform/osc/QVTOSCManager.cpp", "bad \xc3\x28 bytes"), 0);
    env.panelAnswers = {target + QStringLiteral(".kaviologs")};
    ASSERT_TRUE(program.app().collectAndSaveLogs());
    entries = readBundle(target + QStringLiteral(".kaviologs"));
    EXPECT_EQ(keysOf(entries), (std::vector<std::string>{"DDLOG", "NMC_LOG", "ARTNET_LOG", "FRFeedback"}));
}

TEST(AppDelegateSupport, ABundleThatCannotBeWrittenLeavesNothingAndSaysSo)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    const QString target = env.dir.filePath(QStringLiteral("missing-folder/support.kaviologs"));
    env.panelAnswers = {target};
    EXPECT_FALSE(program.app().collectAndSaveLogs());
    EXPECT_EQ(env.alerts, QStringList{QStringLiteral("The file could not be saved.")});
    EXPECT_FALSE(QFile::exists(target));
    // Cancel writes nothing and asks nothing.
    EXPECT_FALSE(program.app().collectAndSaveLogs());
    EXPECT_EQ(env.alerts.size(), 1);
}

// Dies in the child of a death test, with the handlers installed.
void crashWith(const QString& folder, int how)
{
    KavioCrashReports::installHandlers(folder, QStringLiteral("Kavio test"));
    if (how == SIGABRT)
        std::abort();
    volatile int* nowhere = nullptr;
    *nowhere = 1;
}

TEST(AppDelegateSupport, CrashesLeaveReportsThatTheNextStartOffersOnce)
{
    // Forked at the statement, so the child writes into this test's folder.
    GTEST_FLAG_SET(death_test_style, "fast");
    ShellTestEnvironment env;
    const QString folder = logFolder();
    QDir().mkpath(folder);
    EXPECT_EXIT(crashWith(folder, SIGABRT), testing::KilledBySignal(SIGABRT), "");
    EXPECT_EXIT(crashWith(folder, SIGSEGV), testing::KilledBySignal(SIGSEGV), "");

    const QStringList reports = KavioCrashReports::newReports(folder);
    ASSERT_EQ(reports.size(), 2);
    QStringList signalLines;
    for (const QString& path : reports) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        EXPECT_TRUE(text.contains(QStringLiteral("Version: Kavio test"))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("\nTime: "))) << text.toStdString();
        const qsizetype backtrace = text.indexOf(QStringLiteral("Backtrace:\n"));
        ASSERT_GE(backtrace, 0);
        // Several frames, one a line.
        EXPECT_GE(text.mid(backtrace).count(QLatin1Char('\n')), 4) << text.toStdString();
        signalLines << text.section(QLatin1Char('\n'), 1, 1);
    }
    signalLines.sort();
    EXPECT_EQ(signalLines, (QStringList{QStringLiteral("Signal: 11 (SIGSEGV)"), QStringLiteral("Signal: 6 (SIGABRT)")}));

    // A truncated report is offered as it is.
    QFile truncated(folder + QStringLiteral("/kavio-crash-1-1.txt"));
    ASSERT_TRUE(truncated.open(QIODevice::WriteOnly));
    truncated.write("Kavio crash report\nSig");
    truncated.close();

    {
        ShellTestProgram program(env);
        // The truncated report is the newest: saved; the others dismissed.
        env.alertResponses = {KavioAlert::SecondButtonReturn, KavioAlert::SecondButtonReturn, KavioAlert::FirstButtonReturn};
        const QString copy = env.dir.filePath(QStringLiteral("copy.txt"));
        env.panelAnswers = {copy};
        program.app().reportIfCrash();
        EXPECT_EQ(env.alerts.size(), 3);
        QFile saved(copy);
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_EQ(saved.readAll(), QByteArray("Kavio crash report\nSig"));
        EXPECT_TRUE(program.app().logsForSave().contains(QStringLiteral("Backtrace:")));
    }
    env.alerts.clear();
    ShellTestProgram next(env);
    next.app().reportIfCrash();
    EXPECT_TRUE(env.alerts.isEmpty());
    EXPECT_EQ(KavioCrashReports::allReports(folder).size(), 3);
}

TEST(AppDelegateSupport, ReportAndUpdateParameters)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    const QVariantMap feedback = program.app().customParametersForFeedbackReport();
    EXPECT_EQ(feedback.value(QStringLiteral("application")).toString(), QStringLiteral("Kavio2"));
    EXPECT_TRUE(feedback.contains(QStringLiteral("DDLog")));
    EXPECT_FALSE(feedback.contains(QStringLiteral("DDLOG")));

    program.app().outlets().enableBetaUpdatesButton->setState(1);
    const QVariantList updater = program.app().feedParametersForUpdater();
    ASSERT_EQ(updater.size(), 3);
    const QVariantMap beta = updater[0].toMap();
    EXPECT_EQ(beta.value(QStringLiteral("key")).toString(), QStringLiteral("beta"));
    EXPECT_EQ(beta.value(QStringLiteral("value")).toString(), QStringLiteral("1"));
    EXPECT_EQ(AppDelegate::feedParametersForUpdater(false)[0].toMap().value(QStringLiteral("value")).toString(),
              QStringLiteral("0"));
    EXPECT_EQ(updater[1].toMap().value(QStringLiteral("value")).toString(), QStringLiteral("kavio2"));
    EXPECT_EQ(updater[2].toMap().value(QStringLiteral("key")).toString(), QStringLiteral("app_version"));

    // The feedback report lands where the operator says, with the parameters.
    const QString path = env.dir.filePath(QStringLiteral("feedback.txt"));
    env.panelAnswers = {path};
    ASSERT_TRUE(program.app().showFeedbackDialog());
    QFile report(path);
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    EXPECT_TRUE(report.readAll().contains("== application ==\nKavio2"));
}

TEST(AppDelegateSupport, PreferencesTabListAndSettings)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    AppDelegate& app = program.app();
    QTabWidget* tabs = app.outlets().preferencesTabView;
    QListWidget* list = app.outlets().preferencesTableView;
    ASSERT_TRUE(tabs && list);
    EXPECT_EQ(app.numberOfRowsInTableView(), tabs->count());
    EXPECT_EQ(list->count(), tabs->count());
    EXPECT_EQ(app.tableViewObjectValueForRow(1), tabs->tabText(1));
    list->setCurrentRow(1);
    EXPECT_EQ(tabs->currentIndex(), 1);

    program.defaults->setBool(true, QStringLiteral("KavioSuppressionImageExceedsLimit"));
    app.resetWarnings();
    EXPECT_FALSE(program.defaults->boolForKey(QStringLiteral("KavioSuppressionImageExceedsLimit")));
    app.outlets().enableBetaUpdatesButton->setState(1);
    app.changeMiscSettings();
    EXPECT_TRUE(program.defaults->boolForKey(QStringLiteral("SUUpdaterChecksForBetaUpdates")));
    EXPECT_TRUE(app.hasUnsavedChanges());
    app.outlets().disableConfirmOnQuit->setState(1);
    app.changeDisableConfirmOnQuit();
    EXPECT_TRUE(program.defaults->boolForKey(QStringLiteral("disableConfirmOnQuit")));

    app.checkForUpdates();
    EXPECT_EQ(env.alerts, QStringList{QStringLiteral("There is no update channel.")});
}

}  // namespace
