#include "Views/KavioPlayheadIndicator.h"

#include <QPainter>

KavioPlayheadIndicator::KavioPlayheadIndicator(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void KavioPlayheadIndicator::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), QColor::fromRgbF(0.0f, 0.556f, 0.929f));
}
