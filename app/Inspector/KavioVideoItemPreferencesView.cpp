#include "Inspector/KavioVideoItemPreferencesView.h"

#include "Inspector/KavioVideoItemPreferencesViewItem.h"
#include "Inspector/KavioVideoItemPreferencesViewItemView.h"
#include "Support/KavioFonts.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

KavioVideoItemPreferencesView::KavioVideoItemPreferencesView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setAutoFillBackground(false);
}

void KavioVideoItemPreferencesView::setDataSource(KavioVideoItemPreferencesViewDataSource* dataSource)
{
    dataSource_ = dataSource;
    if (dataSource_) {
        for (const auto& item : dataSource_->preferenceItems()) {
            if (QWidget* view = item->view()) {
                view->setParent(this);
                view->setHidden(shouldDrawThereAreNoItems_);
            }
        }
    }
    updateHeight();
}

int KavioVideoItemPreferencesView::floorHeight() const
{
    const QWidget* w = window();
    return (w && w != this ? w->height() : 0) - kWindowMargin;
}

void KavioVideoItemPreferencesView::updateHeight()
{
    int sum = 0;
    for (const QObject* child : children()) {
        const auto* view = qobject_cast<const QWidget*>(child);
        if (view && !view->isHidden())
            sum += view->height();
    }
    resize(width(), std::max(sum, floorHeight()));
}

void KavioVideoItemPreferencesView::setShouldDrawThereAreNoItems(bool flag)
{
    if (flag == shouldDrawThereAreNoItems_)
        return;
    shouldDrawThereAreNoItems_ = flag;
    for (QObject* child : children())
        if (auto* view = qobject_cast<QWidget*>(child))
            view->setHidden(flag);
    update();
}

void KavioVideoItemPreferencesView::setSectionOrigin(QWidget* view, double y)
{
    const int qtY = int(std::lround(height() - y - view->height()));
    if (view->pos() != QPoint(0, qtY))
        view->move(0, qtY);
}

void KavioVideoItemPreferencesView::paintEvent(QPaintEvent*)
{
    if (!shouldDrawThereAreNoItems_)
        return;
    QPainter painter(this);
    const QString text = QStringLiteral("No Cue Selected");
    const QFont font = KavioFonts::font(QStringLiteral("Helvetica-Light"), 18);
    const QSizeF size = QFontMetricsF(font).size(Qt::TextSingleLine, text);
    // Centred, a point above the middle (y-up), rounded outward to whole points.
    const double x = width() / 2.0 - size.width() / 2.0;
    const double yUp = height() / 2.0 - size.height() / 2.0 + 1;
    const double left = std::floor(x);
    const double bottom = std::floor(yUp);
    const double right = std::ceil(x + size.width());
    const double top = std::ceil(yUp + size.height());
    const QRectF rect(left, height() - top, right - left, top - bottom);
    painter.setFont(font);
    // The shadow: one point up, in a darker grey.
    painter.setPen(QColor::fromRgbF(0.1f, 0.1f, 0.1f));
    painter.drawText(rect.translated(0, -1), Qt::AlignCenter, text);
    painter.setPen(QColor::fromRgbF(0.36f, 0.36f, 0.36f));
    painter.drawText(rect, Qt::AlignCenter, text);
}
