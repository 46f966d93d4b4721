#pragma once
// What kind of value a record holds: records from files and peers carry any kind under a key.

#include <QVariant>

// True for the integer kinds only (not booleans, floating point or text that reads as a number).
inline bool kavioIsIntegerKind(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}
