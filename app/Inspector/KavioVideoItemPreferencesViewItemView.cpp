#include "Inspector/KavioVideoItemPreferencesViewItemView.h"

#include "Support/PointConversion.h"

#include <QPainter>

KavioVideoItemPreferencesViewItemView::KavioVideoItemPreferencesViewItemView(QWidget* parent) : QWidget(parent)
{
    resize(300, kTitleBarHeight);
}

void KavioVideoItemPreferencesViewItemView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // Fills replace what lies beneath: no blending with the panel behind.
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const double w = width();
    const double h = height();
    // The rectangles are laid out from the bottom left, y growing upwards.
    const auto fill = [&](double y, double height, const QColor& color) {
        painter.fillRect(PointConversion::rectFromBottomLeft(h, QRectF(0, y, w, height)), color);
    };
    fill(0, h, QColor::fromRgbF(0.18f, 0.18f, 0.18f));
    fill(h - kTitleBarHeight, kTitleBarHeight, QColor::fromRgbF(0.15f, 0.15f, 0.15f));
    fill(h - kTitleBarHeight, 0.5, QColor::fromRgbF(0.1f, 0.1f, 0.1f));
    fill(h - 2.5, 1, QColor::fromRgbF(0.5f, 0.5f, 0.5f, 0.5f));
    fill(h - 1.5, 1, QColor::fromRgbF(0.1f, 0.1f, 0.1f));
}
