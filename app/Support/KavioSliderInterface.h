#pragma once
// A fader with a value from 0 to 1 and an OSC address. The custom fader and KavioPlainSlider
// implement it. Main thread.

#include <QString>

class KavioSliderInterface {
public:
    virtual ~KavioSliderInterface() = default;

    virtual double doubleValue() const = 0;
    // Kept within 0..1.
    virtual void setDoubleValue(double value) = 0;
    virtual bool isEnabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual QString oscAddress() const = 0;
    virtual void setOSCAddress(const QString& address) = 0;
};
