#include "Views/KavioURLTextField.h"

#include "Views/KavioControlStyle.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

using namespace KavioControlStyle;

KavioURLTextField::KavioURLTextField(QWidget* parent) : QWidget(parent), textColor_(accent())
{
    setAttribute(Qt::WA_Hover);
    setFont(lightFont(12.0));
    setCursor(Qt::PointingHandCursor);
}

void KavioURLTextField::setStringValue(const QString& value)
{
    text_ = value;
    updateGeometry();
    update();
}

QSize KavioURLTextField::sizeHint() const
{
    return textSize(text_, font()).toSize() + QSize(4, 4);
}

void KavioURLTextField::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(textColor_);
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text_);
}

void KavioURLTextField::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint()))
        return;
    const QUrl url(text_.trimmed(), QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty())
        QDesktopServices::openUrl(url);
}

void KavioURLTextField::enterEvent(QEnterEvent*)
{
    if (!isEnabled())
        return;
    textColor_ = hoverColor();
    update();
}

void KavioURLTextField::leaveEvent(QEvent*)
{
    if (!isEnabled())
        return;
    textColor_ = accent();
    update();
}
