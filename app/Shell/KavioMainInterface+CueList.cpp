// The main window's cue list: the list view in the left panel's scroll area, connected to the
// cue list controller, and its entries in the edit menu; the position bar over the waveform strip.

#include "Shell/KavioMainInterface.h"

#include "Controller/KavioVideoItemManager.h"
#include "Outputs/KavioVideoOutputManager.h"
#include "Shell/KavioWindow.h"
#include "Views/KavioHidingView.h"
#include "Views/KavioItemsView.h"
#include "Views/KavioPlayheadIndicator.h"
#include "Shell/KavioWaveformStripOutlet.h"
#include "Views/KavioWaveformView.h"
#include "Views/QVTTimelineMarkerView.h"
#include "Controller/QVTTimelineMarkerController.h"

#include <QAction>
#include <QMenu>
#include <QProgressBar>
#include <QScrollArea>
#include <QVBoxLayout>

void KavioMainInterface::buildCueList(KavioHidingView* leftView, QWidget* mainTimecodeField)
{
    auto* layout = new QVBoxLayout(leftView);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* scrollArea = new QScrollArea;
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(scrollArea);
    auto* list = new KavioItemsView;
    scrollArea->setWidget(list);
    // Qt owns the widget; the handle only lets the controller hold it weakly.
    itemsView_ = std::shared_ptr<KavioItemsView>(list, [](KavioItemsView*) {});

    KavioItemsView::Outlets outlets;
    outlets.manager = controller_;
    outlets.scrollArea = scrollArea;
    outlets.mainTimecodeField = mainTimecodeField;
    const std::weak_ptr<KavioVideoOutputManager> outputs = videoOutputManager_;
    outlets.isMainDisplayOnFullscreen = [outputs] {
        const auto manager = outputs.lock();
        return manager && manager->isMainDisplayOnFullscreen();
    };
    outlets.toggleFullscreen = [outputs] {
        if (const auto manager = outputs.lock())
            manager->toggleFullscreen();
    };
    list->setOutlets(outlets);

    KavioVideoItemManagerOutlets controls = controller_->outlets();
    controls.itemsView = itemsView_;
    controller_->setOutlets(controls);
    list->setFocus();
}

std::function<void()> KavioMainInterface::addCueListEditItems(QMenu* edit)
{
    edit->addSeparator();
    const auto list = [this] { return itemsView_.get(); };
    KavioItemsView::EditActions actions;
    actions.cut = edit->addAction(QStringLiteral("Cut"), QKeySequence::Cut, [list] { list()->cut(); });
    actions.copy = edit->addAction(QStringLiteral("Copy"), QKeySequence::Copy, [list] { list()->copy(); });
    actions.paste = edit->addAction(QStringLiteral("Paste"), QKeySequence::Paste, [list] { list()->paste(); });
    const std::weak_ptr<KavioVideoItemManager> weakController = controller_;
    actions.duplicate = edit->addAction(QStringLiteral("Duplicate"), QKeySequence(Qt::CTRL | Qt::Key_D), [weakController] {
        if (const auto controller = weakController.lock())
            controller->duplicateSelectedItems();
    });
    actions.selectAll = edit->addAction(QStringLiteral("Select All"), QKeySequence::SelectAll, [list] { list()->selectAll(); });
    if (itemsView_)
        itemsView_->setEditActions(actions);
    return [list] {
        if (KavioItemsView* view = list())
            view->validateEditActions();
    };
}

void KavioMainInterface::buildPositionBar(QWidget* waveformStrip)
{
    auto* column = new QVBoxLayout(waveformStrip);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* bar = new QVTTimelineMarkerView;
    bar->setFixedHeight(30);
    column->addWidget(bar);
    auto* below = new KavioWaveformView;
    column->addWidget(below, 1);
    auto* indicator = new KavioPlayheadIndicator(below);
    indicator->resize(2, 200);
    // A thin busy bar in the strip's top right corner while waveforms are being built.
    auto* busy = new QProgressBar(below);
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setGeometry(4, 4, 60, 6);
    busy->hide();
    waveformStrip_ = std::make_shared<KavioWaveformStripOutlet>(below, busy);
    waveformManager_->setWaveformView(waveformStrip_);
    waveformManager_->setProgressIndicator(waveformStrip_);
    markerView_ = std::shared_ptr<QVTTimelineMarkerView>(bar, [](QVTTimelineMarkerView*) {});

    markerController_ = QVTTimelineMarkerController::init();
    markerController_->setMarkerView(markerView_);
    markerController_->setVideoItemManager(controller_);
    QVTTimelineMarkerView::Outlets outlets;
    outlets.controller = markerController_;
    outlets.videoItemManager = controller_;
    outlets.undoManager = undoManager_.get();
    outlets.playheadIndicatorOnWaveform = indicator;
    bar->setOutlets(outlets);

    KavioVideoItemManagerOutlets controls = controller_->outlets();
    controls.markerController = markerController_;
    controller_->setOutlets(controls);
}
