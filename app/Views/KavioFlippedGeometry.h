#pragma once
// The views' drawing is described with y growing upwards from the bottom edge; Qt's grows
// downwards from the top. Every such rectangle and point passes through here, so there is one
// conversion: qt_y = H - y - h.

#include <QPointF>
#include <QRectF>

namespace KavioFlippedGeometry {

// The rectangle (x, y, w, h), y upwards, in a view of height `viewHeight`, in Qt coordinates.
inline QRectF rect(const QRectF& r, double viewHeight)
{
    return {r.x(), viewHeight - r.y() - r.height(), r.width(), r.height()};
}

// A point y upwards, in Qt coordinates (and back: the conversion is its own inverse).
inline QPointF point(const QPointF& p, double viewHeight)
{
    return {p.x(), viewHeight - p.y()};
}

}  // namespace KavioFlippedGeometry
