#include "Views/KavioCircularProgressIndicator.h"

#include "Log.h"
#include "Views/KavioControlStyle.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

void KavioCircularProgressIndicator::paintEvent(QPaintEvent*)
{
    if (maxValue_ <= 0)
        return;
    const double fraction = std::clamp(double(currentValue_) / double(maxValue_), 0.0, 1.0);
    KLOG_VERBOSE("value: {:f}", fraction);
    // The arc runs clockwise from the top to 90° + 359° × (1 − fraction): what it covers is the
    // rest of the circle, so the wedge grows with the value; at the end the arc is empty.
    const double end = 359.0 * (1.0 - fraction);
    if (end <= 0.0)
        return;
    const double sweep = 360.0 - end;
    const QPointF centre(width() / 2.0, height() / 2.0);
    const double radius = width() / 2.0;
    QPainterPath wedge(centre);
    wedge.arcTo(QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius), 90.0, -sweep);
    wedge.closeSubpath();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(wedge, KavioControlStyle::accent());
}
