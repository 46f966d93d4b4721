#include "Controller/KavioVideoItemManager.h"

#include "Cue/KavioVideoItem.h"
#include "Shell/AppDelegateInterface.h"
#include "Log.h"
#include "UndoManager.h"

void KavioVideoItemManager::removeItems(const KavioVideoItemList& items, std::function<void()> completed)
{
    const auto app = delegate();
    UndoManager* undo = app ? &app->undoManager() : nullptr;
    // All the cues of one removal come back with one undo.
    if (undo && !items.empty())
        undo->beginUndoGrouping();
    const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
    for (const auto& cue : items) {
        if (cue == currentItem())
            setCurrentItem(nullptr);
        const QVariantMap record = cue->isMissing() && !cue->dataForRestoreIfMissing().isEmpty()
                                       ? cue->dataForRestoreIfMissing()
                                       : cue->saveData();
        removeItem(cue);
        if (undo) {
            undo->registerUndo(this, [weakSelf, record] {
                if (const auto self = weakSelf.lock())
                    self->restoreItemWithData(record);
            });
        }
    }
    if (undo && !items.empty()) {
        undo->setActionName(QStringLiteral("Remove Cue"));
        undo->endUndoGrouping();
    }
    if (!items.empty())
        handleItemsUpdatedWithScrollOption(0);
    if (completed)
        completed();
}

void KavioVideoItemManager::undoRemoveItemWithUID(const QString& uid)
{
    if (const auto cue = itemWithUID(uid))
        removeItems({cue}, {});
}
