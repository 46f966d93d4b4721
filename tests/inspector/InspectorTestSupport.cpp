#include "InspectorTestSupport.h"

#include "MediaFixtures.h"

#include "Inspector/KavioVideoItemPreferencesViewItem.h"
#include "Views/KavioScrollView.h"

#include "NotificationCenter.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTest>

#include <fstream>
#include <thread>

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
    KavioVideoItemManagerOutlets first = outlets();
    first.videoOutputManager = sizedOutputs;
    controller->setOutlets(first);
    renderClock->setDelegate(passCounter);
    controller->setRenderClock(renderClock);
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
    KavioVideoItemManagerOutlets outlets = controller->outlets();
    outlets.defaultFadeDurationPopup = nullptr;
    outlets.defaultTransitionDurationPopup = nullptr;
    controller->setOutlets(outlets);
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

QString Fixture::captionedMovie()
{
    const QString path = media.filePath(QStringLiteral("show.mp4"));
    EXPECT_TRUE(QFile::copy(movie30(), path));
    const auto write = [this](const char* name, const char* firstStart) {
        std::ofstream(media.filePath(QString::fromUtf8(name)).toStdString())
            << "1\n" << firstStart << " --> 00:00:06,000\nFirst\n\n2\n00:00:08,000 --> 00:00:09,000\nSecond\n";
    };
    write("show.srt", "00:00:02,000");
    write("show.zz.srt", "00:00:04,000");
    return path;
}

void Fixture::renderPass()
{
    std::thread rendering([this] { renderClock->handleDisplayLinkRendering(double(passCounter->passes.load()) / 25.0); });
    rendering.join();
}

void Fixture::showProjectDefault(KavioPopUpButtonInterface* KavioVideoItemManagerOutlets::*popup, const QString& title)
{
    if (!projectDefaults)
        projectDefaults = std::make_unique<KavioPopUpButton>();
    projectDefaults->removeAllItems();
    projectDefaults->addItem(title, 0);
    projectDefaults->selectItemAtIndex(0);
    KavioVideoItemManagerOutlets outlets = controller->outlets();
    outlets.*popup = projectDefaults.get();
    controller->setOutlets(outlets);
}

void Fixture::setRenderSize(const QSizeF& size)
{
    sizedOutputs->size = size;
    NotificationCenter::defaultCenter().post(kKavioRenderSizeChangedNotification);
}

std::shared_ptr<KavioVideoItem> Fixture::addLive(int type, const QString& uid, const QString& path)
{
    auto cue = std::make_shared<KavioVideoItem>();
    cue->setMediaType(type);
    cue->setMediaPath(path);
    cue->setManager(controller);
    cue->setUid(uid);
    controller->insertItem(cue, controller->items()->size() + 1);
    controller->buildItemQueue();
    return cue;
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

QStringList Fixture::chooseFromOptionsMenu(QWidget* button, const QString& title)
{
    QTest::mouseClick(button, Qt::LeftButton);
    QMenu* menu = nullptr;
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())); }, 30.0));
    QStringList titles;
    if (!menu)
        return titles;
    QAction* chosen = nullptr;
    for (QAction* action : menu->actions()) {
        titles << action->text();
        if (action->text() == title)
            chosen = action;
    }
    EXPECT_NE(chosen, nullptr) << title.toStdString();
    if (chosen)
        chosen->trigger();
    menu->close();
    return titles;
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
