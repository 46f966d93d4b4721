#include "Shell/KavioMasterView.h"

#include "Support/KavioAddons.h"

#include <QPainter>
#include <QResizeEvent>

KavioMasterView::KavioMasterView(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
}

void KavioMasterView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const qreal w = width();
    const qreal h = height();
    // The bevel is given with y upwards from the bottom edge; flip once here.
    painter.translate(0, h);
    painter.scale(1, -1);
    const auto fill = [&painter](const QRectF& rect, qreal white, qreal alpha) {
        painter.fillRect(rect, QColor::fromRgbF(float(white), float(white), float(white), float(alpha)));
    };
    fill(QRectF(0, 0, w, h), 0.18, 1.0);
    fill(QRectF(0, h - 0.5, w, 1), 0.5, 0.5);  // top
    fill(QRectF(0, 0, 1, h), 0.5, 0.5);        // left
    fill(QRectF(0, 0, w - 0.5, 1), 0.1, 1.0);  // bottom
    fill(QRectF(w - 1, 0, 1, h), 0.1, 1.0);    // right
}

void KavioMasterView::mousePressEvent(QMouseEvent* event)
{
    QWidget::mousePressEvent(event);
    KavioAddons::notifyIfClicked(this);
}

void KavioMasterView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const QSize old = laidOut_;
    laidOut_ = event->size();
    if (onResize_ && old.isValid() && old != laidOut_)
        onResize_(old, laidOut_);
}
