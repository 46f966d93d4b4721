#include "ImportedClasses/QVTPathChangeWatcher.h"

#include "Cue/KavioVideoItem.h"
#include "DispatchQueue.h"
#include "NotificationCenter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/mount.h>

#include <mutex>

namespace {

// Records the paths the watchers post, from their reader threads.
struct Posts {
    Posts()
    {
        NotificationCenter::defaultCenter().addObserver(this, kKavioWatchedFilepathChangedNotification, nullptr,
                                                        [this](const Notification& note) {
                                                            std::lock_guard lock(mutex);
                                                            paths << note.userInfo.value(kKavioChangedFilepathKey)
                                                                         .toString();
                                                        });
    }
    ~Posts() { NotificationCenter::defaultCenter().removeObserver(this); }
    QStringList taken() const
    {
        std::lock_guard lock(mutex);
        return paths;
    }
    bool waitFor(int count) const
    {
        return DispatchQueue::runMainUntil([&] { return taken().size() >= count; }, 30.0);
    }
    mutable std::mutex mutex;
    QStringList paths;
};

void touch(const QString& path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("media");
}

QStringList below(const QString& root, const QStringList& paths)
{
    QStringList found;
    for (const QString& path : paths)
        if (path.startsWith(root + "/"))
            found << path.mid(root.size());
    return found;
}

}  // namespace

TEST(QVTPathChangeWatcher, PrefixesIgnoreDoubledAndTrailingSlashes)
{
    const QStringList clean{"/Volumes", "/Volumes/Show", "/Volumes/Show/clip.mov"};
    EXPECT_EQ(QVTPathChangeWatcher::prefixesOf("/Volumes/Show/clip.mov"), clean);
    EXPECT_EQ(QVTPathChangeWatcher::prefixesOf("//Volumes//Show///clip.mov"), clean);
    EXPECT_EQ(QVTPathChangeWatcher::prefixesOf("/Volumes/Show/clip.mov/"), clean);
    EXPECT_TRUE(QVTPathChangeWatcher::prefixesOf("").isEmpty());
}

TEST(QVTPathChangeWatcher, FoldersAreWatchedOnceAndMissingPathsAreSkipped)
{
    QTemporaryDir root;
    QDir(root.path()).mkpath("a/b");
    touch(root.path() + "/a/b/clip.mov");
    touch(root.path() + "/a/b/other.mov");
    QVTPathChangeWatcher watcher;
    watcher.watchPathForChange(root.path() + "/a/b/clip.mov");
    const int before = int(watcher.watchedFiles().size());
    watcher.watchPathForChange(root.path() + "//a//b/other.mov");
    EXPECT_EQ(below(root.path(), watcher.watchedFiles()), (QStringList{"/a", "/a/b", "/a/b/clip.mov", "/a/b/other.mov"}));
    EXPECT_EQ(int(watcher.watchedFiles().size()), before + 1) << "one new watch for the second file";

    watcher.watchPathForChange(root.path() + "/a/gone/missing.mov");
    EXPECT_FALSE(watcher.watchedFiles().contains(root.path() + "/a/gone"));
    EXPECT_FALSE(watcher.watchedFiles().contains(root.path() + "/a/gone/missing.mov"));
}

TEST(QVTPathChangeWatcher, RenamedFolderPostsOnceWritesPostNothingAndFiredPathsAreWatchedAgain)
{
    QTemporaryDir root;
    QDir(root.path()).mkpath("a/b");
    const QString clip = root.path() + "/a/b/clip.mov";
    touch(clip);
    Posts posts;
    QVTPathChangeWatcher watcher;
    watcher.watchPathForChange(clip);

    // A write is not a change of place: nothing comes. The rename after it is the marker that
    // the write was seen and passed over.
    touch(clip);
    ASSERT_TRUE(QDir(root.path()).rename("a/b", "a/moved"));
    ASSERT_TRUE(posts.waitFor(1));
    EXPECT_EQ(below(root.path(), posts.taken()), QStringList{"/a/b"});
    EXPECT_EQ(below(root.path(), watcher.watchedFiles()), QStringList{"/a"}) << "the folder and what is below it";

    // The file made again at the old place is watched anew, and its deletion posts.
    QDir(root.path()).mkpath("a/b");
    touch(clip);
    watcher.watchPathForChange(clip);
    EXPECT_EQ(below(root.path(), watcher.watchedFiles()), (QStringList{"/a", "/a/b", "/a/b/clip.mov"}));
    ASSERT_TRUE(QFile::remove(clip));
    ASSERT_TRUE(posts.waitFor(2));
    EXPECT_EQ(below(root.path(), posts.taken()), (QStringList{"/a/b", "/a/b/clip.mov"}));
    EXPECT_FALSE(watcher.watchedFiles().contains(clip));
}

TEST(QVTPathChangeWatcher, UnmountingAVolumePostsForItsPaths)
{
    QTemporaryDir root;
    const QString volume = root.path() + "/volume";
    QDir().mkpath(volume);
    if (mount("tmpfs", volume.toLocal8Bit().constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here";
    touch(volume + "/clip.mov");
    Posts posts;
    QVTPathChangeWatcher watcher;
    watcher.watchPathForChange(volume + "/clip.mov");
    // The watches do not keep the volume busy.
    const bool unmounted = umount(volume.toLocal8Bit().constData()) == 0;
    if (!unmounted)
        umount2(volume.toLocal8Bit().constData(), MNT_DETACH);
    ASSERT_TRUE(unmounted);
    ASSERT_TRUE(posts.waitFor(2));
    QStringList taken = below(root.path(), posts.taken());
    taken.sort();
    EXPECT_EQ(taken, (QStringList{"/volume", "/volume/clip.mov"}));
}
