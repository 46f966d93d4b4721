#pragma once
// The program's template icons drawn as vector shapes: white on transparent, 32 x 32, tinted at
// draw time like the template images in the resource file. templateImage() falls back to these
// for names the resource file does not hold.

#include <QImage>
#include <QString>
#include <QStringList>

namespace KavioIcons {

// The icon of that name; a null image for a name that has none.
QImage image(const QString& name);
// Every name image() draws.
QStringList names();

}  // namespace KavioIcons
