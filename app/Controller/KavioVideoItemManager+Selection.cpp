#include "Controller/KavioVideoItemManager.h"

#include "Audio/KavioAudioStreamersManagerInterface.h"
#include "Audio/KavioWaveformManagerInterface.h"
#include "Clock/QVTClock.h"
#include "Controller/QVTTimelineMarkerControllerInterface.h"
#include "Cue/KavioVideoItem.h"
#include "Inspector/KavioVideoItemPreferencesControllerInterface.h"
#include "Shell/AppDelegateInterface.h"
#include "Support/KavioButtonInterface.h"
#include "Views/KavioItemsViewInterface.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "UndoManager.h"
#include "UserDefaults.h"

#include <QHash>

#include <algorithm>

namespace {

// Goto buttons jump this far before the end; each needs a cue at least that long.
constexpr std::int64_t kGotoSeconds[] = {10, 20, 30};

template <typename Predicate>
std::shared_ptr<KavioVideoItem> firstItemIn(const KavioVideoItemList& list, Predicate matches)
{
    const auto found = std::find_if(list.begin(), list.end(), matches);
    return found == list.end() ? nullptr : *found;
}

}  // namespace

// --- Selection --------------------------------------------------------------------------------

bool KavioVideoItemManager::repostToMain(std::function<void(KavioVideoItemManager&)> call)
{
    if (DispatchQueue::isMainThread())
        return false;
    DispatchQueue::main().async([weakSelf = weak_from_this(), call = std::move(call)] {
        if (const auto self = weakSelf.lock())
            call(*self);
    });
    return true;
}

void KavioVideoItemManager::postSelectionChanged() const
{
    NotificationCenter::defaultCenter().post(kKavioSelectionChangedNotification);
}

void KavioVideoItemManager::deselectAllItems()
{
    for (const auto& item : *items())
        item->setIsSelected(false);
    NotificationCenter::defaultCenter().post(kKavioDeselectAllItemsNotification);
}

void KavioVideoItemManager::setLastClickedItem(const std::shared_ptr<KavioVideoItem>& item)
{
    lastClickedItem_ = item;
    lastexpandindex_ = 0;
}

void KavioVideoItemManager::selectAsAnchor(const std::shared_ptr<KavioVideoItem>& item)
{
    deselectAllItems();
    item->setIsSelected(true);
    refreshItem(item);
    setLastClickedItem(item);
}

void KavioVideoItemManager::selectItem(const std::shared_ptr<KavioVideoItem>& item)
{
    if (repostToMain([item](KavioVideoItemManager& self) { self.selectItem(item); }))
        return;
    if (!item)
        return;
    selectAsAnchor(item);
    postSelectionChanged();
}

void KavioVideoItemManager::selectCurrentItem()
{
    if (repostToMain([](KavioVideoItemManager& self) { self.selectCurrentItem(); }))
        return;
    selectItem(currentItem());
}

void KavioVideoItemManager::stepSelection(bool forward)
{
    if (repostToMain([forward](KavioVideoItemManager& self) { self.stepSelection(forward); }))
        return;
    const long selected = forward ? indexOfLastSelectedItem() : indexOfFirstSelectedItem();
    const auto from = selected < 0 ? currentItem() : itemWithIndex(std::uint64_t(selected));
    const auto target = !from ? nullptr : forward ? from->nextItem() : from->prevItem();
    if (!target) {
        setLastClickedItem(nullptr);
        return;
    }
    deselectAllItems();
    target->setIsSelected(true);
    refreshItem(target);
    const auto view = outlets_.itemsView.lock();
    if (view && !view->isItemVisible(target))
        scrollToItem(target);
    setLastClickedItem(target);
    postSelectionChanged();
}

void KavioVideoItemManager::selectPreviousCue()
{
    stepSelection(false);
}

void KavioVideoItemManager::selectNextCue()
{
    stepSelection(true);
}

void KavioVideoItemManager::selectItems(const KavioVideoItemList& items)
{
    for (const auto& item : items) {
        if (item->isSelected())
            continue;
        item->setIsSelected(true);
        refreshItem(item);
    }
    postSelectionChanged();
}

void KavioVideoItemManager::selectItemsByColorTag(std::int32_t colorTag)
{
    for (const auto& item : *items()) {
        const bool selected = item->colorTag() == colorTag;
        if (item->isSelected() == selected)
            continue;
        item->setIsSelected(selected);
        refreshItem(item);
    }
    postSelectionChanged();
}

void KavioVideoItemManager::selectAllItems()
{
    setLastClickedItem(nullptr);
    for (const auto& item : *items())
        item->setIsSelected(true);
    postSelectionChanged();
}

void KavioVideoItemManager::setSelectionInPositionRange(std::uint64_t location, std::uint64_t length, bool selected)
{
    for (const auto& item : *items())
        if (item->index() >= location && item->index() - location <= length)
            item->setIsSelected(selected);
}

void KavioVideoItemManager::selectItemsInPositionRange(std::uint64_t location, std::uint64_t length)
{
    setSelectionInPositionRange(location, length, true);
}

void KavioVideoItemManager::deselectItemsInPositionRange(std::uint64_t location, std::uint64_t length)
{
    setSelectionInPositionRange(location, length, false);
}

void KavioVideoItemManager::expandSelectionUp()
{
    const auto anchorItem = lastClickedItem();
    if (indexOfFirstSelectedItem() < 0 || !anchorItem)
        return;
    const std::uint64_t anchor = anchorItem->index();
    std::uint64_t moving = lastexpandindex_ == 0 ? anchor : lastexpandindex_.load();
    if (moving <= anchor) {
        --moving;
        selectItemsInPositionRange(moving, 1);
    } else {
        deselectItemsInPositionRange(moving, 1);
        --moving;
    }
    lastexpandindex_ = std::max<std::uint64_t>(moving, 1);
    postSelectionChanged();
}

void KavioVideoItemManager::expandSelectionDown()
{
    const auto anchorItem = lastClickedItem();
    if (indexOfFirstSelectedItem() < 0 || !anchorItem)
        return;
    const std::uint64_t anchor = anchorItem->index();
    const std::uint64_t moving = lastexpandindex_ == 0 ? anchor : lastexpandindex_.load();
    if (moving < anchor)
        deselectItemsInPositionRange(moving - 1, 1);
    else
        selectItemsInPositionRange(moving, 1);
    lastexpandindex_ = std::min<std::uint64_t>(moving + 1, items()->size());
    postSelectionChanged();
}

void KavioVideoItemManager::toggleSelectedItemsWithItem(const std::shared_ptr<KavioVideoItem>& item)
{
    if (item && !item->isSelected()) {
        selectAsAnchor(item);
        postSelectionChanged();
    }
    // With no cue given there is nothing to expand: the Alt key then collapses every row.
    const bool collapse = !item || !item->isCollapsed();
    const auto app = delegate();
    const bool everyItem = app && app->altPressed();
    for (const auto& other : *items()) {
        if (!everyItem && !other->isSelected() && other != item)
            continue;
        if (collapse)
            other->setIsCollapsed(true);
        else
            other->expand();
    }
    rearrangeItemsWithAnimation(false);
    if (const auto view = outlets_.itemsView.lock())
        view->updateHeight();
}

void KavioVideoItemManager::selectAndScrollToItemAtCueID(const QString& cueID)
{
    if (const auto item = itemWithCueID(cueID)) {
        selectItem(item);
        scrollToItem(item);
    }
}

void KavioVideoItemManager::checkIfNeedsToSelectNextItemToPlay()
{
    const auto current = currentItem();
    if (!current)
        return;
    const auto selected = selectedItems();
    if (selected.size() > 1 || (selected.size() == 1 && selected.front() != current))
        return;
    if (const auto next = current->nextItemToPlay()) {
        selectItem(next);
        scrollToItem(next);
    }
}

KavioVideoItemList KavioVideoItemManager::itemsWithSelection(bool selected) const
{
    KavioVideoItemList matching;
    onItemsQueue([&] {
        for (const auto& item : *items_.load())
            if (item->isSelected() == selected)
                matching.push_back(item);
    });
    return matching;
}

KavioVideoItemList KavioVideoItemManager::selectedItems() const
{
    return itemsWithSelection(true);
}

KavioVideoItemList KavioVideoItemManager::notSelectedItems() const
{
    return itemsWithSelection(false);
}

long KavioVideoItemManager::indexOfFirstSelectedItem() const
{
    long first = -1;
    for (const auto& item : *items())
        if (item->isSelected() && (first < 0 || long(item->index()) < first))
            first = long(item->index());
    return first;
}

long KavioVideoItemManager::indexOfLastSelectedItem() const
{
    long last = -1;
    for (const auto& item : *items())
        if (item->isSelected())
            last = std::max(last, long(item->index()));
    return last;
}

// --- Lookups ----------------------------------------------------------------------------------

std::shared_ptr<KavioVideoItem> KavioVideoItemManager::itemWithUID(const QString& uid) const
{
    if (uid.isEmpty())
        return nullptr;
    return firstItemIn(*items(), [&](const auto& item) { return item->uid() == uid; });
}

std::shared_ptr<KavioVideoItem> KavioVideoItemManager::itemWithIndex(std::uint64_t index) const
{
    return firstItemIn(*items(), [&](const auto& item) { return item->index() == index; });
}

std::shared_ptr<KavioVideoItem> KavioVideoItemManager::itemWithName(const QString& name) const
{
    if (name.isEmpty())
        return nullptr;
    return firstItemIn(*items(), [&](const auto& item) { return item->cueName() == name; });
}

std::shared_ptr<KavioVideoItem> KavioVideoItemManager::itemWithCueID(const QString& cueID) const
{
    if (cueID.isEmpty())
        return nullptr;
    const auto list = items();
    if (auto byCueID = firstItemIn(*list, [&](const auto& item) { return item->cueID() == cueID; }))
        return byCueID;
    return firstItemIn(*list, [&](const auto& item) { return QString::number(item->index()) == cueID; });
}

std::uint64_t KavioVideoItemManager::itemIndexAtLocation(const QPointF& point) const
{
    const auto view = outlets_.itemsView.lock();
    if (!view)
        return 0;
    for (const auto& item : *items())
        if (view->itemRowContainsPoint(item, point))
            return item->index();
    return 0;
}

bool KavioVideoItemManager::shouldShowColorTags() const
{
    const auto list = items();
    return std::any_of(list->begin(), list->end(), [](const auto& item) { return item->colorTag() != 0; });
}

bool KavioVideoItemManager::isCurrentItemIsAvailableForPlayback() const
{
    const auto current = currentItem();
    return current && current->isReady();
}

// --- Moves and drops ----------------------------------------------------------------------------

bool KavioVideoItemManager::moveItemWithUID(const QString& uid, std::uint64_t toIndex)
{
    const auto item = itemWithUID(uid);
    const std::uint64_t from = item ? item->index() : 0;
    const std::uint64_t to = std::clamp<std::uint64_t>(toIndex, 1, std::max<std::size_t>(items()->size(), 1));
    if (item) {
        onItemsQueue([&] {
            // The cue at the target makes room on the side the moved cue comes from.
            if (const auto displaced = itemWithIndex(to))
                displaced->setIndex(from >= to ? to + 1 : to - 1);
            item->setIndex(to);
        });
    }
    buildItemQueue();
    rearrangeItemsWithAnimation(true);
    setClockAndItemStartTimeAfterJump();
    const auto app = delegate();
    if (item && app) {
        const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
        app->undoManager().registerUndo(this, [weakSelf, uid, from] {
            if (const auto self = weakSelf.lock())
                self->moveItemWithUID(uid, from);
        });
    }
    if (app)
        app->setHasUnsavedChanges(true);
    return item && from != to;
}

void KavioVideoItemManager::moveItemsWithUIDs(const QStringList& uids, std::uint64_t toIndex)
{
    if (uids.size() < 2) {
        for (const QString& uid : uids)
            moveItemWithUID(uid, toIndex);
        return;
    }
    // Moved one by one to toIndex + k, a block that a fast pointer carries over several rows
    // lands scattered; it goes in whole instead, at the last place where it still fits.
    const auto list = items();
    QStringList rest;
    for (const auto& item : *list)
        if (!uids.contains(item->uid()))
            rest << item->uid();
    QStringList block;
    for (const QString& uid : uids)
        if (itemWithUID(uid))
            block << uid;
    const std::size_t n = list->size();
    const std::uint64_t at = std::clamp<std::uint64_t>(toIndex, 1, std::max<std::uint64_t>(n - block.size() + 1, 1));
    QStringList order = rest;
    for (qsizetype k = 0; k < block.size(); ++k)
        order.insert(qsizetype(at - 1) + k, block[k]);
    reorderItems(order);
}

void KavioVideoItemManager::reorderItems(const QStringList& order)
{
    QStringList before;
    for (const auto& item : *items())
        before << item->uid();
    if (before == order)
        return;
    // One pass over the list: a lookup per uid would cost the square of a long list.
    QHash<QString, std::uint64_t> positions;
    positions.reserve(order.size());
    for (qsizetype i = 0; i < order.size(); ++i)
        positions.insert(order[i], std::uint64_t(i) + 1);
    onItemsQueue([&] {
        for (const auto& item : *items_.load())
            if (const auto position = positions.constFind(item->uid()); position != positions.constEnd())
                item->setIndex(*position);
    });
    buildItemQueue();
    rearrangeItemsWithAnimation(true);
    setClockAndItemStartTimeAfterJump();
    if (const auto app = delegate()) {
        const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
        app->undoManager().registerUndo(this, [weakSelf, before] {
            if (const auto self = weakSelf.lock())
                self->reorderItems(before);
        });
        app->setHasUnsavedChanges(true);
    }
}

void KavioVideoItemManager::makeDragMarkerAtLocation(const QPointF& point)
{
    const auto view = outlets_.itemsView.lock();
    onItemsQueue([&] {
        const auto list = items_.load();
        std::shared_ptr<KavioVideoItem> under;
        for (const auto& item : *list) {
            if (view)
                view->setDrawsDraggingLocation(item, false);
            if (!under && view && view->itemRowContainsPoint(item, point))
                under = item;
        }
        if (under)
            view->setDrawsDraggingLocation(under, true);
        newcueindex_ = under ? under->index() : list->size() + 1;
    });
}

// --- Layout and scrolling -------------------------------------------------------------------------

QPointF KavioVideoItemManager::rearrangeItemsWithAnimation(bool animate)
{
    const auto view = outlets_.itemsView.lock();
    const QPointF end = view ? view->rearrangeItemsWithAnimation(animate) : QPointF();
    for (const auto& item : *items())
        item->updateGotoItemIconAndButtonIfNeeded();
    return end;
}

void KavioVideoItemManager::refreshItemsViewWithScrollOption(int option)
{
    if (const auto view = outlets_.itemsView.lock())
        view->refreshItemsViewWithScrollOption(option);
}

void KavioVideoItemManager::scrollToItem(const std::shared_ptr<KavioVideoItem>& item)
{
    if (repostToMain([item](KavioVideoItemManager& self) { self.scrollToItem(item); }))
        return;
    const auto view = outlets_.itemsView.lock();
    if (item && view)
        view->scrollToItem(item);
}

void KavioVideoItemManager::scrollToCurrentItemIfNeeded()
{
    if (repostToMain([](KavioVideoItemManager& self) { self.scrollToCurrentItemIfNeeded(); }))
        return;
    if (defaults_.boolForKey(QStringLiteral("autoScrollToCurrentCue")))
        scrollToItem(currentItem());
}

// --- The current cue ----------------------------------------------------------------------------

void KavioVideoItemManager::updateControlsForCurrentItem(const std::shared_ptr<KavioVideoItem>& item)
{
    const KavioVideoItemManagerOutlets& o = outlets_;
    if (const auto waveform = o.waveformManager.lock()) {
        waveform->setCurrentItem(item);
        waveform->refreshWaveformView();
    }
    const auto marker = o.markerController.lock();
    if (!item) {
        if (marker)
            marker->setThrottlersEnabled(false);
        return;
    }
    if (marker)
        marker->setThrottlersEnabled(item->mediaType() == KavioMediaTypeMovie || item->mediaType() == KavioMediaTypeAudio);
    KavioButtonInterface* const buttons[] = {o.goto10Button, o.goto20Button, o.goto30Button};
    for (int i = 0; i < 3; ++i)
        if (buttons[i])
            buttons[i]->setEnabled(gotoFitsDuration(item->itemDuration(), kGotoSeconds[i]));
    const auto player = item->audioPlayer();
    const auto streamers = o.audioStreamersManager.lock();
    if (player && streamers && !player->channelMapping().isEmpty())
        streamers->setChannelMappingA(player->channelMapping());
}

void KavioVideoItemManager::setCurrentItem(const std::shared_ptr<KavioVideoItem>& item)
{
    // The clock thread calls this: the lock-free cell spares it a wait for the items queue,
    // which the main thread may be keeping busy with a rebuild.
    currentItem_.store(item);
    if (!item)
        lastrendereditem_.store({});
    KLOG_INFO("new current: {}", item ? long(item->index()) : 0L);

    const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
    // The controls belong to the main thread; the clock thread only hands them the cue.
    const auto updateControls = [weakSelf, item] {
        if (const auto self = weakSelf.lock())
            self->updateControlsForCurrentItem(item);
    };
    if (DispatchQueue::isMainThread())
        updateControls();
    else
        DispatchQueue::main().async(updateControls);
    DispatchQueue::main().async([weakSelf] {
        const auto self = weakSelf.lock();
        if (!self)
            return;
        if (const auto inspector = self->outlets_.itemPreferencesController.lock())
            inspector->handlePlayingRelatedOptions();
        self->updateMarkerSettingsToCurrentItem();
        const auto marker = self->outlets_.markerController.lock();
        const auto waveform = self->outlets_.waveformManager.lock();
        if (marker && waveform)
            waveform->redrawMinMaxOnWaveformWithMin(marker->inPointForWaveform(), marker->outPointForWaveform());
    });

    if (item && !isPlaying())
        item->allowTimeChangedNotifications();
    scrollToCurrentItemIfNeeded();
    sendCurrentCueOSCFeedback();
}

void KavioVideoItemManager::updateMarkerSettingsToCurrentItem()
{
    const auto marker = outlets_.markerController.lock();
    if (!marker)
        return;
    const int fps = masterClock_->framerate();
    marker->setIsMixing(false);
    marker->setCompFPS(std::uint64_t(fps));
    if (const auto item = currentItem()) {
        marker->setEnabled(true);
        marker->setCompTime(item->videoDuration());
        marker->setInTime(item->inTimeFramesForDisplay());
        marker->setTransitionStartTime(item->transitionStartTimeFrames());
        marker->setOutTime(item->outTimeFramesForDisplay() - 1);
        marker->setMarkerTime(item->currentPlayhead());
    } else {
        // Without a cue the bar shows an empty 10-second composition.
        marker->setEnabled(false);
        marker->setCompTime(10.0);
        marker->setInTime(0);
        marker->setTransitionStartTime(0);
        marker->setOutTime(std::int64_t(fps) * 10 - 1);
        marker->setMarkerTime(0);
    }
    marker->redrawMarkerView();
}

void KavioVideoItemManager::updateGotoItemUIDs()
{
    for (const auto& item : *items()) {
        item->setGotoItemUID(item->gotoItemUID());
        item->updateTransitionOnGotoItemChangeIfNeeded();
    }
}

void KavioVideoItemManager::setGotoOnCurrentToSelected()
{
    const auto current = currentItem();
    const auto inspector = outlets_.itemPreferencesController.lock();
    if (!current || !inspector)
        return;
    const auto selected = selectedItems();
    if (!selected.empty())
        inspector->undoChangeGotoItem(selected.front()->uid(), current->uid());
}

void KavioVideoItemManager::resetStateViews(const std::shared_ptr<KavioVideoItem>& current, bool updateNextMeter)
{
    const std::weak_ptr<KavioItemsViewInterface> weakView = outlets_.itemsView;
    DispatchQueue::main().async([weakView, current, updateNextMeter] {
        const auto next = current->nextItemToPlay();
        if (next && updateNextMeter)
            next->updateAudioMeter();
        const auto view = weakView.lock();
        if (!view)
            return;
        view->moveStateViewToOrigin(current);
        if (next) {
            view->setStateViewHidden(next, true);
            view->moveStateViewToOrigin(next);
        }
    });
}

void KavioVideoItemManager::checkIfCurrentCueIsProcessingTransitionAndHandleStateView()
{
    const auto current = currentItem();
    if (current && current->isProcessingTransition())
        resetStateViews(current, false);
}

void KavioVideoItemManager::checkIfCurrentCueIsNotProcessingTransitionToNextCueAndHandleStateView()
{
    const auto current = currentItem();
    if (current && !current->isProcessingTransitionToNextCueAtCurrentTime())
        resetStateViews(current, true);
}

void KavioVideoItemManager::showInFinderAllSelected()
{
    for (const auto& item : selectedItems())
        item->showInFinder();
}

void KavioVideoItemManager::toggleCollapseExpandCues()
{
    const KavioVideoItemList selected = selectedItems();
    toggleSelectedItemsWithItem(selected.empty() ? nullptr : selected.front());
}

void KavioVideoItemManager::setThumbnailTime()
{
    if (const auto current = currentItem())
        current->setAndGenerateThumbnailAtCurrentTime();
}
