#pragma once
// The goto label button of a cue row: fires its action as the mouse goes down, with no tracking
// and no pressed shade; the mouse going up does nothing. Main thread.

#include "Views/KavioButton.h"

class KavioGotoTextButton : public KavioButton {
    Q_OBJECT
public:
    explicit KavioGotoTextButton(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent*) override {}
};
