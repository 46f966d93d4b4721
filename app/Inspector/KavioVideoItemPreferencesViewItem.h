#pragma once
// One collapsible section of the cue inspector: a section view (title bar and frame) holding
// the section's content view under its title bar, 5 points above its bottom. The content view
// keeps its distance to the section's top edge whatever the section's height, so collapsing to
// the 30-point title bar hides it and expanding brings back the height the section had.
// The section refers to its views; the stacking view owns them. Main thread.

#include "Inspector/KavioVideoItemPreferencesViewItemView.h"
#include "Views/KavioButton.h"

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QString>

// Posted on the default centre, the section as object, after the operator toggled a section.
inline const QString kKavioPreferencesViewItemCollapsedOrExpandedNotification =
    QStringLiteral("KavioPreferencesViewItemCollapsedOrExpanded");

class KavioVideoItemPreferencesViewItem : public QObject {
    Q_OBJECT
public:
    // Builds the section view around `contentView` (taken in as a child of the section view):
    // the section becomes 30 + content height + 5 high; expanded.
    KavioVideoItemPreferencesViewItem(QWidget* contentView, const QString& title);
    ~KavioVideoItemPreferencesViewItem() override;

    // Collapses an expanded section or expands a collapsed one, then posts
    // "KavioPreferencesViewItemCollapsedOrExpanded". A click on the title or the disclosure
    // button runs it.
    void toggleCollapseExpand();
    // Change the state without posting; nothing when already in that state.
    void collapse();
    void expand();

    bool isCollapsed() const { return isCollapsed_; }
    // Only stores the flag.
    void setIsCollapsed(bool collapsed) { isCollapsed_ = collapsed; }
    double oldHeight() const { return oldHeight_; }
    QString title() const;

    KavioButton* collapseExpandButton() const { return collapseExpandButton_; }
    QLabel* itemTitle() const { return itemTitle_; }
    KavioVideoItemPreferencesViewItemView* view() const { return view_; }
    QWidget* contentView() const { return contentView_; }

private:
    double oldHeight_ = 0;
    bool isCollapsed_ = false;
    QPointer<KavioButton> collapseExpandButton_;
    QPointer<QLabel> itemTitle_;
    QPointer<KavioVideoItemPreferencesViewItemView> view_;
    QPointer<QWidget> contentView_;
};
