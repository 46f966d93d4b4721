#pragma once
// KavioScroller: a thin grey scroll knob without a track, in the overlay style (the desktop has
// no setting for a legacy style): it shows while scrolling or under the pointer and fades out
// 0.4 s after the scrolling stopped or as the pointer leaves. A pending fade is always cancelled
// before a new one is scheduled. Main thread.

#include <QScrollBar>
#include <QTimer>

class QGraphicsOpacityEffect;
class QPropertyAnimation;

class KavioScroller : public QScrollBar {
    Q_OBJECT
public:
    static constexpr int kFadeDelayMilliseconds = 400;

    explicit KavioScroller(Qt::Orientation orientation, QWidget* parent = nullptr);

    // The knob's opacity, 0 (faded) to 1.
    double alpha() const;
    // Starts the fade to invisible (0.4 s).
    void fadeOut();
    // Where the knob is drawn.
    QRectF knobRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void animateAlpha(double to, int milliseconds);

    QGraphicsOpacityEffect* opacity_;
    QPropertyAnimation* animation_;
    QTimer fadeTimer_;
};
