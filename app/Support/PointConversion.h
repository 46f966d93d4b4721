#pragma once
// Coordinate helpers. A screen is given by its frame in global coordinates.

#include <QPointF>
#include <QRectF>

class QScreen;

namespace PointConversion {

// The screen under the mouse: the first of the screen list whose frame contains it, or nullptr.
QScreen* currentScreenForMouseLocation();
// A global point relative to the screen: x = | |frame.x| - |p.x| |, y = p.y - frame.y, each
// rounded to single precision.
QPointF convertPointToScreenCoordinates(const QRectF& screenFrame, QPointF p);
// Flips the vertical axis within the screen: (p.x, frame.height - p.y).
QPointF flipPoint(const QRectF& screenFrame, QPointF p);
// A rectangle laid out from the bottom left of a view `viewHeight` tall (y growing upwards), in
// the view's own top-left coordinates: (x, viewHeight - y - height, width, height).
QRectF rectFromBottomLeft(double viewHeight, const QRectF& rect);

}  // namespace PointConversion
