// The main window's Cue menu in the whole program: its items reach the controller's create
// actions, the media item through the file chooser.

#include "ShellTestSupport.h"

#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "DispatchQueue.h"
#include "Shell/KavioWindow.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

namespace {

QAction* menuItem(KavioWindow& window, const char* name)
{
    return window.findChild<QAction*>(QLatin1String(name));
}

}  // namespace

TEST(CueMenu, MediaItemImportsTheChosenFilesAndSourceItemsMakeTheirKind)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    const auto controller = program.ui->controller();
    KavioWindow& window = program.ui->window();
    QStringList chosen;
    for (const char* name : {"one.png", "two.png"}) {
        QImage image(32, 18, QImage::Format_RGB32);
        image.fill(Qt::blue);
        ASSERT_TRUE(image.save(env.dir.filePath(name)));
        chosen << env.dir.filePath(name);
    }
    QFile text(env.dir.filePath("notes.mov"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a movie");
    text.close();
    chosen << text.fileName();

    QString filter;
    bool multiple = false;
    QStringList answer;
    controller->setOpenPanel([&](const QString& f, bool m) {
        filter = f;
        multiple = m;
        return answer;
    });
    QAction* media = menuItem(window, "createVideoCue");
    ASSERT_NE(media, nullptr);
    media->trigger();  // cancelled
    EXPECT_TRUE(multiple);
    for (const char* pattern : {"*.mov", "*.png", "*.wav"})
        EXPECT_TRUE(filter.contains(QLatin1String(pattern))) << pattern;
    EXPECT_TRUE(controller->items()->empty());

    answer = chosen;
    media->trigger();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return !controller->isLoadingCues(); }, 30));
    QStringList made;
    for (const auto& cue : *controller->items())
        made << cue->mediaPath();
    EXPECT_EQ(made, chosen.mid(0, 2)) << "the file that is not media is left out";

    QAction* browser = menuItem(window, "createBrowserCue");
    ASSERT_NE(browser, nullptr);
    browser->trigger();
    ASSERT_EQ(controller->items()->size(), 3u);
    EXPECT_EQ(controller->items()->back()->mediaType(), KavioMediaTypeBrowser);
    for (const char* name : {"createCameraCue", "createSyphonCue", "createNDICue", "createWindowSourceCue"})
        EXPECT_NE(menuItem(window, name), nullptr) << name;

    // The menu as the operator sees it, drawn without opening it.
    QMenu* menu = qobject_cast<QMenu*>(media->parent());
    ASSERT_NE(menu, nullptr);
    menu->ensurePolished();
    menu->adjustSize();
    QDir().mkpath(QStringLiteral(KAVIO_SCREENSHOT_DIR));
    EXPECT_TRUE(menu->grab().save(QStringLiteral(KAVIO_SCREENSHOT_DIR "/main-window-cue-menu.png")));
}
