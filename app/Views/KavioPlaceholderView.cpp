#include "Views/KavioPlaceholderView.h"

#include "Views/KavioControlStyle.h"

#include <QPainter>

using namespace KavioControlStyle;

void KavioPlaceholderView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const double w = width(), h = height();
    painter.fillRect(rect(), grey(0.18));
    QRectF dark, light;
    if (h > w && drawsOnRightSide_) {
        dark = QRectF(w - 1, 0, 1, h);
        light = QRectF(0, 0, 1, h);
    } else if (h > w) {
        dark = QRectF(0, 0, 1, h);
        light = QRectF(1, 0, 1, h);
    } else {
        dark = QRectF(0, h - 1, w, 1);
        light = QRectF(0, h - 2, w, 0.5);
    }
    painter.fillRect(dark, grey(0.1));
    painter.fillRect(light, grey(0.5, 0.5));
}
