#include "Views/KavioTableView.h"

#include <QPainter>

KavioTableView::KavioTableView(QWidget* parent) : QTableView(parent)
{
    setFrameShape(QFrame::NoFrame);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    QPalette p = palette();
    p.setColor(QPalette::Base, QColor::fromRgbF(0.15f, 0.15f, 0.15f));
    setPalette(p);
}

void KavioTableView::paintEvent(QPaintEvent* event)
{
    QTableView::paintEvent(event);
    QPainter painter(viewport());
    painter.setPen(QPen(QColor::fromRgbF(0.1f, 0.1f, 0.1f), 1));
    painter.drawRect(QRectF(viewport()->rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}
