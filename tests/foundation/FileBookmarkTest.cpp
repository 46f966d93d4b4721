// Bookmarks follow renamed files and folders, and refuse replaced files and foreign blobs.

#include "FileBookmark.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// <root>/show/media/clip.mov with a few bytes in it.
struct ShowFolder {
    QTemporaryDir root;
    QString clip;

    ShowFolder()
    {
        QDir(root.path()).mkpath(QStringLiteral("show/media"));
        clip = root.filePath(QStringLiteral("show/media/clip.mov"));
        writeFile(clip, "frames");
    }
};

TEST(FileBookmark, UnmovedFileResolvesToItsPathAndIsNotStale)
{
    ShowFolder show;
    const QByteArray bookmark = FileBookmark::create(show.clip);
    ASSERT_FALSE(bookmark.isEmpty());
    const auto resolved = FileBookmark::resolve(bookmark);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->path, show.clip);
    EXPECT_FALSE(resolved->isStale);
}

TEST(FileBookmark, FollowsARenameAtEveryLevel)
{
    const struct {
        const char* from;
        const char* to;
        const char* expected;
    } cases[] = {
        {"show/media/clip.mov", "show/media/renamed.mov", "show/media/renamed.mov"},
        {"show/media", "show/footage", "show/footage/clip.mov"},
        {"show", "tour", "tour/media/clip.mov"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        ShowFolder show;
        const QByteArray bookmark = FileBookmark::create(show.clip);
        ASSERT_TRUE(QDir(show.root.path()).rename(QString::fromUtf8(c.from), QString::fromUtf8(c.to)));
        const auto resolved = FileBookmark::resolve(bookmark);
        ASSERT_TRUE(resolved);
        EXPECT_EQ(resolved->path, show.root.filePath(QString::fromUtf8(c.expected)));
        EXPECT_TRUE(resolved->isStale);
    }
}

TEST(FileBookmark, AFileOfTheSameNameAtTheOldPathIsNotTheBookmarkedFile)
{
    ShowFolder show;
    const QByteArray bookmark = FileBookmark::create(show.clip);
    ASSERT_TRUE(QFile::remove(show.clip));
    writeFile(show.clip, "frames");
    QString error;
    EXPECT_FALSE(FileBookmark::resolve(bookmark, &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(FileBookmark, ForeignDamagedAndMissingInputsGiveNothing)
{
    ShowFolder show;
    const QByteArray bookmark = FileBookmark::create(show.clip);
    // A bookmark of another platform, ours cut short, ours with a byte changed in its header.
    QByteArray flipped = bookmark;
    flipped[5] = char(flipped[5] ^ 0x40);
    for (const QByteArray& blob : {QByteArray("book\x00\x02\x00\x00 marker", 16), bookmark.left(bookmark.size() - 3),
                                   flipped, QByteArray()})
        EXPECT_FALSE(FileBookmark::resolve(blob));
    EXPECT_TRUE(FileBookmark::create(show.root.filePath(QStringLiteral("nothing.mov"))).isEmpty());
    EXPECT_TRUE(FileBookmark::create(show.root.path()).isEmpty());  // a folder is no file
}

}  // namespace
