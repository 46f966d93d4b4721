// A show whose movie B was moved away before the start: it opens and plays around the gap, and
// B comes back through its row's error button.

#include "EndToEndShow.h"
#include "EndToEndSound.h"

#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <set>

namespace {

// How many of a movie's frames (bar codes in [first, first + 50)) the output showed from `from`
// on: a loaded machine draws seldom, but a playing movie shows several.
int framesOfMovie(const OutputRecorder& output, std::size_t from, int first)
{
    std::set<int> codes;
    for (std::size_t i = from; i < output.count(); ++i) {
        const int code = output.at(i).code();
        if (code >= first && code < first + 50)
            codes.insert(code);
    }
    return int(codes.size());
}

}  // namespace

TEST(ShowMissingMedia, AMovedMovieIsSkippedWithoutAnAlertAndComesBackByReplacing)
{
    EndToEndRun run;
    if (!run.available())
        GTEST_SKIP() << run.reason();
    // B in the show's folder, moved away before the start.
    const QString placed = run.env.dir.filePath("B.mp4"), moved = run.env.dir.filePath("elsewhere/B.mp4");
    ASSERT_TRUE(QFile::copy(QString::fromStdString(run.media.movieB), placed));
    EndToEndMedia media = run.media;
    media.movieB = placed.toStdString();
    const QString project = run.env.dir.filePath("Show.kavio2");
    writeProjectFile(project, showProject(media));
    ASSERT_TRUE(QDir().mkpath(run.env.dir.filePath("elsewhere")));
    ASSERT_TRUE(QFile::rename(placed, moved));

    run.launch(project);
    if (HasFatalFailure())
        return;
    KavioVideoItemManager& controller = run.controller();
    ASSERT_EQ(controller.items()->size(), 4u);
    EXPECT_TRUE(run.cue(2)->isMissing());
    for (int i : {1, 3, 4})
        EXPECT_TRUE(run.cue(i)->isReady() && !run.cue(i)->isMissing()) << "cue " << i;
    EXPECT_TRUE(run.env.alerts.isEmpty()) << run.env.alerts.join(" | ").toStdString();

    // GO: A, then the counter and the still; B is passed over, and no alert stops the show.
    const std::size_t beforeGo = run.go();
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(waitFor([&] { return !controller.isPlaying(); }, 60)) << "the show never ended";
    const std::vector<float> sound = run.sound->stop();
    run.sound.reset();
    EXPECT_GE(framesOfMovie(*run.output, beforeGo, 0), 3) << "A did not play";
    EXPECT_EQ(framesOfMovie(*run.output, beforeGo, 100), 0) << "the missing B showed";
    EXPECT_EQ(controller.currentItem(), run.cue(4)) << "the show did not reach its last cue";
    const EndToEndSound::Timeline heard = EndToEndSound::listen(sound);
    EXPECT_GE(heard.first(EndToEndSound::Heard::A), 0) << "A's sound did not play";
    EXPECT_GE(heard.first(EndToEndSound::Heard::Counter), 0) << "the counter cue did not play";
    EXPECT_TRUE(run.env.alerts.isEmpty()) << run.env.alerts.join(" | ").toStdString();

    // The row's error button: the file dialog (scripted) picks the moved file, and B plays
    // without a restart.
    ASSERT_TRUE(run.cue(2)->errorButton().state != 0 || run.cue(2)->isMissing());
    int asked = 0;
    controller.setOpenPanel([&](const QString&, bool multiple) {
        ++asked;
        EXPECT_FALSE(multiple);
        return QStringList{moved};
    });
    run.cue(2)->replaceMedia();
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(waitFor([&] { return run.cue(2) && run.cue(2)->isReady() && !run.cue(2)->isMissing(); }))
        << "B did not come back";
    EXPECT_EQ(run.cue(2)->mediaPath(), moved);
    const std::size_t beforeB = run.output->count();
    controller.jumpToAndPlayItemAtIndex(2);
    EXPECT_TRUE(waitFor([&] { return framesOfMovie(*run.output, beforeB, 100) >= 3; }, 30)) << "B does not play";
    EXPECT_TRUE(run.env.alerts.isEmpty()) << run.env.alerts.join(" | ").toStdString();
    run.osc.send("/kavio/stop");
    EXPECT_TRUE(waitFor([&] { return !controller.isPlaying(); }));
}
