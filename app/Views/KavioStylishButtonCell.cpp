#include "Views/KavioStylishButtonCell.h"

#include "Support/KavioAddons.h"
#include "Views/KavioControlStyle.h"

#include <QLinearGradient>
#include <QPainter>

using namespace KavioControlStyle;

void KavioStylishButtonCell::drawWithFrame(QPainter& painter, const QRectF& frame)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double side = frame.height() - 8.0;
    const QRectF box = QRectF(frame.x() + 2.0, frame.y() + 2.0, side, side).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(box, 3.0, 3.0);
    QLinearGradient gradient(box.topLeft(), box.bottomLeft());
    gradient.setColorAt(0.0, grey(0.15));
    gradient.setColorAt(1.0, grey(0.16));
    painter.fillPath(path, gradient);
    painter.strokePath(path, QPen(outline(), 1.0));

    const QFont font = lightFont(11.0);
    const QSizeF size = textSize(title(), font);
    drawText(painter, title(), font, restingColor(), {box.right() + 10.0, box.center().y() - size.height() / 2 + 1.0});

    if (iconImage_.isNull())
        iconImage_ = KavioAddons::tintImageWithColor(templateImage(QStringLiteral("kavio_check")), restingColor());
    if (state() == 1) {
        const double t = box.height() + 6.0;
        painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
        painter.drawImage(QRectF(2.0, box.center().y() - t / 2 - 2.0, t, t), iconImage_);
    }
    painter.restore();
}
