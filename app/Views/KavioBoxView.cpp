#include "Views/KavioBoxView.h"

#include "Views/KavioControlStyle.h"

#include <QPainter>
#include <QPainterPath>

using namespace KavioControlStyle;

void KavioBoxView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath box;
    box.addRoundedRect(QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25), 3.0, 3.0);
    painter.fillPath(box, panelFill());
    painter.strokePath(box, QPen(outline(), 1.0));
}
