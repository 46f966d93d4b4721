#include "Views/KavioTextFieldCell.h"

#include "Views/KavioControlStyle.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

using namespace KavioControlStyle;

KavioTextFieldCell::KavioTextFieldCell()
    : drawColor_(restingColor()), font_(lightFont(12.0)), placeholderFont_(font_), placeholderColor_(grey(0.4))
{
}

void KavioTextFieldCell::setPlaceholderStyle(const QFont& font, const QColor& color, Qt::Alignment alignment)
{
    placeholderFont_ = font;
    placeholderColor_ = color;
    placeholderAlignment_ = alignment;
}

QColor KavioTextFieldCell::textColor() const
{
    if (!editable_)
        return withAlpha(restingColor(), 0.8);
    return colorTag_ != 0 ? QColor(Qt::white) : drawColor_;
}

void KavioTextFieldCell::drawBox(QPainter& painter, const QRectF& frame) const
{
    QColor fill = panelFill();
    QColor stroke = outline();
    switch (colorTag_) {
    case 10:
    case 20:
    case 30:
    case 40:
    case 50:
        stroke = colorTagColor(colorTag_);
        fill = withAlpha(stroke, 0.09);
        break;
    default:
        break;
    }
    QPainterPath box;
    box.addRoundedRect(frame.adjusted(0.25, 0.25, -0.25, -0.25), 3.0, 3.0);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(box, fill);
    painter.strokePath(box, QPen(stroke, 1.0));
    painter.restore();
}

void KavioTextFieldCell::drawWithFrame(QPainter& painter, const QRectF& frame)
{
    drawBox(painter, frame);
    const bool monospaced = QFontInfo(font_).fixedPitch();
    const double height = QFontMetricsF(font_).height() + 2.0;
    textRect_ = QRectF(frame.x(), monospaced ? 3.0 : 1.0, frame.width() - (reservesGrip_ ? 10.0 : 0.0), height);
    drawInterior(painter);
}

void KavioTextFieldCell::drawInterior(QPainter& painter)
{
    const QRectF inner = textRect_.adjusted(3.0, 0, -3.0, 0);
    painter.save();
    painter.setClipRect(textRect_);
    if (text_.isEmpty() && !placeholder_.isEmpty()) {
        painter.setFont(placeholderFont_);
        painter.setPen(placeholderColor_);
        painter.drawText(inner, int(placeholderAlignment_ | Qt::AlignVCenter) | Qt::TextSingleLine, placeholder_);
    } else {
        painter.setFont(font_);
        painter.setPen(textColor());
        painter.drawText(inner, int(alignment_ | Qt::AlignVCenter) | Qt::TextSingleLine, text_);
    }
    painter.restore();
}
