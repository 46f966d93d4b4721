#pragma once
// The cue list view as the cue list controller drives it: the rows' layout, scrolling, redraws,
// hit-testing and drop indicators. The list view implements it; tests give a recording fake.
// Main thread, except the hit-testing and drop indicators, which the controller calls on its
// items queue (the view answers from geometry it keeps for that).

#include <QPointF>

#include <memory>

class KavioVideoItem;

class KavioItemsViewInterface {
public:
    virtual ~KavioItemsViewInterface() = default;

    // --- Cue list controller ------------------------------------------------------------------
    // Stacks the rows from the top in list order; answers the bottom end of the list.
    virtual QPointF rearrangeItemsWithAnimation(bool animate) = 0;
    // Lays out and scrolls: 0 none, 10 to the top, any other value to the end of the list.
    virtual void refreshItemsViewWithScrollOption(int option) = 0;
    // Scrolls so the cue's row shows, when it does not already.
    virtual void scrollToItem(const std::shared_ptr<KavioVideoItem>& item) = 0;
    // The cue's row lies (partly) inside the visible part of the list.
    virtual bool isItemVisible(const std::shared_ptr<KavioVideoItem>& item) const = 0;
    // Redraws the cue's row.
    virtual void refreshItem(const std::shared_ptr<KavioVideoItem>& item) = 0;
    // The list's height follows its rows after a collapse or expand.
    virtual void updateHeight() = 0;
    // The cue's row contains the point (list coordinates).
    virtual bool itemRowContainsPoint(const std::shared_ptr<KavioVideoItem>& item, const QPointF& point) const = 0;
    // The state view of the cue's row (its playing state and times) moves back to the row's
    // origin; hidden, it gives way to the transition's display.
    virtual void moveStateViewToOrigin(const std::shared_ptr<KavioVideoItem>& item) = 0;
    virtual void setStateViewHidden(const std::shared_ptr<KavioVideoItem>& item, bool hidden) = 0;
    // Shows or hides the drop-position marker of the cue's row.
    virtual void setDrawsDraggingLocation(const std::shared_ptr<KavioVideoItem>& item, bool draws) = 0;
    // The list takes its window's keyboard focus (at once when the window is active, else when
    // it next becomes active); with `onlyInActiveWindow`, only when its window is the active
    // one. Any thread: the change happens on the main thread.
    virtual void becomeFirstResponder(bool onlyInActiveWindow) = 0;
    // The list is its window's focus widget. Main thread.
    virtual bool isFirstResponder() const = 0;
};
