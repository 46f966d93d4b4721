#include "Audio/KavioAudioChannelField.h"

#include "Views/KavioControlStyle.h"

#include <QFocusEvent>
#include <QKeyEvent>

KavioAudioChannelField::KavioAudioChannelField(QWidget* parent) : KavioTextField(parent)
{
    // Centred while shown by the cell and while edited.
    setAlignment(Qt::AlignCenter);
    cell().setAlignment(Qt::AlignHCenter);
    showOffPlaceholder();
}

void KavioAudioChannelField::showOffPlaceholder()
{
    setPlaceholder(kOffPlaceholder, font(), KavioControlStyle::grey(0.62, 0.8), Qt::AlignCenter);
}

void KavioAudioChannelField::focusInEvent(QFocusEvent* event)
{
    KavioTextField::focusInEvent(event);
    // Coming back from a menu or another window continues the same edit.
    if (editing_)
        return;
    editing_ = true;
    cachedValue_ = text().isNull() ? QStringLiteral("") : text();
}

void KavioAudioChannelField::focusOutEvent(QFocusEvent* event)
{
    KavioTextField::focusOutEvent(event);
    if (!editing_ || event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    editing_ = false;
    cachedValue_ = QString();
    // Focusing the field took the placeholder away; an emptied field shows "off" again.
    showOffPlaceholder();
    if (action_)
        action_();
}

void KavioAudioChannelField::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        clearFocus();
        return;
    case Qt::Key_Escape:
        if (!cachedValue_.isNull())
            setText(cachedValue_);
        cachedValue_ = QString();
        clearFocus();
        return;
    default:
        KavioTextField::keyPressEvent(event);
    }
}
