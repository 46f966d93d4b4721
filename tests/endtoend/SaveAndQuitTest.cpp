// Quitting a show edited over OSC, through the program's own quit questions.

#include "EndToEndShow.h"

#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "KeyedArchive.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The edit an operator's console makes: cue 2 at half opacity.
void editOverOSC(EndToEndRun& run)
{
    run.osc.send("/kavio/2/opacity", 0.5f);
    ASSERT_TRUE(waitFor([&] { return run.cue(2)->opacity() == 0.5f && run.app().hasUnsavedChanges(); }))
        << "the OSC edit never arrived";
}

}  // namespace

TEST(ShowQuit, CancelKeepsRunningDontSaveLeavesTheFileAndSaveKeepsTheEdit)
{
    EndToEndRun run;
    if (!run.available())
        GTEST_SKIP() << run.reason();
    const QString project = run.launchShow();
    if (HasFatalFailure())
        return;
    const QByteArray written = bytesOf(project);
    const QString question = "Do you want to save the changes made to the project?";
    const std::map<QString, QVariantMap> before = cueRecords(run.controller());
    editOverOSC(run);
    if (HasFatalFailure())
        return;

    // Cancel: the program keeps running and showing.
    run.env.alertResponses = {1001};
    EXPECT_EQ(run.app().applicationShouldTerminate(), AppDelegate::TerminateReply::Cancel);
    EXPECT_EQ(run.env.alerts, QStringList{question});
    const std::size_t shown = run.output->count();
    EXPECT_TRUE(waitFor([&] { return run.output->count() > shown + 5; })) << "the output stopped after Cancel";
    EXPECT_TRUE(run.app().hasUnsavedChanges());
    EXPECT_EQ(bytesOf(project), written);

    // Don't Save: the file stays as it was, to the byte.
    run.env.alerts.clear();
    run.env.alertResponses = {1002};
    EXPECT_EQ(run.app().applicationShouldTerminate(), AppDelegate::TerminateReply::Now);
    EXPECT_EQ(run.env.alerts, QStringList{question});
    run.terminate();
    EXPECT_EQ(bytesOf(project), written) << "Don't Save changed the file";

    // Save: the file is written over, and opens again with the same cues, values and the edit.
    run.launch(project);
    if (HasFatalFailure())
        return;
    editOverOSC(run);
    if (HasFatalFailure())
        return;
    run.env.alerts.clear();
    run.env.alertResponses = {1000};
    EXPECT_EQ(run.app().applicationShouldTerminate(), AppDelegate::TerminateReply::Now);
    EXPECT_EQ(run.env.alerts, QStringList{question});
    run.terminate();
    EXPECT_NE(bytesOf(project), written) << "Save wrote nothing";
    EXPECT_TRUE(KeyedArchive::unarchiveDictionary(bytesOf(project)).has_value()) << "the saved file does not read";

    run.launch(project);
    if (HasFatalFailure())
        return;
    const std::map<QString, QVariantMap> after = cueRecords(run.controller());
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [uid, record] : before) {
        ASSERT_TRUE(after.count(uid)) << uid.toStdString() << " is gone";
        QVariantMap expected = record;
        if (uid == run.cue(2)->uid())
            expected.insert("opacity", 0.5f);
        for (auto it = expected.constBegin(); it != expected.constEnd(); ++it)
            EXPECT_EQ(after.at(uid).value(it.key()), it.value()) << uid.toStdString() << " " << it.key().toStdString();
    }
    EXPECT_EQ(run.cue(2)->opacity(), 0.5f);
    EXPECT_FALSE(run.app().hasUnsavedChanges());
}
