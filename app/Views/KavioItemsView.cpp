#include "Views/KavioItemsView.h"

#include "Clock/QVTClock.h"
#include "Controller/KavioCuePasteboard.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "Shell/AppDelegateInterface.h"
#include "Support/KavioAddons.h"
#include "Support/KavioButtonInterface.h"
#include "Support/KavioFonts.h"
#include "Views/KavioFlippedGeometry.h"
#include "Views/KavioVideoItemStateView.h"
#include "Views/KavioVideoItemView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCollator>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int kCueNumberCommitMilliseconds = 250;
constexpr int kAutoscrollBand = 10;
constexpr int kAutoscrollStep = 15;
constexpr int kRowAnimationMilliseconds = 150;

// The list's background tile: a fine dark stripe.
QBrush stripPattern()
{
    QImage tile(4, 4, QImage::Format_RGB32);
    tile.fill(QColor::fromRgbF(0.15f, 0.15f, 0.15f));
    for (int i = 0; i < 4; ++i)
        tile.setPixelColor(i, 3 - i, QColor::fromRgbF(0.165f, 0.165f, 0.165f));
    return QBrush(tile);
}

}  // namespace

KavioItemsView::KavioItemsView(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::ClickFocus);
    setAcceptDrops(true);
    cuenumTimer_ = new QTimer(this);
    cuenumTimer_->setSingleShot(true);
    cuenumTimer_->setInterval(kCueNumberCommitMilliseconds);
    connect(cuenumTimer_, &QTimer::timeout, this, [this] {
        const QString typed = cuenumcache_;
        cuenumcache_.clear();
        if (const auto c = manager())
            c->selectAndScrollToItemAtCueID(typed);
    });
    QPointer<KavioItemsView> self(this);
    auto& center = NotificationCenter::defaultCenter();
    deselectToken_ = center.addObserver(this, kKavioDeselectAllItemsNotification, nullptr, [self](const Notification&) {
        if (self)
            self->deselectAllItems();
    });
    resizeToken_ = center.addObserver(this, QStringLiteral("WindowResized"), nullptr, [self](const Notification&) {
        DispatchQueue::main().async([self] {
            if (self)
                self->updateHeight();
        });
    });
}

KavioItemsView::~KavioItemsView()
{
    NotificationCenter::defaultCenter().removeObserver(deselectToken_);
    NotificationCenter::defaultCenter().removeObserver(resizeToken_);
}

void KavioItemsView::setOutlets(const Outlets& outlets)
{
    if (outlets_.scrollArea)
        outlets_.scrollArea->viewport()->removeEventFilter(this);
    disconnect(scrolled_);
    outlets_ = outlets;
    if (outlets_.scrollArea) {
        outlets_.scrollArea->viewport()->installEventFilter(this);
        scrolled_ = connect(outlets_.scrollArea->verticalScrollBar(), &QScrollBar::valueChanged, this,
                            [this] { fillRowsNearView(); });
    }
}

bool KavioItemsView::repostToMain(std::function<void(KavioItemsView&)> task)
{
    if (DispatchQueue::isMainThread())
        return false;
    QPointer<KavioItemsView> self(this);
    DispatchQueue::main().async([self, task = std::move(task)] {
        if (self)
            task(*self);
    });
    return true;
}

KavioVideoItemView* KavioItemsView::rowOf(const std::shared_ptr<KavioVideoItem>& item) const
{
    return item ? item->view() : nullptr;
}

// --- Layout ---------------------------------------------------------------------------------------

bool KavioItemsView::eventFilter(QObject* watched, QEvent* event)
{
    // The list is as wide as the scroll area shows it.
    if (outlets_.scrollArea && watched == outlets_.scrollArea->viewport() && event->type() == QEvent::Resize) {
        const int w = outlets_.scrollArea->viewport()->width();
        if (w != width()) {
            resize(w, std::max(height(), outlets_.scrollArea->viewport()->height()));
            rearrangeItemsWithAnimation(false);
        }
    }
    return QWidget::eventFilter(watched, event);
}

QPointF KavioItemsView::rearrangeItemsWithAnimation(bool animate)
{
    const auto c = manager();
    if (!c)
        return {};
    if (!DispatchQueue::isMainThread()) {
        repostToMain([animate](KavioItemsView& view) { view.rearrangeItemsWithAnimation(animate); });
        std::lock_guard lock(framesMutex_);
        int bottom = 0;
        for (const QRect& frame : rowFrames_)
            bottom = std::max(bottom, frame.bottom() + 1);
        return QPointF(0, bottom);
    }
    const auto list = c->items();
    QHash<const KavioVideoItem*, QRect> frames;
    QRect visible;
    if (outlets_.scrollArea)
        visible = QRect(QPoint(0, outlets_.scrollArea->verticalScrollBar()->value()), outlets_.scrollArea->viewport()->size());
    int y = 0;
    for (const auto& item : *list) {
        KavioVideoItemView* row = rowOf(item);
        if (!row)
            continue;
        if (row->parentWidget() != this)
            row->setParent(this);  // shown when near the visible part
        const QRect frame(0, y, width(), row->height());
        frames.insert(item.get(), frame);
        y += frame.height();
        // Only rows on screen slide; the rest jump, so long lists stay cheap.
        const bool slides = animate && !visible.isNull() && (visible.intersects(frame) || visible.intersects(row->geometry()))
                            && row->pos() != frame.topLeft();
        if (slides) {
            auto* animation = new QPropertyAnimation(row, "pos", row);
            animation->setDuration(kRowAnimationMilliseconds);
            animation->setEndValue(frame.topLeft());
            animation->start(QAbstractAnimation::DeleteWhenStopped);
            row->resize(frame.size());
        } else {
            row->setGeometry(frame);
        }
    }
    // Rows of cues that left the list leave the view; their cues still own them.
    for (KavioVideoItemView* row : findChildren<KavioVideoItemView*>(Qt::FindDirectChildrenOnly)) {
        const auto item = row->videoItem();
        if (!item || !frames.contains(item.get())) {
            row->hide();
            row->setParent(nullptr);
        }
    }
    {
        std::lock_guard lock(framesMutex_);
        rowFrames_ = std::move(frames);
    }
    updateHeight();
    fillRowsNearView();
    update();
    return QPointF(0, y);
}

void KavioItemsView::fillRowsNearView()
{
    const auto c = manager();
    if (!c)
        return;
    QRect near = rect();
    if (outlets_.scrollArea) {
        // A screenful above and below the visible part: a wheel step or an autoscroll finds its
        // rows made.
        const int h = outlets_.scrollArea->viewport()->height();
        near = QRect(0, outlets_.scrollArea->verticalScrollBar()->value() - h, width(), 3 * h);
    }
    for (const auto& item : *c->items()) {
        KavioVideoItemView* row = rowOf(item);
        if (!row || row->parentWidget() != this)
            continue;
        // Rows far from view are hidden as well: Qt then skips them when the list moves its
        // rows or paints (a row being dragged stays as it is).
        const bool isNear = row->geometry().intersects(near);
        if (isNear && !row->hasSubviews())
            item->buildRowSubviews();
        if (row->isHidden() == isNear && row->draggingItems().empty())
            row->setVisible(isNear);
    }
}

void KavioItemsView::updateHeight()
{
    if (repostToMain([](KavioItemsView& view) { view.updateHeight(); }))
        return;
    float total = 15.0f;
    for (const QWidget* row : findChildren<KavioVideoItemView*>(Qt::FindDirectChildrenOnly))
        total += float(row->height());
    if (total > float(height()))
        resize(width(), int(std::ceil(total)));
}

void KavioItemsView::refreshItemsViewWithScrollOption(int option)
{
    if (repostToMain([option](KavioItemsView& view) { view.refreshItemsViewWithScrollOption(option); }))
        return;
    rearrangeItemsWithAnimation(false);
    if (!outlets_.scrollArea || option == 0)
        return;
    QScrollBar* bar = outlets_.scrollArea->verticalScrollBar();
    bar->setValue(option == 10 ? bar->minimum() : bar->maximum());
}

void KavioItemsView::scrollToItem(const std::shared_ptr<KavioVideoItem>& item)
{
    if (repostToMain([item](KavioItemsView& view) { view.scrollToItem(item); }))
        return;
    if (!outlets_.scrollArea || !item)
        return;
    std::lock_guard lock(framesMutex_);
    const auto frame = rowFrames_.constFind(item.get());
    if (frame != rowFrames_.constEnd())
        outlets_.scrollArea->ensureVisible(frame->center().x(), frame->center().y(), 0, frame->height() / 2);
}

bool KavioItemsView::isItemVisible(const std::shared_ptr<KavioVideoItem>& item) const
{
    if (!item)
        return false;
    std::lock_guard lock(framesMutex_);
    const auto frame = rowFrames_.constFind(item.get());
    if (frame == rowFrames_.constEnd())
        return false;
    if (!outlets_.scrollArea)
        return frame->intersects(rect());
    const QRect visible(QPoint(0, outlets_.scrollArea->verticalScrollBar()->value()), outlets_.scrollArea->viewport()->size());
    return frame->intersects(visible);
}

void KavioItemsView::refreshItem(const std::shared_ptr<KavioVideoItem>& item)
{
    if (repostToMain([item](KavioItemsView& view) { view.refreshItem(item); }))
        return;
    if (KavioVideoItemView* row = rowOf(item))
        row->update();
}

bool KavioItemsView::itemRowContainsPoint(const std::shared_ptr<KavioVideoItem>& item, const QPointF& point) const
{
    if (!item)
        return false;
    std::lock_guard lock(framesMutex_);
    const auto frame = rowFrames_.constFind(item.get());
    return frame != rowFrames_.constEnd() && QRectF(*frame).contains(point);
}

void KavioItemsView::moveStateViewToOrigin(const std::shared_ptr<KavioVideoItem>& item)
{
    if (repostToMain([item](KavioItemsView& view) { view.moveStateViewToOrigin(item); }))
        return;
    if (KavioVideoItemView* row = rowOf(item); row && row->stateView)
        row->stateView->move(0, 0);
}

void KavioItemsView::setStateViewHidden(const std::shared_ptr<KavioVideoItem>& item, bool hidden)
{
    if (repostToMain([item, hidden](KavioItemsView& view) { view.setStateViewHidden(item, hidden); }))
        return;
    if (KavioVideoItemView* row = rowOf(item); row && row->stateView)
        row->stateView->setHidden(hidden);
}

void KavioItemsView::setDrawsDraggingLocation(const std::shared_ptr<KavioVideoItem>& item, bool draws)
{
    if (!item)
        return;
    {
        // Clearing a mark the list never set changes nothing: a rebuilt queue clears every row,
        // and a long list would otherwise post a task per row.
        std::lock_guard lock(framesMutex_);
        if (draws)
            markedRows_.insert(item.get());
        else if (!markedRows_.remove(item.get()))
            return;
    }
    // The controller marks rows from its items queue; the rows change on the main thread.
    const auto mark = [item, draws](KavioItemsView& view) {
        if (KavioVideoItemView* row = view.rowOf(item))
            row->setDrawsDraggingLocation(draws);
    };
    if (!repostToMain(mark))
        mark(*this);
}

void KavioItemsView::becomeFirstResponder(bool onlyInActiveWindow)
{
    if (repostToMain([onlyInActiveWindow](KavioItemsView& view) { view.becomeFirstResponder(onlyInActiveWindow); }))
        return;
    if (!onlyInActiveWindow || window()->isActiveWindow())
        setFocus(Qt::OtherFocusReason);
}

bool KavioItemsView::isFirstResponder() const
{
    // The window's focus widget, whether or not the window is active now.
    return window()->focusWidget() == this;
}

void KavioItemsView::autoscrollAt(const QPoint& point)
{
    if (!outlets_.scrollArea)
        return;
    QScrollBar* bar = outlets_.scrollArea->verticalScrollBar();
    const int y = point.y() - bar->value();
    const int h = outlets_.scrollArea->viewport()->height();
    if (y >= h - kAutoscrollBand && y <= h)
        bar->setValue(bar->value() + kAutoscrollStep);
    else if (y >= 0 && y <= kAutoscrollBand)
        bar->setValue(bar->value() - kAutoscrollStep);
}

// --- Look -----------------------------------------------------------------------------------------

void KavioItemsView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), stripPattern());
    if (!findChildren<KavioVideoItemView*>(Qt::FindDirectChildrenOnly).isEmpty())
        return;
    const QString hint = QStringLiteral("You can drop files & folders here!");
    painter.setFont(KavioFonts::font(QStringLiteral("Helvetica-Light"), 12));
    const QSizeF text = painter.fontMetrics().size(Qt::TextSingleLine, hint);
    const QRectF upward(width() / 2.0 - text.width() / 2.0, height() / 2.0 - text.height() / 2.0 + 1, text.width(), text.height());
    const QRect box = KavioFlippedGeometry::rect(upward, height()).toAlignedRect();
    // The shadow lies one point above the text (offset (0, 1) upwards).
    painter.setPen(QColor::fromRgbF(0.1f, 0.1f, 0.1f));
    painter.drawText(box.translated(0, -1), Qt::AlignLeft | Qt::AlignVCenter, hint);
    painter.setPen(QColor::fromRgbF(0.36f, 0.36f, 0.36f));
    painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, hint);
}

// --- Mouse and keyboard ---------------------------------------------------------------------------

void KavioItemsView::mousePressEvent(QMouseEvent* event)
{
    QWidget::mousePressEvent(event);
    setFocus(Qt::MouseFocusReason);
    if (event->button() == Qt::LeftButton)
        KavioAddons::notifyIfClicked(this);
}

bool KavioItemsView::event(QEvent* event)
{
    // Tab belongs to the key table, not to the focus chain.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    }
    return QWidget::event(event);
}

void KavioItemsView::keyPressEvent(QKeyEvent* event)
{
    const auto c = manager();
    if (!c)
        return;
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const auto clock = c->masterClock();
    const bool followsTimecode = clock && (clock->isMTCSlave() || clock->isLTCSlave());
    switch (event->key()) {
    case Qt::Key_Up:
        if (modifiers & Qt::ShiftModifier)
            c->expandSelectionUp();
        break;
    case Qt::Key_Down:
        if (modifiers & Qt::ShiftModifier)
            c->expandSelectionDown();
        break;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        if ((modifiers & Qt::ControlModifier) && !c->isPlaying() && !followsTimecode && !c->removeSelectedItems()) {
            KLOG_VERBOSE("nothing to remove");
            QApplication::beep();
        }
        break;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        if (!c->isPlaying() && outlets_.mainTimecodeField)
            outlets_.mainTimecodeField->setFocus(Qt::TabFocusReason);
        break;
    case Qt::Key_Escape:
        if (outlets_.isMainDisplayOnFullscreen && outlets_.isMainDisplayOnFullscreen()) {
            if (outlets_.toggleFullscreen)
                outlets_.toggleFullscreen();
        } else {
            deselectAllItems();
            NotificationCenter::defaultCenter().post(kKavioSelectionChangedNotification);
        }
        break;
    case Qt::Key_PageUp:
        c->jumpToPrevItem();
        break;
    case Qt::Key_PageDown:
        c->jumpToNextItem();
        break;
    default:
        break;
    }
    const QString text = event->text();
    if (text.size() == 1 && (text.front().isLetterOrNumber() || text.front() == QLatin1Char('.')))
        cueNumberTyped(text);
    // Space and Return go by key, whatever the modifiers.
    if (event->key() == Qt::Key_Space) {
        if (const auto app = c->delegate())
            if (KavioButtonInterface* play = app->playButton()) {
                play->setState(play->state() == 1 ? 0 : 1);
                app->togglePlay();
            }
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && c->isJumpToSelectedItemEnabled())
        if (QAction* jump = c->outlets().jumpToAnyPlayMenuItem)
            jump->trigger();
}

void KavioItemsView::cueNumberTyped(const QString& character)
{
    cuenumTimer_->stop();
    cuenumcache_ = (cuenumcache_ + character).toUpper();
    cuenumTimer_->start();
}

// --- Selection and the edit menu ------------------------------------------------------------------

void KavioItemsView::selectAll()
{
    if (const auto c = manager())
        c->selectAllItems();
    for (KavioVideoItemView* row : findChildren<KavioVideoItemView*>(Qt::FindDirectChildrenOnly))
        row->update();
    update();
}

void KavioItemsView::deselectAllItems()
{
    if (repostToMain([](KavioItemsView& view) { view.deselectAllItems(); }))
        return;
    const auto c = manager();
    if (!c)
        return;
    for (const auto& item : c->selectedItems()) {
        item->setIsSelected(false);
        if (KavioVideoItemView* row = rowOf(item))
            row->update();
    }
}

void KavioItemsView::validateEditActions()
{
    const auto c = manager();
    const bool hasItems = c && !c->items()->empty();
    const bool hasSelection = c && !c->selectedItems().empty();
    // The window combines an action's own state with the application's validation.
    const auto enable = [](QAction* action, bool enabled) {
        if (!action)
            return;
        action->setProperty("kavioOwnEnabled", enabled);
        action->setEnabled(enabled);
    };
    enable(editActions_.selectAll, hasItems);
    enable(editActions_.copy, hasSelection);
    enable(editActions_.duplicate, hasSelection);
    enable(editActions_.cut, hasSelection && !c->isPlaying());
    enable(editActions_.paste, canPaste());
}

// --- Clipboard ------------------------------------------------------------------------------------

void KavioItemsView::copy()
{
    const auto c = manager();
    if (!c)
        return;
    // The records are taken now, not when pasted.
    QVariantList records;
    QVariantList summaries;
    for (const auto& item : c->selectedItems()) {
        records << item->saveData();
        summaries << item->sharedCueData();
    }
    QApplication::clipboard()->setMimeData(KavioCuePasteboard::mimeDataForRecords(records, summaries).release());
}

void KavioItemsView::cut()
{
    copy();
    if (const auto c = manager())
        c->removeSelectedItems();
}

void KavioItemsView::paste()
{
    const auto c = manager();
    if (!c)
        return;
    if (const auto records = KavioCuePasteboard::recordsFromMimeData(QApplication::clipboard()->mimeData()))
        c->pasteItemsWithData(*records);
}

bool KavioItemsView::canPaste() const
{
    return KavioCuePasteboard::recordsFromMimeData(QApplication::clipboard()->mimeData()).has_value();
}

// --- Drops ----------------------------------------------------------------------------------------

bool KavioItemsView::isPlayableFile(const QString& extension) const
{
    const QString bare = QString(extension).remove(QStringLiteral(" alias"));
    return KavioVideoItemManager::supportedVideoFormats().contains(bare)
           || KavioVideoItemManager::supportedImageFormats().contains(bare)
           || KavioVideoItemManager::supportedAudioFormats().contains(bare);
}

QStringList KavioItemsView::playableEntriesOfFolder(const QString& folder) const
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(names.begin(), names.end(), [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    QStringList paths;
    for (const QString& name : names)
        if (isPlayableFile(QFileInfo(name).suffix().toLower()))
            paths << folder + QLatin1Char('/') + name;
    return paths;
}

bool KavioItemsView::dropsRefused() const
{
    const auto c = manager();
    if (!c)
        return true;
    const auto clock = c->masterClock();
    return (clock && (clock->isMTCSlave() || clock->isLTCSlave())) || c->isTranscoding();
}

bool KavioItemsView::acceptsDroppedURLs(const QList<QUrl>& urls) const
{
    if (urls.isEmpty() || !urls.first().isLocalFile() || dropsRefused())
        return false;
    const QFileInfo first(urls.first().toLocalFile());
    if (first.isDir())
        return !playableEntriesOfFolder(first.filePath()).isEmpty();
    if (isPlayableFile(first.suffix().toLower()))
        return true;
    // A symbolic link stands in for an alias file: its target decides.
    return first.isSymLink() && first.exists() && isPlayableFile(QFileInfo(first.symLinkTarget()).suffix().toLower());
}

QStringList KavioItemsView::pathsForDroppedURLs(const QList<QUrl>& urls) const
{
    QStringList paths;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        KLOG_VERBOSE("current path: {}", path.toStdString());
        const QFileInfo info(path);
        if (info.isDir() && !info.isSymLink()) {
            paths << playableEntriesOfFolder(path);
        } else if (isPlayableFile(info.suffix().toLower())) {
            paths << path;
        } else if (info.isSymLink() && info.exists()) {
            const QFileInfo target(info.symLinkTarget());
            if (target.isDir())
                paths << playableEntriesOfFolder(target.filePath());
            else if (isPlayableFile(target.suffix().toLower()))
                paths << path;
        }
    }
    return paths;
}

void KavioItemsView::dragEnterEvent(QDragEnterEvent* event)
{
    lastDragPoint_ = QPoint();
    if (event->mimeData()->hasUrls() && (event->possibleActions() & Qt::CopyAction)
        && acceptsDroppedURLs(event->mimeData()->urls())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void KavioItemsView::dragMoveEvent(QDragMoveEvent* event)
{
    if (dropsRefused() || !event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    const QPoint location = event->position().toPoint();
    if (location != lastDragPoint_) {
        lastDragPoint_ = location;
        if (const auto c = manager())
            c->makeDragMarkerAtLocation(location);
    }
}

void KavioItemsView::dragLeaveEvent(QDragLeaveEvent*)
{
    lastDragPoint_ = QPoint();
    // A point outside every row: the marks clear and new cues go to the end.
    if (const auto c = manager())
        c->makeDragMarkerAtLocation(QPointF(-1, -1));
}

void KavioItemsView::dropEvent(QDropEvent* event)
{
    lastDragPoint_ = QPoint();
    const auto c = manager();
    if (!c || !event->mimeData()->hasUrls() || !(event->possibleActions() & Qt::CopyAction)) {
        event->ignore();
        return;
    }
    const QStringList paths = pathsForDroppedURLs(event->mimeData()->urls());
    event->setDropAction(Qt::CopyAction);
    event->setAccepted(!paths.isEmpty() && c->createItemsWithPathes(paths));
}
