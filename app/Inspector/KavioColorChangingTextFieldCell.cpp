#include "Inspector/KavioColorChangingTextFieldCell.h"

#include "DispatchQueue.h"

#include <QPainter>
#include <QPointer>

KavioColorChangingTextFieldCell::KavioColorChangingTextFieldCell(QWidget* parent) : QLabel(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(false);
}

QColor KavioColorChangingTextFieldCell::drawColor() const
{
    std::lock_guard lock(mutex_);
    return drawColor_;
}

void KavioColorChangingTextFieldCell::setDrawColor(const QColor& color)
{
    {
        std::lock_guard lock(mutex_);
        drawColor_ = color;
    }
    if (DispatchQueue::isMainThread()) {
        update();
        return;
    }
    QPointer<KavioColorChangingTextFieldCell> self(this);
    DispatchQueue::main().async([self] {
        if (self)
            self->update();
    });
}

void KavioColorChangingTextFieldCell::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(drawColor());
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
    painter.drawText(contentsRect(), int(alignment()), shown);
}
