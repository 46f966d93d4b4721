#include "QVTOSCValue.h"

QVTOSCValue::QVTOSCValue(int type, const QVariant& value) : type_(type), value_(value) {}

int QVTOSCValue::type() const
{
    return type_;
}

QVariant QVTOSCValue::value() const
{
    std::lock_guard lock(mutex_);
    return value_;
}

void QVTOSCValue::setValue(const QVariant& value)
{
    std::lock_guard lock(mutex_);
    value_ = value;
}
