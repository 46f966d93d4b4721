#include "Audio/QVTAudioMeteringChannelView.h"

#include "Support/PointConversion.h"
#include "Views/KavioControlStyle.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

const QColor kZone1 = QColor::fromRgbF(0.192f, 0.4f, 0.27f);
const QColor kZone2 = QColor::fromRgbF(0.345f, 0.596f, 0.301f);
const QColor kZone3 = QColor::fromRgbF(0.917f, 0.764f, 0.317f);
const QColor kOver = QColor(Qt::red);

}  // namespace

QVTAudioMeteringChannelView::QVTAudioMeteringChannelView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QColor QVTAudioMeteringChannelView::backgroundColor() { return KavioControlStyle::grey(0.15); }

std::vector<QVTAudioMeteringChannelView::Fill> QVTAudioMeteringChannelView::fillsForLevel(float level,
                                                                                          const QRectF& inner,
                                                                                          bool minimized)
{
    // Position on the scale: 0 at -120 dB, 1 at 0 dB, above 1 over full scale.
    const double p = std::isnan(level) ? 0.0 : double(level) / 120.0 + 1.0;
    std::vector<Fill> fills;
    if (!(p > 0.6))
        return fills;
    const double h = inner.height();
    const bool full = !minimized;
    const double zone1 = full ? 0.5 * h - 0.5 : 0.3 * h;
    const double zone2 = full ? 0.3 * h : 0.4 * h;
    const double zone3 = full ? 0.2 * h : 0.3 * h;
    const bool over = p > 1.0;
    // Zones are laid out upwards from the inner rectangle's bottom, then placed in it.
    auto add = [&](double y, double height, const QColor& color) {
        if (height > 0)
            fills.push_back({PointConversion::rectFromBottomLeft(h, QRectF(0, y, inner.width(), height))
                                 .translated(inner.topLeft()),
                             color});
    };
    add(0, std::min(1.0, (p - 0.6) / 0.15) * zone1, over ? kOver : kZone1);
    if (p > 0.75) {
        const double bottom2 = zone1 + (full ? 1 : 0);
        const double height2 = full ? zone2 - 2 : zone2;
        const double filled2 = std::min(1.0, (p - 0.75) / 0.15) * height2;
        add(bottom2, filled2, over ? kOver : kZone2);
        if (p > 0.9) {
            const double bottom3 = bottom2 + filled2 + (full ? 1 : 0);
            if (p >= 1.0)
                add(bottom3, zone3, kOver);
            else
                add(bottom3, (p - 0.9) / 0.1 * zone3, kZone3);
        }
    }
    return fills;
}

void QVTAudioMeteringChannelView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRectF bounds = rect();
    painter.fillRect(bounds, backgroundColor());
    for (const Fill& fill : fillsForLevel(channelLevel_, bounds.adjusted(1, 1, -1, -1), isMinimized_))
        painter.fillRect(fill.rect, fill.color);
}
