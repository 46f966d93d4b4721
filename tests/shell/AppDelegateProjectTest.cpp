#include "ShellTestSupport.h"

#include "Cue/KavioVideoItem.h"
#include "Controller/KavioVideoItemManager.h"
#include "DispatchQueue.h"
#include "KeyedArchive.h"
#include "Shell/KavioProjectLock.h"
#include "Shell/KavioWindow.h"
#include "UndoManager.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSysInfo>
#include <QTest>

#include <gtest/gtest.h>

#include <plist/plist.h>

#include <cstring>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A lock file as another running program would leave it: its pid, its program name, this host.
void writeForeignLock(const QString& projectPath, qint64 pid, const QString& program)
{
    QFile lock(KavioProjectLock::lockFilePath(projectPath));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write(QStringLiteral("%1\n%2\n%3\n").arg(pid).arg(program, QSysInfo::machineHostName()).toUtf8());
}

// A project file as another program may write it: the string `marker` somewhere in `root`
// stands for a date object (NSDate), which a project file cannot hold.
void writeProjectFileWithDate(const QString& path, const QVariantMap& root, const char* marker)
{
    const QByteArray bytes = KeyedArchive::archive(root);
    plist_t archive = nullptr;
    plist_from_bin(bytes.constData(), uint32_t(bytes.size()), &archive);
    ASSERT_TRUE(archive);
    plist_t objects = plist_dict_get_item(archive, "$objects");
    const uint32_t count = plist_array_get_size(objects);
    plist_t dateClass = plist_new_dict();
    plist_dict_set_item(dateClass, "$classname", plist_new_string("NSDate"));
    plist_t classes = plist_new_array();
    plist_array_append_item(classes, plist_new_string("NSDate"));
    plist_array_append_item(classes, plist_new_string("NSObject"));
    plist_dict_set_item(dateClass, "$classes", classes);
    plist_array_append_item(objects, dateClass);
    bool replaced = false;
    for (uint32_t i = 0; i < count && !replaced; ++i) {
        plist_t item = plist_array_get_item(objects, i);
        if (plist_get_node_type(item) != PLIST_STRING)
            continue;
        char* text = nullptr;
        plist_get_string_val(item, &text);
        replaced = std::strcmp(text, marker) == 0;
        free(text);
        if (replaced) {
            plist_t date = plist_new_dict();
            plist_dict_set_item(date, "NS.time", plist_new_real(752000000.0));
            plist_dict_set_item(date, "$class", plist_new_uid(count));
            plist_array_set_item(objects, date, i);
        }
    }
    ASSERT_TRUE(replaced);
    char* out = nullptr;
    uint32_t length = 0;
    plist_to_bin(archive, &out, &length);
    plist_free(archive);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(out, length);
    free(out);
}

}  // namespace

TEST(AppDelegateProject, TitleNamesVersionProjectRunningTimeAndDirtyMark)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    AppDelegate& app = program.app();
    const QString version = AppDelegate::versionInformationString();
    EXPECT_TRUE(version.startsWith("Kavio ") && version.endsWith(")"));
    app.setHasUnsavedChanges(true);
    EXPECT_EQ(program.ui->window().windowTitle(), version + " - Untitled Project - (TRT: 00:00:00:00) *");
    env.panelAnswers = {env.dir.filePath("Gala")};
    ASSERT_TRUE(app.saveProject());
    EXPECT_EQ(app.projectURL(), env.dir.filePath("Gala.kavio2"));
    EXPECT_EQ(program.ui->window().windowTitle(), version + " - Gala - (TRT: 00:00:00:00)");
    EXPECT_EQ(app.recentProjects(), QStringList{env.dir.filePath("Gala.kavio2")});
}

TEST(AppDelegateProject, SavedFileHoldsTheSixPartsAndAPreviewImage)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    const QString path = env.dir.filePath("Show.kavio2");
    ASSERT_TRUE(program.app().processSaveWithURL(path));

    // Read with the property-list library itself, not our reader.
    const QByteArray bytes = readAll(path);
    plist_t root = nullptr;
    plist_from_bin(bytes.constData(), uint32_t(bytes.size()), &root);
    ASSERT_TRUE(root);
    plist_t objects = plist_dict_get_item(root, "$objects");
    ASSERT_TRUE(objects);
    QStringList strings;
    for (uint32_t i = 0; i < plist_array_get_size(objects); ++i) {
        plist_t item = plist_array_get_item(objects, i);
        if (plist_get_node_type(item) == PLIST_STRING) {
            char* text = nullptr;
            plist_get_string_val(item, &text);
            strings.append(QString::fromUtf8(text));
            free(text);
        }
    }
    plist_free(root);
    for (const char* key : {"QLData", "playlistData", "preferences", "videoOutputSettings", "atemIntegrationSettings",
                            "ndiIntegrationSettings", "QLIMAGE"})
        EXPECT_TRUE(strings.contains(key)) << key;

    const auto record = KeyedArchive::unarchiveDictionary(bytes);
    ASSERT_TRUE(record);
    const QByteArray png = record->value("QLData").toMap().value("QLIMAGE").toByteArray();
    EXPECT_TRUE(png.startsWith("\x89PNG"));
}

TEST(AppDelegateProject, OldFormatSavesAsNewFormatBesideIt)
{
    ShellTestEnvironment env;
    const QString old = env.dir.filePath("Show.kavio");
    writeProjectFile(old, {{"preferences", QVariantMap{{"jumpBehaviour", 2}}}});
    const QByteArray oldBytes = readAll(old);
    ShellTestProgram program(env);
    program.launch({old});
    ASSERT_EQ(program.app().projectURL(), old);
    ASSERT_TRUE(program.app().saveProject());
    EXPECT_EQ(program.app().projectURL(), env.dir.filePath("Show.kavio2"));
    EXPECT_TRUE(QFile::exists(env.dir.filePath("Show.kavio2")));
    EXPECT_EQ(readAll(old), oldBytes);
}

TEST(AppDelegateProject, UnreadableFilesLeaveTheOpenProjectAsItIs)
{
    ShellTestEnvironment env;
    const QString good = env.dir.filePath("Good.kavio2");
    writeProjectFile(good, {{"preferences", QVariantMap{{"jumpBehaviour", 2}}}});
    const QString garbage = env.dir.filePath("Garbage.kavio2");
    {
        QFile file(garbage);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("bplist00 this is not an archive");
    }
    const QString list = env.dir.filePath("List.kavio2");
    {
        QFile file(list);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(KeyedArchive::archive(QVariantList{1, 2, 3}));
    }
    const QString truncated = env.dir.filePath("Truncated.kavio2");
    {
        QFile file(truncated);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(readAll(good).left(40));
    }
    const QString badPlaylist = env.dir.filePath("BadPlaylist.kavio2");
    writeProjectFile(badPlaylist, {{"playlistData", QVariantList{1, 2}}});
    ShellTestProgram program(env);
    program.launch({good});
    AppDelegate& app = program.app();
    app.setHasUnsavedChanges(true);
    for (const QString& bad : {garbage, list, truncated, badPlaylist}) {
        SCOPED_TRACE(bad.toStdString());
        env.alerts.clear();
        app.loadProjectWithURL(bad);
        EXPECT_EQ(env.alerts, QStringList{"The project could not be opened."});
        EXPECT_EQ(app.projectURL(), good);
        EXPECT_TRUE(app.hasUnsavedChanges());
        EXPECT_FALSE(app.isLoadingProject());
    }
    // Not a project at all, or gone: nothing happens.
    EXPECT_FALSE(app.openFile(env.dir.filePath("notes.txt")));
    env.alerts.clear();
    app.loadProjectWithURL(env.dir.filePath("Gone.kavio2"));
    EXPECT_TRUE(env.alerts.isEmpty());
    EXPECT_EQ(app.projectURL(), good);
}

TEST(AppDelegateProject, AFileHoldingADateIsRefusedAndTheShowKept)
{
    ShellTestEnvironment env;
    const QString good = env.dir.filePath("Good.kavio2");
    writeProjectFile(good, {{"preferences", QVariantMap{{"jumpBehaviour", 0}}}});
    // The date sits deep inside the file, under settings that would otherwise load.
    const QString dated = env.dir.filePath("Dated.kavio2");
    writeProjectFileWithDate(dated,
                             {{"preferences", QVariantMap{{"jumpBehaviour", 1}, {"startTime", "@date@"}}},
                              {"videoOutputSettings", QVariantMap()}},
                             "@date@");
    ShellTestProgram program(env);
    program.launch({good});
    AppDelegate& app = program.app();
    const auto controller = program.ui->controller();
    const auto cue = KavioVideoItem::initWithCamera(QStringLiteral("Test camera"), controller);
    ASSERT_TRUE(cue);
    controller->insertItem(cue, 1);
    app.setHasUnsavedChanges(true);
    const QString title = program.ui->window().windowTitle();

    // Opened as the operator does (double-click or drop): "Don't Save", then the refusal.
    env.alertResponses = {1002};
    EXPECT_TRUE(app.openFile(dated));
    EXPECT_EQ(env.alerts, (QStringList{"Do you want to save the changes made to the project?",
                                       "The project could not be opened."}));
    EXPECT_EQ(env.alertDetails.constLast(), "Dated.kavio2: unsupported class NSDate");
    EXPECT_EQ(app.projectURL(), good);
    EXPECT_EQ(controller->jumpBehaviour(), 0);
    EXPECT_EQ(controller->items()->size(), 1u);
    EXPECT_TRUE(app.hasUnsavedChanges());
    EXPECT_FALSE(app.isLoadingProject());
    EXPECT_EQ(program.ui->window().windowTitle(), title);
}

TEST(AppDelegateProject, NewAndOpenGoOnOnlyWhenTheChangesMayGo)
{
    const QString question = "Do you want to save the changes made to the project?";
    const struct {
        const char* name;
        bool hasCue;
        std::deque<long> responses;
        std::deque<QString> savePanel;  // "" cancels
        bool goesOn;
        QStringList alerts;
    } cases[] = {
        {"nothing in the list", false, {}, {}, true, {}},
        {"Cancel", true, {1001}, {}, false, {question}},
        {"Save, panel cancelled", true, {1000}, {""}, false, {question}},
        {"Save", true, {1000}, {"Saved.kavio2"}, true, {question}},
        {"Don't Save", true, {1002}, {}, true, {question}},
    };
    for (const bool open : {false, true})
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(open ? "Open, " : "New, ") + c.name);
            ShellTestEnvironment env;
            ShellTestProgram program(env);
            program.launch();
            AppDelegate& app = program.app();
            const auto controller = program.ui->controller();
            if (c.hasCue) {
                const auto cue = KavioVideoItem::initWithCamera(QStringLiteral("Test camera"), controller);
                ASSERT_TRUE(cue);
                controller->insertItem(cue, 1);
            }
            app.setHasUnsavedChanges(true);
            // Clearing the show drops the window's undo steps.
            int edited = 1;
            UndoManager& undo = program.ui->window().undoManager();
            undo.registerUndo(&edited, [&edited] { edited = 0; });
            env.alertResponses = c.responses;
            for (const QString& answer : c.savePanel)
                env.panelAnswers.push_back(answer.isEmpty() ? answer : env.dir.filePath(answer));
            // The open panel, when it comes, takes a file that is not there: nothing loads.
            env.panelAnswers.push_back(env.dir.filePath("Elsewhere.kavio2"));
            if (open)
                app.loadProject();
            else
                app.newProject();
            EXPECT_EQ(env.alerts, c.alerts);
            if (open) {
                EXPECT_EQ(env.panelAnswers.empty(), c.goesOn) << "the open panel";
            } else if (c.goesOn) {
                EXPECT_TRUE(QTest::qWaitFor([&undo] { return !undo.canUndo(); }, 10000));
            } else {
                // Clearing would come at the end of the frame being rendered.
                QTest::qWait(300);
                EXPECT_TRUE(undo.canUndo());
                EXPECT_TRUE(app.hasUnsavedChanges());
            }
        }
}

TEST(AppDelegateProject, RecentProjectsAreTheTenNewestSavedFilesThatAreStillThere)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    AppDelegate& app = program.app();
    QStringList saved;
    for (int n = 1; n <= 12; ++n) {
        saved.prepend(env.dir.filePath(QStringLiteral("Show %1.kavio2").arg(n)));
        ASSERT_TRUE(app.processSaveWithURL(saved.constFirst()));
    }
    // Saved again, an older one comes first, once.
    const QString again = env.dir.filePath("Show 5.kavio2");
    ASSERT_TRUE(app.processSaveWithURL(again));
    saved.removeAll(again);
    saved.prepend(again);
    QStringList recents = saved.mid(0, 10);
    EXPECT_EQ(app.recentProjects(), recents);
    // A file that went leaves the list.
    QFile::remove(recents.at(1));
    recents.removeAt(1);
    EXPECT_EQ(app.recentProjects(), recents);

    // The newest one still there opens as the last project, after the save question.
    QFile::remove(again);
    recents.removeFirst();
    const auto controller = program.ui->controller();
    const auto cue = KavioVideoItem::initWithCamera(QStringLiteral("Test camera"), controller);
    ASSERT_TRUE(cue);
    controller->insertItem(cue, 1);
    app.setHasUnsavedChanges(true);
    env.alertResponses = {1002};
    app.loadLastProject();
    program.waitUntilLoaded();
    EXPECT_EQ(env.alerts, QStringList{"Do you want to save the changes made to the project?"});
    EXPECT_EQ(app.projectURL(), recents.constFirst());
}

TEST(AppDelegateProject, FailedWriteKeepsTheOldFileAndTheDirtyFlag)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    AppDelegate& app = program.app();
    const QString path = env.dir.filePath("Show.kavio2");
    ASSERT_TRUE(app.processSaveWithURL(path));
    const QByteArray before = readAll(path);
    app.setHasUnsavedChanges(true);
    // A folder where the file must go: the write fails.
    const QString blocked = env.dir.filePath("Blocked.kavio2");
    QDir().mkpath(blocked);
    EXPECT_FALSE(app.processSaveWithURL(blocked));
    EXPECT_TRUE(app.hasUnsavedChanges());
    EXPECT_EQ(app.projectURL(), path);
    EXPECT_EQ(readAll(path), before);
}

TEST(AppDelegateProject, AProjectHeldByAnotherRunningCopyIsRefusedAndAStaleLockTakenOver)
{
    ShellTestEnvironment env;
    const QString held = env.dir.filePath("Held.kavio2");
    const QString stale = env.dir.filePath("Stale.kavio2");
    writeProjectFile(held, {});
    writeProjectFile(stale, {});

    QProcess other;
    other.start("sleep", {"600"});
    ASSERT_TRUE(other.waitForStarted());
    writeForeignLock(held, other.processId(), "sleep");
    // No process of that number runs Kavio.
    writeForeignLock(stale, 999999, "kavio");

    ShellTestProgram program(env);
    program.launch();
    AppDelegate& app = program.app();
    app.loadProjectWithURL(held);
    EXPECT_EQ(env.alerts, QStringList{"The project is open in another Kavio."});
    EXPECT_TRUE(app.projectURL().isEmpty());
    EXPECT_FALSE(app.processSaveWithURL(held));

    env.alerts.clear();
    program.load(stale);
    EXPECT_TRUE(env.alerts.isEmpty());
    EXPECT_EQ(app.projectURL(), stale);
    other.kill();
    other.waitForFinished();
}

TEST(AppDelegateProject, ASavedShowOpensAgainWithEveryCue)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    AppDelegate& app = program.app();
    const auto controller = program.ui->controller();
    for (const char* name : {"one.png", "two.png"}) {
        QImage image(32, 18, QImage::Format_RGB32);
        image.fill(Qt::green);
        image.save(env.dir.filePath(name));
        ASSERT_TRUE(controller->createItemWithPath(env.dir.filePath(name)));
    }
    const QVariantMap saved = controller->saveData();
    const QString path = env.dir.filePath("Show.kavio2");
    ASSERT_TRUE(app.processSaveWithURL(path));

    app.newProject();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return controller->items()->empty(); }, 10));
    app.loadProjectWithURL(path);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return !app.isLoadingProject(); }, 30));
    EXPECT_EQ(controller->saveData(), saved);
    EXPECT_EQ(app.projectURL(), path);
    EXPECT_FALSE(app.hasUnsavedChanges());
}

TEST(AppDelegateProject, BundlingCopiesEachFileOnceAndNamesWhatItCouldNotCopy)
{
    ShellTestEnvironment env;
    QDir(env.dir.path()).mkpath("a");
    QDir(env.dir.path()).mkpath("b");
    const auto write = [&env](const QString& name, const QByteArray& bytes) {
        QFile file(env.dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return env.dir.filePath(name);
    };
    const QString movie = write("a/clip.mov", "movie a");
    const QString caption = write("a/clip.srt", "1\n00:00:00,000 --> 00:00:01,000\nHello\n");
    const QString other = write("b/clip.mov", "movie b");
    const QString still = write("a/still.png", "still");
    const QString tone = write("b/tone.wav", "audio");

    ShellTestProgram program(env);
    program.launch();
    const auto controller = program.ui->controller();
    // Cues as the bundle sees them: a kind and a path. Two use one still; the camera is live.
    const struct {
        KavioMediaType type;
        QString path;
    } cues[] = {{KavioMediaTypeMovie, movie},  {KavioMediaTypeStill, still}, {KavioMediaTypeCamera, tone},
                {KavioMediaTypeStill, still},  {KavioMediaTypeMovie, other}, {KavioMediaTypeAudio, tone},
                {KavioMediaTypeMovie, env.dir.filePath("gone.mov")}};
    std::uint64_t index = 1;
    for (const auto& cue : cues) {
        const auto item = KavioVideoItem::initWithCamera(QStringLiteral("Test camera"), controller);
        ASSERT_TRUE(item);
        item->setMediaType(cue.type);
        item->setMediaPath(cue.path);
        controller->insertItem(item, index++);
    }

    const QString folder = env.dir.filePath("Gala");
    env.panelAnswers = {folder};
    program.app().bundlePlaylist();
    EXPECT_EQ(program.app().projectURL(), folder + "/Gala.kavio2");
    EXPECT_TRUE(QFile::exists(folder + "/Gala.kavio2"));
    QStringList bundled = QDir(folder + "/files").entryList(QDir::Files);
    bundled.sort();
    EXPECT_EQ(bundled, (QStringList{"clip.mov", "clip.srt", "still.png", "tone.wav"}));
    EXPECT_EQ(readAll(folder + "/files/clip.mov"), "movie a");
    // One alert at the end names the file of the same name that stayed out.
    ASSERT_EQ(env.alerts, QStringList{"Some files are not in the bundle."});
    EXPECT_EQ(env.alertDetails.constFirst(),
              QFileInfo(other).canonicalFilePath().prepend("clip.mov (") + "): another file of this name is in the bundle");
}

TEST(AppDelegateProject, ProjectCarriesTheNDIIntegrationRecord)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    // The first start stored the pop-up's tag and the switch's NO; saving carries both.
    const QString path = env.dir.filePath("Show.kavio2");
    ASSERT_TRUE(program.app().processSaveWithURL(path));
    const auto saved = KeyedArchive::unarchiveDictionary(readAll(path));
    ASSERT_TRUE(saved);
    const QVariantMap ndi = saved->value("ndiIntegrationSettings").toMap();
    EXPECT_EQ(ndi.size(), 2);
    EXPECT_EQ(ndi.value("NDIOnSwitchBehaviour").toLongLong(), program.defaults->integerForKey("NDIOnSwitchBehaviour"));
    EXPECT_FALSE(ndi.value("NDIIntegrationEnabledButton").toBool());

    const QString other = env.dir.filePath("Tally.kavio2");
    writeProjectFile(other, {{"ndiIntegrationSettings",
                              QVariantMap{{"NDIOnSwitchBehaviour", qlonglong(30)}, {"NDIIntegrationEnabledButton", true}}}});
    program.load(other);
    EXPECT_EQ(program.defaults->integerForKey("NDIOnSwitchBehaviour"), 30);
    EXPECT_TRUE(program.defaults->boolForKey("NDIIntegrationEnabledButton"));
}
