#pragma once
// The check box of the dark style: a dark rounded square at the left, the title in grey to its
// right, and the "kavio_check" mark over the square only in the on state (not when mixed).

#include "Views/KavioButtonCell.h"

class KavioStylishButtonCell : public KavioButtonCell {
public:
    // The tinted check mark, made on the first draw and kept.
    QImage iconImage() const { return iconImage_; }
    void setIconImage(const QImage& image) { iconImage_ = image; }

    void drawWithFrame(QPainter& painter, const QRectF& frame) override;

private:
    QImage iconImage_;
};
