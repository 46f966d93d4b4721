#include "Controller/KavioVideoItemManager.h"

#include "Cue/KavioVideoItem.h"
#include "Support/KavioSliderInterface.h"
#include "DispatchQueue.h"

void KavioVideoItemManager::cueToggleChangedOnSelectedItems(int code, bool state)
{
    for (const auto& item : selectedItems()) {
        item->changeToggleToState(code, state);
        item->validateToggles();
    }
}

void KavioVideoItemManager::handleTransitionTimeChangeOnItem(const std::shared_ptr<KavioVideoItem>& item)
{
    // Called from the items queue too (validating the line): the marker is the main thread's.
    const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
    const std::weak_ptr<KavioVideoItem> weakItem = item;
    DispatchQueue::main().async([weakSelf, weakItem] {
        const auto self = weakSelf.lock();
        const auto changed = weakItem.lock();
        if (!self || !changed || changed != self->currentItem())
            return;
        if (const auto marker = self->outlets_.markerController.lock()) {
            marker->setTransitionStartTime(changed->transitionStartTimeFrames());
            marker->redrawMarkerView();
        }
    });
}

float KavioVideoItemManager::masterSliderValue() const
{
    return outlets_.masterSlider ? float(outlets_.masterSlider->doubleValue()) : 1.0f;
}
