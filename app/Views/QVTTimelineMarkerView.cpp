#include "Views/QVTTimelineMarkerView.h"

#include "Controller/QVTTimelineMarkerController.h"
#include "Log.h"
#include "Support/KavioFonts.h"
#include "UndoManager.h"
#include "Views/KavioFlippedGeometry.h"
#include "Views/KavioPlayheadIndicator.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>

#include <cmath>

namespace {

constexpr std::int64_t kNoTransition = 4294967295LL;

QColor white(double w, double alpha = 1.0)
{
    return QColor::fromRgbF(float(w), float(w), float(w), float(alpha));
}

// The tick step by pixels per frame; 0 for none.
int frameStep(double s)
{
    if (s > 10) return 1;
    if (s > 6) return 2;
    if (s > 3) return 5;
    if (s > 1.5) return 10;
    if (s > 1.1) return 15;
    return 0;
}

int secondStep(double p)
{
    if (p > 17) return 1;
    if (p > 9) return 2;
    if (p > 5) return 5;
    if (p > 2.5) return 10;
    if (p > 1.2) return 20;
    if (p > 0.6) return 30;
    return 0;
}

int minuteStep(double q, double f)
{
    if (q > 20 * f) return 1;
    if (q > 10 * f) return 2;
    if (q > 5 * f) return 5;
    if (q > 2.5 * f) return 10;
    if (q > 0.8 * f) return 30;
    return 60;
}

}  // namespace

QVTTimelineMarkerView::QVTTimelineMarkerView(QWidget* parent) : QWidget(parent)
{
    KLOG_VERBOSE("QVTTimelineMarkerView initWithFrame");
}

QRectF QVTTimelineMarkerView::qt(const QRectF& upward) const
{
    return KavioFlippedGeometry::rect(upward, height());
}

// --- Scales ---------------------------------------------------------------------------------------

std::int64_t QVTTimelineMarkerView::numberOfFrames() const
{
    const auto c = outlets_.controller.lock();
    if (!c)
        return 0;
    const double frames = double(c->compFPS()) * c->compTime() - 1.0;
    // A NaN or a length of no frames is no scale.
    return std::isfinite(frames) && frames > 0 ? std::int64_t(frames) : 0;
}

double QVTTimelineMarkerView::pixelsPerFrame() const
{
    const std::int64_t n = numberOfFrames();
    return n >= 2 && width() > 20 ? (width() - 20) / double(n) : 0.0;
}

float QVTTimelineMarkerView::markerTimeUnitInPixels() const
{
    const std::int64_t n = numberOfFrames();
    return n > 0 && width() > 20 ? float(double(n) / (width() - 20)) : 0.0f;
}

float QVTTimelineMarkerView::throttlerTimeUnitInPixels() const
{
    const auto c = outlets_.controller.lock();
    if (!c || numberOfFrames() == 0 || width() <= 20)
        return 0.0f;
    return float(c->compTime() * double(c->compFPS()) / (width() - 20));
}

float QVTTimelineMarkerView::markerPixelsForTime() const
{
    const auto c = outlets_.controller.lock();
    const std::int64_t n = numberOfFrames();
    if (!c || n == 0 || width() <= 20)
        return 0.0f;
    return float(double(c->markerTime()) * (width() - 20) / double(n));
}

float QVTTimelineMarkerView::throttlerPixelsForTime(std::int64_t frames) const
{
    const std::int64_t n = numberOfFrames();
    if (n == 0 || width() <= 20)
        return 0.0f;
    return float(double(frames) * (width() - 20) / double(n));
}

double QVTTimelineMarkerView::visibleWidth() const
{
    return visibleRegion().boundingRect().width() > 0 ? visibleRegion().boundingRect().width() : width();
}

QRectF QVTTimelineMarkerView::markerRect() const
{
    return {markerPixelsForTime(), 10, 20, 20};
}

QRectF QVTTimelineMarkerView::fullThrottlerRect() const
{
    const auto c = outlets_.controller.lock();
    if (!c)
        return {};
    const double in = throttlerPixelsForTime(c->inTime());
    return {in, 0, throttlerPixelsForTime(c->outTime()) - in + 20, 10};
}

QRectF QVTTimelineMarkerView::throttlerLeftRect() const
{
    const auto c = outlets_.controller.lock();
    return c ? QRectF(throttlerPixelsForTime(c->inTime()), 0, 10, 10) : QRectF();
}

QRectF QVTTimelineMarkerView::throttlerRightRect() const
{
    const auto c = outlets_.controller.lock();
    return c ? QRectF(throttlerPixelsForTime(c->outTime()) + 10, 0, 10, 10) : QRectF();
}

QRectF QVTTimelineMarkerView::transitionAreaRect() const
{
    const auto c = outlets_.controller.lock();
    if (!c || c->transitionStartTime() == kNoTransition)
        return {};
    const double start = throttlerPixelsForTime(c->transitionStartTime());
    return {start + 10, 0, throttlerPixelsForTime(c->outTime()) - start, 10};
}

// --- Drawing --------------------------------------------------------------------------------------

void QVTTimelineMarkerView::paintEvent(QPaintEvent* event)
{
    const auto c = outlets_.controller.lock();
    QPainter painter(this);
    const double h = height();
    if (c) {
        // The dirty rectangle, y upwards.
        const QRectF dirty = KavioFlippedGeometry::rect(QRectF(event->rect()), h);
        const std::int64_t n = numberOfFrames();
        const double s = pixelsPerFrame();
        const std::uint64_t fps = c->compFPS();
        const double length = c->compTime() + 1;
        const std::int64_t secs = std::isfinite(length) && length > 0 ? std::int64_t(length) : 0;
        const QColor fill = white(0.7);
        painter.setFont(KavioFonts::font(QStringLiteral("Helvetica"), 8));
        const auto label = [&](const QString& text, double x, double y) {
            const QSizeF size = painter.fontMetrics().size(Qt::TextSingleLine, text);
            painter.setPen(fill);
            painter.drawText(qt({x, y, size.width(), size.height()}), Qt::AlignLeft | Qt::AlignBottom, text);
        };
        if (!c->isMixing()) {
            // Frame ticks from one step left of the dirty rectangle to the first past its right.
            if (const int step = frameStep(s); step > 0) {
                std::int64_t first = std::int64_t(std::floor(dirty.x() / s));
                first = first / step * step - step;
                const std::int64_t end = std::int64_t(fps) * secs;
                for (std::int64_t i = std::max<std::int64_t>(first, 0); i < end; i += step) {
                    const double x = double(i) * s + 10;
                    painter.fillRect(qt({x, 0, 1, 12}), fill);
                    if (x > dirty.right())
                        break;
                }
            } else if (n == 1) {
                painter.fillRect(qt({width() - 10.0, 0, 1, 12}), fill);
            }
            const double p = double(fps) * s;
            if (const int step = secondStep(p); step > 0) {
                for (std::int64_t k = 0; k < secs; k += step) {
                    if (k == 0 || k % 60 == 0)
                        continue;
                    if (!QRectF(double(k) * p + 10, 0, 20, h).intersects(dirty))
                        continue;
                    label(QStringLiteral("%1s").arg(k % 60), double(k) * p + 12, 12);
                    painter.fillRect(qt({double(k) * p + 10, 0, 1, 20}), fill);
                }
            }
            const double q = p * 60;
            const int mstep = minuteStep(q, secs < 3600 ? 0.0 : 1.1);
            for (std::int64_t m = 0; m <= secs / 60; m += mstep) {
                const double x = double(m) * q + 10;
                if (!QRectF(x, 0, 29, h).intersects(dirty))
                    continue;
                if (m < 60) {
                    label(QStringLiteral("%1m").arg(m), x + 2, 17);
                    painter.fillRect(qt({x, 0, 1, 26}), fill);
                } else {
                    label(m % 60 == 0 ? QStringLiteral("%1h").arg(m / 60) : QStringLiteral("%1h%2m").arg(m / 60).arg(m % 60),
                          x + 2, 20);
                    painter.fillRect(qt({x, 0, 1, 29}), fill);
                }
            }
            if (n >= 4) {
                const double in = throttlerPixelsForTime(c->inTime());
                painter.fillRect(qt({in + 10, 0, throttlerPixelsForTime(c->outTime()) - in, 10}), white(0.6, 0.4));
                if (c->throttlersEnabled()) {
                    painter.fillRect(qt(throttlerLeftRect()), white(0.6));
                    painter.fillRect(qt(throttlerRightRect()), white(0.6));
                }
            }
            if (const QRectF area = transitionAreaRect(); area.width() > 1)
                painter.fillRect(qt(area), QColor::fromRgbF(0.254f, 0.57f, 0.62f, 0.55f));
        }
        if (c->enabled()) {
            float x = markerPixelsForTime();
            if (std::isnan(x)) {
                KLOG_WARN("error, origin is nan, fallback...");
                x = 0;
            }
            QPainterPath triangle;
            triangle.moveTo(KavioFlippedGeometry::point({x, 30}, h));
            triangle.lineTo(KavioFlippedGeometry::point({x + 20.0, 30}, h));
            triangle.lineTo(KavioFlippedGeometry::point({x + 10.0, 10}, h));
            triangle.closeSubpath();
            // The gradient runs downwards (angle 270): dark blue at the top, light at the tip.
            QLinearGradient gradient(KavioFlippedGeometry::point({x, 30}, h), KavioFlippedGeometry::point({x, 10}, h));
            gradient.setColorAt(0, QColor::fromRgbF(0.054f, 0.466f, 0.78f));
            gradient.setColorAt(1, QColor::fromRgbF(0.0f, 0.556f, 0.929f));
            painter.setRenderHint(QPainter::Antialiasing);
            painter.fillPath(triangle, gradient);
            painter.setRenderHint(QPainter::Antialiasing, false);
            painter.fillRect(qt({x + 9.0, 0, 2, 12}), QColor::fromRgbF(0.0f, 0.556f, 0.929f));
            if (KavioPlayheadIndicator* indicator = outlets_.playheadIndicatorOnWaveform)
                indicator->move(int(std::lround(x + 9.0)), indicator->y());
        }
    }
    painter.setPen(QPen(white(0.1), 1));
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

void QVTTimelineMarkerView::redrawMarker()
{
    const auto c = outlets_.controller.lock();
    if (!c || !c->enabled()) {
        update(qt(lastDrawRect_).toAlignedRect());
        return;
    }
    const double p = markerPixelsForTime();
    const double d = std::abs(p - lastDrawRect_.x());
    const double x0 = std::min(p, lastDrawRect_.x());
    if (d < 0.25)
        return;
    update(qt({x0, 0, d + 20, double(height())}).toAlignedRect());
    lastDrawRect_ = QRectF(p, 0, 20, height());
}

void QVTTimelineMarkerView::setPlayheadIndicatorHidden(bool hidden)
{
    if (outlets_.playheadIndicatorOnWaveform)
        outlets_.playheadIndicatorOnWaveform->setHidden(hidden);
}

// --- Mouse ----------------------------------------------------------------------------------------

void QVTTimelineMarkerView::markerMouseDown(bool moveTo, float x)
{
    const auto manager = outlets_.videoItemManager.lock();
    if (!manager)
        return;
    markerSelected_ = true;
    shouldwaitforcompletedhandler_ = true;
    const QPointer<QVTTimelineMarkerView> self(this);
    const std::weak_ptr<QVTTimelineMarkerController> weakController = outlets_.controller;
    manager->handleMarkerMouseDownWithCompletedHandler([self, weakController, moveTo, x] {
        if (!self)
            return;
        if (moveTo)
            if (const auto c = weakController.lock())
                c->moveMarkerToPos(x);
        self->shouldwaitforcompletedhandler_ = false;
        // A mouse-up that came while waiting is handled now.
        if (self->shouldprocessmouseupaftercompletedhandler_)
            self->mouseUp();
    });
}

void QVTTimelineMarkerView::mousePressEvent(QMouseEvent* event)
{
    throttlerSelected_ = throttlerRightSideSelected_ = throttlerLeftSideSelected_ = markerSelected_ = false;
    const auto c = outlets_.controller.lock();
    if (!c || event->button() != Qt::LeftButton)
        return;
    const QPointF p = KavioFlippedGeometry::point(event->position(), height());
    const QRectF hit(p.x(), p.y(), 1, 1);
    if (hit.intersects(markerRect())) {
        markerMouseDown(false, 0);
    } else if (hit.intersects(fullThrottlerRect())) {
        if (c->throttlersEnabled()) {
            if (hit.intersects(throttlerLeftRect()))
                throttlerLeftSideSelected_ = true;
            else if (hit.intersects(throttlerRightRect()))
                throttlerRightSideSelected_ = true;
            else
                throttlerSelected_ = true;
            helperXForThrottlerDragMe_ = float(p.x());
        }
    } else if (c->canMovePlayhead()) {
        markerMouseDown(true, float(p.x()));
    }
}

void QVTTimelineMarkerView::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const auto c = outlets_.controller.lock();
    if (!c)
        return;
    if (!undogroupingstarted_ && outlets_.undoManager) {
        outlets_.undoManager->beginUndoGrouping();
        undogroupingstarted_ = true;
    }
    // The controller takes x in the superview's coordinates.
    const double x = parentWidget() ? mapToParent(event->position()).x() : event->position().x();
    if (markerSelected_) {
        if (!(event->modifiers() & Qt::ShiftModifier))
            c->moveMarkerToPos(float(x));
    } else if (throttlerLeftSideSelected_ || throttlerRightSideSelected_ || throttlerSelected_) {
        c->throttlerMovedToPoint(x);
    }
}

void QVTTimelineMarkerView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        mouseUp();
}

void QVTTimelineMarkerView::mouseUp()
{
    if (shouldwaitforcompletedhandler_) {
        shouldprocessmouseupaftercompletedhandler_ = true;
        return;
    }
    shouldprocessmouseupaftercompletedhandler_ = false;
    throttlerSelected_ = throttlerRightSideSelected_ = throttlerLeftSideSelected_ = false;
    const auto c = outlets_.controller.lock();
    if (markerSelected_ && c) {
        if (c->canMovePlayhead()) {
            c->setCanMovePlayhead(false);
            markerSelected_ = false;
            const std::weak_ptr<QVTTimelineMarkerController> weakController = c;
            if (const auto manager = outlets_.videoItemManager.lock())
                manager->handleMarkerMouseUpWithCompletedHandler([weakController] {
                    if (const auto controller = weakController.lock())
                        controller->setCanMovePlayhead(true);
                });
        } else {
            KLOG_VERBOSE("--- skip playhead mouseup");
        }
    }
    if (undogroupingstarted_ && outlets_.undoManager) {
        outlets_.undoManager->endUndoGrouping();
        undogroupingstarted_ = false;
    }
}
