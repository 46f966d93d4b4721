#pragma once
// The one font function every view uses. Views name fonts as the original program did
// ("Helvetica", "Helvetica Neue Bold", "Monaco", "Menlo-Regular"); this maps them onto fonts a
// Debian system has: Helvetica and Helvetica Neue become Nimbus Sans (Helvetica's metrics,
// package fonts-urw-base35), Monaco and Menlo become DejaVu Sans Mono. "Bold", "Italic" or
// "Oblique" in a name set the weight and style. Any other family is taken as it is, or the
// system's sans-serif where it is not installed. Sizes are pixel sizes (a point of the
// original is a pixel here), so text keeps its size in images of a given pixel size.
// Any thread.

#include <QFont>
#include <QString>

namespace KavioFonts {

QFont font(const QString& name, double pixelSize);

}  // namespace KavioFonts
