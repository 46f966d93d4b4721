#include "SourcesTestSupport.h"
#include "SourcesPictureSupport.h"

#include "../cue/CueTestSupport.h"
#include "GpuTestDevice.h"
#include "Sources/KavioWindowSource.h"
#include "Sources/KavioWindowSourceManager.h"
#include "GpuTexture.h"
#include "NotificationCenter.h"

#include <QDir>
#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

constexpr double kTimeout = 30.0;
const QString kOwner = QStringLiteral("kavio-testwin");

// The window program of the tests, driven line by line.
class TestWindows {
public:
    TestWindows()
    {
        process.start(QStringLiteral(KAVIO_TEST_WINDOWS), {});
        process.waitForStarted();
    }
    ~TestWindows()
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(10000))
            process.kill();
    }
    // The answer line to a command.
    QString send(const QString& command)
    {
        process.write((command + "\n").toUtf8());
        process.waitForBytesWritten();
        while (!process.canReadLine())
            if (!process.waitForReadyRead(int(kTimeout * 1000)))
                return {};
        return QString::fromUtf8(process.readLine()).trimmed();
    }
    std::uint32_t open(const QString& tag, const QString& colour, const QString& name)
    {
        return send(QStringLiteral("open %1 %2 %3").arg(tag, colour, name)).section(' ', 1).toUInt();
    }
    QProcess process;
};

QStringList ownTitles(const QList<QVariantList>& list)
{
    QStringList titles;
    for (const QVariantList& entry : list)
        if (entry.first().toString().startsWith(kOwner))
            titles << entry.first().toString();
    return titles;
}

TEST(KavioWindowSourceManager, ListsNamedNormalWindowsSorted)
{
    TestWindows windows;
    const std::uint32_t beta = windows.open("b", "0000ff", "beta");
    const std::uint32_t alpha1 = windows.open("a1", "ff0000", "Alpha");
    const std::uint32_t alpha2 = windows.open("a2", "ff0000", "Alpha");
    windows.open("n", "00ff00", "");
    ASSERT_NE(beta, 0u);

    KavioWindowSourceManager manager;
    const QList<QVariantList> list = manager.listOfAvailableSources();
    EXPECT_EQ(ownTitles(list), QStringList({kOwner + " / Alpha", kOwner + " / Alpha", kOwner + " / beta"}));
    QList<std::uint32_t> ids;
    for (const QVariantList& entry : list)
        if (entry.first().toString() == kOwner + " / Alpha")
            ids << entry.last().toUInt();
    EXPECT_EQ(QSet<std::uint32_t>(ids.begin(), ids.end()), QSet<std::uint32_t>({alpha1, alpha2}));
    EXPECT_EQ(manager.windowIDForTitle(kOwner + " / beta"), beta);
    EXPECT_EQ(manager.windowIDForTitle(kOwner + " / "), 0u) << "a nameless window is not listed";
}

TEST(KavioWindowSourceManager, PostsWhenTheSetChanges)
{
    TestWindows windows;
    KavioWindowSourceManager manager;
    int posts = 0;
    NotificationCenter::defaultCenter().addObserver(&posts, kKavioWindowSourcesChangedNotification, nullptr,
                                                    [&](const Notification&) { ++posts; });
    manager.increaseNumberOfListeners();
    windows.open("w", "ff0000", "Watched");
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return posts >= 1; }, kTimeout)) << "open";
    const int afterOpen = posts;
    windows.send("rename w Renamed");
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return posts > afterOpen; }, kTimeout)) << "rename";
    const int afterRename = posts;
    windows.send("close w");
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return posts > afterRename; }, kTimeout)) << "close";
    manager.decreaseNumberOfListeners();
    EXPECT_EQ(manager.listeners(), 0);
    NotificationCenter::defaultCenter().removeObserver(&posts);
}

TEST(KavioWindowSource, CapturesTheWindowAtTheRenderSize)
{
    REQUIRE_GPU_DEVICE();
    TestWindows windows;
    const std::uint32_t id = windows.open("r", "ff0000", "Red Window");
    KavioWindowSource source(QSizeF(80, 60), 30, id, false, GpuTestDevice::device());
    EXPECT_EQ(source.texture(), nullptr);
    source.setShowCursor(true);
    EXPECT_EQ(source.saveData(), QVariantMap({{"showcursor", true}}));
    source.setShouldRender(true);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return source.frameCount() > 0; }, kTimeout));
    const auto texture = source.texture();
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->width(), 80u);
    EXPECT_EQ(texture->height(), 60u);
    const QImage picture = readBack(texture);
    saveForTheDeveloper(picture, "window-source-red");
    // Away from the cursor, which sits in the screen's middle.
    EXPECT_TRUE(isNear(picture.pixelColor(70, 50), Qt::red, 8)) << picture.pixelColor(70, 50).name().toStdString();

    // The window closes: the last picture stays.
    windows.send("close r");
    const std::uint64_t frames = source.frameCount();
    source.setShouldRender(false);
    EXPECT_EQ(source.texture(), texture);
    EXPECT_GE(source.frameCount(), frames);

    // Records: a wrong type is ignored; no key leaves the cursor as it is.
    KavioWindowSource other(QSizeF(8, 8), 30, 0, false, GpuTestDevice::device());
    other.loadWithData({{"showcursor", "yes"}});
    EXPECT_FALSE(other.showCursor());
    other.loadWithData({});
    EXPECT_FALSE(other.showCursor());
    other.loadWithData({{"showcursor", true}});
    EXPECT_TRUE(other.showCursor());
}

TEST(KavioWindowCue, FollowsItsWindow)
{
    REQUIRE_GPU_DEVICE();
    TestWindows windows;
    const std::uint32_t id = windows.open("c", "0000ff", "Cue Window");
    const auto controller = std::make_shared<FakeKavioVideoItemManager>();
    controller->size = QSizeF(64, 48);
    FakeInspector inspector;
    controller->inspector = &inspector;

    const auto cue = KavioVideoItem::initWithWindow(kOwner + " / Cue Window", controller);
    inspector.shown = cue;
    EXPECT_FALSE(cue->isMissing());
    EXPECT_FALSE(cue->windowSourceShowCursor());
    cue->setWindowSourceShowCursor(true);
    cue->switchWindowSourceTo(kOwner + " / Cue Window");
    EXPECT_TRUE(cue->windowSourceShowCursor()) << "a switch keeps the cursor setting";
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return cue->windowSourceTexture() != nullptr; }, kTimeout));
    const QImage picture = readBack(cue->windowSourceTexture());
    saveForTheDeveloper(picture, "window-cue-blue");
    EXPECT_TRUE(isNear(picture.pixelColor(60, 44), Qt::blue, 8));

    // Renamed: found by its id, the cue takes the new title.
    windows.send("rename c Cue Window 2");
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return cue->mediaPath() == kOwner + " / Cue Window 2"; }, kTimeout));
    EXPECT_FALSE(cue->isMissing());
    EXPECT_GE(inspector.pulls, 1);

    // Closed: missing, the source dropped; a window of that title again: present.
    windows.send("close c");
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return cue->isMissing(); }, kTimeout));
    EXPECT_FALSE(cue->windowSourceShowCursor()) << "no source";
    EXPECT_EQ(cue->windowSourceTexture(), nullptr);
    const std::uint32_t again = windows.open("c2", "00ff00", "Cue Window 2");
    EXPECT_NE(again, id);
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return !cue->isMissing(); }, kTimeout));
    cue->removeResources();
}

TEST(KavioWindowCue, UnlistedWindowIsMissing)
{
    const auto controller = std::make_shared<FakeKavioVideoItemManager>();
    const auto cue = KavioVideoItem::initWithWindow(QStringLiteral("Nobody / Nothing"), controller);
    EXPECT_TRUE(cue->isMissing());
    EXPECT_EQ(cue->mediaPath(), "Nobody / Nothing");
    EXPECT_EQ(cue->windowSourceTexture(), nullptr);
    cue->removeResources();
}

}  // namespace
