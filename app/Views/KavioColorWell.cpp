#include "Views/KavioColorWell.h"

#include "Views/KavioControlStyle.h"

#include <QColorDialog>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

using namespace KavioControlStyle;

KavioColorWell::KavioColorWell(QWidget* parent) : QWidget(parent) { setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed); }

void KavioColorWell::setColor(const QColor& color)
{
    color_ = color;
    update();
}

void KavioColorWell::setEnabled(bool enabled)
{
    QWidget::setEnabled(enabled);
    update();
}

void KavioColorWell::setNeedsDisplayInRect(const QRect& rect) { redrawFromAnyThread(this, rect); }

void KavioColorWell::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF well = QRectF(rect()).adjusted(3.0, 3.0, -3.0, -3.0);
    painter.fillRect(well, color_);
    QPainterPath outline;
    outline.addRoundedRect(well, 2.0, 2.0);
    painter.strokePath(outline, QPen(restingColor(), 1.0));
}

void KavioColorWell::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint()))
        return;
    const QColor chosen = QColorDialog::getColor(color_, this);
    if (!chosen.isValid())
        return;
    setColor(chosen);
    if (action_)
        action_();
}
