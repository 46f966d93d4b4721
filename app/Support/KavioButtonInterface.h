#pragma once
// A button as the controllers use it: a checkbox (on/off) or a momentary push button, with a
// state, a title, a tag, an image, a tooltip, an OSC address and an action. The custom-drawn
// buttons and KavioPlainButton implement it. Main thread.

#include <QString>

#include <functional>

enum class KavioButtonType {
    MomentaryPushIn,  // clicks run the action; the state does not stick
    OnOff,            // clicks flip the state between 0 and 1, then run the action
};

class KavioButtonInterface {
public:
    virtual ~KavioButtonInterface() = default;

    virtual int state() const = 0;  // 0 off, 1 on
    virtual void setState(int state) = 0;
    // A state set from outside (OSC, the controller's own start and stop): stored like setState
    // but without sending OSC feedback; the action does not run (the caller acts itself).
    virtual void setStateByOSC(int state) = 0;
    virtual bool isEnabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual QString title() const = 0;
    virtual void setTitle(const QString& title) = 0;
    virtual long tag() const = 0;
    virtual void setTag(long tag) = 0;
    // A resource name; empty for none.
    virtual QString imageName() const = 0;
    virtual void setImageName(const QString& name) = 0;
    virtual QString toolTip() const = 0;
    virtual void setToolTip(const QString& toolTip) = 0;
    virtual KavioButtonType buttonType() const = 0;
    virtual void setButtonType(KavioButtonType type) = 0;
    // The OSC input address the button answers to; empty for none.
    virtual QString oscAddress() const = 0;
    virtual void setOSCAddress(const QString& address) = 0;
    // What a click runs (the target and action of the interface file).
    virtual void setAction(std::function<void()> action) = 0;
    // A click made by the program: an on/off button flips its state, then the action runs, as
    // for a click of the mouse.
    virtual void performClick() = 0;
    // Shows the button's alternate image (the master fade button: the fade has cut to black).
    virtual void setShouldShowAlternateImage(bool /*alternate*/) {}
};
