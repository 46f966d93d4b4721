#include "Views/KavioButtonCell.h"

#include "Support/KavioAddons.h"
#include "Views/KavioControlStyle.h"

#include <QPainter>

using namespace KavioControlStyle;

KavioButtonCell::KavioButtonCell() = default;
KavioButtonCell::~KavioButtonCell() = default;

void KavioButtonCell::drawWithFrame(QPainter& painter, const QRectF& frame)
{
    const bool stateful = buttonType_ == OnOff || buttonType_ == PushOnPushOff;
    shouldDrawAsOnState_ = stateful ? state_ != 0 : highlighted_;
    if (bordered_ && keyEquivalent_ == QStringLiteral("\r"))
        shouldDrawAsOnState_ = true;

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    drawBezel(painter, frame);
    drawInterior(painter, frame);
    if (highlighted_)
        painter.fillPath(bezelPath_, grey(0.0, 0.3));
    painter.restore();
}

void KavioButtonCell::drawBezel(QPainter& painter, const QRectF& frame)
{
    bezelPath_ = QPainterPath();
    bezelPath_.addRoundedRect(QRectF(frame.x(), frame.y(), frame.width(), frame.height() - 1.0).adjusted(1, 1, -1, -1),
                              2.0, 2.0);
    if (!bordered_)
        return;
    const QColor stroke = shouldDrawAsOnState_ ? accent() : enabled_ ? drawColor_ : withAlpha(restingColor(), 0.5);
    painter.strokePath(bezelPath_, QPen(stroke, 1.0));
}

QImage KavioButtonCell::imageWithColor(const QColor& color) { return imageCache_.imageWithColor(image_, color); }

void KavioButtonCell::drawImage(QPainter& painter, const QRectF& frame, const QImage& image)
{
    if (image.isNull())
        return;
    QSizeF size = image.size();
    size.scale(frame.size(), Qt::KeepAspectRatio);
    const QRectF target(frame.center().x() - size.width() / 2, frame.center().y() - size.height() / 2, size.width(),
                        size.height());
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(target, image);
    painter.restore();
}

void KavioButtonCell::drawInterior(QPainter& painter, const QRectF& frame)
{
    if (image_.isNull()) {
        drawTitle(painter, frame);
        return;
    }
    const auto alternateTinted = [this](const QColor& color) {
        return KavioAddons::tintImageWithColor(alternateImage_, color);
    };
    QImage image;
    if (!enabled_) {
        image = imageWithColor(shouldDrawAsOnState_ ? withAlpha(accent(), 0.65) : withAlpha(drawColor_, 0.5));
    } else {
        switch (buttonType_) {
        case OnOff:
            if (shouldTintWhenOnState_)
                image = imageWithColor(shouldDrawAsOnState_ ? accent() : drawColor_);
            else
                image = shouldDrawAsOnState_ ? imageWithColor(drawColor_) : alternateTinted(drawColor_);
            break;
        case MomentaryChange:
            image = imageWithColor(drawColor_);
            break;
        case MomentaryPushIn: {
            const QColor color = shouldDrawAsOnState_ ? withAlpha(drawColor_, 0.5) : drawColor_;
            image = shouldShowAlternateImage_ ? alternateTinted(color) : imageWithColor(color);
            break;
        }
        case Toggle:
            image = imageWithColor(withAlpha(drawColor_, 0.65));
            break;
        default:
            break;  // the other types draw no image
        }
    }
    drawImage(painter, frame, image);
}

QRectF KavioButtonCell::drawTitle(QPainter& painter, const QRectF& frame)
{
    if (title_.isEmpty())
        return {};
    const QFont font = lightFont(bordered_ ? 10.0 : 12.0);
    const QSizeF size = textSize(title_, font);
    QColor color;
    QPointF origin;
    if (bordered_) {
        color = shouldDrawAsOnState_ ? accent() : enabled_ ? drawColor_ : withAlpha(restingColor(), 0.5);
        origin = {frame.center().x() - size.width() / 2 + 0.5,
                  frame.center().y() - size.height() / 2 - (bezelStyle_ == kSmallSquareBezelStyle ? 1.0 : 0.0)};
    } else {
        color = shouldDrawAsOnState_ ? grey(0.1) : drawColor_;
        origin = {frame.center().x() - size.width() / 2, frame.center().y() - size.height() / 2 + 1.0};
    }
    return drawText(painter, title_, font, color, origin);
}
