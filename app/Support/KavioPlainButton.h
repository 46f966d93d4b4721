#pragma once
// The button interface on a plain Qt push button, until the custom-drawn buttons take over. An
// on/off button is a checkable push button; a click runs the action after Qt updated the state.

#include "Support/KavioButtonInterface.h"

#include <QPushButton>

class KavioPlainButton : public QPushButton, public KavioButtonInterface {
public:
    explicit KavioPlainButton(QWidget* parent = nullptr);

    int state() const override { return isChecked() ? 1 : 0; }
    void setState(int state) override { setChecked(state != 0); }
    // A plain button sends no feedback: as setState.
    void setStateByOSC(int state) override { setState(state); }
    bool isEnabled() const override { return QPushButton::isEnabled(); }
    void setEnabled(bool enabled) override { QPushButton::setEnabled(enabled); }
    QString title() const override { return text(); }
    void setTitle(const QString& title) override { setText(title); }
    long tag() const override { return tag_; }
    void setTag(long tag) override { tag_ = tag; }
    QString imageName() const override { return imageName_; }
    void setImageName(const QString& name) override;
    QString toolTip() const override { return QPushButton::toolTip(); }
    void setToolTip(const QString& toolTip) override { QPushButton::setToolTip(toolTip); }
    KavioButtonType buttonType() const override { return type_; }
    void setButtonType(KavioButtonType type) override;
    QString oscAddress() const override { return oscAddress_; }
    void setOSCAddress(const QString& address) override { oscAddress_ = address; }
    void setAction(std::function<void()> action) override { action_ = std::move(action); }
    void performClick() override { click(); }

private:
    long tag_ = 0;
    QString imageName_;
    QString oscAddress_;
    KavioButtonType type_ = KavioButtonType::MomentaryPushIn;
    std::function<void()> action_;
};
