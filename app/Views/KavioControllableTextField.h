#pragma once
// KavioControllableTextField: a numeric KavioTextField with a grip at its right edge
// (KavioControllableTextFieldDragger) that changes the value as the mouse is dragged up (more)
// or down (less), by 1, or by 0.01 when the field allows decimals. Values stay within the
// field's bounds; typed text the bounds or the number format cannot hold is refused as typed.
// Main thread.

#include "Views/KavioTextField.h"

#include <functional>

class KavioControllableTextFieldDragger;

class KavioControllableTextField : public KavioTextField {
    Q_OBJECT
public:
    explicit KavioControllableTextField(QWidget* parent = nullptr);

    KavioControllableTextFieldDragger* dragger() const { return dragger_; }

    // The number format: bounds and whether decimals are allowed (integers by default, 0..100).
    void setBounds(double minimum, double maximum);
    double minimum() const { return minimum_; }
    double maximum() const { return maximum_; }
    void setAllowsFloats(bool allows);
    bool allowsFloats() const { return allowsFloats_; }

    // What a drag step runs after it changed the text; none by default.
    void setAction(std::function<void()> action) { action_ = std::move(action); }
    // One drag step: dy pixels, positive downwards. Changes the text and runs the action when
    // the stepped value lies within the bounds; else nothing.
    void stepByDrag(int dy);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void applyValidator();

    KavioControllableTextFieldDragger* dragger_;
    double minimum_ = 0.0;
    double maximum_ = 100.0;
    bool allowsFloats_ = false;
    std::function<void()> action_;
};
