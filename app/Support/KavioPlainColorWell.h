#pragma once
// The colour-well interface on a plain Qt button that shows the colour and opens the colour
// dialog, until the custom well takes over. Keeps the alpha it is given.

#include "Support/KavioColorWellInterface.h"

#include <QPushButton>

class KavioPlainColorWell : public QPushButton, public KavioColorWellInterface {
public:
    explicit KavioPlainColorWell(QWidget* parent = nullptr);

    QColor color() const override { return color_; }
    void setColor(const QColor& color) override;
    bool isEnabled() const override { return QPushButton::isEnabled(); }
    void setEnabled(bool enabled) override { QPushButton::setEnabled(enabled); }

private:
    QColor color_{Qt::white};
};
