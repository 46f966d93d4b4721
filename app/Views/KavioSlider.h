#pragma once
// KavioSlider: the program's horizontal slider, drawn by its KavioSliderCell, with a
// single-precision value and bounds, an OSC address its owner reads, and an undo cache
// (oldValue, +infinity at first). setFloatValue keeps the value within the bounds, as the
// inspector relies on. Redraws may be asked from any thread; during a drag every redraw covers
// the whole slider. Main thread otherwise.

#include "Support/KavioSliderInterface.h"
#include "Views/KavioSliderCell.h"

#include <QWidget>

#include <functional>
#include <limits>

class KavioSlider : public QWidget, public KavioSliderInterface {
    Q_OBJECT
public:
    explicit KavioSlider(QWidget* parent = nullptr);

    KavioSliderCell& cell() { return cell_; }

    float floatValue() const { return cell_.floatValue(); }
    void setFloatValue(float value);
    float minValue() const { return cell_.minValue(); }
    float maxValue() const { return cell_.maxValue(); }
    // The value is clamped into the new bounds.
    void setBounds(float minimum, float maximum);
    void setNumberOfTickMarks(int ticks);

    // --- KavioSliderInterface (the value as a double, 0..1 for a fader)
    double doubleValue() const override { return double(floatValue()); }
    void setDoubleValue(double value) override { setFloatValue(float(value)); }
    bool isEnabled() const override { return QWidget::isEnabled(); }
    void setEnabled(bool enabled) override;
    QString oscAddress() const override { return oscAddress_; }
    void setOSCAddress(const QString& address) override { oscAddress_ = address; }

    // What a drag runs at every value it sets.
    void setAction(std::function<void()> action) { action_ = std::move(action); }
    bool isDragging() const { return isDragging_; }
    float oldValue() const { return oldValue_; }
    void cacheToOldValue() { oldValue_ = floatValue(); }

    // Any thread: off the main thread the request moves to the main queue, same rectangle.
    void setNeedsDisplayInRect(const QRect& rect);
    QSize sizeHint() const override { return {120, 22}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void trackTo(double x);

    KavioSliderCell cell_;
    QString oscAddress_;
    std::function<void()> action_;
    bool isDragging_ = false;
    float oldValue_ = std::numeric_limits<float>::infinity();
};
