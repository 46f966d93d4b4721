#pragma once
// An editable text field. The custom fields and KavioPlainTextField implement it. Main thread.

#include <QString>

class KavioTextFieldInterface {
public:
    virtual ~KavioTextFieldInterface() = default;

    virtual QString stringValue() const = 0;
    virtual void setStringValue(const QString& value) = 0;
    virtual bool isEnabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual QString toolTip() const = 0;
    virtual void setToolTip(const QString& toolTip) = 0;
};
