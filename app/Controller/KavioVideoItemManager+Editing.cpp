#include "Controller/KavioVideoItemManager.h"

#include "Audio/KavioAudioStreamersManagerInterface.h"
#include "Cue/KavioVideoItem.h"
#include "Shell/AppDelegateInterface.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "UndoManager.h"

#include <algorithm>

namespace {

QList<QVariantMap> recordsByIndexHighestFirst(const KavioVideoItemList& cues)
{
    QList<QVariantMap> records;
    for (const auto& cue : cues)
        records << cue->saveData();
    std::stable_sort(records.begin(), records.end(), [](const QVariantMap& a, const QVariantMap& b) {
        return a.value(QStringLiteral("index")).toULongLong() > b.value(QStringLiteral("index")).toULongLong();
    });
    return records;
}

}  // namespace

// --- Undo groups ------------------------------------------------------------------------------------

bool KavioVideoItemManager::beginEditGroup()
{
    const auto app = delegate();
    if (!app || undoGroupingStarted())
        return false;
    app->undoManager().beginUndoGrouping();
    setUndoGroupingStarted(true);
    return true;
}

void KavioVideoItemManager::endEditGroup(bool opened, const QString& actionName)
{
    const auto app = delegate();
    if (!app || !opened)
        return;
    if (!actionName.isEmpty())
        app->undoManager().setActionName(actionName);
    app->undoManager().endUndoGrouping();
    setUndoGroupingStarted(false);
}

// --- Duplicating ----------------------------------------------------------------------------------

void KavioVideoItemManager::duplicateSelectedItems()
{
    setLastClickedItem(nullptr);
    // From the bottom up, so the places of the cues still to be copied stay valid.
    const QList<QVariantMap> records = recordsByIndexHighestFirst(selectedItems());
    deselectAllItems();
    const bool opened = beginEditGroup();
    for (QVariantMap record : records) {
        record.remove(QStringLiteral("uid"));
        record.insert(QStringLiteral("index"), record.value(QStringLiteral("index")).toULongLong() + 1);
        createItemWithPath(record.value(QStringLiteral("mediaPath")).toString(), record, KavioCreateModeDuplicate);
    }
    endEditGroup(opened, QStringLiteral("Duplicate Cue"));
}

void KavioVideoItemManager::makeSeamlessLoopOfItem(const std::shared_ptr<KavioVideoItem>& item)
{
    if (!item)
        return;
    setLastClickedItem(nullptr);
    QVariantMap record = item->saveData();
    deselectAllItems();
    const bool opened = beginEditGroup();
    // The copy crosses back into the original: the pair plays as one endless loop.
    record.remove(QStringLiteral("uid"));
    record.insert(QStringLiteral("index"), qulonglong(item->index() + 1));
    record.insert(QStringLiteral("gotoitem"), item->uid());
    record.insert(QStringLiteral("gotoitemstate"), true);
    record.insert(QStringLiteral("transition"), true);
    createItemWithPath(record.value(QStringLiteral("mediaPath")).toString(), record, KavioCreateModeDuplicate);
    endEditGroup(opened, QStringLiteral("Make Seamless Loop"));
}

// --- Removing -------------------------------------------------------------------------------------

void KavioVideoItemManager::removeItems(const KavioVideoItemList& items, std::function<void()> completed)
{
    if (items.empty()) {
        if (completed)
            completed();
        return;
    }
    // One cue per step behind the sheet, each step a turn of the event loop so the bar is seen
    // moving; all the cues of one removal come back with one undo.
    loadingSheet_.open(outlets_.window, QStringLiteral("Removing cues…"), int(items.size()));
    const bool opened = beginEditGroup();
    const auto remaining = std::make_shared<std::size_t>(items.size());
    const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
    for (std::size_t i = 0; i < items.size(); ++i)
        DispatchQueue::main().asyncAfter(double(i) * kRemovalStepSeconds,
                                         [weakSelf, uid = items[i]->uid(), remaining, opened, completed] {
                                             const auto self = weakSelf.lock();
                                             if (!self)
                                                 return;
                                             self->undoRemoveItemWithUID(uid);
                                             self->loadingSheet_.advance(1);
                                             if (--*remaining > 0)
                                                 return;
                                             self->loadingSheet_.close();
                                             self->endEditGroup(opened, QStringLiteral("Remove Cue"));
                                             if (completed)
                                                 completed();
                                         });
}

bool KavioVideoItemManager::removeSelectedItems()
{
    KLOG_INFO("removeSelectedItems");
    setLastClickedItem(nullptr);
    const KavioVideoItemList selected = selectedItems();
    removeItems(selected, {});
    return !selected.empty();
}

void KavioVideoItemManager::undoRemoveItemWithUID(const QString& uid)
{
    KLOG_INFO("remove uid: {}", uid.toStdString());
    const auto cue = itemWithUID(uid);
    if (!cue)
        return;
    // A cue whose media is gone keeps the record it came from.
    const QVariantMap record = cue->isMissing() && !cue->dataForRestoreIfMissing().isEmpty()
                                   ? cue->dataForRestoreIfMissing()
                                   : cue->saveData();
    const bool wasCurrent = cue == currentItem();
    if (wasCurrent) {
        const auto next = cue->nextItem();
        const auto first = items()->empty() ? nullptr : items()->front();
        const auto successor = next ? next : first;
        if (next) {
            next->setOriginalItemStartSMPTETime(cue->originalItemStartSMPTETime());
            next->setupSMPTEStartAndEndTimes();
        }
        setCurrentItem(successor);
        if (successor)
            successor->markAsCurrent(true);
        // The only cue of the list leaves nothing to be current.
        if (currentItem() == cue)
            setCurrentItem(nullptr);
    }
    removeItem(cue);
    if (const auto current = currentItem(); wasCurrent && current)
        current->rewind();
    handleItemsUpdatedWithScrollOption(0);
    NotificationCenter::defaultCenter().post(kKavioSelectionChangedNotification);

    if (const auto app = delegate()) {
        const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
        app->undoManager().registerUndo(this, [weakSelf, record] {
            if (const auto self = weakSelf.lock())
                self->restoreItemWithData(record);
        });
        app->undoManager().setActionName(QStringLiteral("Remove Cue"));
    }
}

// --- Read-outs ------------------------------------------------------------------------------------

QString KavioVideoItemManager::smpteTimeLeftOnCurrentItem() const
{
    const QString none = QStringLiteral("-00:00:00:00");
    const auto current = currentItem();
    if (!current)
        return none;
    if (shouldTriggerNextItem()) {
        const auto next = current->nextItemToPlay();
        return next ? next->timeLeftSMPTE() : none;
    }
    return current->timeLeftSMPTE();
}

QString KavioVideoItemManager::smpteTimeElapsedOnCurrentItem() const
{
    const auto current = currentItem();
    return current ? current->currentTimeSMPTE() : QStringLiteral("00:00:00:00");
}
