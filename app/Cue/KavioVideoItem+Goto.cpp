#include "Cue/KavioVideoItem.h"

#include "NotificationCenter.h"

namespace {

// Extra width of the toggles box while the goto target label shows.
constexpr double kGotoTargetLabelWidth = 34.0;

}  // namespace

std::shared_ptr<KavioVideoItem> KavioVideoItem::gotoItem() const
{
    const auto controller = manager();
    const QString target = gotoItemUID_.load();
    if (!controller || target.isEmpty())
        return nullptr;
    return controller->itemWithUID(target);
}

void KavioVideoItem::setGotoItemUID(const QString& uid)
{
    // Only replacing one target by another is a change; the first target is not.
    const QString previous = gotoItemUID_.load();
    const bool targetChanged = !previous.isEmpty() && previous != uid;
    gotoItemUID_.store(uid);
    if (uid.isEmpty()) {
        gotoButton_.state = 0;
        gotoButton_.enabled = false;
        gotoTargetButton_.state = 0;
        gotoTargetButton_.enabled = false;
        gotoTargetButton_.title.clear();
        hideGotoTargetButton();
    } else {
        // An endless loop never reaches its end, so it can never go anywhere.
        const bool allowed = loopButton_.state == 0 || (loopButton_.state == 1 && loopCount() != KavioLoopCountEndless);
        gotoButton_.enabled = allowed;
        gotoTargetButton_.enabled = allowed;
        if (!allowed) {
            gotoButton_.state = 0;
            gotoTargetButton_.state = 0;
        }
        updateGotoItemIconAndButtonIfNeeded();
        // The refresh drops a target that does not exist; its label stays hidden then.
        if (!gotoItemUID_.load().isEmpty())
            showGotoTargetButton();
    }
    if (targetChanged && gotoButton_.enabled && gotoButton_.state == 1)
        NotificationCenter::defaultCenter().post(kKavioCueOSCAddressSpaceChangedNotification, this);
}

void KavioVideoItem::updateGotoItemIconAndButtonIfNeeded()
{
    if (const auto target = gotoItem()) {
        gotoButton_.imageName = target->index() > index() ? kKavioGotoDownImage : kKavioGotoUpImage;
        const QString targetCueID = target->cueID();
        gotoTargetButton_.title = targetCueID.isEmpty() ? QString::number(target->index()) : targetCueID;
        return;
    }
    // While a project loads the target may simply not have been created yet.
    const auto controller = manager();
    if (controller && controller->isLoadingProject())
        return;
    setGotoItemUID(QString());
    updateTransitionOnGotoItemChangeIfNeeded();
}

void KavioVideoItem::updateTransitionOnGotoItemChangeIfNeeded()
{
    if (gotoItem() && gotoButton_.state == 1 && hasTransition())
        setupTransition();
    updateTransitionIcon();
}

void KavioVideoItem::hideGotoTargetButton()
{
    if (gotoTargetButton_.hidden)
        return;
    gotoTargetButton_.hidden = true;
    togglesBoxSize_.setWidth(togglesBoxSize_.width() - kGotoTargetLabelWidth);
}

void KavioVideoItem::showGotoTargetButton()
{
    if (!gotoTargetButton_.hidden)
        return;
    gotoTargetButton_.hidden = false;
    togglesBoxSize_.setWidth(togglesBoxSize_.width() + kGotoTargetLabelWidth);
}

void KavioVideoItem::selectAndShowGotoTarget()
{
    if (const auto controller = manager())
        controller->selectAndScrollToItemAtCueID(gotoTargetButton_.title);
}

std::shared_ptr<KavioVideoItem> KavioVideoItem::nextItemToPlay() const
{
    if (gotoButton_.enabled && gotoButton_.state == 1)
        return gotoItem();
    return nextItem();
}

void KavioVideoItem::setNextItem(const std::shared_ptr<KavioVideoItem>& item)
{
    nextItem_.store(item);
    if (hasTransition())
        setupTransition();
    updateTransitionIcon();
}
