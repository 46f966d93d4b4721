#pragma once
// Small helpers the whole program uses: the main-queue test, colours as hexadecimal text, image
// tinting and the click announcement of views.

#include "Support/KavioColor.h"

#include <QImage>
#include <QString>

class QWidget;

namespace KavioAddons {

// The caller runs on the main queue. Any thread.
bool isMainQueue();
// isMainQueue(), or else the caller is the main thread. Any thread: code that touches the
// interface checks this and otherwise moves itself to DispatchQueue::main().
bool isMainQueueOrIsMainThread();

// Eight lower-case hex digits, red, green, blue, alpha, each channel × 255.99998474121094
// truncated: (1, 0.5, 0, 0.5) gives "ff7f007f". A colour with no RGB form gives " ".
QString hexValue(const KavioColor& color);
QString hexValue(const QColor& color);

// Reads one hexadecimal 32-bit number from the start of the text (optional "0x"; stops at the
// first non-hex character; nothing read or a null string gives 0) and takes red, green and blue
// from bits 16-23, 8-15 and 0-7; alpha is always 1. Six digits give their colour back; the
// eight digits of hexValue do not (each byte lands one place higher).
KavioColor colorWithHexColorString(const QString& text);

// A copy of the image with every pixel's colour replaced by `color`, keeping each pixel's alpha.
QImage tintImageWithColor(const QImage& image, const QColor& color);

// Posts "KavioViewSelected" on the default centre with the view as object; cue rows unselect
// their cues on it. Main thread.
void notifyIfClicked(QWidget* view);

}  // namespace KavioAddons
