#pragma once
// The text-field interface on a plain Qt line edit, until the custom fields take over.

#include "Support/KavioTextFieldInterface.h"

#include <QLineEdit>

class KavioPlainTextField : public QLineEdit, public KavioTextFieldInterface {
public:
    explicit KavioPlainTextField(QWidget* parent = nullptr) : QLineEdit(parent) {}

    QString stringValue() const override { return text(); }
    void setStringValue(const QString& value) override { setText(value); }
    bool isEnabled() const override { return QLineEdit::isEnabled(); }
    void setEnabled(bool enabled) override { QLineEdit::setEnabled(enabled); }
    QString toolTip() const override { return QLineEdit::toolTip(); }
    void setToolTip(const QString& toolTip) override { QLineEdit::setToolTip(toolTip); }
};
