#pragma once
// A colour well: shows a colour and lets the user pick another. The custom well and
// KavioPlainColorWell implement it. Main thread.

#include <QColor>

class KavioColorWellInterface {
public:
    virtual ~KavioColorWellInterface() = default;

    virtual QColor color() const = 0;
    virtual void setColor(const QColor& color) = 0;
    virtual bool isEnabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
};
