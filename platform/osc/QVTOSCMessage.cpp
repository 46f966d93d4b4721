#include "QVTOSCMessage.h"

QVTOSCMessage::QVTOSCMessage(const QString& address) : address_(address) {}

QString QVTOSCMessage::address() const
{
    std::lock_guard lock(mutex_);
    return address_;
}

void QVTOSCMessage::setAddress(const QString& address)
{
    std::lock_guard lock(mutex_);
    address_ = address;
}

void QVTOSCMessage::addOSCValue(std::shared_ptr<QVTOSCValue> value)
{
    if (!value)
        return;
    std::lock_guard lock(mutex_);
    values_.push_back(std::move(value));
}

std::vector<std::shared_ptr<QVTOSCValue>> QVTOSCMessage::values() const
{
    std::lock_guard lock(mutex_);
    return values_;
}

QVTOSCMessage::Snapshot QVTOSCMessage::snapshot() const
{
    std::lock_guard lock(mutex_);
    Snapshot s{address_, {}};
    s.values.reserve(values_.size());
    for (const auto& v : values_)
        s.values.emplace_back(v->type(), v->value());
    return s;
}
