#pragma once
// An OSC message: an address and ordered typed values. Callers build a message once, keep it,
// and re-address it or change its first value before each send. Every operation is safe from
// any thread; the message shares ownership of its values with whoever else holds them.

#include "QVTOSCValue.h"

#include <QString>

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

class QVTOSCMessage {
public:
    // A message with that address and no values.
    explicit QVTOSCMessage(const QString& address);
    QVTOSCMessage(const QVTOSCMessage&) = delete;
    QVTOSCMessage& operator=(const QVTOSCMessage&) = delete;

    QString address() const;
    void setAddress(const QString& address);
    // Appends a value; a null pointer is ignored.
    void addOSCValue(std::shared_ptr<QVTOSCValue> value);
    // The values in order (the same objects, not copies).
    std::vector<std::shared_ptr<QVTOSCValue>> values() const;

    // What a send puts on the wire, taken at one moment: the address and each value's type and
    // contents, so that a caller changing the message meanwhile cannot tear a packet.
    struct Snapshot {
        QString address;
        std::vector<std::pair<int, QVariant>> values;
    };
    Snapshot snapshot() const;

private:
    mutable std::mutex mutex_;
    QString address_;
    std::vector<std::shared_ptr<QVTOSCValue>> values_;
};
