#pragma once
// A switch without a widget, for the suites that run without a widget application.

#include "Support/KavioButtonInterface.h"

struct TestSwitch : KavioButtonInterface {
    int value = 0;
    int state() const override { return value; }
    void setState(int s) override { value = s; }
    void setStateByOSC(int s) override { value = s; }
    bool isEnabled() const override { return true; }
    void setEnabled(bool) override {}
    QString title() const override { return {}; }
    void setTitle(const QString&) override {}
    long tag() const override { return 0; }
    void setTag(long) override {}
    QString imageName() const override { return {}; }
    void setImageName(const QString&) override {}
    QString toolTip() const override { return {}; }
    void setToolTip(const QString&) override {}
    KavioButtonType buttonType() const override { return KavioButtonType::OnOff; }
    void setButtonType(KavioButtonType) override {}
    QString oscAddress() const override { return {}; }
    void setOSCAddress(const QString&) override {}
    void setAction(std::function<void()>) override {}
    void performClick() override { value = value ? 0 : 1; }
};
