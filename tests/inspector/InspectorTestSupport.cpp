#include "InspectorTestSupport.h"

#include "MediaFixtures.h"

#include "Inspector/KavioVideoItemPreferencesViewItem.h"
#include "Views/KavioScrollView.h"

#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTest>

#include <gtest/gtest.h>

namespace InspectorTest {

namespace {

bool makeMovie(const std::string& name)
{
    return MediaFixtures::ffmpeg("-f lavfi -i testsrc=size=320x180:rate=25:duration=30 -f lavfi -i sine=frequency=440:duration=30 "
                                 "-c:v libx264 -pix_fmt yuv420p -g 25 -c:a aac -shortest " + name);
}

bool makeWav(const std::string& name)
{
    return MediaFixtures::ffmpeg("-f lavfi -i sine=frequency=440:duration=3 " + name);
}

}  // namespace

QString movie30()
{
    return QString::fromStdString(MediaFixtures::madePath("inspector30.mp4", makeMovie));
}

QString wav()
{
    return QString::fromStdString(MediaFixtures::madePath("inspector3.wav", makeWav));
}

Fixture::Fixture(bool load)
{
    recording = KavioVideoItemManager::init<RecordingManager>(*defaults);
    controller = recording;
    controller->setOutlets(outlets());
    controller->setDelegate(app);
    controller->masterClock()->setSmpteFormat(QVTClockSMPTEFormat25);
    window.resize(700, 800);
    listArea = new QScrollArea(&window);
    listArea->setGeometry(0, 0, 340, 800);
    listArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* view = new KavioItemsView;
    listArea->setWidget(view);
    list = std::shared_ptr<KavioItemsView>(view, [](KavioItemsView*) {});
    KavioItemsView::Outlets listOutlets;
    listOutlets.manager = controller;
    listOutlets.scrollArea = listArea;
    list->setOutlets(listOutlets);

    panel = KavioVideoItemPreferencesController::create(*defaults, controller);
    panel->outlets().scrollView->setParent(&window);
    panel->outlets().scrollView->setGeometry(350, 0, 346, 800);
    KavioVideoItemManagerOutlets outlets = controller->outlets();
    outlets.itemsView = list;
    outlets.itemPreferencesController = panel;
    controller->setOutlets(outlets);
    app->controller = controller;
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    if (load)
        panel->loadPreferenceItems();
}

Fixture::~Fixture()
{
    controller->setCurrentItem(nullptr);
    DispatchQueue::runMainUntil([] { return false; }, 0.05);
    panel.reset();
    list.reset();
}

std::shared_ptr<KavioVideoItem> Fixture::add(const QString& path)
{
    auto cue = controller->createItemWithPath(path);
    EXPECT_NE(cue, nullptr);
    if (!cue)
        return cue;
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return cue->isReady() || cue->isMissing(); }, 60.0));
    controller->buildItemQueue();
    // Tests count the inspector's records from here.
    undo().removeAllActions();
    return cue;
}

std::shared_ptr<PlayheadCue> Fixture::addMovieWithPlayhead()
{
    auto cue = std::make_shared<PlayheadCue>();
    EXPECT_TRUE(cue->initMovieCue(movie30(), controller, {}));
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return cue->isReady(); }, 60.0));
    cue->setUid(QStringLiteral("PLAYHEAD%1").arg(controller->items()->size() + 1));
    controller->insertItem(cue, controller->items()->size() + 1);
    controller->buildItemQueue();
    controller->setCurrentItem(cue);
    cue->markAsCurrent(true);
    undo().removeAllActions();
    return cue;
}

QString Fixture::still(const QString& name)
{
    QImage image(160, 90, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const QString path = media.filePath(name);
    image.save(path);
    return path;
}

QString Fixture::pdf(const QString& name, int pages)
{
    const QString path = media.filePath(name);
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A5));
    QPainter painter(&writer);
    for (int page = 1; page <= pages; ++page) {
        if (page > 1)
            writer.newPage();
        painter.drawText(200, 200, QStringLiteral("Page %1").arg(page));
    }
    return path;
}

void Fixture::select(const KavioVideoItemList& items)
{
    // A new selection, as a click (or a click on the empty list) makes it.
    for (const auto& item : *controller->items())
        item->setIsSelected(false);
    controller->selectItems(items);
}

void Fixture::type(KavioTextField* field, const QString& text)
{
    field->setFocus();
    field->selectAll();
    if (text.isEmpty())
        QTest::keyClick(field, Qt::Key_Backspace);
    else
        QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

bool Fixture::sectionHidden(const QString& title) const
{
    const auto* item = panel->preferenceItemWithTitle(title);
    return !item || item->view()->isHidden();
}

QString Fixture::placeholder(KavioTextField* field)
{
    return field->cell().placeholder();
}

}  // namespace InspectorTest
