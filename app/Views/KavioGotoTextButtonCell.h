#pragma once
// The goto label of a cue row: the target's name in dark text on a filled box (accent when on,
// the draw colour when enabled, faded grey when not). The bezel draws the text; the title step
// draws nothing. A label without text draws nothing.

#include "Views/KavioButtonCell.h"

class KavioGotoTextButtonCell : public KavioButtonCell {
protected:
    void drawBezel(QPainter& painter, const QRectF& frame) override;
    QRectF drawTitle(QPainter&, const QRectF&) override { return {}; }
};
