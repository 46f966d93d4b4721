#include "Views/KavioPopUpButtonCell.h"

#include "Views/KavioControlStyle.h"

#include <QFontMetricsF>
#include <QPainter>

using namespace KavioControlStyle;

KavioPopUpButtonCell::KavioPopUpButtonCell() : drawColor_(restingColor()) {}

QFont KavioPopUpButtonCell::titleFont() { return lightFont(12.0); }

QString KavioPopUpButtonCell::shortenedTitle(const QString& title, const QFont& font, double frameWidth)
{
    const QFontMetricsF metrics(font);
    const double room = frameWidth - 26.0;
    if (metrics.horizontalAdvance(title) <= room)
        return title;
    const QString dots = QStringLiteral("...");
    for (qsizetype keep = title.size() - 3; keep > 0; keep -= 3) {
        const QString candidate = title.left(keep) + dots;
        if (metrics.horizontalAdvance(candidate) <= room)
            return candidate;
    }
    return dots;
}

void KavioPopUpButtonCell::drawWithFrame(QPainter& painter, const QRectF& frame)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color = enabled_ ? drawColor_ : withAlpha(drawColor_, 0.5);

    bezelPath_ = QPainterPath();
    bezelPath_.addRoundedRect(frame.adjusted(6.5, 2.0, -6.5, -2.0), 3.0, 3.0);
    painter.strokePath(bezelPath_, QPen(color, 1.0));

    const QFont font = titleFont();
    const QString shown = shortenedTitle(title_, font, frame.width());
    const QSizeF size = textSize(shown, font);
    drawText(painter, shown, font, color,
             {frame.center().x() - size.width() / 2 - 2.0, frame.center().y() - size.height() / 2});

    const double w = frame.width();
    const double midY = frame.center().y();
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    const QPointF up[3] = {{w - 16, midY - 1}, {w - 10, midY - 1}, {w - 13, midY - 5}};
    const QPointF down[3] = {{w - 16, midY + 1}, {w - 10, midY + 1}, {w - 13, midY + 5}};
    painter.drawPolygon(up, 3);
    painter.drawPolygon(down, 3);

    if (highlighted_)
        painter.fillPath(bezelPath_, grey(0.0, 0.3));
    painter.restore();
}
