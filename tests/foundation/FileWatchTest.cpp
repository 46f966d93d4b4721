// The file watch reports the open file's removal on the main queue, and nothing else.

#include "FileWatch.h"

#include "DispatchQueue.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct WatchedFile {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("clip.mov"));
    int removed = 0;
    int cancelled = 0;
    bool removedOnMain = true;
    std::unique_ptr<FileWatch> watch;

    WatchedFile()
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write("frames");
        file.close();
        watch = FileWatch::open(
            path,
            [this] {
                removedOnMain = removedOnMain && DispatchQueue::isMainThread();
                ++removed;
            },
            [this] { ++cancelled; });
    }
};

TEST(FileWatch, DeletingTheFileIsReportedOnceOnTheMainQueue)
{
    WatchedFile file;
    ASSERT_TRUE(file.watch);
    ASSERT_TRUE(QFile::remove(file.path));
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return file.removed > 0; }, 10.0));
    EXPECT_TRUE(file.removedOnMain);
    EXPECT_EQ(file.cancelled, 0);
}

TEST(FileWatch, ARenamedFileStaysWatchedAndAnotherLinkKeepsItAlive)
{
    WatchedFile file;
    ASSERT_TRUE(file.watch);
    const QString renamed = file.dir.filePath(QStringLiteral("renamed.mov"));
    const QString link = file.dir.filePath(QStringLiteral("link.mov"));
    ASSERT_TRUE(QFile::rename(file.path, renamed));
    ASSERT_EQ(::link(QFile::encodeName(renamed).constData(), QFile::encodeName(link).constData()), 0);
    ASSERT_TRUE(QFile::remove(link));
    // Only the removal of the last link is a removal: the count is exactly one afterwards.
    ASSERT_TRUE(QFile::remove(renamed));
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return file.removed > 0; }, 10.0));
    // The open file still changes after its last link went (as a late-read link event would
    // show it): it was removed once.
    ASSERT_EQ(::fchmod(file.watch->descriptor(), 0600), 0);
    DispatchQueue::runMainUntil([] { return false; }, 0.2);
    EXPECT_EQ(file.removed, 1);
}

TEST(FileWatch, CancelRunsItsHandlerOnceAndEndsTheReports)
{
    WatchedFile file;
    ASSERT_TRUE(file.watch);
    file.watch->cancel();
    file.watch->cancel();
    EXPECT_EQ(file.cancelled, 1);
    EXPECT_TRUE(file.watch->isCancelled());
    EXPECT_EQ(file.watch->descriptor(), -1);
    ASSERT_TRUE(QFile::remove(file.path));
    DispatchQueue::runMainUntil([] { return false; }, 0.2);
    EXPECT_EQ(file.removed, 0);
}

TEST(FileWatch, NothingToOpenGivesNoWatch)
{
    QTemporaryDir dir;
    EXPECT_FALSE(FileWatch::open(dir.filePath(QStringLiteral("missing.mov")), {}, {}));
}

}  // namespace
