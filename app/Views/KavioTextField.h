#pragma once
// KavioTextField: the program's text field, drawn by its KavioTextFieldCell, with hover colours,
// select-all when it takes the focus, and an undo cache: oldTitle is the text last set in code,
// and Escape puts it back and ends the edit (typed text is dropped). Text a validator refuses
// is refused as typed. Redraws may be asked from any thread. Main thread otherwise.

#include "Support/KavioTextFieldInterface.h"
#include "Views/KavioTextFieldCell.h"

#include <QLineEdit>

class KavioTextField : public QLineEdit, public KavioTextFieldInterface {
    Q_OBJECT
public:
    explicit KavioTextField(QWidget* parent = nullptr);

    KavioTextFieldCell& cell() { return cell_; }

    // --- KavioTextFieldInterface: setting a value in code also stores it as oldTitle.
    QString stringValue() const override { return text(); }
    void setStringValue(const QString& value) override;
    bool isEnabled() const override { return QLineEdit::isEnabled(); }
    void setEnabled(bool enabled) override;
    QString toolTip() const override { return QLineEdit::toolTip(); }
    void setToolTip(const QString& toolTip) override { QLineEdit::setToolTip(toolTip); }

    void setFloatValue(float value);
    void setIntegerValue(long value);
    QString oldTitle() const { return oldTitle_; }

    bool isEditable() const { return !isReadOnly(); }
    void setEditable(bool editable);
    void setColorTag(std::int32_t tag);
    // The placeholder shown while the field is empty and not being edited, in its own look (the
    // inspector's fields each have one).
    void setPlaceholder(const QString& text, const QFont& font, const QColor& color, Qt::Alignment alignment);
    // Any thread: off the main thread the request moves to the main queue, same rectangle.
    void setNeedsDisplayInRect(const QRect& rect);

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // The editor's text colour follows the cell's (hover, tag, editable).
    void applyTextColor();

    KavioTextFieldCell cell_;
    QString oldTitle_;
};
