#pragma once
// How a KavioSlider draws: a dark rounded track, a grey fill up to the value (from the middle
// when the slider has tick marks), a thin light line under the track, and the knob (a triangle,
// or a rounded bar with tick marks) only while enabled. Tests draw it into an image. Main thread.

#include <QPainterPath>
#include <QRectF>

class QPainter;

class KavioSliderCell {
public:
    void drawWithFrame(QPainter& painter, const QRectF& frame);

    float floatValue() const { return value_; }
    void setFloatValue(float value) { value_ = value; }
    float minValue() const { return min_; }
    float maxValue() const { return max_; }
    void setBounds(float minimum, float maximum) { min_ = minimum, max_ = maximum; }
    int numberOfTickMarks() const { return ticks_; }
    void setNumberOfTickMarks(int ticks) { ticks_ = ticks; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }

    // The track of the last draw, and where the knob stands in a frame.
    QRectF trackRect() const { return track_; }
    QRectF knobRectInFrame(const QRectF& frame) const;
    // The value under x of a frame (clamped to the bounds).
    float valueAtX(double x, const QRectF& frame) const;

    static constexpr double kKnobWidth = 12.0;

private:
    double fraction() const;

    float value_ = 0.0f;
    float min_ = 0.0f;
    float max_ = 1.0f;
    int ticks_ = 0;
    bool enabled_ = true;
    QRectF track_;
    QPainterPath trackPath_;  // built once per track size
};
