#pragma once
// Lays out one caption with Qt's text layout and draws it into an overlay image: an optional
// box in the subtitle background colour, then the lines top to bottom, the block's bottom at 5 %
// of the height. Stateless; called on the render thread for every overlay redraw.
//
// Geometry is computed in the overlay's own units with the origin at the bottom left and y
// upwards, and flipped only when drawing into the (top-down) image.

#include "Caption/QVTCaption.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <memory>
#include <vector>

class QPainter;
class QTextLayout;

struct QVTCaptionRendererLine {
    std::shared_ptr<QTextLayout> ctline;  // the laid-out line; null in geometry-only use
    double ascent = 0;   // typographic ascent
    double leading = 0;  // ascent + descent of the font at the line's first character; 0 without a font
    double width = 0;    // typographic width including trailing white space
};

class QVTCaptionRenderer {
public:
    // One entry per caption line; *outputTotalSize (set to zero by the caller) receives the
    // widest line's width and the sum of the leadings. Also sets the caption's hasTransparency
    // from the subtitle background colour.
    static std::vector<QVTCaptionRendererLine> linesForCaption(QVTCaption& caption, QSizeF* outputTotalSize);

    // Draws the caption (nullptr draws nothing) into the painter's W × H image. The block starts
    // at x = W/2 - width/2 when the caption's alignment is 2, else at W/10; with `alignment` 2
    // each line is centred within the block.
    static void renderCaption(QVTCaption* caption, long alignment, QPainter& context, QSizeF size);

    struct Placement {
        QRectF box;                    // the background box, bottom-left origin, y up
        std::vector<QPointF> origins;  // each line's baseline start, bottom-left origin, y up
    };
    static Placement placeLines(const std::vector<QVTCaptionRendererLine>& lines, QSizeF total,
                                long captionAlignment, long alignment, QSizeF size);
};
