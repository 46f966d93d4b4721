#include "Views/KavioSeparatorView.h"

#include "Views/KavioControlStyle.h"

#include <QPainter>

using namespace KavioControlStyle;

void KavioSeparatorView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const double w = width(), h = height();
    if (w > h) {
        painter.fillRect(QRectF(0, h - 0.5, w, 1), grey(0.5, 0.5));
        painter.fillRect(QRectF(0, 0, w - 0.5, 1), grey(0.1));
    } else {
        painter.fillRect(QRectF(0, 0, 1, h), grey(0.1));
        painter.fillRect(QRectF(w - 1, 0, 1, h), grey(0.5, 0.5));
    }
}
