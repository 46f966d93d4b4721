#include "Views/KavioVideoItemStateView.h"

#include "Views/KavioFlippedGeometry.h"

#include <QPainter>

KavioVideoItemStateView::KavioVideoItemStateView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void KavioVideoItemStateView::setDrawColor(std::optional<QColor> color)
{
    drawColor_ = color;
    update();
}

void KavioVideoItemStateView::paintEvent(QPaintEvent*)
{
    if (!drawColor_)
        return;
    QPainter painter(this);
    painter.fillRect(KavioFlippedGeometry::rect({0, 1, double(width()), double(height()) - 1}, height()), *drawColor_);
}
