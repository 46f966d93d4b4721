#include "Views/KavioTextField.h"

#include "Views/KavioControlStyle.h"

#include <QKeyEvent>
#include <QPainter>
#include <QTimer>

using namespace KavioControlStyle;

KavioTextField::KavioTextField(QWidget* parent) : QLineEdit(parent)
{
    setFrame(false);
    setAttribute(Qt::WA_Hover);
    setFont(cell_.font());
    setTextMargins(1, 0, 1, 0);
    setMinimumHeight(20);
    // The field editor: grey text and caret, no background, a dark selection.
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Text, restingColor());
    palette.setColor(QPalette::Highlight, grey(0.333));
    palette.setColor(QPalette::HighlightedText, restingColor());
    setPalette(palette);
}

void KavioTextField::applyTextColor()
{
    cell_.setEditable(!isReadOnly() && isEnabled());
    QPalette palette = this->palette();
    palette.setColor(QPalette::Text, cell_.textColor());
    setPalette(palette);
    update();
}

void KavioTextField::setStringValue(const QString& value)
{
    setText(value);
    oldTitle_ = value;
}

void KavioTextField::setFloatValue(float value) { setStringValue(QString::number(double(value))); }

void KavioTextField::setIntegerValue(long value) { setStringValue(QString::number(value)); }

void KavioTextField::setEnabled(bool enabled)
{
    QLineEdit::setEnabled(enabled);
    applyTextColor();
}

void KavioTextField::setEditable(bool editable)
{
    setReadOnly(!editable);
    applyTextColor();
}

void KavioTextField::setColorTag(std::int32_t tag)
{
    cell_.setColorTag(tag);
    applyTextColor();
}

void KavioTextField::setPlaceholder(const QString& text, const QFont& font, const QColor& color,
                                    Qt::Alignment alignment)
{
    cell_.setPlaceholder(text);
    cell_.setPlaceholderStyle(font, color, alignment);
    update();
}

void KavioTextField::setNeedsDisplayInRect(const QRect& rect) { redrawFromAnyThread(this, rect); }

void KavioTextField::paintEvent(QPaintEvent* event)
{
    cell_.setText(text());
    cell_.setFont(font());
    QPainter painter(this);
    if (!hasFocus()) {
        cell_.drawWithFrame(painter, QRectF(rect()));
        return;
    }
    // While editing the line edit draws text, caret and selection over the box.
    cell_.drawBox(painter, QRectF(rect()));
    painter.end();
    QLineEdit::paintEvent(event);
}

void KavioTextField::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    if (isReadOnly())
        return;
    cell_.setPlaceholder({});
    // After the click that gave the focus has placed the caret.
    QTimer::singleShot(0, this, [this] {
        if (hasFocus())
            selectAll();
    });
}

void KavioTextField::keyPressEvent(QKeyEvent* event)
{
    if (event->key() != Qt::Key_Escape) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    setText(oldTitle_);
    clearFocus();
}

void KavioTextField::enterEvent(QEnterEvent*)
{
    if (!isEnabled())
        return;
    cell_.setDrawColor(hoverColor());
    applyTextColor();
}

void KavioTextField::leaveEvent(QEvent*)
{
    if (!isEnabled())
        return;
    cell_.setDrawColor(restingColor());
    applyTextColor();
}
