#include "Views/KavioSlider.h"

#include "DispatchQueue.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include <algorithm>

KavioSlider::KavioSlider(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void KavioSlider::setFloatValue(float value)
{
    cell_.setFloatValue(std::clamp(value, cell_.minValue(), cell_.maxValue()));
    update();
}

void KavioSlider::setBounds(float minimum, float maximum)
{
    cell_.setBounds(minimum, std::max(minimum, maximum));
    setFloatValue(floatValue());
}

void KavioSlider::setNumberOfTickMarks(int ticks)
{
    cell_.setNumberOfTickMarks(ticks);
    update();
}

void KavioSlider::setEnabled(bool enabled)
{
    QWidget::setEnabled(enabled);
    update();
}

void KavioSlider::setNeedsDisplayInRect(const QRect& rect)
{
    if (!DispatchQueue::isMainThread()) {
        DispatchQueue::main().async([guard = QPointer<KavioSlider>(this), rect] {
            if (guard)
                guard->setNeedsDisplayInRect(rect);
        });
        return;
    }
    update(isDragging_ ? this->rect() : rect);
}

void KavioSlider::paintEvent(QPaintEvent*)
{
    cell_.setEnabled(isEnabled());
    QPainter painter(this);
    cell_.drawWithFrame(painter, QRectF(rect()));
}

void KavioSlider::trackTo(double x)
{
    setFloatValue(cell_.valueAtX(x, QRectF(rect())));
    if (action_)
        action_();
}

void KavioSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    isDragging_ = true;
    trackTo(event->position().x());
}

void KavioSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (isDragging_)
        trackTo(event->position().x());
}

void KavioSlider::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        isDragging_ = false;
}
