// The cue list on real widgets: a real controller, cues with their rows, the list view in a
// scroll area on the display; the model is checked after each action.

#include "../controller/ControllerFakes.h"
#include "ViewsTestSupport.h"

#include "Controller/KavioCuePasteboard.h"
#include "KeyedArchive.h"
#include "Support/KavioPlainButton.h"
#include "Support/KavioPlainPopUpButton.h"
#include "Views/KavioAudioMeterInterface.h"
#include "Views/KavioButton.h"
#include "Views/KavioColorTagButton.h"
#include "Views/KavioImageView.h"
#include "Views/KavioItemsView.h"
#include "Views/KavioThumbnailView.h"
#include "Views/KavioVideoItemStateView.h"
#include "Views/KavioVideoItemView.h"

#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <thread>

namespace {

struct CueListFixture : ControllerFixture {
    QScrollArea area;
    std::shared_ptr<KavioItemsView> list;  // a handle: the scroll area owns the widget
    std::vector<std::shared_ptr<FixedLengthCue>> cues;

    explicit CueListFixture(int count = 8)
    {
        connected();
        auto* view = new KavioItemsView;
        area.setWidget(view);
        area.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        list = std::shared_ptr<KavioItemsView>(view, [](KavioItemsView*) {});
        KavioItemsView::Outlets o;
        o.manager = controller;
        o.scrollArea = &area;
        list->setOutlets(o);
        KavioVideoItemManagerOutlets outlets = controller->outlets();
        outlets.itemsView = list;
        controller->setOutlets(outlets);
        app->controller = controller;
        cues = addCues(std::vector<std::int64_t>(std::size_t(count), 250));
        for (const auto& cue : cues)
            cue->loadNib();
        area.resize(300, 400);
        area.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&area));
        controller->rearrangeItemsWithAnimation(false);
    }
    ~CueListFixture() { list.reset(); }

    KavioVideoItemView* row(int index) const { return cues[std::size_t(index - 1)]->view(); }
    QList<std::uint64_t> selected() const
    {
        QList<std::uint64_t> indexes;
        for (const auto& item : controller->selectedItems())
            indexes << item->index();
        return indexes;
    }
    void click(int index, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseClick(row(index), Qt::LeftButton, modifiers, QPoint(150, 15));
    }
    void key(int key, Qt::KeyboardModifiers modifiers = {}, const QString& text = {})
    {
        QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(list.get(), &press);
    }
};

TEST(KavioCueList, RowsStackInListOrderAndTheListGrowsButNeverShrinks)
{
    CueListFixture f(5);
    for (int i = 1; i <= 5; ++i) {
        ASSERT_NE(f.row(i), nullptr);
        EXPECT_EQ(f.row(i)->parentWidget(), f.list.get());
        EXPECT_EQ(f.row(i)->geometry(), QRect(0, (i - 1) * 90, f.list->width(), 90));
        EXPECT_EQ(f.row(i)->indexField->text(), QString::number(i));
    }
    EXPECT_GE(f.list->height(), 5 * 90 + 15);
    EXPECT_TRUE(f.list->itemRowContainsPoint(f.cues[1], QPointF(10, 100)));
    EXPECT_FALSE(f.list->itemRowContainsPoint(f.cues[1], QPointF(10, 20)));

    const int grown = f.list->height();
    bool removed = false;
    f.controller->removeItems({f.cues[3], f.cues[4]}, [&removed] { removed = true; });
    ASSERT_TRUE(DispatchQueue::runMainUntil([&removed] { return removed; }, 30.0));
    f.controller->rearrangeItemsWithAnimation(false);
    EXPECT_FALSE(f.row(4)->isVisible());
    EXPECT_EQ(f.list->height(), grown);
    f.controller->insertItem(f.cues[3], 4);
    f.controller->buildItemQueue();
    f.controller->rearrangeItemsWithAnimation(false);
    EXPECT_EQ(f.row(4)->parentWidget(), f.list.get());
    EXPECT_TRUE(f.row(4)->isVisible());
}

// A long list fills and shows only the rows near its visible part; a row filled late shows its
// cue as it is by then, and rows left far behind are hidden but keep what they show.
TEST(KavioCueList, RowsAreFilledAsTheyComeNearTheVisiblePart)
{
    CueListFixture f(30);
    const auto filled = [&](int i) { return f.row(i)->hasSubviews() && f.row(i)->isVisible(); };
    EXPECT_TRUE(filled(1));
    EXPECT_FALSE(f.row(30)->hasSubviews());
    EXPECT_TRUE(f.row(30)->isHidden());
    EXPECT_EQ(f.row(30)->geometry(), QRect(0, 29 * 90, f.list->width(), 90));

    const auto& last = f.cues[29];
    last->setCueID(QStringLiteral("Z9"));
    last->setColorTag(10);
    last->collapse();
    f.controller->rearrangeItemsWithAnimation(false);
    QScrollBar* bar = f.area.verticalScrollBar();
    bar->setValue(bar->maximum());
    ASSERT_TRUE(filled(30));
    EXPECT_EQ(f.row(30)->indexField->text(), QStringLiteral("Z9"));
    EXPECT_FALSE(f.row(30)->colorTagButton->isHidden());
    EXPECT_EQ(f.row(30)->height(), KavioVideoItemView::kCollapsedHeight);
    EXPECT_EQ(f.row(30)->stateView->height(), KavioVideoItemView::kCollapsedHeight);
    EXPECT_TRUE(f.row(1)->isHidden());
    EXPECT_TRUE(f.row(1)->hasSubviews());

    bar->setValue(0);
    EXPECT_TRUE(filled(1));
    EXPECT_EQ(f.row(1)->indexField->text(), QStringLiteral("1"));
}

TEST(KavioCueList, ClicksSelectPlainShiftRangeAndCtrlToggle)
{
    CueListFixture f;
    f.click(7);
    EXPECT_EQ(f.selected(), QList<std::uint64_t>{7});
    f.click(3, Qt::ShiftModifier);
    EXPECT_EQ(f.selected(), QList<std::uint64_t>({3, 4, 5, 6, 7}));
    f.click(5, Qt::ControlModifier);
    EXPECT_EQ(f.selected(), QList<std::uint64_t>({3, 4, 6, 7}));
    f.click(1, Qt::ControlModifier);
    EXPECT_EQ(f.selected(), QList<std::uint64_t>({1, 3, 4, 6, 7}));
    f.click(2);
    EXPECT_EQ(f.selected(), QList<std::uint64_t>{2});

    // A click on the empty part of the list clears the selection.
    QTest::mouseClick(f.list.get(), Qt::LeftButton, {}, QPoint(100, f.list->height() - 5));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return f.selected().isEmpty(); }, 30.0));
}

TEST(KavioCueList, RightClickSelectsTheCueAloneAndOpensItsMenu)
{
    CueListFixture f(4);
    f.click(1);
    QMenu* shown = nullptr;
    auto* closer = new QTimer(&f.area);
    QObject::connect(closer, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            shown = menu;
            menu->close();
        }
    });
    closer->start(20);
    QTest::mousePress(f.row(3), Qt::RightButton, {}, QPoint(150, 15));
    closer->stop();
    EXPECT_NE(shown, nullptr);
    EXPECT_EQ(f.selected(), QList<std::uint64_t>{3});
}

TEST(KavioCueList, DoubleClickLoadsOnlyOnTheInternalClock)
{
    CueListFixture f(3);
    f.controller->setPlaybackMode(1);
    QTest::mouseDClick(f.row(2), Qt::LeftButton, {}, QPoint(150, 15));
    DispatchQueue::drainMain();
    EXPECT_NE(f.controller->currentItem(), f.cues[1]);
    EXPECT_EQ(f.controller->lastClickedItem(), f.cues[1]);
}

TEST(KavioCueList, KeyTable)
{
    const struct {
        const char* name;
        int key;
        Qt::KeyboardModifiers modifiers;
        QList<std::uint64_t> selectedAfter;
        std::size_t countAfter;
        bool beforePlaying;
    } cases[] = {
        {"shift down grows", Qt::Key_Down, Qt::ShiftModifier, {2, 3}, 4, false},
        {"shift up grows", Qt::Key_Up, Qt::ShiftModifier, {1, 2}, 4, false},
        {"down alone does nothing", Qt::Key_Down, {}, {2}, 4, false},
        {"ctrl backspace removes", Qt::Key_Backspace, Qt::ControlModifier, {}, 3, false},
        {"ctrl delete removes", Qt::Key_Delete, Qt::ControlModifier | Qt::AltModifier, {}, 3, false},
        {"delete alone does nothing", Qt::Key_Delete, {}, {2}, 4, false},
        {"ctrl delete while playing does nothing", Qt::Key_Delete, Qt::ControlModifier, {2}, 4, true},
        {"escape clears", Qt::Key_Escape, {}, {}, 4, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CueListFixture f(4);
        f.click(2);
        f.controller->setIsPlaying(c.beforePlaying);
        f.key(c.key, c.modifiers);
        f.controller->setIsPlaying(false);
        // Removal goes a cue per event-loop turn.
        DispatchQueue::runMainUntil([&] { return f.controller->items()->size() == c.countAfter; }, 30.0);
        EXPECT_EQ(f.selected(), c.selectedAfter);
        EXPECT_EQ(f.controller->items()->size(), c.countAfter);
        EXPECT_EQ(f.app->undo.canUndo(), c.countAfter == 3);
    }
}

TEST(KavioCueList, SpaceTogglesPlayWhateverTheModifiers)
{
    CueListFixture f(2);
    for (const Qt::KeyboardModifiers modifiers : {Qt::KeyboardModifiers{}, Qt::KeyboardModifiers(Qt::ShiftModifier),
                                                  Qt::KeyboardModifiers(Qt::ControlModifier | Qt::AltModifier)}) {
        f.log.take();
        f.key(Qt::Key_Space, modifiers, QStringLiteral(" "));
        EXPECT_TRUE(f.log.take().contains(QStringLiteral("app.togglePlay")));
    }
}

TEST(KavioCueList, TypedCueNumbersCommitAfterAPause)
{
    CueListFixture f(12);
    f.cues[4]->setCueID(QStringLiteral("A1"));
    // 1 then, after the commit, 2: cue 1, then cue 2.
    f.key(Qt::Key_1, {}, QStringLiteral("1"));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return f.selected() == QList<std::uint64_t>{1}; }, 30.0));
    f.key(Qt::Key_2, {}, QStringLiteral("2"));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return f.selected() == QList<std::uint64_t>{2}; }, 30.0));
    // "12" within the pause: the cue at position 12.
    f.key(Qt::Key_1, {}, QStringLiteral("1"));
    f.key(Qt::Key_2, {}, QStringLiteral("2"));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return f.selected() == QList<std::uint64_t>{12}; }, 30.0));
    // Letters are upper-cased: "a1" finds A1.
    f.key(Qt::Key_A, {}, QStringLiteral("a"));
    f.key(Qt::Key_1, {}, QStringLiteral("1"));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return f.selected() == QList<std::uint64_t>{5}; }, 30.0));
}

TEST(KavioCueList, DroppedFilesAndFoldersGiveTheirPlayablePathsInOrder)
{
    CueListFixture f(1);
    QTemporaryDir tree;
    const auto touch = [&](const QString& name) {
        QFile file(tree.filePath(name));
        file.open(QIODevice::WriteOnly);
        return tree.filePath(name);
    };
    QDir(tree.path()).mkpath(QStringLiteral("folder/sub"));
    const QString b = touch(QStringLiteral("folder/b.mov"));
    const QString bigC = touch(QStringLiteral("folder/C.mov"));
    touch(QStringLiteral("folder/a.txt"));
    touch(QStringLiteral("folder/sub/x.mov"));
    const QString clipTarget = touch(QStringLiteral("clip.mov"));
    QFile::link(clipTarget, tree.filePath(QStringLiteral("clip")));
    QFile::link(tree.filePath(QStringLiteral("folder")), tree.filePath(QStringLiteral("folderlink")));
    QFile::link(tree.filePath(QStringLiteral("gone.mov")), tree.filePath(QStringLiteral("dangling")));
    const QString alias = touch(QStringLiteral("x.mov alias"));
    const QString text = touch(QStringLiteral("notes.txt"));
    const auto url = [&](const QString& name) { return QUrl::fromLocalFile(tree.filePath(name)); };

    const QStringList paths = f.list->pathsForDroppedURLs(
        {url("folder"), url("clip"), url("dangling"), url("x.mov alias"), url("notes.txt"),
         QUrl(QStringLiteral("https://example.org/a.mov")), url("folderlink")});
    EXPECT_EQ(paths, QStringList({b, bigC, tree.filePath("clip"), alias, b, bigC}));

    const struct {
        const char* name;
        QList<QUrl> urls;
        bool accepted;
    } firsts[] = {
        {"folder with a movie", {url("folder")}, true},
        {"link to a movie", {url("clip")}, true},
        {"alias-named movie", {url("x.mov alias")}, true},
        {"text first decides", {url("notes.txt"), url("clip.mov")}, false},
        {"dangling link", {url("dangling")}, false},
        {"web address", {QUrl(QStringLiteral("https://example.org/a.mov"))}, false},
        {"folder without playable entries", {url("folder/sub/../../notes.txt")}, false},
    };
    for (const auto& c : firsts) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(f.list->acceptsDroppedURLs(c.urls), c.accepted);
    }
    (void)text;
    // While a transcoding runs nothing is accepted.
    f.controller->setIsTranscoding(true);
    EXPECT_FALSE(f.list->acceptsDroppedURLs({url("folder")}));
}

TEST(KavioCueList, CopyAndPasteThroughTheClipboard)
{
    CueListFixture f(4);
    f.click(1);
    f.click(2, Qt::ControlModifier);
    f.click(4, Qt::ControlModifier);
    f.list->copy();
    const auto records = KavioCuePasteboard::recordsFromMimeData(QApplication::clipboard()->mimeData());
    ASSERT_TRUE(records.has_value());
    EXPECT_EQ(records->size(), 3);
    EXPECT_TRUE(QApplication::clipboard()->mimeData()->hasFormat(KavioCuePasteboard::kSummariesType));
    EXPECT_TRUE(f.list->canPaste());

    // Garbage or an empty list under the cue type: paste is refused.
    for (const QByteArray& bytes : {QByteArray("garbage"), QByteArray()}) {
        auto* data = new QMimeData;
        data->setData(KavioCuePasteboard::kCuesType, bytes);
        QApplication::clipboard()->setMimeData(data);
        EXPECT_FALSE(f.list->canPaste());
    }
    QApplication::clipboard()->setMimeData(
        KavioCuePasteboard::mimeDataForRecords(QVariantList{}, QVariantList{}).release());
    EXPECT_FALSE(f.list->canPaste());
}

// Cut is offered only while the transport stands; it copies, then removes in one undo step.
TEST(KavioCueList, CutOnlyWhileStopped)
{
    CueListFixture f(4);
    QAction cut, copy, paste, selectAll, duplicate;
    f.list->setEditActions({&copy, &cut, &paste, &selectAll, &duplicate});
    f.click(2);
    f.click(3, Qt::ShiftModifier);
    f.controller->setIsPlaying(true);
    f.list->validateEditActions();
    EXPECT_FALSE(cut.isEnabled());
    EXPECT_TRUE(copy.isEnabled());
    f.controller->setIsPlaying(false);
    f.list->validateEditActions();
    ASSERT_TRUE(cut.isEnabled());

    f.list->cut();
    const auto records = KavioCuePasteboard::recordsFromMimeData(QApplication::clipboard()->mimeData());
    ASSERT_TRUE(records.has_value());
    EXPECT_EQ(records->size(), 2);
    // The removal steps through the cues behind its sheet, then closes its undo group.
    const QStringList left{"c1", "c4"};
    const auto removed = [&] { return f.uidsInOrder() == left && f.app->undo.groupingLevel() == 0; };
    ASSERT_TRUE(DispatchQueue::runMainUntil(removed, 30.0)) << f.uidsInOrder().join(", ").toStdString();
    // Both cues come back with one undo (the restore itself is the controller's).
    EXPECT_EQ(f.app->undo.undoMenuItemTitle(), QStringLiteral("Undo Remove Cue"));
}

// Another program on the display reads both types of a copy, as they were at the copy.
TEST(KavioCueList, CopiedCuesAreReadByAnotherProgram)
{
    CueListFixture f(4);
    f.cues[0]->setHasCustomTitle(true);
    f.cues[0]->setDisplayTitle(QStringLiteral("Overture"));
    f.click(1);
    f.click(2, Qt::ControlModifier);
    f.click(4, Qt::ControlModifier);
    f.list->copy();
    // Taken at the copy: a later rename is not what the reader gets.
    f.cues[0]->setDisplayTitle(QStringLiteral("Renamed"));

    const auto read = [](const QString& type) {
        QProcess peer;
        peer.start(QStringLiteral(KAVIO_CLIPBOARD_PEER), {type});
        // The list's process answers the peer's request from its own event loop.
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return peer.state() == QProcess::NotRunning; }, 60.0));
        EXPECT_EQ(peer.exitCode(), 0) << peer.readAllStandardError().toStdString();
        const auto root = KeyedArchive::unarchive(peer.readAllStandardOutput());
        return root ? root->toList() : QVariantList();
    };
    const QVariantList records = read(KavioCuePasteboard::kCuesType);
    ASSERT_EQ(records.size(), 3);
    QList<int> indexes;
    for (const QVariant& record : records)
        indexes << record.toMap().value(QStringLiteral("index")).toInt();
    std::sort(indexes.begin(), indexes.end());
    EXPECT_EQ(indexes, (QList<int>{1, 2, 4}));
    const QVariantList summaries = read(KavioCuePasteboard::kSummariesType);
    ASSERT_EQ(summaries.size(), 3);
    QStringList names;
    for (const QVariant& summary : summaries)
        names << summary.toMap().value(QStringLiteral("name")).toString();
    EXPECT_TRUE(names.contains(QStringLiteral("Overture"))) << names.join(", ").toStdString();
    EXPECT_FALSE(names.contains(QStringLiteral("Renamed")));
}

// Still pictures for cues that a cut or paste can make again from their records.
struct PictureFiles {
    QTemporaryDir dir;
    QString operator()(const QString& name) const
    {
        QImage image(64, 36, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        const QString path = dir.filePath(name);
        image.save(path);
        return path;
    }
};

// The list in order: each cue's file name, or its uid when it has no file.
QStringList mediaOrder(const CueListFixture& f)
{
    QStringList order;
    for (const auto& cue : *f.controller->items())
        order << (cue->mediaPath().isEmpty() ? cue->uid() : QFileInfo(cue->mediaPath()).fileName());
    return order;
}

// Cues another program put on the clipboard paste in "index" order before the selected cue,
// whatever order the records come in.
TEST(KavioCueList, CuesFromAnotherProgramPasteInIndexOrder)
{
    CueListFixture f(3);
    const PictureFiles picture;
    const QVariantList records{
        QVariantMap{{"mediaPath", picture("third.png")}, {"index", 3}, {"uid", "X3"}},
        QVariantMap{{"mediaPath", picture("first.png")}, {"index", 1}, {"uid", "X1"}},
        QVariantMap{{"mediaPath", picture("second.png")}, {"index", 2}, {"uid", "X2"}},
    };
    QFile bytes(picture.dir.filePath(QStringLiteral("cues.bin")));
    ASSERT_TRUE(bytes.open(QIODevice::WriteOnly));
    bytes.write(KavioCuePasteboard::mimeDataForRecords(records, {})->data(KavioCuePasteboard::kCuesType));
    bytes.close();

    QProcess peer;
    peer.start(QStringLiteral(KAVIO_CLIPBOARD_PEER), {QStringLiteral("--put"), KavioCuePasteboard::kCuesType, bytes.fileName()});
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return peer.canReadLine() || peer.state() == QProcess::NotRunning; }, 60.0));
    ASSERT_EQ(peer.readLine().trimmed(), QByteArray("ready")) << peer.readAllStandardError().toStdString();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return f.list->canPaste(); }, 30.0));

    f.click(2);
    f.list->paste();
    const QStringList pasted{"c1", "first.png", "second.png", "third.png", "c2", "c3"};
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return mediaOrder(f) == pasted; }, 30.0))
        << mediaOrder(f).join(", ").toStdString();
    for (const auto& cue : *f.controller->items())
        EXPECT_FALSE(cue->uid().startsWith(QLatin1Char('X'))) << "a pasted cue gets a uid of its own";
    peer.closeWriteChannel();
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return peer.state() == QProcess::NotRunning; }, 60.0));
}

// A cut leaves as one undo step and comes back with one redo, the order kept each time.
TEST(KavioCueList, CutUndoesAndRedoesAsOneStep)
{
    CueListFixture f(0);
    const PictureFiles picture;
    const QStringList all{"a.png", "b.png", "c.png", "d.png", "e.png"};
    for (const QString& name : all)
        ASSERT_TRUE(f.controller->createItemWithPath(picture(name)));
    f.controller->rearrangeItemsWithAnimation(false);
    ASSERT_EQ(mediaOrder(f), all);
    f.controller->selectItem(f.controller->itemWithIndex(2));
    f.controller->itemWithIndex(4)->setIsSelected(true);
    f.app->undo.removeAllActions();

    f.list->cut();
    const QStringList left{"a.png", "c.png", "e.png"};
    const auto settled = [&](const QStringList& expected) {
        return DispatchQueue::runMainUntil(
            [&] { return mediaOrder(f) == expected && f.app->undo.groupingLevel() == 0; }, 30.0);
    };
    ASSERT_TRUE(settled(left)) << mediaOrder(f).join(", ").toStdString();
    const auto records = KavioCuePasteboard::recordsFromMimeData(QApplication::clipboard()->mimeData());
    ASSERT_TRUE(records.has_value());
    EXPECT_EQ(records->size(), 2);

    ASSERT_TRUE(f.app->undo.canUndo());
    f.app->undo.undo();
    ASSERT_TRUE(settled(all)) << mediaOrder(f).join(", ").toStdString();
    EXPECT_FALSE(f.app->undo.canUndo());
    ASSERT_TRUE(f.app->undo.canRedo());

    f.app->undo.redo();
    ASSERT_TRUE(settled(left)) << mediaOrder(f).join(", ").toStdString();
    EXPECT_FALSE(f.app->undo.canRedo());
    EXPECT_TRUE(f.app->undo.canUndo());
}

// The open-file button follows the transport from any thread; a released cue's row buttons keep
// no OSC address (the row lives on while the cue waits on the undo stack).
TEST(KavioCueList, RowFollowsTheTransportAndItsButtonsLetGoOnRelease)
{
    CueListFixture f(1);
    const auto& cue = f.cues[0];
    KavioVideoItemView* row = f.row(1);
    for (const bool offMain : {false, true}) {
        SCOPED_TRACE(offMain ? "from another thread" : "on the main thread");
        cue->setUIStateAfterPlayback();
        ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return !row->openButton->isEnabled(); }, 30.0));
        if (offMain)
            std::thread([&] { cue->setUIStateAfterStop(); }).join();
        else
            cue->setUIStateAfterStop();
        ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return row->openButton->isEnabled(); }, 30.0));
    }

    const QList<KavioButton*> buttons{row->openButton, row->fadeInButton, row->fadeOutButton, row->soundButton,
                                      row->errorButton, row->loopButton, row->gotoButton, row->pauseAtEndButton,
                                      row->pauseAtBeginningButton, row->transitionButton, row->collapseExpandButton};
    for (KavioButton* button : buttons)
        button->setOSCAddress(QStringLiteral("/kavio/1/button"));
    cue->removeResources();
    for (KavioButton* button : buttons)
        EXPECT_TRUE(button->oscAddress().isEmpty());
}

// A new row takes the list's default lengths and toggles; a project being loaded keeps its own
// toggles. Each toggle reads as its state, with "x" when disabled.
TEST(KavioCueList, NewRowsTakeTheListDefaults)
{
    const struct {
        const char* name;
        QList<int> defaults;  // fade in, fade out, pause at beginning, pause at end, loop, transition
        bool loading;
        QString toggles;      // the same order
        QString flags;        // stop at beginning, stop at end, looping, transition
    } cases[] = {
        {"none", {0, 0, 0, 0, 0, 0}, false, "0 0 0 0 0 0", "0000"},
        {"fades", {1, 1, 0, 0, 0, 0}, false, "1 1 0 0 0 0", "0000"},
        {"pause at beginning", {0, 0, 1, 0, 1, 0}, false, "0 0 1 0 0x 0", "1000"},
        {"pause at end", {0, 0, 0, 1, 0, 1}, false, "0 0 0 1 0x 0x", "0100"},
        {"loop", {0, 0, 0, 0, 1, 0}, false, "0 0 0x 0x 1 0x", "0010"},
        {"transition", {0, 0, 0, 0, 0, 1}, false, "0 0 0 0x 0x 1", "0001"},
        {"loading a project", {1, 1, 0, 1, 0, 0}, true, "0 0 0 0 0 0", "0000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ControllerFixture f;
        KavioPlainButton toggles[6];
        KavioPlainPopUpButton fade, transition;
        fade.addItem(QStringLiteral("1.5"), 0);
        fade.selectItemWithTitle(QStringLiteral("1.5"));
        transition.addItem(QStringLiteral("0.5"), 0);
        transition.selectItemWithTitle(QStringLiteral("0.5"));
        for (int i = 0; i < 6; ++i) {
            toggles[i].setButtonType(KavioButtonType::OnOff);
            toggles[i].setState(c.defaults[i]);
        }
        f.connected();
        KavioVideoItemManagerOutlets o = f.controller->outlets();
        o.defaultToggleFadeIn = &toggles[0];
        o.defaultToggleFadeOut = &toggles[1];
        o.defaultTogglePauseAtBeginning = &toggles[2];
        o.defaultTogglePauseAtEnd = &toggles[3];
        o.defaultToggleLoop = &toggles[4];
        o.defaultToggleTransition = &toggles[5];
        o.defaultFadeDurationPopup = &fade;
        o.defaultTransitionDurationPopup = &transition;
        f.controller->setOutlets(o);
        f.controller->setIsLoadingProject(c.loading);
        const auto cue = std::make_shared<FixedLengthCue>(f.controller->masterClock(), 250, QStringLiteral("c1"));
        cue->setManager(f.controller);
        cue->setMediaType(KavioMediaTypeStill);
        cue->setDurationOfNonMovies(4.0f);
        ASSERT_TRUE(cue->loadNib());
        f.controller->setIsLoadingProject(false);

        QStringList states;
        for (const KavioRowButton* b : {&cue->fadeInButton(), &cue->fadeOutButton(), &cue->pauseAtBeginningButton(),
                                        &cue->pauseAtEndButton(), &cue->loopButton(), &cue->transitionButton()})
            states << QString::number(int(b->state)) + (b->enabled ? "" : "x");
        EXPECT_EQ(states.join(' '), c.toggles);
        EXPECT_EQ(QStringLiteral("%1%2%3%4")
                      .arg(int(cue->shouldStopAtBeginning()))
                      .arg(int(cue->shouldStopAtEnd()))
                      .arg(int(cue->isLooping()))
                      .arg(int(cue->hasTransition())),
                  c.flags);
        EXPECT_EQ(cue->loopHelperSetups, cue->isLooping() ? 1 : 0);
        EXPECT_FLOAT_EQ(cue->itemDuration(), 4.0f);
        EXPECT_FLOAT_EQ(cue->fadetime(), 1.5f);
        EXPECT_DOUBLE_EQ(cue->transitionTime(), 0.5);
    }
}

struct RecordingSource : KavioRecordedSource {
    QList<bool> renders;
    QVariantMap saveData() const override { return {}; }
    void loadWithData(const QVariantMap&) override {}
    void setShouldRender(bool shouldRender) override { renders << shouldRender; }
};

// A web-page or window source renders only while its cue is current, also when the clock
// thread marks it; a capture cue that becomes current is no longer the secondary one.
TEST(KavioCueList, LiveSourcesRenderOnlyWhileTheirCueIsCurrent)
{
    CueListFixture f(2);
    const auto browser = std::make_shared<RecordingSource>();
    const auto window = std::make_shared<RecordingSource>();
    f.cues[0]->setBrowserSource(browser);
    f.cues[1]->setWindowSource(window);
    f.cues[0]->markAsCurrent(true);
    f.cues[0]->markAsCurrent(true);
    std::thread([&] { f.cues[0]->markAsCurrent(false); }).join();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return browser->renders.size() == 2; }, 30.0));
    EXPECT_EQ(browser->renders, (QList<bool>{true, false}));
    f.cues[1]->markAsCurrent(true);
    EXPECT_EQ(window->renders, QList<bool>{true});

    f.cues[1]->setMediaType(KavioMediaTypeCamera);
    f.cues[1]->setIsSecondaryCamera(true);
    f.cues[1]->markAsCurrent(true);
    EXPECT_FALSE(f.cues[1]->isSecondaryCamera());
}

struct RecordingMeter : KavioAudioMeterInterface {
    QMap<int, float> levels;
    void initWithChannels(int) override {}
    void setLevelForChannel(float level, int channel) override { levels[channel] = level; }
};

struct MeteredPlayer : KavioCueAudioPlayer {
    QList<int> mapping{1, 0};
    QList<int> channelMapping() const override { return mapping; }
    int deviceChannels() const override { return 2; }
    void setOutputChannelMapping(const QList<int>&, int) override {}
    double duration() const override { return 10; }
    int realChannels() const override { return 2; }
    void setRate(float) override {}
    void stop() override {}
    void play() override {}
    void setCurrentTime(double) override {}
    void removeResources() override {}
    float volume() const override { return 1; }
    QList<float> channelMeters() override { return {-6.0f, -3.0f}; }
};

TEST(KavioCueList, RowPresentation)
{
    CueListFixture f(2);
    const auto& cue = f.cues[0];
    KavioVideoItemView* row = f.row(1);
    // An absent "toggleShowCueTypes" hides the type column.
    EXPECT_FALSE(row->mediaTypeIconField->isVisible());
    const int nameX = row->nameField->x();
    cue->toggleColorTagsToState(true);
    cue->toggleColorTagsToState(true);
    EXPECT_EQ(row->nameField->x(), nameX + 21);
    cue->toggleCueTypes();
    EXPECT_EQ(row->nameField->x(), nameX + 21 + 25);
    EXPECT_TRUE(row->mediaTypeIconField->isVisible());

    cue->collapse();
    cue->collapse();
    EXPECT_EQ(row->height(), 30);
    cue->expand();
    EXPECT_EQ(row->height(), 90);

    cue->setCueID(QStringLiteral("A1"));
    cue->refreshTitle();
    EXPECT_EQ(row->indexField->text(), QStringLiteral("A1"));
    cue->markAsCurrent(true);
    EXPECT_TRUE(row->stateView->isVisible());
    EXPECT_EQ(row->stateView->drawColor(), QColor::fromRgbF(0.0f, 0.656f, 0.929f));

    // The indicator slides: half-way down from above, half-way up and out.
    cue->animateCurrentStateOnFromDirection(20, 0.5f);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return row->stateView->y() == -45; }, 30.0));
    cue->animateCurrentStateOffFromDirection(10, 0.25f);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return row->stateView->y() == -23; }, 30.0));

    RecordingMeter meter;
    cue->setAudioMeter(&meter);
    auto player = std::make_shared<MeteredPlayer>();
    cue->setAudioPlayer(player);
    cue->KavioVideoItem::updateAudioMeter();
    EXPECT_EQ(meter.levels, (QMap<int, float>{{0, -120.0f}, {1, -120.0f}}));
    cue->setIsPlaying(true);
    cue->KavioVideoItem::updateAudioMeter();
    EXPECT_EQ(meter.levels, (QMap<int, float>{{0, -6.0f}, {1, -120.0f}}));
    cue->setAudioMeter(nullptr);
}

TEST(KavioCueList, RowLookPixels)
{
    CueListFixture f(3);
    f.cues[0]->setColorTag(10);
    f.cues[1]->setIsSelected(true);
    f.list->setDrawsDraggingLocation(f.cues[2], true);
    DispatchQueue::drainMain();
    const QImage tagged = f.row(1)->grab().toImage();
    const QImage selected = f.row(2)->grab().toImage();
    const QImage marked = f.row(3)->grab().toImage();
    // Background white 0.18 with the red tag's tint at 9 %.
    EXPECT_TRUE(ViewsTest::near(ViewsTest::pixel(tagged, 250, 88 - 20),
                                QColor::fromRgbF(0.18f * 0.91f + 0.976f * 0.09f, 0.18f * 0.91f + 0.376f * 0.09f,
                                                 0.18f * 0.91f + 0.337f * 0.09f)));
    EXPECT_TRUE(ViewsTest::near(ViewsTest::pixel(selected, 250, 70), QColor::fromRgbF(0.30f, 0.30f, 0.30f)));
    EXPECT_TRUE(ViewsTest::near(ViewsTest::pixel(marked, 250, 0), QColor::fromRgbF(0.054f, 0.466f, 0.78f)));
    EXPECT_TRUE(ViewsTest::near(ViewsTest::pixel(marked, 250, 89), QColor::fromRgbF(0.1f, 0.1f, 0.1f)));
    ViewsTest::saveScreenshot(f.area, QStringLiteral("cue-list-rows"));
}

TEST(KavioCueList, EmptyListShowsTheHint)
{
    CueListFixture f(0);
    ViewsTest::saveScreenshot(f.area, QStringLiteral("cue-list-empty"));
    const QImage image = f.list->grab().toImage();
    // Some pixel of the hint's grey lies on the middle line.
    bool hint = false;
    for (int x = 0; x < image.width() && !hint; ++x)
        for (int y = image.height() / 2 - 8; y < image.height() / 2 + 8 && !hint; ++y)
            hint = ViewsTest::near(ViewsTest::pixel(image, x, y), QColor::fromRgbF(0.36f, 0.36f, 0.36f), 0.03);
    EXPECT_TRUE(hint);
}

TEST(KavioCueList, ThumbnailLetterboxesAndKeepsItsPictureOnBadInput)
{
    KavioThumbnailView view;
    view.resize(100, 100);
    QImage page(200, 100, QImage::Format_RGB32);
    page.fill(Qt::black);
    view.setThumbnailFromPDFPage(QImage());
    EXPECT_EQ(view.image(), nullptr);
    view.setThumbnailFromImage(page);
    const auto first = view.image();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(ViewsTest::pixel(*first, 50, 10).alpha(), 0);  // letterbox
    EXPECT_EQ(ViewsTest::pixel(*first, 50, 50), QColor(Qt::black));
    view.resizeAndSetImage(QImage());
    EXPECT_EQ(view.image(), first);
}

QStringList order(const CueListFixture& f) { return f.uidsInOrder(); }

TEST(KavioCueList, BlockMovesLandWholeAndUndoInOneStep)
{
    const struct {
        const char* name;
        QStringList uids;
        std::uint64_t to;
        QStringList after;
    } cases[] = {
        {"up over one row", {"c3", "c4", "c5"}, 2, {"c1", "c3", "c4", "c5", "c2", "c6"}},
        {"down onto the last row", {"c3", "c4", "c5"}, 6, {"c1", "c2", "c6", "c3", "c4", "c5"}},
        {"a jump of several rows", {"c4", "c5"}, 1, {"c4", "c5", "c1", "c2", "c3", "c6"}},
        {"one cue as before", {"c2"}, 5, {"c1", "c3", "c4", "c5", "c2", "c6"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CueListFixture f(6);
        const QStringList before = order(f);
        f.controller->moveItemsWithUIDs(c.uids, c.to);
        EXPECT_EQ(order(f), c.after);
        for (std::size_t i = 0; i < f.controller->items()->size(); ++i)
            EXPECT_EQ((*f.controller->items())[i]->index(), i + 1);
        f.app->undo.undo();
        EXPECT_EQ(order(f), before);
        f.app->undo.redo();
        EXPECT_EQ(order(f), c.after);
    }
}

TEST(KavioCueList, DragImageFansTheRows)
{
    CueListFixture f(3);
    const QImage one = f.row(1)->sourceImageForDrag({f.cues[0]});
    EXPECT_EQ(one.size(), QSize(f.row(1)->width(), 80));
    const QImage three = f.row(1)->sourceImageForDrag({f.cues[0], f.cues[1], f.cues[2]});
    EXPECT_EQ(three.size(), QSize(f.row(1)->width() + 10, 90));
}

// Holds a press on `from`, then, inside Qt's own drag loop, moves over `over` (or nowhere) and
// releases there; answers once the drag has ended.
bool dragRows(CueListFixture& f, int from, QWidget* over, QPoint at)
{
    int stage = 0;
    bool ended = false;
    QTimer steps;
    QObject::connect(&steps, &QTimer::timeout, [&] {
        QDrag* drag = f.row(from)->findChild<QDrag*>();
        if (stage == 0 && drag) {
            stage = 1;
            QTest::mouseMove(over, at);
        } else if (stage == 1) {
            stage = 2;
            QTest::mouseMove(over, at + QPoint(0, 2));
        } else if (stage == 2) {
            stage = 3;
            QTest::mouseRelease(over, Qt::LeftButton, {}, at + QPoint(0, 2));
        }
    });
    steps.start(50);
    QTest::mousePress(f.row(from), Qt::LeftButton, {}, QPoint(150, 15));
    ended = DispatchQueue::runMainUntil([&] { return stage == 3 && f.row(from)->draggingItems().empty(); }, 60.0);
    steps.stop();
    return ended;
}

TEST(KavioCueList, HeldRowsDragLiveIntoANewPlaceAsOneUndoStep)
{
    CueListFixture f(6);
    f.click(3);
    f.click(5, Qt::ShiftModifier);
    ASSERT_TRUE(dragRows(f, 4, f.row(2), QPoint(150, 45)));
    EXPECT_EQ(order(f), QStringList({"c1", "c3", "c4", "c5", "c2", "c6"}));
    EXPECT_EQ(f.app->undo.undoActionName(), QStringLiteral("Move Items"));
    EXPECT_FALSE(f.controller->undoGroupingStarted());
    for (int i = 3; i <= 5; ++i)
        EXPECT_TRUE(f.row(i)->isVisible());
    f.app->undo.undo();
    EXPECT_EQ(order(f), QStringList({"c1", "c2", "c3", "c4", "c5", "c6"}));
}

TEST(KavioCueList, ADragReleasedOutsideTheListKeepsTheOrderReached)
{
    CueListFixture f(4);
    QWidget elsewhere;
    elsewhere.resize(200, 200);
    elsewhere.move(f.area.x() + 500, f.area.y());
    elsewhere.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&elsewhere));
    f.click(4);
    ASSERT_TRUE(dragRows(f, 4, &elsewhere, QPoint(100, 100)));
    EXPECT_EQ(order(f), QStringList({"c1", "c2", "c3", "c4"}));
    EXPECT_FALSE(f.app->undo.canUndo());
    EXPECT_TRUE(f.row(4)->isVisible());
}

}  // namespace
