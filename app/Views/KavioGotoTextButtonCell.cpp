#include "Views/KavioGotoTextButtonCell.h"

#include "Views/KavioControlStyle.h"

#include <QPainter>

using namespace KavioControlStyle;

void KavioGotoTextButtonCell::drawBezel(QPainter& painter, const QRectF& frame)
{
    bezelPath_ = QPainterPath();
    bezelPath_.addRect(frame);
    if (title().isEmpty())
        return;
    const QRectF box(frame.x(), frame.y() + 2.5, frame.width(), frame.height() - 5.0);
    if (isBordered())
        painter.fillRect(box, shouldDrawAsOnState() ? accent()
                              : isEnabled()         ? drawColor()
                                                    : withAlpha(restingColor(), 0.5));
    const QFont font = lightFont(10.0);
    const QSizeF size = textSize(title(), font);
    drawText(painter, title(), font, panelFill(),
             {frame.center().x() - size.width() / 2, frame.center().y() - size.height() / 2 + 1.0});
}
