// The cue list with 1000 still cues against a QListView of 1000 text rows, both in a scroll area
// of the same size on the display and timed the same way in the same run: building the list
// until it is painted, scrolling from top to bottom in wheel steps each painted at once, and
// moving a block of three rows from the top to near the end (painted). Figures are the median of
// three runs; the ratios are cue list / reference. Scrolling is compared per painted step (the
// two lists move a different distance per wheel step) and over the whole way down.
//
// Targets: scroll within 3x, reorder within 10x, build within 20x.
// Usage (on a display, e.g. under xvfb-run): cuelist_bench [cues] (default 1000).

#include "../KavioBenchSupport.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "UserDefaults.h"
#include "Views/KavioItemsView.h"

#include <QApplication>
#include <QListView>
#include <QScrollArea>
#include <QScrollBar>
#include <QStringListModel>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsOf(const std::function<void()>& work)
{
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Paints only reach a window the display has mapped; waits up to ten seconds for it.
void waitExposed(QWidget& window)
{
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (!(window.windowHandle() && window.windowHandle()->isExposed()) && Clock::now() < until)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    check(window.windowHandle() && window.windowHandle()->isExposed(), "window shown on the display");
}

// One wheel notch down over the viewport, then a synchronous paint; false at the bottom.
bool wheelStep(QAbstractScrollArea& area)
{
    QWidget* viewport = area.viewport();
    const QPointF at(viewport->width() / 2.0, viewport->height() / 2.0);
    QWheelEvent wheel(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &wheel);
    viewport->repaint();
    return area.verticalScrollBar()->value() < area.verticalScrollBar()->maximum();
}

struct Scroll {
    double totalMs = 0;
    int steps = 0;
};

Scroll scrollDown(QAbstractScrollArea& area)
{
    waitExposed(area);
    area.verticalScrollBar()->setValue(0);
    area.viewport()->repaint();
    Scroll scroll;
    scroll.totalMs = millisecondsOf([&] {
        while (wheelStep(area) && scroll.steps < 100000)
            ++scroll.steps;
    });
    ++scroll.steps;
    check(area.verticalScrollBar()->value() == area.verticalScrollBar()->maximum(), "scrolled to the bottom");
    return scroll;
}

// A still cue without a file: the row, its toggles and its times, no media.
std::shared_ptr<KavioVideoItem> stillCue(int number)
{
    auto cue = std::make_shared<KavioVideoItem>([](const QVTOSCMessage&) {});
    cue->setUid(QStringLiteral("uid-%1").arg(number));
    cue->setMediaType(KavioMediaTypeStill);
    cue->setCueName(QStringLiteral("Slide %1").arg(number));
    return cue;
}

struct CueList {
    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath(QStringLiteral("bench.conf"))};
    std::shared_ptr<KavioBenchDelegate> app = std::make_shared<KavioBenchDelegate>();
    std::shared_ptr<KavioVideoItemManager> controller = KavioVideoItemManager::init(defaults);
    QScrollArea area;
    std::shared_ptr<KavioItemsView> list;

    explicit CueList(int count)
    {
        controller->setDelegate(app);
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
        area.resize(340, 700);
        area.show();
        for (int i = 1; i <= count; ++i) {
            const auto cue = stillCue(i);
            cue->setManager(controller);
            controller->insertItem(cue, std::uint64_t(i));
            cue->loadNib();
        }
        controller->buildItemQueue();
        controller->rearrangeItemsWithAnimation(false);
        area.viewport()->repaint();
    }
};

struct Reference {
    QStringListModel model;
    QListView view;
    explicit Reference(int count)
    {
        QStringList rows;
        rows.reserve(count);
        for (int i = 1; i <= count; ++i)
            rows << QStringLiteral("%1  Slide %1").arg(i);
        model.setStringList(rows);
        view.setModel(&model);
        view.resize(340, 700);
        view.show();
        view.viewport()->repaint();
    }
};

}  // namespace

int main(int argc, char** argv)
{
    QApplication qapp(argc, argv);
    const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 1000;
    std::vector<double> buildCues, buildRef, stepCues, stepRef, totalCues, totalRef, moveCues, moveRef;
    int cueSteps = 0, refSteps = 0;
    for (int run = 0; run < 3; ++run) {
        std::unique_ptr<CueList> cues;
        std::unique_ptr<Reference> reference;
        buildCues.push_back(millisecondsOf([&] { cues = std::make_unique<CueList>(count); }));
        buildRef.push_back(millisecondsOf([&] { reference = std::make_unique<Reference>(count); }));
        check(cues->controller->items()->size() == std::size_t(count), "cue list built");

        const Scroll c = scrollDown(cues->area);
        const Scroll r = scrollDown(reference->view);
        cueSteps = c.steps;
        refSteps = r.steps;
        totalCues.push_back(c.totalMs);
        totalRef.push_back(r.totalMs);
        stepCues.push_back(c.totalMs / c.steps);
        stepRef.push_back(r.totalMs / r.steps);

        // The first three rows to two rows before the end, then painted.
        const auto target = std::uint64_t(count - 2);
        const QStringList block{QStringLiteral("uid-1"), QStringLiteral("uid-2"), QStringLiteral("uid-3")};
        moveCues.push_back(millisecondsOf([&] {
            cues->controller->moveItemsWithUIDs(block, target);
            cues->area.viewport()->repaint();
        }));
        check(cues->controller->items()->front()->uid() == QStringLiteral("uid-4"), "cue block moved");
        moveRef.push_back(millisecondsOf([&] {
            reference->model.moveRows({}, 0, 3, {}, int(target) + 1);
            reference->view.viewport()->repaint();
        }));
        check(reference->model.index(0).data().toString().startsWith(QStringLiteral("4 ")), "reference block moved");
    }

    const auto line = [](const char* what, double cues, double ref, double target) {
        const double ratio = ref > 0 ? cues / ref : 0;
        std::printf("%-20s cue list %10.3f ms   reference %10.3f ms   ratio %7.2f", what, cues, ref, ratio);
        if (target > 0)
            std::printf("   target %4.1fx %s", target, ratio <= target ? "ok" : "OVER");
        std::printf("\n");
    };
    std::printf("%d rows; wheel steps to the bottom: cue list %d, reference %d\n", count, cueSteps, refSteps);
    line("build", median(buildCues), median(buildRef), 20);
    line("scroll, per step", median(stepCues), median(stepRef), 3);
    line("scroll, whole way", median(totalCues), median(totalRef), 0);
    line("move three rows", median(moveCues), median(moveRef), 10);
    return 0;
}
