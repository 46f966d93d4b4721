#pragma once
// The first argument of a received OSC message, as the kit delivers it in the user info:
// "0" → {"type": 1 float | 2 integer | 3 string, "val": value}. Only the first is ever read.
//
// Network input is read defensively: a text counts as a number only when it reads as one
// (an unreadable "abc" read as 0 would black out a cue), and a non-finite number never counts.

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

class KavioOSCArgument {
public:
    explicit KavioOSCArgument(const QVariantMap& userInfo);

    // The message has a first argument.
    bool isPresent() const { return present_; }
    // Its type code; 0 when absent.
    int type() const { return type_; }
    // The value as a finite number: a number as it is, a text that reads as a number; nothing
    // otherwise (absent, another text, NaN or infinity).
    std::optional<double> number() const;
    // number() truncated toward zero, saturated to the 64-bit range.
    std::optional<long long> integer() const;
    // The value when it is a text (whatever its type code says); nothing otherwise.
    std::optional<QString> text() const;

private:
    bool present_ = false;
    int type_ = 0;
    QVariant val_;
};
