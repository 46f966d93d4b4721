#pragma once
// One typed OSC argument. Callers keep a value inside a prepared message and overwrite it
// before each send, possibly from another thread than the one that sends: every operation
// is safe from any thread.

#include <QVariant>

#include <mutex>

// Type codes, as callers store and compare them.
enum QVTOSCValueType : int {
    QVTOSCValueTypeFloat = 1,    // sent as a 32-bit float
    QVTOSCValueTypeInteger = 2,  // sent as a 32-bit integer (wider values are clamped)
    QVTOSCValueTypeString = 3,   // sent as a UTF-8 string
};

class QVTOSCValue {
public:
    // `type` is one of QVTOSCValueType; `value` a number or a string. A value that does not
    // convert to the type is sent as 0 (or an empty string). A value of an unknown type code
    // is left out of the messages it belongs to.
    QVTOSCValue(int type, const QVariant& value);
    QVTOSCValue(const QVTOSCValue&) = delete;
    QVTOSCValue& operator=(const QVTOSCValue&) = delete;

    int type() const;
    QVariant value() const;
    void setValue(const QVariant& value);

private:
    const int type_;
    mutable std::mutex mutex_;
    QVariant value_;
};
