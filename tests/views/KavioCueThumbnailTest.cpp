// Cue thumbnails from real media: stills, PDF pages and movies made by the tests.

#include "../controller/ControllerFakes.h"
#include "MediaFixtures.h"

#include "Views/KavioThumbnailView.h"
#include "Views/KavioVideoItemView.h"

#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

struct ThumbnailFixture : ControllerFixture {
    QTemporaryDir media;
    ThumbnailFixture() { connected(); }

    std::shared_ptr<KavioVideoItem> cueFor(const QString& path)
    {
        auto cue = controller->createItemWithPath(path);
        EXPECT_NE(cue, nullptr);
        return cue;
    }
};

TEST(KavioCueThumbnail, AStillShowsInItsRowAndIsCachedWhole)
{
    ThumbnailFixture f;
    QImage picture(64, 36, QImage::Format_RGB32);
    picture.fill(Qt::red);
    const QString path = f.media.filePath(QStringLiteral("red.png"));
    picture.save(path);
    const auto cue = f.cueFor(path);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return cue->view() && cue->view()->thumbnailView->image(); }, 30.0));
    ASSERT_NE(cue->thumbnailImage(), nullptr);
    EXPECT_EQ(cue->thumbnailImage()->size(), QSize(64, 36));
    const QImage shown = *cue->view()->thumbnailView->image();
    EXPECT_EQ(shown.pixelColor(shown.width() / 2, shown.height() / 2), QColor(Qt::red));
}

TEST(KavioCueThumbnail, ALetterPageIsCachedFittedIntoTheBoxOnWhite)
{
    ThumbnailFixture f;
    const QString path = f.media.filePath(QStringLiteral("letter.pdf"));
    {
        QPdfWriter writer(path);
        writer.setPageSize(QPageSize(QPageSize::Letter));
        QPainter painter(&writer);
        painter.drawText(100, 100, QStringLiteral("page"));
    }
    const auto cue = f.cueFor(path);
    cue->generateThumbnail();
    const auto cached = cue->thumbnailImage();
    ASSERT_NE(cached, nullptr);
    EXPECT_NEAR(cached->width(), 125.2, 1.0);
    EXPECT_EQ(cached->height(), 162);
    EXPECT_EQ(cached->pixelColor(5, 150), QColor(Qt::white));
}

TEST(KavioCueThumbnail, AThumbTimePastTheEndTakesTheFirstFrame)
{
    ThumbnailFixture f;
    const auto cue = f.cueFor(QString::fromStdString(MediaFixtures::path("counter25.mp4")));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return cue->isReady() || cue->isMissing(); }, 60.0));
    ASSERT_FALSE(cue->isMissing());
    cue->setThumbTime(MediaTime::makeWithSeconds(0, MediaTime::kCueTimescale));
    cue->generateThumbnail();
    const auto first = cue->thumbnailImage();
    ASSERT_NE(first, nullptr);
    cue->setThumbTime(MediaTime::makeWithSeconds(1.0, MediaTime::kCueTimescale));
    cue->generateThumbnail();
    const auto middle = cue->thumbnailImage();
    cue->setThumbTime(MediaTime::makeWithSeconds(30.0, MediaTime::kCueTimescale));
    cue->generateThumbnail();
    const auto past = cue->thumbnailImage();
    EXPECT_EQ(first->size(), QSize(320, 240));
    EXPECT_NE(*middle, *first);
    EXPECT_EQ(*past, *first);
}

TEST(KavioCueThumbnail, AMovieThatCannotGiveAFrameKeepsTheOldPicture)
{
    ThumbnailFixture f;
    const auto cue = f.cueFor(QString::fromStdString(MediaFixtures::path("counter25.mp4")));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return cue->isReady() || cue->isMissing(); }, 60.0));
    cue->generateThumbnail();
    const auto kept = cue->thumbnailImage();
    ASSERT_NE(kept, nullptr);
    // The file goes away under the cue.
    cue->setMediaPath(f.media.filePath(QStringLiteral("gone.mp4")));
    cue->generateThumbnail();
    EXPECT_EQ(cue->thumbnailImage(), kept);
}

// A program that ends while a thumbnail is being made ends at once and cleanly: the demo helper
// returns as soon as its last cue is ready, with that cue's page thumbnail still in the making.
// Thumbnails made on after the application object had gone hung or crashed the exit.
TEST(KavioCueThumbnail, AProgramEndingWhileThumbnailsAreMadeEndsCleanly)
{
    QTemporaryDir media;
    QStringList arguments{media.filePath(QStringLiteral("show.kavio2"))};
    for (int i = 0; i < 8; ++i) {
        arguments << media.filePath(QStringLiteral("slides%1.pdf").arg(i));
        QPdfWriter writer(arguments.last());
        writer.setPageSize(QPageSize(QPageSize::A3));
        QPainter painter(&writer);
        painter.fillRect(QRect(0, 0, 2000, 1500), Qt::blue);
    }
    for (int run = 0; run < 3; ++run) {
        QProcess helper;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("KAVIO_AUDIO_BACKEND"), QStringLiteral("null"));
        helper.setProcessEnvironment(environment);
        helper.start(QStringLiteral(KAVIO_MAKE_DEMO), arguments);
        const bool ended = helper.waitForFinished(60000);
        if (!ended)
            helper.kill();
        ASSERT_TRUE(ended) << "run " << run << " did not end";
        EXPECT_EQ(helper.exitStatus(), QProcess::NormalExit) << "run " << run;
        EXPECT_EQ(helper.exitCode(), 0) << "run " << run << ": " << helper.readAllStandardError().right(400).toStdString();
    }
    EXPECT_TRUE(QFile::exists(arguments.first()));
}

}  // namespace
