#include "Support/PointConversion.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace PointConversion {

QScreen* currentScreenForMouseLocation()
{
    const QPoint mouse = QCursor::pos();
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->geometry().contains(mouse)) {
            return screen;
        }
    }
    return nullptr;
}

QPointF convertPointToScreenCoordinates(const QRectF& screenFrame, QPointF p)
{
    const float x = float(std::fabs(std::fabs(screenFrame.x()) - std::fabs(p.x())));
    const float y = float(p.y() - screenFrame.y());
    return {x, y};
}

QPointF flipPoint(const QRectF& screenFrame, QPointF p)
{
    return {p.x(), screenFrame.height() - p.y()};
}

QRectF rectFromBottomLeft(double viewHeight, const QRectF& rect)
{
    return {rect.x(), viewHeight - rect.y() - rect.height(), rect.width(), rect.height()};
}

}  // namespace PointConversion
