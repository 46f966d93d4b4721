#include "Cue/KavioVideoItem.h"

#include "Log.h"

void KavioVideoItem::refreshTitle()
{
    // TODO(cue row): the row's name font and colours, the index field and the type column.
    setCueName(title());
}

void KavioVideoItem::expand()
{
    // TODO(cue row): the row, level meter and indicator frames and the collapse button's image.
    isCollapsed_.store(false);
}

void KavioVideoItem::setColorTag(std::int32_t tag)
{
    if (colorTag_.load() == tag)
        return;
    colorTag_.store(tag);
    colorTagButton_.hidden = tag == 0;
    if (tag == 0)
        KLOG_VERBOSE("colorTagButton is hidden!");
}

void KavioVideoItem::updateTransitionIcon()
{
    if (nextItemToPlay()) {
        transitionButton_.imageName = QStringLiteral("kavio_transition");
        transitionButton_.toolTip = QStringLiteral("Transition to Next Cue");
    } else {
        transitionButton_.imageName = QStringLiteral("kavio_transition_broken");
        transitionButton_.toolTip = QStringLiteral("No next Cue! - Transition to Next Cue");
    }
}
