// Pictures of the shell under the test's X server, kept in the build folder for a look: the main
// window with both panels, with the right panel hidden and with Play armed following LTC; the
// start-up window with a preview, a project without one and two new-project tiles; the
// preferences window with its tab list.

#include "ShellTestSupport.h"

#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "Shell/KavioWindow.h"
#include "Views/KavioButton.h"

#include <QAction>
#include <QBuffer>
#include <QDir>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

namespace {

void save(QWidget& widget, const char* name)
{
    QDir().mkpath(QStringLiteral(KAVIO_SCREENSHOT_DIR));
    const QString path = QStringLiteral(KAVIO_SCREENSHOT_DIR "/%1.png").arg(QLatin1String(name));
    EXPECT_TRUE(widget.grab().save(path)) << path.toStdString();
}

bool settled(KavioButtonInterface* button)
{
    return QTest::qWaitFor([button] { return button->isEnabled(); }, 3000);
}

QByteArray preview()
{
    QImage image(320, 180, QImage::Format_RGB32);
    image.fill(QColor(30, 60, 110));
    QPainter painter(&image);
    painter.fillRect(40, 40, 240, 100, QColor(200, 120, 40));
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

TEST(ShellScreenshots, MainStartupAndPreferencesWindows)
{
    ShellTestEnvironment env;
    const QString withPreview = env.dir.filePath(QStringLiteral("Concert.kavio2"));
    const QString without = env.dir.filePath(QStringLiteral("Rehearsal.kavio2"));
    writeProjectFile(withPreview, {{QStringLiteral("QLData"), QVariantMap{{QStringLiteral("QLIMAGE"), preview()}}}});
    writeProjectFile(without, {{QStringLiteral("QLData"), QVariantMap()}});
    ShellTestProgram program(env);
    program.defaults->setArray({withPreview, without}, QStringLiteral("recentProjects"));
    program.launch();
    AppDelegate& app = program.app();
    const AppDelegateOutlets& o = app.outlets();
    KavioWindow& window = program.ui->window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto controller = program.ui->controller();
    const auto cue = KavioVideoItem::initWithCamera(QStringLiteral("Test camera"), controller);
    controller->insertItem(cue, 1);
    controller->setCurrentItem(cue);
    app.setMainUIStateAfterPlaybackChanged();

    ASSERT_TRUE(QTest::qWaitForWindowExposed(&program.ui->startupWindow()));
    save(program.ui->startupWindow(), "startup-window");

    save(window, "main-window-both-panels");
    QTest::mouseClick(dynamic_cast<KavioButton*>(o.rightViewButton), Qt::LeftButton);
    ASSERT_TRUE(settled(o.rightViewButton));
    save(window, "main-window-right-panel-hidden");
    QTest::mouseClick(dynamic_cast<KavioButton*>(o.rightViewButton), Qt::LeftButton);
    ASSERT_TRUE(settled(o.rightViewButton));

    app.toggleSourceMode(o.ltcSource);
    QTest::qWait(50);
    EXPECT_EQ(o.playButton->state(), 1);
    save(window, "main-window-play-armed-ltc");

    program.ui->preferencesWindow().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&program.ui->preferencesWindow()));
    save(program.ui->preferencesWindow(), "preferences-window");
}

}  // namespace
