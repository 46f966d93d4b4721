#pragma once
// Helpers of the control tests: pixels of cells drawn into images, and screenshots of widgets.

#include <QColor>
#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>

#include <functional>

class QPainter;
class QWidget;

namespace ViewsTest {

// Counts the paint events a widget receives and keeps the last one's rectangle.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget);
    int paints = 0;
    QRect lastRect;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// A transparent image of that size after `draw` painted into it.
QImage drawn(int width, int height, const std::function<void(QPainter&)>& draw);
// The pixel's colour with its alpha, un-premultiplied.
QColor pixel(const QImage& image, int x, int y);
// Colours equal within `tolerance` per channel (0..1), alpha included.
bool near(const QColor& a, const QColor& b, double tolerance = 0.02);
// Gives a screenshot panel the window grey of the program's panels.
void darkPanel(QWidget& panel, double white = 0.18);
// Grabs the widget (shown) as a PNG under the build tree's screenshots/ folder.
void saveScreenshot(QWidget& widget, const QString& name);

}  // namespace ViewsTest
