#include "Views/KavioColorTagIndicatorButtonCell.h"

#include "Views/KavioControlStyle.h"

#include <QPainter>

void KavioColorTagIndicatorButtonCell::drawWithFrame(QPainter& painter, const QRectF& frame)
{
    const QColor color = KavioControlStyle::colorTagColor(colorTag_, drawsHighlight_);
    if (color.isValid())
        painter.fillRect(frame.adjusted(1.0, 1.0, -1.0, -1.0), color);
}
