#pragma once
// The one dark style every custom-drawn control shares: device greys, the accent colour for on
// states and progress, the colour-tag colours, and the images the controls tint at draw time.

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QString>

class QFont;
class QPainter;
class QWidget;
class QRect;

#include <cstdint>

namespace KavioControlStyle {

inline QColor grey(double white, double alpha = 1.0) { return QColor::fromRgbF(float(white), float(white), float(white), float(alpha)); }
inline QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

inline QColor accent() { return QColor::fromRgbF(0.0f, 0.656f, 0.929f, 1.0f); }
inline QColor restingColor() { return grey(0.62); }
inline QColor hoverColor() { return grey(0.83); }
inline QColor panelFill() { return grey(0.15); }
inline QColor outline() { return grey(0.1); }
// The warning colours of a button that draws its error colour: hovered, resting.
inline QColor errorHoverColor() { return QColor::fromRgbF(1.0f, 1.0f, 0.0f, 1.0f); }
inline QColor errorRestingColor() { return QColor::fromRgbF(0.98f, 0.822f, 0.0f, 1.0f); }

// A colour tag's swatch colour, highlighted or not. Tag 0 has none (an invalid colour); any
// other code without a colour of its own draws tag 10's colour, as stored projects may hold one.
QColor colorTagColor(std::int32_t tag, bool highlighted = false);

// The single-colour template images: the program's resources ("kavio_close", "kavio_check",
// "kavio_error"), else the vector icons (KavioIcons); a null image for an unknown name.
QImage templateImage(const QString& name);

// The "Helvetica-Light" text of the controls at a pixel size.
QFont lightFont(double pixelSize);

// The rectangle expanded to whole pixels.
QRectF integralRect(const QRectF& rect);
// Draws `text` in `font` and `color` with its natural size at `origin` (top left, made integral),
// and answers the text's unexpanded rectangle.
QRectF drawText(QPainter& painter, const QString& text, const QFont& font, const QColor& color, QPointF origin);
// The natural size of `text` in `font`.
QSizeF textSize(const QString& text, const QFont& font);

// Asks for a redraw of `rect` from any thread: at once on the main thread, else queued onto the
// main queue with the same rectangle (dropped when the widget is gone by then).
void redrawFromAnyThread(QWidget* widget, const QRect& rect);

}  // namespace KavioControlStyle
