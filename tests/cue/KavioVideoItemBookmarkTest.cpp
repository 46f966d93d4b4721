// A playing cue follows its moved file and stops the show when the file is deleted.

#include "CueTestSupport.h"
#include "MediaFixtures.h"

#include "DispatchQueue.h"
#include "MediaPlayer.h"
#include "NotificationCenter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

namespace {

// A movie cue over a copy of counter25.mp4 at <dir>/<folder>/clip.mp4, ready, with a fake
// audio player, the current cue of its controller.
struct WatchedCue {
    QTemporaryDir dir;
    QString folder;
    QString path;
    CueUnderTest t;
    std::shared_ptr<FakeAudioPlayer> audio = std::make_shared<FakeAudioPlayer>();
    FakeInspector inspector;

    explicit WatchedCue(const QString& folderName = QStringLiteral("show"))
    {
        folder = dir.filePath(folderName);
        QDir().mkpath(folder);
        path = folder + QStringLiteral("/clip.mp4");
        EXPECT_TRUE(QFile::copy(QString::fromStdString(MediaFixtures::path("counter25.mp4")), path));
        t.cue->audioToMake = audio;
        t.controller->current = t.cue;
        t.controller->inspector = &inspector;
        EXPECT_TRUE(t.cue->initMovieCue(path, t.controller, {}));
        DispatchQueue::runMainUntil([&] { return t.cue->isReady(); }, 30.0);
        EXPECT_TRUE(t.cue->isReady());
    }
    void post(const QString& changed)
    {
        NotificationCenter::defaultCenter().post(kKavioWatchedFilepathChangedNotification, nullptr,
                                                 {{kKavioChangedFilepathKey, changed}});
        DispatchQueue::drainMain();
    }
};

TEST(KavioVideoItemWatch, DeletingThePlayingCurrentCuesFileStopsTheShowAndReleasesThePlayers)
{
    WatchedCue w;
    w.t.cue->setIsPlaying(true);
    int refreshes = 0;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        nullptr, kKavioRefreshWaveformViewNotification, nullptr, [&](const Notification&) { ++refreshes; });
    ASSERT_TRUE(QFile::remove(w.path));
    DispatchQueue::runMainUntil([&] { return w.t.cue->isMissing(); }, 10.0);
    DispatchQueue::drainMain();
    NotificationCenter::defaultCenter().removeObserver(token);

    auto& cue = *w.t.cue;
    EXPECT_TRUE(cue.isMissing());
    EXPECT_TRUE(cue.hasVideoError());
    EXPECT_FALSE(cue.isPlaying());
    EXPECT_EQ(w.t.controller->stopPlaybackCount, 1);
    EXPECT_GE(refreshes, 1);
    EXPECT_FALSE(cue.normalVideoPlayer());
    EXPECT_FALSE(cue.videoPlayer());
    EXPECT_FALSE(cue.audioPlayer());
    EXPECT_TRUE(w.audio->released);
    EXPECT_GE(w.audio->stops, 1);
    EXPECT_FALSE(cue.isWatchingFile());
    EXPECT_FALSE(cue.errorButton().hidden);
}

TEST(KavioVideoItemWatch, ARenamedFolderIsFollowedWithThePlayersUntouched)
{
    WatchedCue w;
    MediaPlayer* player = w.t.cue->normalVideoPlayer();
    const QString renamed = w.dir.filePath(QStringLiteral("tour"));
    ASSERT_TRUE(QDir().rename(w.folder, renamed));
    w.post(w.folder);
    DispatchQueue::drainMain();

    auto& cue = *w.t.cue;
    EXPECT_EQ(cue.mediaPath(), renamed + QStringLiteral("/clip.mp4"));
    EXPECT_FALSE(cue.isMissing());
    EXPECT_EQ(cue.normalVideoPlayer(), player);
    EXPECT_TRUE(cue.isWatchingFile());
    EXPECT_EQ(w.inspector.pulls, 0);  // the inspector shows another cue
    // The stale bookmark was made again: it now names the new path.
    EXPECT_TRUE(cue.bookmarkdata().contains(QFile::encodeName(renamed)));

    // Shown in the inspector, the cue has it reloaded on the next move.
    w.inspector.shown = w.t.cue;
    const QString again = w.dir.filePath(QStringLiteral("again"));
    ASSERT_TRUE(QDir().rename(renamed, again));
    w.post(renamed);
    DispatchQueue::drainMain();
    EXPECT_EQ(cue.mediaPath(), again + QStringLiteral("/clip.mp4"));
    EXPECT_EQ(w.inspector.pulls, 1);
}

TEST(KavioVideoItemWatch, TheRealWatcherFollowsARenamedFolder)
{
    WatchedCue w(QStringLiteral("a/b"));
    const QString renamed = w.dir.filePath(QStringLiteral("a/c"));
    ASSERT_TRUE(QDir().rename(w.folder, renamed));
    const QString moved = renamed + QStringLiteral("/clip.mp4");
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return w.t.cue->mediaPath() == moved; }, 30.0));
    EXPECT_FALSE(w.t.cue->isMissing());
}

TEST(KavioVideoItemWatch, OnlyTheFileOrOneOfItsFoldersCounts)
{
    // The file stays where it is (a move would bring the real watcher's own report): a cue that
    // reacts looks its file up again and has the inspector showing it reloaded.
    WatchedCue w(QStringLiteral("ab"));
    w.inspector.shown = w.t.cue;
    // "<dir>/a" is a sibling's prefix of "<dir>/ab/clip.mp4", not one of its folders.
    w.post(w.dir.filePath(QStringLiteral("a")));
    w.post(QString());
    DispatchQueue::drainMain();
    EXPECT_EQ(w.inspector.pulls, 0);
    w.post(w.folder);
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return w.inspector.pulls == 1; }, 30.0));
}

TEST(KavioVideoItemWatch, APathChangeFromTheWatchersThreadIsHandledOnTheMainQueue)
{
    WatchedCue w;
    const QString original = w.t.cue->mediaPath();
    const QString moved = w.dir.filePath(QStringLiteral("moved"));
    ASSERT_TRUE(QDir().rename(w.folder, moved));
    std::thread([&] {
        NotificationCenter::defaultCenter().post(kKavioWatchedFilepathChangedNotification, nullptr,
                                                 {{kKavioChangedFilepathKey, w.folder}});
    }).join();
    EXPECT_EQ(w.t.cue->mediaPath(), original);
    DispatchQueue::drainMain();
    EXPECT_EQ(w.t.cue->mediaPath(), moved + QStringLiteral("/clip.mp4"));
}

TEST(KavioVideoItemWatch, AReplacedFileIsGoneEvenWithANewFileOfTheSameName)
{
    WatchedCue w;
    w.t.controller->current.reset();
    w.t.cue->stopWatcher();  // keep this test to the path notification alone
    ASSERT_TRUE(QFile::remove(w.path));
    ASSERT_TRUE(QFile::copy(QString::fromStdString(MediaFixtures::path("counter25.mp4")), w.path));
    w.post(w.path);
    EXPECT_TRUE(w.t.cue->isMissing());
    EXPECT_TRUE(w.t.cue->hasVideoError());
    EXPECT_EQ(w.t.controller->stopPlaybackCount, 0);  // not playing, not current
}

}  // namespace
