#include "Views/KavioTimecodeTextFieldCell.h"

#include "Views/KavioControlStyle.h"

#include <QFontMetricsF>
#include <QPainter>

using namespace KavioControlStyle;

KavioTimecodeTextFieldCell::KavioTimecodeTextFieldCell()
    : drawColor_(restingColor()), font_(lightFont(12.0))
{
}

QColor KavioTimecodeTextFieldCell::textColor() const
{
    return editable_ ? drawColor_ : withAlpha(restingColor(), 0.8);
}

void KavioTimecodeTextFieldCell::drawWithFrame(QPainter& painter, const QRectF& frame, const QString& text)
{
    textRect_ = QRectF(frame.x(), 0.0, frame.width(), QFontMetricsF(font_).height());
    painter.save();
    painter.setFont(font_);
    painter.setPen(textColor());
    painter.drawText(textRect_, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    painter.restore();
}
