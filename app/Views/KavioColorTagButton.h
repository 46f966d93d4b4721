#pragma once
// The cue row's colour-tag button: a swatch of the cue's tag that lights up under the pointer
// while enabled. Main thread.

#include "Views/KavioButton.h"

#include <cstdint>

class KavioColorTagIndicatorButtonCell;

class KavioColorTagButton : public KavioButton {
    Q_OBJECT
public:
    explicit KavioColorTagButton(QWidget* parent = nullptr);

    KavioColorTagIndicatorButtonCell& tagCell() const;
    void setColorTag(std::int32_t tag);

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
};
