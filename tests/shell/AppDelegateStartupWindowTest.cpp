// The start-up window's tiles: recent projects read back from their files, drawn, hovered and
// clicked.

#include "ShellTestSupport.h"

#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "Shell/KavioRecentProjectsView.h"
#include "Support/KavioButtonInterface.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QByteArray png(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QImage solid(int w, int h, QColor color)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

void writeProjectWithPreview(const QString& path, const QVariant& preview)
{
    QVariantMap quickLook;
    if (preview.isValid())
        quickLook.insert(QStringLiteral("QLIMAGE"), preview);
    writeProjectFile(path, {{QStringLiteral("QLData"), quickLook}, {QStringLiteral("preferences"), QVariantMap()}});
}

// A PNG whose header claims 60000 x 60000 pixels: the reader must refuse it, not allocate.
QByteArray enormousPng()
{
    QByteArray bytes = png(solid(1, 1, Qt::red));
    // The IHDR width and height follow the 8-byte signature, the chunk length and type.
    const char size[] = {0, 0, char(0xEA), 0x60};
    bytes.replace(16, 4, size, 4);
    bytes.replace(20, 4, size, 4);
    return bytes;
}

struct RecordingTileDelegate : KavioRecentProjectsViewDelegate {
    QStringList calls;
    void loadProjectWithURL(const QString& path) override { calls << QStringLiteral("load ") + path; }
    void newProject() override { calls << QStringLiteral("new"); }
};

struct StartupFixture {
    ShellTestEnvironment env;
    ShellTestProgram program{env};
    AppDelegate& app = program.app();

    void setRecents(const QStringList& paths)
    {
        program.defaults->setArray(QVariantList(paths.begin(), paths.end()), QStringLiteral("recentProjects"));
    }
    QStringList middleTitles() const
    {
        QStringList titles;
        for (KavioRecentProjectsView* tile : app.outlets().recentViews)
            titles << tile->middleTitle();
        return titles;
    }
};

TEST(AppDelegateStartupWindow, WithoutRecentsEveryTileOffersANewProject)
{
    StartupFixture f;
    f.program.launch();
    EXPECT_TRUE(f.program.ui->startupWindow().isVisible());
    const QString offer = QStringLiteral("Create New Project...");
    EXPECT_EQ(f.middleTitles(), (QStringList{offer, offer, offer, offer}));
    EXPECT_FALSE(f.app.outlets().startupOpenLastProjectButton->isEnabled());
    EXPECT_EQ(f.app.outlets().versionInfo->text(), AppDelegate::shortVersionString());
}

TEST(AppDelegateStartupWindow, TilesOfGoneDamagedAndPreviewLessProjects)
{
    StartupFixture f;
    const QString good = f.env.dir.filePath(QStringLiteral("Good.kavio2"));
    const QString damaged = f.env.dir.filePath(QStringLiteral("Damaged.kavio2"));
    const QString noPreview = f.env.dir.filePath(QStringLiteral("NoPreview.kavio2"));
    const QString notImage = f.env.dir.filePath(QStringLiteral("NotImage.kavio2"));
    const QString enormous = f.env.dir.filePath(QStringLiteral("Enormous.kavio2"));
    const QString gone = f.env.dir.filePath(QStringLiteral("Gone.kavio2"));
    writeProjectWithPreview(good, png(solid(64, 36, Qt::red)));
    writeProjectWithPreview(noPreview, QVariant());
    writeProjectWithPreview(notImage, QByteArray("not an image at all"));
    writeProjectWithPreview(enormous, enormousPng());
    QFile file(damaged);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("bplist00 but nothing after");
    file.close();

    for (const QString& path : {damaged, noPreview, notImage, enormous}) {
        QString error;
        EXPECT_TRUE(KavioRecentProjectsView::previewOfProjectFile(path, &error).isNull()) << path.toStdString();
        EXPECT_FALSE(error.isEmpty()) << path.toStdString();
    }
    EXPECT_EQ(KavioRecentProjectsView::previewOfProjectFile(good).size(), QSize(64, 36));

    f.setRecents({good, gone, damaged, noPreview});
    f.app.openStartupWindow();
    const auto& tiles = f.app.outlets().recentViews;
    // The gone project drops out; the rest move up and the last tile offers a new project.
    EXPECT_EQ(tiles[0]->url(), good);
    EXPECT_EQ(tiles[1]->url(), damaged);
    EXPECT_EQ(tiles[2]->url(), noPreview);
    EXPECT_TRUE(tiles[3]->url().isEmpty());
    EXPECT_EQ(f.middleTitles(), (QStringList{QString(), QStringLiteral("Preview not available"),
                                             QStringLiteral("Preview not available"),
                                             QStringLiteral("Create New Project...")}));
    EXPECT_TRUE(f.app.outlets().startupOpenLastProjectButton->isEnabled());
}

TEST(AppDelegateStartupWindow, AWidePreviewFillsTheWidthCentredAboveTheTitle)
{
    KavioRecentProjectsView tile;
    tile.resize(200, 117);  // a 100-point preview area above the 17-point strip
    tile.setUrl(QStringLiteral("/shows/Wide.kavio2"));
    tile.setImage(solid(400, 100, Qt::red));  // 4:1, fitted to the width: 200 x 50
    QImage image(tile.size(), QImage::Format_ARGB32);
    tile.render(&image);
    const auto isRed = [&image](int x, int y) {
        const QColor c = image.pixelColor(x, y);
        return c.red() > 200 && c.green() < 50;
    };
    // y-down: the area is rows 0..99, the picture rows 25..74.
    EXPECT_TRUE(isRed(100, 26));
    EXPECT_TRUE(isRed(100, 73));
    EXPECT_TRUE(isRed(2, 50));
    EXPECT_TRUE(isRed(197, 50));
    EXPECT_FALSE(isRed(100, 23));
    EXPECT_FALSE(isRed(100, 76));
}

TEST(AppDelegateStartupWindow, HoverDrawsTheFocusBorderAndClicksGoToTheDelegate)
{
    KavioRecentProjectsView tile;
    RecordingTileDelegate delegate;
    tile.setDelegate(&delegate);
    tile.resize(120, 90);
    tile.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tile));
    const auto border = [&tile] {
        QImage image(tile.size(), QImage::Format_ARGB32);
        tile.render(&image);
        return image.pixelColor(60, 0);
    };
    EXPECT_NEAR(border().blueF(), 0.1, 0.03);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(&tile, &enter);
    EXPECT_TRUE(tile.hasFocus());
    const QColor focus = border();
    EXPECT_NEAR(focus.redF(), 0.0, 0.03);
    EXPECT_NEAR(focus.greenF(), 0.656, 0.03);
    EXPECT_NEAR(focus.blueF(), 0.929, 0.03);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&tile, &leave);
    EXPECT_FALSE(tile.hasFocus());
    EXPECT_NEAR(border().blueF(), 0.1, 0.03);

    QTest::mouseClick(&tile, Qt::LeftButton);
    tile.setUrl(QStringLiteral("/shows/A.kavio2"));
    QTest::mouseClick(&tile, Qt::LeftButton);
    EXPECT_EQ(delegate.calls, (QStringList{QStringLiteral("new"), QStringLiteral("load /shows/A.kavio2")}));
}

TEST(AppDelegateStartupWindow, ATileClickAsksToSaveFirst)
{
    StartupFixture f;
    f.program.launch();
    const QString other = f.env.dir.filePath(QStringLiteral("Other.kavio2"));
    writeProjectWithPreview(other, png(solid(16, 9, Qt::blue)));
    f.setRecents({other});
    f.app.openStartupWindow();
    const auto controller = f.program.ui->controller();
    controller->insertItem(KavioVideoItem::initWithCamera(QStringLiteral("Test camera"), controller), 1);
    f.app.setHasUnsavedChanges(true);
    // "Cancel" to the save question: the open show stays.
    f.env.alertResponses = {KavioAlert::SecondButtonReturn};
    QTest::mouseClick(f.app.outlets().recentViews[0], Qt::LeftButton);
    EXPECT_EQ(f.env.alerts.size(), 1);
    EXPECT_TRUE(f.app.projectURL().isEmpty());
    // "Don't Save": the project opens and the window closes.
    f.env.alertResponses = {KavioAlert::ThirdButtonReturn};
    QTest::mouseClick(f.app.outlets().recentViews[0], Qt::LeftButton);
    f.program.waitUntilLoaded();
    EXPECT_EQ(f.app.projectURL(), other);
    EXPECT_FALSE(f.program.ui->startupWindow().isVisible());
}

TEST(AppDelegateStartupWindow, TheCheckboxIsStoredAndKeepsTheWindowClosedNextTime)
{
    ShellTestEnvironment env;
    {
        ShellTestProgram program(env);
        program.launch();
        QTest::mouseClick(dynamic_cast<QWidget*>(program.app().outlets().startupShowWindowButton), Qt::LeftButton);
        EXPECT_FALSE(program.defaults->boolForKey(QStringLiteral("showStartupWindow")));
        program.app().applicationWillTerminate();
    }
    ShellTestProgram next(env);
    next.launch();
    EXPECT_FALSE(next.ui->startupWindow().isVisible());
    EXPECT_EQ(next.app().outlets().startupShowWindowButton->state(), 0);
}

}  // namespace
