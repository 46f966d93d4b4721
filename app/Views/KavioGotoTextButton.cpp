#include "Views/KavioGotoTextButton.h"

#include "Views/KavioGotoTextButtonCell.h"

#include <QMouseEvent>

KavioGotoTextButton::KavioGotoTextButton(QWidget* parent)
    : KavioButton(parent, std::make_unique<KavioGotoTextButtonCell>())
{
}

void KavioGotoTextButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        sendAction();
}
