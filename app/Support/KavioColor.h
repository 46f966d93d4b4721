#pragma once
// A device-RGB colour kept in double precision. QColor rounds its channels to 16 bits, which
// would change the hexadecimal keys and the 32-byte colour records the program stores.

#include <QColor>

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

    bool operator==(const KavioColor&) const = default;
};
