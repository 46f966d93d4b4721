#pragma once
// A device-RGB colour kept in double precision. QColor rounds its channels to 16 bits, which
// would change the hexadecimal keys and the 32-byte colour records the program stores.

#include <QByteArray>
#include <QColor>
#include <QtEndian>

struct KavioColor {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    double alpha = 1.0;

    static KavioColor fromQColor(const QColor& c)
    {
        const QColor rgb = c.toRgb();
        return {rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF()};
    }
    QColor toQColor() const { return QColor::fromRgbF(float(red), float(green), float(blue), float(alpha)); }

    // The 32-byte form settings store a colour in: red, green, blue, alpha as little-endian doubles.
    static constexpr int kRecordBytes = 32;
    QByteArray toRecord() const
    {
        QByteArray bytes(kRecordBytes, Qt::Uninitialized);
        const double channels[4] = {red, green, blue, alpha};
        for (int i = 0; i < 4; ++i)
            qToLittleEndian(channels[i], bytes.data() + i * 8);
        return bytes;
    }
    // Reads toRecord()'s form; `bytes` must hold kRecordBytes.
    static KavioColor fromRecord(const QByteArray& bytes)
    {
        const auto at = [&bytes](int i) { return qFromLittleEndian<double>(bytes.constData() + i * 8); };
        return {at(0), at(1), at(2), at(3)};
    }

    bool operator==(const KavioColor&) const = default;
};
