#include "Views/KavioScroller.h"

#include "Views/KavioControlStyle.h"

#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QStyleOptionSlider>

KavioScroller::KavioScroller(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent),
      opacity_(new QGraphicsOpacityEffect(this)),
      animation_(new QPropertyAnimation(opacity_, "opacity", this))
{
    setAttribute(Qt::WA_Hover);
    setMouseTracking(true);
    setGraphicsEffect(opacity_);
    opacity_->setOpacity(0.0);
    fadeTimer_.setSingleShot(true);
    fadeTimer_.setInterval(kFadeDelayMilliseconds);
    connect(&fadeTimer_, &QTimer::timeout, this, &KavioScroller::fadeOut);
    connect(this, &QScrollBar::valueChanged, this, [this] {
        animateAlpha(1.0, 0);
        fadeTimer_.start();
    });
}

double KavioScroller::alpha() const { return opacity_->opacity(); }

void KavioScroller::animateAlpha(double to, int milliseconds)
{
    animation_->stop();
    if (milliseconds <= 0) {
        opacity_->setOpacity(to);
        return;
    }
    animation_->setDuration(milliseconds);
    animation_->setStartValue(opacity_->opacity());
    animation_->setEndValue(to);
    animation_->start();
}

void KavioScroller::fadeOut() { animateAlpha(0.0, kFadeDelayMilliseconds); }

QRectF KavioScroller::knobRect() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    QRectF knob = style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    if (orientation() == Qt::Vertical) {
        knob.setWidth(7.0);
        knob.translate(2.0, 0);
    } else {
        knob.setHeight(7.0);
        knob.translate(0, 5.0);
    }
    return knob;
}

void KavioScroller::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath knob;
    knob.addRoundedRect(knobRect(), 4.0, 4.0);
    painter.fillPath(knob, KavioControlStyle::restingColor());
}

void KavioScroller::enterEvent(QEnterEvent* event)
{
    QScrollBar::enterEvent(event);
    fadeTimer_.stop();
    animateAlpha(1.0, 100);
}

void KavioScroller::leaveEvent(QEvent* event)
{
    QScrollBar::leaveEvent(event);
    fadeTimer_.stop();
    fadeOut();
}

void KavioScroller::mouseMoveEvent(QMouseEvent* event)
{
    animateAlpha(1.0, 0);
    QScrollBar::mouseMoveEvent(event);
}
