#include "Views/KavioVideoItemView.h"

#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "Shell/AppDelegateInterface.h"
#include "UndoManager.h"
#include "Views/KavioFlippedGeometry.h"
#include "Views/KavioItemsView.h"
#include "Views/KavioThumbnailView.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>

namespace {

// Colour-tag tints over the row's background.
QColor tintForTag(std::int32_t tag)
{
    switch (tag) {
    case 10: return QColor::fromRgbF(0.976f, 0.376f, 0.337f, 0.09f);
    case 20: return QColor::fromRgbF(0.972f, 0.811f, 0.329f, 0.09f);
    case 30: return QColor::fromRgbF(0.372f, 0.815f, 0.396f, 0.09f);
    case 40: return QColor::fromRgbF(0.501f, 0.27f, 0.976f, 0.09f);
    case 50: return QColor::fromRgbF(0.947f, 0.1f, 0.806f, 0.09f);
    default: return {};
    }
}

QColor white(double w, double alpha = 1.0)
{
    return QColor::fromRgbF(float(w), float(w), float(w), float(alpha));
}

// The row's cue and the cue's row, for the drag: the uids travel, the rows are looked up.
QStringList uidsOf(const QMimeData* data)
{
    return QString::fromUtf8(data->data(kKavioItemTrackDataType)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

}  // namespace

KavioVideoItemView::KavioVideoItemView(QWidget* parent) : QWidget(parent)
{
    setAcceptDrops(true);
    resize(300, kExpandedHeight);
    mouseheldTimer_ = new QTimer(this);
    mouseheldTimer_->setSingleShot(true);
    mouseheldTimer_->setInterval(kHoldMilliseconds);
    connect(mouseheldTimer_, &QTimer::timeout, this, [this] { mouseWasHeld(); });
    QPointer<KavioVideoItemView> self(this);
    viewSelectedToken_ = NotificationCenter::defaultCenter().addObserver(
        this, QStringLiteral("KavioViewSelected"), nullptr,
        [self](const Notification& n) {
            if (self)
                self->kavioViewSelected(static_cast<const QObject*>(n.object));
        },
        &DispatchQueue::main());
}

KavioVideoItemView::~KavioVideoItemView()
{
    NotificationCenter::defaultCenter().removeObserver(viewSelectedToken_);
    KLOG_VERBOSE("KavioVideoItemView dealloc");
}

void KavioVideoItemView::removeResources()
{
    NotificationCenter::defaultCenter().removeObserver(viewSelectedToken_);
    viewSelectedToken_ = 0;
    setAcceptDrops(false);
    videoItem_.reset();
}

void KavioVideoItemView::showThumbnail(const QImage& image, bool isPage)
{
    if (!thumbnailView) {
        pendingThumbnail_ = image;
        pendingThumbnailIsPage_ = isPage;
        return;
    }
    if (isPage)
        thumbnailView->setThumbnailFromPDFPage(image);
    else
        thumbnailView->setThumbnailFromImage(image);
}

void KavioVideoItemView::showPendingThumbnail()
{
    if (!thumbnailView || pendingThumbnail_.isNull())
        return;
    showThumbnail(pendingThumbnail_, pendingThumbnailIsPage_);
    pendingThumbnail_ = QImage();
}

std::shared_ptr<KavioVideoItemManager> KavioVideoItemView::controller() const
{
    const auto item = videoItem();
    return item ? std::dynamic_pointer_cast<KavioVideoItemManager>(item->manager()) : nullptr;
}

void KavioVideoItemView::setDrawsDraggingLocation(bool draws)
{
    if (drawsDraggingLocation_ == draws)
        return;
    drawsDraggingLocation_ = draws;
    update();
}

void KavioVideoItemView::removeDraggingLocation()
{
    QPointer<KavioVideoItemView> self(this);
    DispatchQueue::main().async([self] {
        if (self)
            self->setDrawsDraggingLocation(false);
    });
}

bool KavioVideoItemView::isRelatedToObject(const QObject* object) const
{
    return !object || object == this || object->parent() == this;
}

void KavioVideoItemView::kavioViewSelected(const QObject* object)
{
    if (!isRelatedToObject(object)) {
        if (const auto item = videoItem())
            item->setIsSelected(false);
        if (const auto c = controller())
            c->setLastClickedItem(nullptr);
    }
    update();
    NotificationCenter::defaultCenter().post(kKavioSelectionChangedNotification);
}

// --- Look ---------------------------------------------------------------------------------------

void KavioVideoItemView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const double w = width();
    const double h = height();
    if (const auto item = videoItem()) {
        painter.fillRect(rect(), white(item->isSelected() ? 0.30 : 0.18));
        const QColor tint = tintForTag(item->colorTag());
        if (tint.isValid())
            painter.fillRect(rect(), tint);
    }
    if (drawsDraggingLocation_)
        painter.fillRect(KavioFlippedGeometry::rect({0, h - 2, w, 3.5}, h), QColor::fromRgbF(0.054f, 0.466f, 0.78f));
    else
        painter.fillRect(KavioFlippedGeometry::rect({0, h - 0.5, w, 1}, h), white(0.5, 0.5));
    painter.fillRect(KavioFlippedGeometry::rect({0, 0, w, 1}, h), white(0.1));
}

// --- Clicks -------------------------------------------------------------------------------------

void KavioVideoItemView::pressSelection(Qt::KeyboardModifiers modifiers)
{
    const auto item = videoItem();
    const auto c = controller();
    if (!item || !c)
        return;
    if (modifiers & Qt::ShiftModifier) {
        if (const auto last = c->lastClickedItem()) {
            const std::uint64_t a = last->index();
            const std::uint64_t b = item->index();
            c->selectItemsInPositionRange(std::min(a, b), std::max(a, b) - std::min(a, b));
        }
    }
    c->setLastClickedItem(item);
}

void KavioVideoItemView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        rightMouseDown(event->globalPosition().toPoint());
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    pressSelection(event->modifiers());
    const auto c = controller();
    if (!c || c->playbackMode() != 0)
        return;
    hasCachedEvent_ = true;
    cachedModifiers_ = event->modifiers();
    mouseheldTimer_->start();
}

void KavioVideoItemView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        mousePressEvent(event);
        return;
    }
    pressSelection(event->modifiers());
    mouseheldTimer_->stop();
    hasCachedEvent_ = false;
    const auto c = controller();
    if (c && c->playbackMode() == 0)
        c->jumpToItem(videoItem());
}

void KavioVideoItemView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    hasCachedEvent_ = false;
    mouseheldTimer_->stop();
    const auto item = videoItem();
    if (!item)
        return;
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const bool command = modifiers & Qt::ControlModifier;
    if (!command && !(modifiers & Qt::ShiftModifier))
        NotificationCenter::defaultCenter().post(kKavioDeselectAllItemsNotification);
    item->setIsSelected(command ? !item->isSelected() : true);
    NotificationCenter::defaultCenter().post(kKavioSelectionChangedNotification);
    update();
}

void KavioVideoItemView::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    hasCachedEvent_ = false;
}

void KavioVideoItemView::selectItemIfNotSelected()
{
    const auto item = videoItem();
    if (!item || item->isSelected())
        return;
    NotificationCenter::defaultCenter().post(kKavioDeselectAllItemsNotification);
    item->setIsSelected(true);
    update();
    if (const auto c = controller())
        c->setLastClickedItem(item);
    NotificationCenter::defaultCenter().post(kKavioSelectionChangedNotification);
}

void KavioVideoItemView::rightMouseDown(const QPoint& globalPosition)
{
    selectItemIfNotSelected();
    const auto item = videoItem();
    if (!item)
        return;
    const std::unique_ptr<QMenu> menu = item->rightClickMenu();
    if (menu)
        menu->exec(globalPosition);
}

// --- Reorder drag -------------------------------------------------------------------------------

void KavioVideoItemView::mouseWasHeld()
{
    if (!hasCachedEvent_)
        return;
    hasCachedEvent_ = false;
    const auto item = videoItem();
    const auto c = controller();
    if (!item || !c)
        return;
    if (!item->isSelected()) {
        if (!(cachedModifiers_ & (Qt::ControlModifier | Qt::ShiftModifier)))
            NotificationCenter::defaultCenter().post(kKavioDeselectAllItemsNotification);
        item->setIsSelected(true);
        NotificationCenter::defaultCenter().post(kKavioSelectionChangedNotification);
        update();
    }
    startReorderDrag();
}

QImage KavioVideoItemView::sourceImageForDrag(const std::vector<std::shared_ptr<KavioVideoItem>>& dragged) const
{
    const int n = int(dragged.size());
    QImage image(width() + 5 * (n - 1), 5 * n + 75, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    // Last cue first, each 5 further left and 5 higher: the first cue of the list ends on top.
    for (int k = 0; k < n; ++k) {
        const auto& cue = dragged[std::size_t(n - 1 - k)];
        KavioVideoItemView* row = cue->view();
        if (!row)
            continue;
        // A fresh rendering stands in for a capture of the screen.
        const QPixmap snapshot = row->grab();
        const QRectF upward(5.0 * (n - 1) - 5.0 * k, 5.0 * k, snapshot.width(), snapshot.height());
        painter.drawPixmap(KavioFlippedGeometry::rect(upward, image.height()).topLeft(), snapshot);
    }
    return image;
}

void KavioVideoItemView::startReorderDrag()
{
    const auto c = controller();
    if (!c)
        return;
    draggingItems_ = c->selectedItems();
    std::stable_sort(draggingItems_.begin(), draggingItems_.end(),
                     [](const auto& a, const auto& b) { return a->index() < b->index(); });
    if (draggingItems_.empty())
        return;
    const QImage picture = sourceImageForDrag(draggingItems_);
    QStringList uids;
    for (const auto& cue : draggingItems_) {
        uids << cue->uid();
        cue->hideIndexNumberBecauseOfDrag();
        if (KavioVideoItemView* row = cue->view())
            row->hide();  // the hidden rows keep their slots: the list shows a gap
    }
    auto* data = new QMimeData;
    data->setData(kKavioItemTrackDataType, uids.join(QLatin1Char('\n')).toUtf8());
    QPointer<KavioVideoItemView> self(this);
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    drag->setPixmap(QPixmap::fromImage(picture));
    drag->setHotSpot(QPoint(5, 5));
    QApplication::setOverrideCursor(Qt::ClosedHandCursor);
    drag->exec(Qt::MoveAction, Qt::MoveAction);
    QApplication::restoreOverrideCursor();
    if (self)
        endReorderDrag();
}

void KavioVideoItemView::endReorderDrag()
{
    const auto c = controller();
    if (c && c->undoGroupingStarted()) {
        c->setUndoGroupingStarted(false);
        if (const auto app = c->delegate()) {
            UndoManager& undo = app->undoManager();
            undo.endUndoGrouping();
            undo.setActionName(draggingItems_.size() < 2 ? QStringLiteral("Move Item") : QStringLiteral("Move Items"));
            undo.setActionIsDiscardable(true);
        }
    }
    for (const auto& cue : draggingItems_) {
        cue->restoreIndexNumberAfterDrag();
        if (KavioVideoItemView* row = cue->view())
            row->show();
    }
    draggingItems_.clear();
}

void KavioVideoItemView::dragEnterEvent(QDragEnterEvent* event)
{
    // Reorders come only from rows of this process, and only move.
    const bool ours = dynamic_cast<KavioVideoItemView*>(event->source()) != nullptr;
    const auto item = videoItem();
    const auto c = controller();
    if (!ours || !item || !c || !event->mimeData()->hasFormat(kKavioItemTrackDataType)
        || !(event->possibleActions() & Qt::MoveAction)) {
        event->ignore();
        return;
    }
    const QStringList uids = uidsOf(event->mimeData());
    const auto first = uids.isEmpty() ? nullptr : c->itemWithUID(uids.first());
    if (!c->undoGroupingStarted() && first && first->index() != item->index()) {
        if (const auto app = c->delegate()) {
            app->undoManager().beginUndoGrouping();
            c->setUndoGroupingStarted(true);
        }
    }
    c->moveItemsWithUIDs(uids, item->index());
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

void KavioVideoItemView::dragMoveEvent(QDragMoveEvent* event)
{
    if (!event->mimeData()->hasFormat(kKavioItemTrackDataType)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
    // The list's scroll view scrolls while the pointer is in its top or bottom band.
    if (auto* list = dynamic_cast<KavioItemsView*>(parentWidget()))
        list->autoscrollAt(mapTo(list, event->position().toPoint()));
}

void KavioVideoItemView::dropEvent(QDropEvent* event)
{
    if (!event->mimeData()->hasFormat(kKavioItemTrackDataType)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
}
