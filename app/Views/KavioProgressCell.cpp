#include "Views/KavioProgressCell.h"

#include "Views/KavioControlStyle.h"

#include <QPainter>
#include <QPainterPath>

KavioProgressCell::KavioProgressCell() : font_(KavioControlStyle::lightFont(11.0)) {}

void KavioProgressCell::drawWithFrame(QPainter& painter, const QRectF& frame)
{
    painter.save();
    painter.setFont(font_);
    painter.setPen(KavioControlStyle::restingColor());
    painter.drawText(frame, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text_);
    const QRectF bar(3.0, frame.y() + frame.height() - 10.0, (frame.width() - 6.0) * double(progress_), 4.0);
    if (bar.width() > 3.0) {
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(bar, 3.0, 3.0);
        painter.fillPath(path, QColor::fromRgbF(0.0f, 0.556f, 0.929f, 1.0f));
    }
    painter.restore();
}
