#include "Inspector/KavioVideoItemPreferencesViewItem.h"

#include "Inspector/KavioVideoItemPreferencesViewItemView.h"
#include "Support/KavioFonts.h"
#include "Views/KavioButton.h"
#include "Views/KavioButtonCell.h"

#include "Log.h"
#include "NotificationCenter.h"

#include <QLabel>
#include <QMouseEvent>

#include <functional>

namespace {

// The section's title, which toggles the section when clicked.
class ClickableTitle : public QLabel {
public:
    ClickableTitle(const QString& text, QWidget* parent, std::function<void()> clicked)
        : QLabel(text, parent), clicked_(std::move(clicked))
    {
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            clicked_();
    }

private:
    std::function<void()> clicked_;
};

constexpr int kTitleBar = KavioVideoItemPreferencesViewItemView::kTitleBarHeight;
constexpr int kMargin = KavioVideoItemPreferencesViewItemView::kBottomMargin;

}  // namespace

KavioVideoItemPreferencesViewItem::KavioVideoItemPreferencesViewItem(QWidget* contentView, const QString& title)
{
    view_ = new KavioVideoItemPreferencesViewItemView;
    const int width = contentView ? contentView->width() : view_->width();
    collapseExpandButton_ = new KavioButton(view_);
    collapseExpandButton_->setGeometry(6, 7, 16, 16);
    collapseExpandButton_->setButtonTypeCode(KavioButtonCell::Toggle);
    collapseExpandButton_->setImageName(QStringLiteral("kavio_collapse2"));
    collapseExpandButton_->setAction([this] { toggleCollapseExpand(); });
    itemTitle_ = new ClickableTitle(title, view_, [this] { toggleCollapseExpand(); });
    itemTitle_->setFont(KavioFonts::font(QStringLiteral("Helvetica-Bold"), 12));
    itemTitle_->setStyleSheet(QStringLiteral("color: rgb(200, 200, 200); background: transparent;"));
    itemTitle_->setGeometry(28, 0, width - 40, kTitleBar);
    // The top 30 points are the title bar; the content sits under it, 5 points above the bottom.
    const int contentHeight = contentView ? contentView->height() : 0;
    view_->resize(width, kTitleBar + contentHeight + kMargin);
    if (contentView) {
        contentView->setParent(view_);
        contentView->move(0, kTitleBar);
        contentView->show();
    }
    contentView_ = contentView;
    KLOG_VERBOSE("KavioVideoItemPreferenceView loaded");
}

KavioVideoItemPreferencesViewItem::~KavioVideoItemPreferencesViewItem()
{
    // A section view never taken in by a stacking view is still ours.
    if (view_ && !view_->parent())
        delete view_;
}

QString KavioVideoItemPreferencesViewItem::title() const
{
    return itemTitle_ ? itemTitle_->text() : QString();
}

void KavioVideoItemPreferencesViewItem::toggleCollapseExpand()
{
    if (isCollapsed_)
        expand();
    else
        collapse();
    NotificationCenter::defaultCenter().post(kKavioPreferencesViewItemCollapsedOrExpandedNotification, this);
}

void KavioVideoItemPreferencesViewItem::collapse()
{
    if (isCollapsed_ || !view_)
        return;
    isCollapsed_ = true;
    oldHeight_ = view_->height();
    // The top edge stays; the content, attached to it, falls out of the clipped area.
    view_->setGeometry(view_->x(), view_->y(), view_->width(), kTitleBar);
    collapseExpandButton_->cell().clearImageCache();
    collapseExpandButton_->setImageName(QStringLiteral("kavio_expand2"));
}

void KavioVideoItemPreferencesViewItem::expand()
{
    if (!isCollapsed_ || !view_)
        return;
    isCollapsed_ = false;
    view_->resize(view_->width(), int(oldHeight_));
    collapseExpandButton_->cell().clearImageCache();
    collapseExpandButton_->setImageName(QStringLiteral("kavio_collapse2"));
}
