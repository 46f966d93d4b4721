#pragma once
// One cell of the channel-mapping grid: a numeric field holding the source channel an output
// channel plays, empty (showing "off") for none. Its grid gives it the validator that decides
// which text it takes; a refused keystroke or paste leaves the text as it was.
//
// Editing begins when the field takes the focus (cachedValue then holds the text of that
// moment) and ends when it loses it to anything but a menu or another window: Return and Tab
// end it keeping the typed text, Escape ends it with cachedValue's text back. Every end of an
// edit runs the action once. Main thread.

#include "Views/KavioTextField.h"

#include <functional>

class KavioAudioChannelField : public KavioTextField {
    Q_OBJECT
public:
    static inline const QString kOffPlaceholder = QStringLiteral("off");

    explicit KavioAudioChannelField(QWidget* parent = nullptr);

    // The text when the current edit began; a null string outside editing.
    QString cachedValue() const { return cachedValue_; }
    bool isEditing() const { return editing_; }
    // Run once at the end of every edit; an empty action detaches the field (its grid is
    // discarding it).
    void setAction(std::function<void()> action) { action_ = std::move(action); }

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void showOffPlaceholder();

    QString cachedValue_;
    bool editing_ = false;
    std::function<void()> action_;
};
