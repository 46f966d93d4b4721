#include "Views/KavioOneLineBoxView.h"

#include "Views/KavioControlStyle.h"

#include <QPainter>

void KavioOneLineBoxView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const double w = width(), h = height();
    painter.fillRect(h > w ? QRectF(w / 2, 0, 1, h) : QRectF(0, h / 2, w, 1), KavioControlStyle::restingColor());
}
