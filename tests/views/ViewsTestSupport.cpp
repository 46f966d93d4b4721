#include "ViewsTestSupport.h"

#include <QDir>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

#include <cmath>

namespace ViewsTest {

PaintCounter::PaintCounter(QWidget* widget) { widget->installEventFilter(this); }

bool PaintCounter::eventFilter(QObject*, QEvent* event)
{
    if (event->type() == QEvent::Paint) {
        ++paints;
        lastRect = static_cast<QPaintEvent*>(event)->rect();
    }
    return false;
}

QImage drawn(int width, int height, const std::function<void(QPainter&)>& draw)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    draw(painter);
    painter.end();
    return image;
}

QColor pixel(const QImage& image, int x, int y) { return image.pixelColor(x, y).toRgb(); }

bool near(const QColor& a, const QColor& b, double tolerance)
{
    if (b.alphaF() == 0.0 || a.alphaF() == 0.0)
        return std::abs(a.alphaF() - b.alphaF()) <= tolerance;
    return std::abs(a.redF() - b.redF()) <= tolerance && std::abs(a.greenF() - b.greenF()) <= tolerance &&
           std::abs(a.blueF() - b.blueF()) <= tolerance && std::abs(a.alphaF() - b.alphaF()) <= tolerance;
}

void darkPanel(QWidget& panel, double white)
{
    panel.setAutoFillBackground(true);
    QPalette palette = panel.palette();
    palette.setColor(QPalette::Window, QColor::fromRgbF(float(white), float(white), float(white)));
    panel.setPalette(palette);
}

void saveScreenshot(QWidget& widget, const QString& name)
{
    const QString folder = QStringLiteral(KAVIO_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    widget.grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

}  // namespace ViewsTest
