#include "Controller/KavioVideoItemManager.h"

#include "Clock/QVTClock.h"
#include "Cue/KavioVideoItem.h"
#include "Inspector/KavioVideoItemPreferencesControllerInterface.h"
#include "Remote/KavioHyperDeckServerInterface.h"
#include "Shell/AppDelegateInterface.h"
#include "Support/KavioButtonInterface.h"
#include "Views/KavioItemsViewInterface.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "QVTOSCManager.h"
#include "QVTOSCSenderNode.h"

#include <algorithm>

// --- List primitives --------------------------------------------------------------------------

void KavioVideoItemManager::insertItem(const std::shared_ptr<KavioVideoItem>& item, std::uint64_t index)
{
    onItemsQueue([&] {
        auto list = std::make_shared<KavioVideoItemList>(*items_.load());
        if (!isLoadingProject())
            for (const auto& other : *list)
                if (other->index() >= index)
                    other->setIndex(other->index() + 1);
        item->setIndex(index);
        list->push_back(item);
        items_.store(std::move(list));
    });
}

void KavioVideoItemManager::removeItem(const std::shared_ptr<KavioVideoItem>& item)
{
    onItemsQueue([&] {
        auto list = std::make_shared<KavioVideoItemList>(*items_.load());
        list->erase(std::remove(list->begin(), list->end(), item), list->end());
        items_.store(std::move(list));
    });
}

void KavioVideoItemManager::replaceItemAtPosition(std::uint64_t position, const std::shared_ptr<KavioVideoItem>& item)
{
    onItemsQueue([&] {
        const auto current = items_.load();
        if (position < 1 || position > current->size())
            return;
        auto list = std::make_shared<KavioVideoItemList>(*current);
        item->setIndex((*list)[position - 1]->index());
        (*list)[position - 1] = item;
        items_.store(std::move(list));
    });
}

// --- Laying the cues on the timeline -----------------------------------------------------------

std::int64_t KavioVideoItemManager::nextStartFrameAfter(const KavioVideoItem& item) const
{
    const std::int64_t following = masterClock_->frameCountSMPTEString(item.itemEndSMPTETime()) + 1;
    if (!item.hasTransition())
        return following;
    // The next cue starts inside this one by the transition's length, whole frames toward zero.
    return static_cast<std::int64_t>(double(following) - double(masterClock_->framerate()) * item.transitionTime());
}

void KavioVideoItemManager::buildItemQueueWithChangingItems(bool changing)
{
    const auto app = delegate();
    KavioButtonInterface* loopButton = app ? app->loopButton() : nullptr;
    const bool playlistLoops = loopButton && loopButton->state() == 1;
    const auto itemsView = outlets_.itemsView.lock();

    itemsQeue_->sync([&] {
        auto sorted = std::make_shared<KavioVideoItemList>(*items_.load());
        // Stable: cues of equal index keep their list order, which a move relies on.
        std::stable_sort(sorted->begin(), sorted->end(),
                         [](const auto& a, const auto& b) { return a->index() < b->index(); });
        const KavioVideoItemListSnapshot snapshot = std::move(sorted);
        items_.store(snapshot);
        const KavioVideoItemList& list = *snapshot;

        bool firstLoopsToItself = false;
        if (!list.empty()) {
            const auto& first = list.front();
            firstLoopsToItself = first->nextItem() == first;
            first->setPrevItem(nullptr);
            first->setItemStartCMTime(MediaTime::makeWithSeconds(masterClock_->clockOffset(), MediaTime::kCueTimescale));
            first->setupSMPTEStartAndEndTimes();
        }
        for (std::size_t i = 0; i < list.size(); ++i) {
            const auto& item = list[i];
            if (changing) {
                item->setIndex(i + 1);
                if (itemsView)
                    itemsView->setDrawsDraggingLocation(item, false);
            }
            if (i + 1 == list.size())
                break;
            if (changing) {
                // A cue keeping its next cue keeps its transition icon: only a transition is made
                // again (the times may have moved), so a long list does not redraw every row.
                if (item->nextItem() != list[i + 1])
                    item->setNextItem(list[i + 1]);
                else if (item->hasTransition())
                    item->setupTransition();
                list[i + 1]->setPrevItem(item);
            }
            const std::int64_t start = nextStartFrameAfter(*item);
            if (const auto next = item->nextItem()) {
                next->setOriginalItemStartSMPTETime(masterClock_->smpteRepresentationOfFrames(std::uint64_t(std::max<std::int64_t>(start, 0))));
                next->setupSMPTEEndTimeWithStartFrames(start);
            }
        }
        masterClock_->setMaxClockSMPTETime(list.empty() ? QString() : list.back()->itemEndSMPTETime());

        if (changing && !list.empty()) {
            const auto& last = list.back();
            if (playlistLoops) {
                last->setNextItem(list.front());
                if (list.size() == 1 && !isLoadingProject() && last->isReady())
                    last->setupLoopHelper();
            } else {
                last->setNextItem(nullptr);
            }
        }
        newcueindex_ = list.size() + 1;

        if (!isLoadingProject() && !isDroppingInMultipleFiles()) {
            for (const auto& item : list)
                item->validateTransition();
            if (!list.empty() && (firstLoopsToItself || list.size() == 1)) {
                const std::weak_ptr<KavioVideoItem> first = list.front();
                DispatchQueue::main().async([first] {
                    if (const auto item = first.lock())
                        item->validateToggles();
                });
            }
        }
    });

    if (const auto inspector = outlets_.itemPreferencesController.lock())
        inspector->videoItemsUpdated(items());
    if (const auto server = outlets_.hyperDeckServer.lock())
        server->refreshPlaylist();
    sendCurrentCueOSCFeedback();
}

void KavioVideoItemManager::rebuildItemTimesAfter(const std::shared_ptr<KavioVideoItem>& item, bool transitioning)
{
    if (!item)
        return;
    onItemsQueue([&] {
        const auto list = items_.load();
        const auto first = list->empty() ? nullptr : list->front();
        auto cue = item;
        // Links are only as sound as the last rebuild: never walk more cues than the list holds.
        for (std::size_t steps = 0; steps < list->size(); ++steps) {
            const auto next = cue->nextItem();
            if (!next || next == first)
                break;
            const std::int64_t start = nextStartFrameAfter(*cue);
            if (transitioning) {
                const QString smpte = masterClock_->smpteRepresentationOfFrames(std::uint64_t(std::max<std::int64_t>(start, 0)));
                next->setOriginalItemStartSMPTETime(smpte);
                KLOG_VERBOSE("{} setOriginalItemStartSMPTETime: {}", next->index(), smpte.toStdString());
                if (next == currentItem())
                    setClockAndItemStartTimeAfterJump();
            }
            next->setupSMPTEEndTimeWithStartFrames(start);
            cue = next;
        }
    });
    setMaxClockToLastItemEnd();
    if (transitioning)
        markProjectChangedForTRT();
}

void KavioVideoItemManager::rebuildItemTimesByLoopingItem(const std::shared_ptr<KavioVideoItem>& item)
{
    rebuildItemTimesAfter(item, false);
}

void KavioVideoItemManager::rebuildItemTimesByTransitioningItem(const std::shared_ptr<KavioVideoItem>& item)
{
    rebuildItemTimesAfter(item, true);
}

void KavioVideoItemManager::setMaxClockToLastItemEnd() const
{
    const auto list = items();
    masterClock_->setMaxClockSMPTETime(list->empty() ? QString() : list->back()->itemEndSMPTETime());
}

void KavioVideoItemManager::markProjectChangedForTRT() const
{
    if (const auto app = delegate()) {
        app->setShouldForceDisplayBecauseOfTRTChange(true);
        app->setHasUnsavedChanges(true);
    }
}

void KavioVideoItemManager::loopingTurnedOnOnItem(const std::shared_ptr<KavioVideoItem>&)
{
    setMaxClockToLastItemEnd();
}

void KavioVideoItemManager::loopingTurnedOffOnItem(const std::shared_ptr<KavioVideoItem>& item)
{
    rebuildItemTimesByLoopingItem(item);
}

void KavioVideoItemManager::handleItemLoopsAfterProjectLoadOrItemsUpdated()
{
    const auto list = items();
    const auto looping = std::find_if(list->begin(), list->end(), [](const auto& item) { return item->isLooping(); });
    if (looping != list->end())
        loopingTurnedOnOnItem(*looping);
}

void KavioVideoItemManager::handleItemsUpdated(int scrollOption, bool itemsChanged)
{
    buildItemQueueWithChangingItems(itemsChanged);
    refreshItemsViewWithScrollOption(scrollOption);
    const auto current = currentItem();
    if (current && current->isLooping())
        current->setLoopCounter(0);
    if (!current) {
        QVTOSCSenderNode& node = QVTOSCManager::sharedManager().defaultSenderNode();
        node.setSourceForCurrentAddress(QString());
        node.setSourceForPreviousAddress(QString());
        node.setSourceForNextAddress(QString());
    }
    if (!isLoadingProject())
        setClockAndItemStartTimeAfterJump();
    handleItemLoopsAfterProjectLoadOrItemsUpdated();
    validateTransport();
    if (!isLoadingProject())
        markProjectChangedForTRT();
}

void KavioVideoItemManager::refreshItem(const std::shared_ptr<KavioVideoItem>& item)
{
    if (const auto view = outlets_.itemsView.lock())
        view->refreshItem(item);
}

QString KavioVideoItemManager::projectTRT() const
{
    QString trt = QStringLiteral("00:00:00:00");
    onItemsQueue([&] {
        const auto list = items_.load();
        if (list->empty())
            return;
        const auto& last = list->back();
        const double seconds = last->itemStartCMTime().seconds() + double(last->itemDuration()) - masterClock_->clockOffset();
        const std::int64_t frames = masterClock_->frameCountSMPTEString(masterClock_->smpteRepresentationOfTime(seconds));
        // A list of zero frames ends where it starts.
        trt = masterClock_->smpteRepresentationOfFrames(std::uint64_t(std::max<std::int64_t>(frames - 1, 0)));
    });
    return trt;
}
