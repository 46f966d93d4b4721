#pragma once
// The colour-tag swatch of a cue row's tag button: the tag's colour over the frame less a pixel
// on each side, lighter while highlighted; tag 0 draws nothing at all.

#include "Views/KavioButtonCell.h"

#include <cstdint>

class KavioColorTagIndicatorButtonCell : public KavioButtonCell {
public:
    std::int32_t colorTag() const { return colorTag_; }
    void setColorTag(std::int32_t tag) { colorTag_ = tag; }
    bool drawsHighlight() const { return drawsHighlight_; }
    void setDrawsHighlight(bool value) { drawsHighlight_ = value; }

    void drawWithFrame(QPainter& painter, const QRectF& frame) override;

private:
    std::int32_t colorTag_ = 0;
    bool drawsHighlight_ = false;
};
