#include "Outputs/KavioVideoOutputsView.h"

#include "Log.h"
#include "NotificationCenter.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

KavioVideoOutputsView::KavioVideoOutputsView(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void KavioVideoOutputsView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath panel;
    panel.addRoundedRect(QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25), 3, 3);
    painter.fillPath(panel, QColor::fromRgbF(0.15f, 0.15f, 0.15f));
    painter.setPen(QPen(QColor::fromRgbF(0.1f, 0.1f, 0.1f), 1.0));
    painter.drawPath(panel);
}

void KavioVideoOutputsView::keyPressEvent(QKeyEvent* event)
{
    event->accept();
    NotificationCenter& center = NotificationCenter::defaultCenter();
    switch (event->key()) {
    case Qt::Key_Up:
        center.post("KavioSelectAboveOutput");
        break;
    case Qt::Key_Down:
        center.post("KavioSelectBelowOutput");
        break;
    case Qt::Key_Left:
        center.post("KavioSelectPrevOutput");
        break;
    case Qt::Key_Right:
        center.post("KavioSelectNextOutput");
        break;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        if (event->modifiers() & Qt::ControlModifier) {
            KLOG_INFO("will try to delete");
            center.post("KavioDeleteSelectedOutput");
        }
        break;
    default:
        break;
    }
}

void KavioVideoOutputsView::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}
