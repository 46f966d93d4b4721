// The cue's context menu, its colour tags, its media path and showing its file.

#include "CueTestSupport.h"

#include "NotificationCenter.h"
#include "Views/KavioColorTagIndicator.h"
#include "Views/KavioColorTagView.h"
#include "Views/KavioURLTextField.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDir>
#include <QDBusConnectionInterface>
#include <QMenu>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <QWidgetAction>

#include <map>

namespace {

class MenuController : public FakeKavioVideoItemManager {
public:
    KavioVideoItemList selection;
    bool playing = false;
    bool transcoding = false;
    std::vector<int> transcodes;
    int showInFileManagerCalls = 0;
    int normalizeCalls = 0;

    KavioVideoItemListSnapshot items() const override
    {
        return std::make_shared<const KavioVideoItemList>(FakeKavioVideoItemManager::items);
    }
    KavioVideoItemList selectedItems() const override { return selection; }
    bool isPlaying() const override { return playing; }
    bool isTranscoding() const override { return transcoding; }
    void transcodeSelectedCuesToCodec(int codec) override { transcodes.push_back(codec); }
    void showInFinderAllSelected() override { ++showInFileManagerCalls; }
    void normalizeAudioOnSelectedItems() override { ++normalizeCalls; }
};

struct Entry {
    bool enabled;
    bool checked;
};

// An entry's title as the menu shows it ("&&" is a literal "&").
QString shownTitle(const QAction* item) { return item->text().replace(QStringLiteral("&&"), QStringLiteral("&")); }

std::map<QString, Entry> entries(QMenu& menu)
{
    std::map<QString, Entry> all;
    for (QAction* item : menu.actions())
        if (!item->isSeparator())
            all[shownTitle(item)] = {item->isEnabled(), item->isChecked()};
    return all;
}

QAction* entry(QMenu& menu, const QString& title)
{
    for (QAction* item : menu.actions())
        if (shownTitle(item) == title)
            return item;
    return nullptr;
}

// Three cues; the first is the one whose menu is shown.
struct MenuFixture {
    RecordingOSCOutput osc;
    std::shared_ptr<MenuController> controller = std::make_shared<MenuController>();
    std::vector<std::shared_ptr<KavioVideoItem>> cues;

    MenuFixture()
    {
        for (int i = 0; i < 3; ++i) {
            auto cue = std::make_shared<KavioVideoItem>(osc.sender());
            cue->setManager(controller);
            cue->setMediaType(KavioMediaTypeMovie);
            controller->FakeKavioVideoItemManager::items.push_back(cue);
            cues.push_back(cue);
        }
        controller->selection = {cues[0]};
        cues[0]->gotoButton().enabled = true;  // a cue with a goto target
    }
    KavioVideoItem& cue() { return *cues[0]; }
};

}  // namespace

TEST(KavioVideoItemContextMenu, EntriesFollowSelectionMediaAndState)
{
    struct Case {
        const char* name;
        int mediaType;
        bool hap, proRes;
        int selected;
        bool playing, transcoding;
        std::map<QString, bool> enabled;  // title -> enabled
        QStringList absent;
    };
    const std::vector<Case> cases = {
        {"one movie", 0, false, false, 1, false, false,
         {{"Cut", true}, {"Delete", true}, {"Make Seamless Loop", true}, {"Show In File Manager...", true},
          {"Enable Audio", true}, {"Enable Pause At End", true}, {"Select & Show Goto Target", true},
          {"Transcode to ProRes...", true}, {"Transcode to HAP...", true}, {"Color Tag", true}},
         {"Enable Audio on Selected Cues"}},
        {"two selected", 0, true, false, 2, false, false,
         {{"Make Seamless Loop", false}, {"Select & Show Goto Target", false}, {"Enable Audio on Selected Cues", true},
          {"Normalize Audio on Selected Cues", true}, {"Enable Pause at End on Selected Cues", true},
          {"Enable Transition to Next Cue on Selected Cues", true}, {"Enable Goto", true},
          {"Transcode to ProRes...", true}, {"Transcode to HAP...", true}},
         {"Enable Audio", "Enable Goto on Selected Cues"}},
        {"Hap movie", 0, true, false, 1, false, false,
         {{"Transcode to ProRes...", false}, {"Transcode to HAP...", false}}, {}},
        {"ProRes movie", 0, false, true, 1, false, false,
         {{"Transcode to ProRes...", false}, {"Transcode to HAP...", true}}, {}},
        {"still", 4, false, false, 1, false, false, {{"Show In File Manager...", true}}, {"Transcode to HAP..."}},
        {"live source", 1, false, false, 1, false, false, {{"Enable Audio", true}},
         {"Show In File Manager...", "Transcode to ProRes..."}},
        {"playing", 0, false, false, 1, true, false, {{"Cut", false}, {"Delete", false}, {"Copy", true}}, {}},
        {"transcoding", 0, false, false, 1, false, true,
         {{"Cut", false}, {"Copy", false}, {"Enable Goto", false}, {"Transcode to HAP...", false}, {"Color Tag", true}}, {}},
    };
    for (const Case& c : cases) {
        MenuFixture f;
        f.cue().setMediaType(c.mediaType);
        f.cue().setIsHAP(c.hap);
        f.cue().setIsProRes(c.proRes);
        if (c.selected == 2)
            f.controller->selection.push_back(f.cues[1]);
        f.controller->playing = c.playing;
        f.controller->transcoding = c.transcoding;
        const auto menu = f.cue().rightClickMenu();
        const auto all = entries(*menu);
        for (const auto& [title, enabled] : c.enabled) {
            const auto found = all.find(title);
            ASSERT_NE(found, all.end()) << c.name << ": " << title.toStdString();
            EXPECT_EQ(found->second.enabled, enabled) << c.name << ": " << title.toStdString();
        }
        for (const QString& title : c.absent)
            EXPECT_EQ(all.count(title), 0u) << c.name << ": " << title.toStdString();
    }
}

TEST(KavioVideoItemContextMenu, TogglesMirrorTheRowAndEntriesReachTheirOperations)
{
    MenuFixture f;
    f.cue().soundButton().state = 1;
    f.cue().loopButton().enabled = false;
    f.cue().gotoTargetButton().title = QStringLiteral("7");
    auto menu = f.cue().rightClickMenu();
    auto all = entries(*menu);
    EXPECT_TRUE(all["Enable Audio"].checked);
    EXPECT_FALSE(all["Enable Fade-In"].checked);
    EXPECT_FALSE(all["Enable Cue Looping"].enabled);
    EXPECT_FALSE(entry(*menu, QStringLiteral("Normalize Audio"))->isCheckable());

    entry(*menu, QStringLiteral("Show In File Manager..."))->trigger();
    entry(*menu, QStringLiteral("Transcode to HAP..."))->trigger();
    entry(*menu, QStringLiteral("Transcode to ProRes..."))->trigger();
    entry(*menu, QStringLiteral("Select & Show Goto Target"))->trigger();
    entry(*menu, QStringLiteral("Normalize Audio"))->trigger();
    EXPECT_EQ(f.controller->showInFileManagerCalls, 1);
    EXPECT_EQ(f.controller->normalizeCalls, 1);
    EXPECT_EQ(f.controller->transcodes, (std::vector<int>{20, 10}));
    EXPECT_EQ(f.controller->selectedCueIDs, QStringList{QStringLiteral("7")});

    // The strip marks the cue's tag and applies a chosen one.
    f.cue().setColorTag(40);
    menu = f.cue().rightClickMenu();
    auto* strip = qobject_cast<KavioColorTagView*>(
        static_cast<QWidgetAction*>(entry(*menu, QStringLiteral("Color Tag")))->defaultWidget());
    ASSERT_NE(strip, nullptr);
    EXPECT_EQ(strip->size(), QSize(200, 26));
    EXPECT_TRUE(strip->swatches().at(4)->isSelected());
    strip->reportChoice(*strip->swatches().at(2));
    EXPECT_EQ(f.cue().colorTag(), 20);

    // As the operator sees it: two cues selected, a transcoding-capable movie.
    f.controller->selection.push_back(f.cues[1]);
    menu = f.cue().rightClickMenu();
    // Drawn without showing it: a shown window would open the session bus before the test of
    // showing files chooses its own.
    menu->ensurePolished();
    menu->adjustSize();
    const QString folder = QStringLiteral(KAVIO_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    menu->grab().save(folder + QStringLiteral("/cue-context-menu.png"));
}

TEST(KavioVideoItemContextMenu, ToggleEntriesRunTheirToggleOnTheSelectedCues)
{
    const struct {
        const char* title;
        int code;
        KavioRowButton& (KavioVideoItem::*button)();
    } toggles[] = {
        {"Enable Audio", KavioToggleSound, &KavioVideoItem::soundButton},
        {"Enable Fade-In", KavioToggleFadeIn, &KavioVideoItem::fadeInButton},
        {"Enable Fade-Out", KavioToggleFadeOut, &KavioVideoItem::fadeOutButton},
        {"Enable Pause At Beginning", KavioTogglePauseAtBeginning, &KavioVideoItem::pauseAtBeginningButton},
        {"Enable Pause At End", KavioTogglePauseAtEnd, &KavioVideoItem::pauseAtEndButton},
        {"Enable Cue Looping", KavioToggleLoop, &KavioVideoItem::loopButton},
        {"Enable Transition to Next Cue", KavioToggleTransition, &KavioVideoItem::transitionButton},
        {"Enable Goto", KavioToggleGoto, &KavioVideoItem::gotoButton},
    };
    for (const auto& toggle : toggles) {
        MenuFixture f;
        f.cue().setIsSelected(true);
        f.cues[1]->setIsSelected(true);
        const int before = ((f.cue()).*toggle.button)().state;
        const auto menu = f.cue().rightClickMenu();
        QAction* item = entry(*menu, QString::fromLatin1(toggle.title));
        ASSERT_NE(item, nullptr) << toggle.title;
        item->trigger();
        // The entry flips the cue's own button; the controller applies that state to the selection
    // (the operations' own calls follow).
        const QString expected = QStringLiteral("toggle %1 %2").arg(toggle.code).arg(before == 0);
        ASSERT_FALSE(f.controller->calls.isEmpty()) << toggle.title;
        EXPECT_EQ(f.controller->calls.first().toStdString(), expected.toStdString()) << toggle.title;
    }

    // A cue that is not selected becomes the only selected one first; a disabled entry does nothing.
    MenuFixture f;
    f.cues[1]->setIsSelected(true);
    f.cue().fadeOutButton().enabled = false;
    auto menu = f.cue().rightClickMenu();
    entry(*menu, QStringLiteral("Enable Fade-Out"))->trigger();
    EXPECT_TRUE(f.controller->calls.isEmpty());
    entry(*menu, QStringLiteral("Enable Fade-In"))->trigger();
    EXPECT_EQ(f.controller->calls.join(", ").toStdString(), QStringLiteral("select 0, toggle %1 1").arg(KavioToggleFadeIn).toStdString());
    EXPECT_TRUE(f.cue().isSelected());
    EXPECT_FALSE(f.cues[1]->isSelected());
    EXPECT_EQ(f.cue().fadeInButton().state, 1);
}

TEST(KavioVideoItemContextMenu, ReplacingALiveSourceSelectsItsCue)
{
    MenuFixture f;
    f.cue().setMediaType(KavioMediaTypeNDI);
    f.cues[1]->setIsSelected(true);
    f.cue().replaceMedia();
    EXPECT_TRUE(f.controller->replaced.isEmpty());
    EXPECT_EQ(f.controller->calls, QStringList{QStringLiteral("select 0")});
    EXPECT_TRUE(f.cue().isSelected());
    EXPECT_EQ(f.controller->unsavedChangesCount, 1);
}

TEST(KavioVideoItemContextMenu, TagsGoToTheSelectedCuesAndTheColumnFollows)
{
    MenuFixture f;
    f.controller->selection = {f.cues[0], f.cues[1]};
    std::vector<QVariant> posts;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        nullptr, kKavioColorTagsShouldToggleNotification, nullptr,
        [&](const Notification& n) { posts.push_back(n.userInfo.value(kKavioColorTagsToggleDesiredStateKey)); });

    f.cue().handleColorTagSwitchTo(20);
    EXPECT_EQ(f.cues[0]->colorTag(), 20);
    EXPECT_EQ(f.cues[1]->colorTag(), 20);
    EXPECT_EQ(f.cues[2]->colorTag(), 0);
    EXPECT_EQ(f.controller->unsavedChangesCount, 1) << "a tag is saved with the project";
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts.back(), QVariant(true));

    f.controller->selection = {f.cues[1]};
    f.cue().handleColorTagSwitchTo(30);  // the menu's own cue is not selected: only cue 2 changes
    EXPECT_EQ(f.cues[0]->colorTag(), 20);
    EXPECT_EQ(f.cues[1]->colorTag(), 30);
    f.cue().handleColorTagSwitchTo(30);
    EXPECT_EQ(f.controller->unsavedChangesCount, 2) << "an unchanged tag marks nothing";
    f.cue().handleColorTagSwitchTo(0);
    EXPECT_EQ(posts.size(), 1u) << "cue 1 still has a tag";
    f.controller->selection = {f.cues[0]};
    f.cue().handleColorTagSwitchTo(0);
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts.back(), QVariant(false));
    NotificationCenter::defaultCenter().removeObserver(token);
}

TEST(KavioVideoItemMediaPath, LinksResolveOrGiveTheEmptyPath)
{
    QTemporaryDir dir;
    const QString movie = makeEmptyFile(dir, QStringLiteral("a.mov"));
    const auto link = [&](const QString& target, const QString& name) {
        QFile::link(target, dir.filePath(name));
        return dir.filePath(name);
    };
    const QString relative = link(QStringLiteral("a.mov"), QStringLiteral("relative"));
    const QString chained = link(QStringLiteral("relative"), QStringLiteral("chained"));
    const QString dangling = link(QStringLiteral("missing.mov"), QStringLiteral("dangling"));
    const QString loopA = link(QStringLiteral("loopB"), QStringLiteral("loopA"));
    link(QStringLiteral("loopA"), QStringLiteral("loopB"));
    const QString canonical = QFileInfo(movie).canonicalFilePath();
    EXPECT_EQ(KavioVideoItem::resolvedPathForPath(movie), movie);
    EXPECT_EQ(KavioVideoItem::resolvedPathForPath(relative), canonical);
    EXPECT_EQ(KavioVideoItem::resolvedPathForPath(chained), canonical);
    EXPECT_EQ(KavioVideoItem::resolvedPathForPath(dangling), QString());
    EXPECT_EQ(KavioVideoItem::resolvedPathForPath(loopA), QString());

    RecordingOSCOutput osc;
    KavioVideoItem cue(osc.sender());
    cue.setMediaPath(chained);
    EXPECT_EQ(cue.resolvedMediaPath(), canonical);
}

namespace {

// The desktop's file manager as the session bus offers it: records what it was asked to show.
class FakeFileManager1 : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;  // read after the call returned

public slots:
    void ShowItems(const QStringList& uris, const QString&) { shown += uris; }
};

// A recording xdg-open first on PATH: appends each argument to a file.
struct RecordingXdgOpen {
    QTemporaryDir dir;
    QString log = dir.filePath(QStringLiteral("opened"));
    RecordingXdgOpen()
    {
        QFile script(dir.filePath(QStringLiteral("xdg-open")));
        script.open(QIODevice::WriteOnly);
        script.write(QStringLiteral("#!/bin/sh\necho \"$1\" >> '%1'\n").arg(log).toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        setenv("PATH", (dir.path() + QStringLiteral(":") + qEnvironmentVariable("PATH")).toUtf8().constData(), 1);
        unsetenv("BROWSER");
    }
    QStringList opened() const
    {
        QFile file(log);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
};

}  // namespace

TEST(KavioVideoItemMediaPath, ShowInFileManagerThroughTheSessionBusOrTheFolder)
{
    RecordingXdgOpen xdgOpen;
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    if (!daemon.waitForStarted(5000) || !daemon.waitForReadyRead(5000))
        GTEST_SKIP() << "no dbus-daemon";
    const QByteArray address = daemon.readLine().trimmed();
    setenv("DBUS_SESSION_BUS_ADDRESS", address.constData(), 1);

    QThread serviceThread;
    auto* fileManager = new FakeFileManager1;
    fileManager->moveToThread(&serviceThread);
    serviceThread.start();
    QDBusConnection service = QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("fm1"));
    ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), fileManager,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.FileManager1")));

    QTemporaryDir media;
    const QString movie = makeEmptyFile(media, QStringLiteral("show me.mov"));
    RecordingOSCOutput osc;
    KavioVideoItem cue(osc.sender());
    cue.setMediaType(KavioMediaTypeMovie);
    cue.setMediaPath(movie);
    cue.showInFinder();
    EXPECT_EQ(fileManager->shown, QStringList{QUrl::fromLocalFile(movie).toString(QUrl::FullyEncoded)});

    cue.setMediaPath(media.filePath(QStringLiteral("gone.mov")));
    cue.showInFinder();
    cue.setMediaType(KavioMediaTypeCamera);
    cue.setMediaPath(movie);
    cue.showInFinder();
    EXPECT_EQ(fileManager->shown.size(), 1) << "a missing file and a live source show nothing";

    // Without the service the folder opens through the desktop's default handler.
    service.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
    cue.setMediaType(KavioMediaTypeMovie);
    cue.showInFinder();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !xdgOpen.opened().isEmpty(); }, 5000));
    EXPECT_EQ(xdgOpen.opened(), QStringList{QUrl::fromLocalFile(media.path()).toString()});

    // The link field opens its address the same way; a text that is no address opens nothing.
    KavioURLTextField linkField;
    linkField.resize(200, 20);
    linkField.setStringValue(QStringLiteral("no address"));
    linkField.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&linkField));
    QTest::mouseClick(&linkField, Qt::LeftButton);
    linkField.setStringValue(QStringLiteral("https://example.org/help"));
    QTest::mouseClick(&linkField, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return xdgOpen.opened().size() == 2; }, 5000));
    EXPECT_EQ(xdgOpen.opened().at(1), QStringLiteral("https://example.org/help"));

    QDBusConnection::disconnectFromBus(QStringLiteral("fm1"));
    serviceThread.quit();
    serviceThread.wait();
    delete fileManager;
    daemon.terminate();
    daemon.waitForFinished(3000);
}

#include "KavioVideoItemContextMenuTest.moc"
