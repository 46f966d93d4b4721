#include "Views/KavioSliderCell.h"

#include "Views/KavioControlStyle.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>

using namespace KavioControlStyle;

namespace {
QLinearGradient knobGradient(const QRectF& rect)
{
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0.0, grey(0.6));
    gradient.setColorAt(1.0, grey(0.7));
    return gradient;
}
}  // namespace

double KavioSliderCell::fraction() const
{
    if (!(max_ > min_))
        return 0.0;
    return std::clamp((double(value_) - min_) / (double(max_) - min_), 0.0, 1.0);
}

QRectF KavioSliderCell::knobRectInFrame(const QRectF& frame) const
{
    const QRectF cellFrame = frame.adjusted(0, 1.0, 0, -1.0);
    return QRectF(cellFrame.x() + fraction() * (cellFrame.width() - kKnobWidth), cellFrame.y(), kKnobWidth,
                  cellFrame.height());
}

float KavioSliderCell::valueAtX(double x, const QRectF& frame) const
{
    const double span = frame.width() - kKnobWidth;
    const double f = span > 0 ? std::clamp((x - frame.x() - kKnobWidth / 2) / span, 0.0, 1.0) : 0.0;
    return float(min_ + f * (double(max_) - min_));
}

void KavioSliderCell::drawWithFrame(QPainter& painter, const QRectF& frame)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF cellFrame = frame.adjusted(0, 1.0, 0, -1.0);
    const QRectF track = cellFrame.adjusted(0.75, 6.0, -0.75, -6.0);
    if (track != track_) {
        track_ = track;
        trackPath_ = QPainterPath();
        trackPath_.addRoundedRect(track_, 2.0, 2.0);
    }
    painter.fillPath(trackPath_, panelFill());
    painter.strokePath(trackPath_, QPen(outline(), 1.0));

    QRectF fill = track_.adjusted(2.5, 2.15, -2.5, -2.15);
    if (ticks_ == 0) {
        fill.setWidth(fraction() * fill.width());
    } else if (max_ > min_) {
        // From the middle: −1 at the minimum, +1 at the maximum, whatever the range.
        const float p = (2.0f * value_ - min_ - max_) / (max_ - min_);
        const double half = double(p) * fill.width() / 2;
        const double middle = fill.center().x();
        fill = p > 0 ? QRectF(middle, fill.y(), half, fill.height())
                     : QRectF(middle + half, fill.y(), std::abs(half), fill.height());
    } else {
        fill.setWidth(0);
    }
    if (fill.width() > 0) {
        QPainterPath path;
        path.addRoundedRect(fill, 2.0, 2.0);
        painter.fillPath(path, knobGradient(fill));
    }
    painter.fillRect(QRectF(track_.x() + 3.0, track_.bottom() + 0.5, track_.width() - 5.5, 0.5), grey(0.5, 0.5));

    if (enabled_) {
        const QRectF knob = knobRectInFrame(frame);
        QPainterPath shape;
        if (ticks_ > 0) {
            shape.addRoundedRect(knob.adjusted(3.0, 0, -3.0, 0), 2.0, 2.0);
        } else {
            const QRectF k = knob.adjusted(0.5, 0.5, -0.5, -0.5);
            shape.moveTo(k.left(), k.top());
            shape.lineTo(k.right(), k.top());
            shape.lineTo(k.center().x(), k.bottom());
            shape.closeSubpath();
        }
        painter.fillPath(shape, knobGradient(knob));
        painter.strokePath(shape, QPen(outline(), 1.0));
    }
    painter.restore();
}
