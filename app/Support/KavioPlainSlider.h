#pragma once
// The fader interface on a plain Qt slider of 10000 steps, until the custom fader takes over.

#include "Support/KavioSliderInterface.h"

#include <QSlider>

class KavioPlainSlider : public QSlider, public KavioSliderInterface {
public:
    static constexpr int kSteps = 10000;

    explicit KavioPlainSlider(QWidget* parent = nullptr) : QSlider(Qt::Vertical, parent) { setRange(0, kSteps); }

    double doubleValue() const override { return double(value()) / kSteps; }
    void setDoubleValue(double value) override { setValue(qRound(qBound(0.0, value, 1.0) * kSteps)); }
    bool isEnabled() const override { return QSlider::isEnabled(); }
    void setEnabled(bool enabled) override { QSlider::setEnabled(enabled); }
    QString oscAddress() const override { return oscAddress_; }
    void setOSCAddress(const QString& address) override { oscAddress_ = address; }

private:
    QString oscAddress_;
};
