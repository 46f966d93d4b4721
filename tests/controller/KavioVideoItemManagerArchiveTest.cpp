// The playlist archive: saving, loading in batches behind the sheet, projects written to files
// and read back, media moved next to the project or gone, clearing, and pasting through the
// clipboard. Cues are real: pictures, PDF pages and movies made by the test.

#include "ControllerFakes.h"

#include "Controller/KavioCuePasteboard.h"
#include "KeyedArchive.h"
#include "Support/KavioAlert.h"
#include "MediaFixtures.h"
#include "NotificationCenter.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QFileInfo>
#include <QImage>
#include <QMainWindow>
#include <QMimeData>
#include <QPainter>
#include <QPdfWriter>
#include <QProgressBar>

#include <gtest/gtest.h>

#include <thread>

namespace {

class ArchiveController : public KavioVideoItemManager {
public:
    ArchiveController(UserDefaults& defaults, std::shared_ptr<QVTClockTimeSource> source)
        : KavioVideoItemManager(defaults, std::move(source))
    {
    }
    QStringList steps;
    void switchSyncSourceOnOpen(std::int64_t mode) override { steps << QStringLiteral("syncSource(%1)").arg(mode); }
    void startPlayback() override { steps << QStringLiteral("startPlayback"); }
    void jumpToItem(const std::shared_ptr<KavioVideoItem>& item, bool isRewind) override
    {
        steps << QStringLiteral("jump(%1,%2)").arg(QFileInfo(item->mediaPath()).fileName()).arg(isRewind);
    }
};

struct ArchiveFixture : ControllerFixture {
    QTemporaryDir media;
    std::shared_ptr<ArchiveController> archiveController;

    ArchiveFixture() { connect(); }

    void connect()
    {
        archiveController = KavioVideoItemManager::init<ArchiveController>(*defaults);
        controller = archiveController;
        controller->setOutlets(outlets());
        controller->setDelegate(app);
        app->controller = controller;
    }

    QString picture(const QString& name, Qt::GlobalColor colour = Qt::red)
    {
        QImage image(64, 36, QImage::Format_RGB32);
        image.fill(colour);
        const QString path = media.filePath(name);
        image.save(path);
        return path;
    }

    QString pdf(const QString& name, int pages)
    {
        const QString path = media.filePath(name);
        QPdfWriter writer(path);
        QPainter painter(&writer);
        for (int page = 1; page <= pages; ++page) {
            if (page > 1)
                writer.newPage();
            painter.drawText(100, 100, QString::number(page));
        }
        return path;
    }

    // Runs the load to its end; the block's runs are counted.
    bool load(const QVariant& archive, bool restore, int* blockRuns = nullptr)
    {
        const bool started = controller->loadWithData(archive, restore, [blockRuns] {
            if (blockRuns)
                ++*blockRuns;
        });
        return started && DispatchQueue::runMainUntil([this] { return !controller->isLoadingCues(); }, 30);
    }

    QStringList mediaNames() const
    {
        QStringList names;
        for (const auto& cue : *controller->items())
            names << QFileInfo(cue->mediaPath()).fileName() +
                         (cue->isPDF() || cue->pdfPage() > 1 ? QStringLiteral("#%1").arg(cue->pdfPage()) : QString());
        return names;
    }

    static QVariantMap archiveOfPaths(const QStringList& paths)
    {
        QVariantMap archive;
        for (const QString& path : paths)
            archive.insert(QString::number(archive.size() + 1), QVariantMap{{"mediaPath", path}});
        return archive;
    }
};

TEST(KavioVideoItemManagerArchive, SavesPositionsAsKeysAndLoadsThemInNumericOrder)
{
    ArchiveFixture f;
    QStringList paths;
    for (int i = 1; i <= 12; ++i)
        paths << f.picture(QStringLiteral("p%1.png").arg(i));
    ASSERT_TRUE(f.load(ArchiveFixture::archiveOfPaths(paths), false));
    const QVariantMap saved = f.controller->saveData();
    QStringList keys = saved.keys();
    std::sort(keys.begin(), keys.end(), [](const QString& a, const QString& b) { return a.toInt() < b.toInt(); });
    QStringList expectedKeys;
    for (int i = 1; i <= 12; ++i)
        expectedKeys << QString::number(i);
    EXPECT_EQ(keys, expectedKeys);
    for (int i = 1; i <= 12; ++i)
        EXPECT_EQ(saved.value(QString::number(i)).toMap().value("mediaPath").toString(), paths[i - 1]);

    // Restored into an empty list: "10" comes after "9", not after "1".
    f.connect();
    int runs = 0;
    ASSERT_TRUE(f.load(saved, true, &runs));
    EXPECT_EQ(runs, 1);
    QStringList expectedNames;
    for (int i = 1; i <= 12; ++i)
        expectedNames << QStringLiteral("p%1.png").arg(i);
    EXPECT_EQ(f.mediaNames(), expectedNames);
    EXPECT_FALSE(f.controller->isLoadingProject());
}

TEST(KavioVideoItemManagerArchive, RestoresInBatchesOfTenBehindTheSheet)
{
    ArchiveFixture f;
    QMainWindow window;
    window.resize(480, 320);
    window.show();
    KavioVideoItemManagerOutlets outlets = f.controller->outlets();
    outlets.window = &window;
    f.controller->setOutlets(outlets);

    const QString path = f.picture(QStringLiteral("still.png"));
    QVariantMap archive;
    for (int i = 1; i <= 25; ++i)
        archive.insert(QString::number(i), QVariantMap{{"mediaPath", path}, {"index", qulonglong(i)}});
    f.controller->setIsLoadingProject(true);
    int runs = 0;
    ASSERT_TRUE(f.controller->loadWithData(archive, true, [&runs] { ++runs; }));
    QDialog* sheet = f.controller->loadingWindow();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->parentWidget(), &window);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(f.controller->loadingProgress()->maximum(), 50);
    EXPECT_FALSE(f.controller->loadWithData(archive, true, {})) << "one load at a time";
    EXPECT_TRUE(sheet->isVisible());
    const QImage shot = sheet->grab().toImage();
    shot.save(QStringLiteral("loading-sheet-screenshot.png"));
    RecordProperty("screenshot", "loading-sheet-screenshot.png");

    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return runs == 1; }, 30));
    EXPECT_EQ(f.controller->loadingBatchStarts(), (std::vector<std::uint64_t>{0, 10, 20}));
    EXPECT_EQ(f.controller->items()->size(), 25u);
    EXPECT_EQ(f.controller->loadingWindow(), nullptr) << "the sheet ends with the load";
    EXPECT_FALSE(f.controller->isLoadingProject());
}

TEST(KavioVideoItemManagerArchive, EmptyAndUnusableArchivesEndTheLoad)
{
    ArchiveFixture f;
    int runs = 0;
    EXPECT_FALSE(f.load(QVariant(), false, &runs)) << "nothing to load";
    EXPECT_FALSE(f.load(QVariantList{1, 2}, false, &runs)) << "not a dictionary";
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(f.controller->loadingWindow(), nullptr);

    f.controller->setIsLoadingProject(true);
    ASSERT_TRUE(f.load(QVariantMap(), true, &runs));
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(f.controller->isLoadingProject());

    // Entries that make no cue are skipped; the PDF's pages come in order, and the entry after
    // the PDF follows its last page.
    QFile broken(f.media.filePath("broken.pdf"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("%PDF-1.4\nnot really");
    broken.close();
    const QVariantMap archive{{"1", QVariantMap{{"mediaPath", f.pdf("three.pdf", 3)}}},
                              {"2", QVariantMap{{"mediaPath", f.picture("after.png")}}},
                              {"3", QVariantMap{{"name", "no media path"}}},
                              {"4", QVariantMap{{"mediaPath", broken.fileName()}}},
                              {"5", QStringLiteral("not a record")},
                              {"first", QVariantMap{{"mediaPath", f.picture("keyed.png")}}}};
    ASSERT_TRUE(f.load(archive, false, &runs));
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(f.mediaNames(), (QStringList{"three.pdf#1", "three.pdf#2", "three.pdf#3", "after.png"}));
}

TEST(KavioVideoItemManagerArchive, ProjectFileRoundTripRestoresEveryRecord)
{
    ArchiveFixture f;
    const QString movie = QString::fromStdString(MediaFixtures::path("counter25.mp4"));
    ASSERT_FALSE(movie.isEmpty());
    ASSERT_TRUE(f.load(ArchiveFixture::archiveOfPaths({movie, f.picture("still.png"), movie}), false));
    ASSERT_EQ(f.controller->items()->size(), 3u);
    const QVariantMap saved = f.controller->saveData();

    const QString project = f.media.filePath("Show.kavio2");
    QFile out(project);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(KeyedArchive::archive(QVariantMap{{"playlistData", saved}}));
    out.close();
    QFile in(project);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const auto root = KeyedArchive::unarchiveDictionary(in.readAll());
    ASSERT_TRUE(root);

    f.connect();
    f.controller->setIsLoadingProject(true);
    ASSERT_TRUE(f.load(root->value("playlistData"), true));
    ASSERT_TRUE(DispatchQueue::runMainUntil(
        [&] {
            const auto list = f.controller->items();
            return std::all_of(list->begin(), list->end(), [](const auto& cue) { return cue->isReady(); });
        },
        30));
    const QVariantMap restored = f.controller->saveData();
    ASSERT_EQ(restored.keys(), saved.keys());
    for (const QString& key : saved.keys())
        EXPECT_EQ(restored.value(key).toMap(), saved.value(key).toMap()) << "record " << key.toStdString();
}

TEST(KavioVideoItemManagerArchive, MediaMovedIntoFilesIsFoundAndMediaGoneKeepsItsRecords)
{
    ArchiveFixture f;
    const QString elsewhere = f.media.filePath("elsewhere");
    QDir().mkpath(elsewhere);
    const QVariantMap archive{{"1", QVariantMap{{"mediaPath", elsewhere + "/a.png"}, {"index", 1}, {"uid", "A"}}},
                              {"2", QVariantMap{{"mediaPath", elsewhere + "/b.png"}, {"index", 2}, {"uid", "B"}}}};
    QDir().mkpath(f.media.filePath("show/files"));
    f.app->project = f.media.filePath("show/Show.kavio2");

    // Gone: missing cues that write their records back unchanged.
    f.controller->setIsLoadingProject(true);
    ASSERT_TRUE(f.load(archive, true));
    ASSERT_EQ(f.controller->items()->size(), 2u);
    for (const auto& cue : *f.controller->items())
        EXPECT_TRUE(cue->isMissing());
    EXPECT_EQ(f.controller->saveData(), archive);

    // Moved into the project's "files" folder: found.
    QImage image(32, 18, QImage::Format_RGB32);
    image.fill(Qt::blue);
    image.save(f.media.filePath("show/files/a.png"));
    image.save(f.media.filePath("show/files/b.png"));
    f.connect();
    f.controller->setIsLoadingProject(true);
    ASSERT_TRUE(f.load(archive, true));
    ASSERT_EQ(f.controller->items()->size(), 2u);
    for (const auto& cue : *f.controller->items()) {
        EXPECT_FALSE(cue->isMissing());
        EXPECT_TRUE(cue->mediaPath().startsWith(f.media.filePath("show/files/")));
    }
}

TEST(KavioVideoItemManagerArchive, AfterAProjectLoadTheSyncSourceAndAutoStartFollowTheDefaults)
{
    ArchiveFixture f;
    f.defaults->setInteger(2, QStringLiteral("playbackmode"));
    f.defaults->setBool(true, QStringLiteral("autoStart"));
    f.controller->handleThingsAfterProjectDataLoaded();
    EXPECT_EQ(f.archiveController->steps, QStringList{"startPlayback"}) << "the sync source changes later";
    DispatchQueue::drainMain();
    EXPECT_EQ(f.archiveController->steps, (QStringList{"startPlayback", "syncSource(2)"}));
    EXPECT_TRUE(f.controller->canJump());
    EXPECT_GE(f.mtkView->resizes.load(), 1);

    // Following timecode, nothing starts.
    f.archiveController->steps.clear();
    f.defaults->setInteger(0, QStringLiteral("playbackmode"));
    f.controller->setPlaybackMode(1);
    f.controller->handleThingsAfterProjectDataLoaded();
    DispatchQueue::drainMain();
    EXPECT_TRUE(f.archiveController->steps.isEmpty());
}

TEST(KavioVideoItemManagerArchive, ClearingWhilePlayingStopsFirstAndRestartsTheNumbering)
{
    ArchiveFixture f;
    ASSERT_TRUE(f.load(ArchiveFixture::archiveOfPaths({f.picture("a.png"), f.picture("b.png")}), false));
    f.app->play.setState(1);
    f.log.take();
    bool done = false;
    f.controller->clearPlaylistWithCompletedHandler([&] { done = true; });
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return done; }, 30));
    EXPECT_EQ(f.log.take().first(), "app.togglePlay");
    EXPECT_EQ(f.app->play.state(), 0);
    EXPECT_TRUE(f.controller->items()->empty());
    EXPECT_EQ(f.controller->currentItem(), nullptr);
    EXPECT_GE(f.mtkView->clears.load(), 1);
    const auto cue = f.controller->createItemWithPath(f.picture("c.png"));
    ASSERT_TRUE(cue);
    EXPECT_EQ(cue->index(), 1u);
}

TEST(KavioVideoItemManagerArchive, PastedRecordsGoAfterTheLastSelectedCueHighestIndexFirst)
{
    ArchiveFixture f;
    ASSERT_TRUE(f.load(ArchiveFixture::archiveOfPaths({f.picture("1.png"), f.picture("2.png"), f.picture("3.png")}), false));
    f.controller->selectItem(f.controller->itemWithIndex(2));
    const QVariantMap four{{"mediaPath", f.picture("four.png")}, {"index", 4}, {"uid", "U4"}};
    const QVariantMap seven{{"mediaPath", f.picture("seven.png")}, {"index", 7}, {"uid", "U7"}};

    // Through the clipboard, as the list view's paste does.
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(KavioCuePasteboard::mimeDataForRecords({four, seven}, {}).release());
    ASSERT_TRUE(f.controller->canPaste());
    const auto records = KavioCuePasteboard::recordsFromMimeData(clipboard->mimeData());
    ASSERT_TRUE(records);
    f.controller->pasteItemsWithData(*records);
    // Seven first at 2, then four at 2 before it.
    EXPECT_EQ(f.mediaNames(), (QStringList{"1.png", "four.png", "seven.png", "2.png", "3.png"}));
    for (const auto& cue : *f.controller->items())
        EXPECT_FALSE(cue->uid() == "U4" || cue->uid() == "U7");

    clipboard->setText(QStringLiteral("plain text"));
    EXPECT_FALSE(f.controller->canPaste());
    auto wrong = std::make_unique<QMimeData>();
    wrong->setData(KavioCuePasteboard::kCuesType, KeyedArchive::archive(QVariantList{"not", "records"}));
    clipboard->setMimeData(wrong.release());
    EXPECT_FALSE(f.controller->canPaste());
    auto garbage = std::make_unique<QMimeData>();
    garbage->setData(KavioCuePasteboard::kCuesType, QByteArray("bplist00 garbage"));
    clipboard->setMimeData(garbage.release());
    EXPECT_FALSE(f.controller->canPaste());
}

TEST(KavioVideoItemManagerCreation, TheRecordsMediaTypeChoosesTheKindAndAPageRecordSetsOnlyThePage)
{
    ArchiveFixture f;
    const QString still = f.picture("still.png");
    const auto syphon = f.controller->createItemWithPath(still, QVariantMap{{"mediaType", 2}, {"uid", "S"}});
    ASSERT_TRUE(syphon);
    EXPECT_EQ(syphon->mediaType(), KavioMediaTypeSyphon);
    EXPECT_EQ(f.controller->currentItem(), syphon) << "the first cue becomes current";
    const auto browser = f.controller->createItemWithPath("KAVIO_BROWSER");
    ASSERT_TRUE(browser);
    EXPECT_EQ(browser->mediaType(), KavioMediaTypeBrowser);
    EXPECT_EQ(browser->uid(), browser->uid().toUpper());
    EXPECT_NE(browser->uid(), syphon->uid());
    EXPECT_EQ(f.controller->currentItem(), syphon);

    const QString pages = f.pdf("pages.pdf", 3);
    const auto page = f.controller->createItemWithPath(pages, QVariantMap{{"KavioItemPDFPageKey", 2}, {"name", "kept out"}});
    ASSERT_TRUE(page);
    EXPECT_EQ(page->pdfPage(), 2u);
    EXPECT_FALSE(page->isSelected());
    EXPECT_NE(page->title(), "kept out");
}

TEST(KavioVideoItemManagerCreation, VettingKeepsMediaAndImagesAndRejectsTheRest)
{
    ArchiveFixture f;
    const auto fixture = [](const char* name) { return QString::fromStdString(MediaFixtures::path(name)); };
    QFile fakeImage(f.media.filePath("text.png"));
    ASSERT_TRUE(fakeImage.open(QIODevice::WriteOnly));
    fakeImage.write("not a picture");
    fakeImage.close();
    const QStringList paths{fixture("hap.mov"), fixture("six.wav"), fixture("notmedia.mov"), fakeImage.fileName(),
                            f.media.filePath("absent.mp4")};
    QStringList vetted;
    EXPECT_TRUE(KavioVideoItemManager::preparePathes(paths, [&](const QStringList& kept) { vetted = kept; }));
    EXPECT_EQ(vetted, (QStringList{paths[0], paths[1], "", paths[3], ""}));

    // All rejected: nothing is imported and no undo group is opened.
    EXPECT_FALSE(f.controller->createItemsWithPathes({paths[2], paths[4]}));
    EXPECT_EQ(f.app->undo.groupingLevel(), 0);
    EXPECT_FALSE(f.controller->isLoadingCues());

    // Several files: one undo group, closed when all are ready; one undo takes them all away.
    ASSERT_TRUE(f.controller->createItemsWithPathes({f.picture("a.png"), f.picture("b.png")}));
    EXPECT_EQ(f.app->undo.groupingLevel(), 1);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return !f.controller->isLoadingCues(); }, 30));
    EXPECT_EQ(f.app->undo.groupingLevel(), 0);
    EXPECT_EQ(f.mediaNames(), (QStringList{"a.png", "b.png"}));
    ASSERT_TRUE(f.app->undo.undo());
    EXPECT_TRUE(f.controller->items()->empty());
}

TEST(KavioVideoItemManagerEditing, UndoOfARemovalRestoresAllItsCuesInOneStep)
{
    ArchiveFixture f;
    ASSERT_TRUE(f.load(ArchiveFixture::archiveOfPaths({f.picture("1.png"), f.picture("2.png"), f.picture("3.png")}), false));
    f.app->undo.removeAllActions();
    const auto list = f.controller->items();
    f.controller->setCurrentItem(list->at(0));
    bool done = false;
    f.controller->removeItems({list->at(0), list->at(2)}, [&] { done = true; });
    // The cues go one per turn of the event loop behind the sheet, which closes with the last.
    ASSERT_NE(f.controller->loadingWindow(), nullptr);
    EXPECT_EQ(f.controller->loadingWindow()->windowModality(), Qt::WindowModal);
    EXPECT_EQ(f.controller->loadingProgress()->maximum(), 2);
    EXPECT_EQ(f.controller->items()->size(), 3u);
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return done; }, 30));
    EXPECT_EQ(f.controller->loadingWindow(), nullptr);
    EXPECT_EQ(f.mediaNames(), QStringList{"2.png"});
    ASSERT_TRUE(f.controller->currentItem());
    EXPECT_EQ(f.controller->currentItem()->mediaPath(), f.controller->items()->front()->mediaPath())
        << "the cue after the removed current cue takes over";
    EXPECT_EQ(f.app->undo.undoActionName(), "Remove Cue");
    ASSERT_TRUE(f.app->undo.undo());
    EXPECT_EQ(f.controller->items()->size(), 3u);
    EXPECT_FALSE(f.app->undo.canUndo()) << "one step";
    ASSERT_TRUE(f.app->undo.redo());
    EXPECT_EQ(f.mediaNames(), QStringList{"2.png"});

    done = false;
    f.controller->removeItems({}, [&] { done = true; });
    EXPECT_TRUE(done);
    EXPECT_EQ(f.controller->loadingWindow(), nullptr) << "no sheet for nothing to remove";
}

struct EditingFixture : ArchiveFixture {
    EditingFixture()
    {
        QStringList paths;
        for (int i = 1; i <= 5; ++i)
            paths << picture(QStringLiteral("%1.png").arg(i));
        EXPECT_TRUE(load(archiveOfPaths(paths), false));
        app->undo.removeAllActions();
    }
    std::shared_ptr<KavioVideoItem> at(std::uint64_t index) const { return controller->itemWithIndex(index); }
};

TEST(KavioVideoItemManagerEditing, DuplicatesGoRightBelowTheirOriginalsAllSelected)
{
    EditingFixture f;
    f.controller->selectItems({f.at(2), f.at(5)});
    f.controller->duplicateSelectedItems();
    EXPECT_EQ(f.mediaNames(), (QStringList{"1.png", "2.png", "2.png", "3.png", "4.png", "5.png", "5.png"}));
    QList<std::uint64_t> selected;
    for (const auto& cue : f.controller->selectedItems())
        selected << cue->index();
    EXPECT_EQ(selected, (QList<std::uint64_t>{3, 7}));
    EXPECT_NE(f.at(3)->uid(), f.at(2)->uid());
    EXPECT_EQ(f.app->undo.undoActionName(), "Duplicate Cue");
    ASSERT_TRUE(f.app->undo.undo());
    EXPECT_EQ(f.controller->items()->size(), 5u) << "one step takes both copies away";
}

TEST(KavioVideoItemManagerEditing, TheSeamlessLoopCopyCrossesBackIntoItsOriginal)
{
    EditingFixture f;
    const auto original = f.at(3);
    f.controller->makeSeamlessLoopOfItem(original);
    const auto copy = f.at(4);
    ASSERT_EQ(f.controller->items()->size(), 6u);
    EXPECT_EQ(copy->mediaPath(), original->mediaPath());
    EXPECT_NE(copy->uid(), original->uid());
    const QVariantMap record = copy->saveData();
    EXPECT_EQ(record.value("gotoitem").toString(), original->uid());
    EXPECT_TRUE(record.value("gotoitemstate").toBool());
    EXPECT_TRUE(record.value("transition").toBool());
    EXPECT_EQ(f.app->undo.undoActionName(), "Make Seamless Loop");
}

TEST(KavioVideoItemManagerEditing, RemovingTheCurrentCueHandsOverToTheNext)
{
    EditingFixture f;
    f.controller->setCurrentItem(f.at(2));
    const auto third = f.at(3);
    f.controller->undoRemoveItemWithUID(f.at(2)->uid());
    EXPECT_EQ(f.controller->currentItem(), third);

    f.controller->setCurrentItem(f.at(4));  // the last cue: the first takes over
    const auto first = f.at(1);
    f.controller->undoRemoveItemWithUID(f.at(4)->uid());
    EXPECT_EQ(f.controller->currentItem(), first);

    f.controller->removeItems({f.at(2), f.at(3)}, {});
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return f.controller->items()->size() == 1u; }, 30));
    f.controller->undoRemoveItemWithUID(first->uid());
    EXPECT_TRUE(f.controller->items()->empty());
    EXPECT_EQ(f.controller->currentItem(), nullptr) << "the only cue leaves none current";
    EXPECT_EQ(f.controller->smpteTimeLeftOnCurrentItem(), "-00:00:00:00");
    EXPECT_EQ(f.controller->smpteTimeElapsedOnCurrentItem(), "00:00:00:00");
}

TEST(KavioVideoItemManagerEditing, MixingIsTheAudioStreamersManagers)
{
    ArchiveFixture f;
    EXPECT_FALSE(f.controller->isMixing());
    f.streamers->setIsMixing(true);
    EXPECT_TRUE(f.controller->isMixing());
    KavioVideoItemManagerOutlets none = f.controller->outlets();
    none.audioStreamersManager.reset();
    f.controller->setOutlets(none);
    EXPECT_FALSE(f.controller->isMixing()) << "without a manager nothing mixes";
}

// Each cue tells its own time left.
class TimeLeftCue : public FixedLengthCue {
public:
    using FixedLengthCue::FixedLengthCue;
    QString timeLeftSMPTE() const override { return "left of " + uid(); }
};

TEST(KavioVideoItemManagerEditing, TimeLeftIsTheArmedNextCuesWhileAFollowOnIsTriggered)
{
    ArchiveFixture f;
    f.controller->setCurrentItem(f.addCues<TimeLeftCue>({250, 100})[0]);
    EXPECT_EQ(f.controller->smpteTimeLeftOnCurrentItem(), "left of c1");
    f.controller->setShouldTriggerNextItem(true);
    EXPECT_EQ(f.controller->smpteTimeLeftOnCurrentItem(), "left of c2");
}

TEST(KavioVideoItemManagerCreation, ReplacingMissingMediaRestoresTheCuesSettings)
{
    ArchiveFixture f;
    const QVariantMap gone{{"mediaPath", f.media.filePath("gone.mov")}, {"uid", "G"}, {"index", 1},
                           {"cuenotes", "kept notes"}, {"cueid", "A1"}};
    f.controller->setIsLoadingProject(true);
    ASSERT_TRUE(f.load(QVariantMap{{"1", gone}}, true));
    const auto missing = f.controller->items()->front();
    ASSERT_TRUE(missing->isMissing());

    const QString notMedia = QString::fromStdString(MediaFixtures::path("notmedia.mov"));
    QStringList alerts;
    KavioAlert::setAnswerer([&](const KavioAlertSpec& spec) {
        alerts << spec.messageText + " / " + spec.informativeText;
        return KavioAlertAnswer{};
    });
    f.controller->replaceItemWithChosenPath(missing, notMedia);
    KavioAlert::setAnswerer({});
    EXPECT_EQ(alerts, QStringList{"Unsupported codec / Kavio is unable to read the file you selected, sorry."});
    EXPECT_EQ(f.controller->items()->front(), missing);

    const QString movie = QString::fromStdString(MediaFixtures::path("counter25.mp4"));
    f.controller->replaceItemWithChosenPath(missing, movie);
    ASSERT_EQ(f.controller->items()->size(), 1u);
    const auto replaced = f.controller->items()->front();
    EXPECT_NE(replaced, missing);
    EXPECT_FALSE(replaced->isMissing());
    EXPECT_EQ(replaced->mediaPath(), movie);
    EXPECT_EQ(replaced->cueNotes(), "kept notes");
    EXPECT_EQ(replaced->cueID(), "A1");
    EXPECT_NE(replaced->uid(), "G");
}

TEST(KavioVideoItemManagerCreation, ReplacingThePlayingCurrentCueReloadsItFromItsStartOnceReady)
{
    ArchiveFixture f;
    const QString movie = QString::fromStdString(MediaFixtures::path("counter25.mp4"));
    const auto cue = f.controller->createItemWithPath(f.picture("before.png"));
    ASSERT_EQ(f.controller->currentItem(), cue);
    f.controller->setIsPlaying(true);
    f.controller->replaceItemWithMovieAtPath(cue, movie);
    EXPECT_EQ(f.controller->currentItem(), cue) << "the clock stops first";
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return !f.archiveController->steps.isEmpty(); }, 30));
    EXPECT_EQ(f.archiveController->steps, QStringList{"jump(counter25.mp4,1)"});
    EXPECT_TRUE(f.controller->currentItem()->isReady());
}

// A conversion job that records what it is asked and ends when the test says so.
class RecordingTranscoder : public QVTTranscoderInterface, public std::enable_shared_from_this<RecordingTranscoder> {
public:
    explicit RecordingTranscoder(QVTTranscoderRequest r) : request(std::move(r)) {}
    int transcoderType() const override { return type; }
    QString sourcePath() const override { return request.source; }
    QString destinationPath() const override { return request.destination; }
    QVTTranscoderCodec codec() const override { return request.codec; }
    double progress() const override { return progressValue; }
    bool isCancelled() const override { return cancelled; }
    void startTranscode() override { ++starts; }
    void transcodeAudio(const QString& source, const QString& destination) override
    {
        type = 1;
        audioStarts << source + " -> " + destination;
    }
    void cancelTranscode() override { cancelled = true; }
    std::shared_ptr<KavioVideoItem> videoItem() const override { return request.item.lock(); }
    // Reports the end from a thread of its own, as a transcoder's queue would; a job that was
    // not cancelled has written its file (the source's bytes stand for the converted ones).
    void finish()
    {
        if (!cancelled) {
            QDir().mkpath(QFileInfo(request.destination).path());
            QFile::copy(request.source, request.destination);
        }
        std::thread([self = shared_from_this()] {
            if (const auto delegate = self->request.delegate.lock())
                delegate->transcodingFinished(self);
        }).join();
    }

    QVTTranscoderRequest request;
    std::atomic<double> progressValue{0.0};
    std::atomic<bool> cancelled{false};
    std::atomic<int> type{10};
    int starts = 0;
    QStringList audioStarts;
};

struct ConversionFixture : ArchiveFixture {
    // Converted files go below a home of the test's own.
    QTemporaryDir home;
    QByteArray oldHome = qgetenv("HOME");
    QMainWindow window;
    std::vector<std::shared_ptr<RecordingTranscoder>> jobs;

    ~ConversionFixture() { qputenv("HOME", oldHome); }
    ConversionFixture()
    {
        qputenv("HOME", home.path().toUtf8());
        window.resize(480, 320);
        window.show();
        KavioVideoItemManagerOutlets o = controller->outlets();
        o.window = &window;
        controller->setOutlets(o);
        controller->setTranscoderFactory([this](const QVTTranscoderRequest& request) {
            jobs.push_back(std::make_shared<RecordingTranscoder>(request));
            return jobs.back();
        });
        // A plain movie, a Hap movie, a ProRes movie and a still.
        QStringList paths;
        for (const char* name : {"counter25.mp4", "hap.mov", "prores.mov"})
            paths << QString::fromStdString(MediaFixtures::path(name));
        paths << picture("still.png");
        EXPECT_TRUE(load(archiveOfPaths(paths), false));
        for (const auto& cue : *controller->items())
            cue->setIsSelected(true);
    }
    QStringList jobNames() const
    {
        QStringList names;
        for (const auto& job : jobs)
            names << QFileInfo(job->destinationPath()).fileName();
        return names;
    }
};

TEST(KavioVideoItemManagerConversion, JobsNameTheirTargetAndSkipCuesAlreadyInItsCodec)
{
    ConversionFixture f;
    const QString folder = KavioVideoItemManager::transcodedVideosDir() + "/";
    f.controller->transcodeSelectedCuesToCodec(10);
    EXPECT_EQ(f.jobNames(), (QStringList{"counter25_ProRes.mov", "hap_ProRes.mov"}));
    ASSERT_EQ(f.jobs.size(), 2u);
    EXPECT_EQ(f.jobs[0]->destinationPath(), folder + "counter25_ProRes.mov");
    EXPECT_EQ(f.jobs[0]->codec(), QVTTranscoderCodec::ProRes422);
    EXPECT_EQ(f.jobs[0]->sourcePath(), QString::fromStdString(MediaFixtures::path("counter25.mp4")));
    EXPECT_EQ(f.jobs[0]->starts, 1);
    EXPECT_TRUE(f.controller->isTranscoding());
    QDialog* sheet = f.controller->convertWindow();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->parentWidget(), &f.window);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(f.controller->numberOfRowsInConversionTable(), 2);
    EXPECT_EQ(f.controller->conversionTableValue("path", 1), "hap.mov");
    EXPECT_EQ(f.controller->conversionTableValue("name", 1), "");
    EXPECT_EQ(f.controller->conversionTableValue("path", 2), "");
    f.jobs[1]->progressValue = 0.4;
    f.controller->updateConversionProgress();
    DispatchQueue::runMainUntil([] { return DispatchQueue::drainMain() == 0; }, 10);
    QDir().mkpath(QStringLiteral(KAVIO_SCREENSHOT_DIR));
    EXPECT_TRUE(sheet->grab().save(QStringLiteral(KAVIO_SCREENSHOT_DIR "/conversion-sheet.png")));

    // Each converted file goes into its cue, which keeps its in and out points.
    const auto first = f.controller->items()->at(0);
    first->setInTime(MediaTime::make(240, MediaTime::kCueTimescale));
    f.jobs[0]->finish();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return f.controller->numberOfRowsInConversionTable() == 1; }, 30));
    EXPECT_EQ(f.controller->items()->at(0)->mediaPath(), folder + "counter25_ProRes.mov");
    const auto converted = f.controller->items()->at(0);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return converted->isReady(); }, 30));
    EXPECT_EQ(converted->inTime(), MediaTime::make(240, MediaTime::kCueTimescale));
    EXPECT_NE(f.controller->convertWindow(), nullptr) << "open while a job runs";
    f.jobs[1]->finish();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return !f.controller->isTranscoding(); }, 30));
    EXPECT_EQ(f.controller->convertWindow(), nullptr);

    f.jobs.clear();
    for (const auto& cue : *f.controller->items())
        cue->setIsSelected(true);
    f.controller->transcodeSelectedCuesToCodec(20);
    EXPECT_EQ(f.jobNames(), (QStringList{"counter25_ProRes_HAP.mov", "prores_HAP.mov"}));
    EXPECT_EQ(f.jobs[0]->codec(), QVTTranscoderCodec::Hap);
}

TEST(KavioVideoItemManagerConversion, NothingToConvertShowsNoSheetAndCancelEndsWithTheLastJob)
{
    ConversionFixture f;
    for (const auto& cue : *f.controller->items())
        cue->setIsSelected(cue->isHAP() || cue->mediaType() != KavioMediaTypeMovie);
    f.controller->transcodeSelectedCuesToCodec(20);
    EXPECT_TRUE(f.jobs.empty());
    EXPECT_EQ(f.controller->convertWindow(), nullptr);
    EXPECT_FALSE(f.controller->isTranscoding());

    for (const auto& cue : *f.controller->items())
        cue->setIsSelected(true);
    f.controller->transcodeSelectedCuesToCodec(20);
    ASSERT_EQ(f.jobs.size(), 2u);
    const QStringList before = f.mediaNames();
    f.controller->cancelConversion();
    EXPECT_TRUE(f.jobs[0]->isCancelled() && f.jobs[1]->isCancelled());
    f.jobs[0]->finish();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return f.controller->numberOfRowsInConversionTable() == 1; }, 30));
    EXPECT_NE(f.controller->convertWindow(), nullptr);
    f.jobs[1]->finish();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return f.controller->convertWindow() == nullptr; }, 30));
    EXPECT_FALSE(f.controller->isTranscoding());
    EXPECT_EQ(f.mediaNames(), before) << "a cancelled job's output is not used";
}

// Takes the URLs the desktop would open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

TEST(KavioVideoItemManagerConversion, AudioJobsRunInTheSameSheetAndEndWithIt)
{
    ConversionFixture f;
    const auto cue = f.controller->items()->at(0);
    const QString target = KavioVideoItemManager::transcodedVideosDir() + "/counter25-audio.m4a";
    f.controller->transcodeAudioOfItem(cue, target);
    ASSERT_EQ(f.jobs.size(), 1u);
    EXPECT_EQ(f.jobs[0]->audioStarts, QStringList{cue->resolvedMediaPath() + " -> " + target});
    EXPECT_EQ(f.jobs[0]->starts, 0) << "an audio job, not a video one";
    EXPECT_EQ(f.jobs[0]->videoItem(), cue);
    EXPECT_TRUE(f.controller->isTranscoding());
    ASSERT_NE(f.controller->convertWindow(), nullptr);
    EXPECT_EQ(f.controller->conversionTableValue("path", 0), "counter25.mp4");
    const QStringList before = f.mediaNames();
    f.jobs[0]->finish();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return !f.controller->isTranscoding(); }, 30));
    EXPECT_EQ(f.controller->convertWindow(), nullptr);
    EXPECT_EQ(f.mediaNames(), before) << "the audio goes into the cue; its media stays";
    EXPECT_EQ(f.controller->items()->at(0), cue);
}

// The program's own transcoder, through the controller, on a real movie cue.
TEST(KavioVideoItemManagerConversion, ARealConversionPutsTheHapMovieIntoTheCueKeepingItsTiming)
{
    ConversionFixture f;
    f.controller->setTranscoderFactory({});
    for (const auto& cue : *f.controller->items())
        cue->setIsSelected(cue->mediaPath().endsWith("counter25.mp4"));
    const auto cue = f.controller->items()->at(0);
    ASSERT_TRUE(cue->mediaPath().endsWith("counter25.mp4"));
    cue->setInTime(MediaTime::make(240, MediaTime::kCueTimescale));
    f.controller->transcodeSelectedCuesToCodec(20);
    EXPECT_TRUE(f.controller->isTranscoding());
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return !f.controller->isTranscoding(); }, 240));
    const auto converted = f.controller->items()->at(0);
    EXPECT_EQ(converted->mediaPath(), KavioVideoItemManager::transcodedVideosDir() + "/counter25_HAP.mov");
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return converted->isReady(); }, 60));
    EXPECT_TRUE(converted->isHAP());
    EXPECT_FALSE(converted->isMissing());
    EXPECT_EQ(converted->inTime(), MediaTime::make(240, MediaTime::kCueTimescale));
}

TEST(KavioVideoItemManagerConversion, TheConvertedFilesFolderOpensOnTheDesktop)
{
    ArchiveFixture f;
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    f.controller->openTranscodeDirectory();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    EXPECT_EQ(recorder.opened, QList<QUrl>{QUrl::fromLocalFile(KavioVideoItemManager::transcodedVideosDir())});
}

}  // namespace

#include "KavioVideoItemManagerArchiveTest.moc"
