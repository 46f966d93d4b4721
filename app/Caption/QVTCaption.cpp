#include "Caption/QVTCaption.h"

QString QVTCaption::description() const
{
    return QString::asprintf("<QVTCaption %2d lines, displayed from %6.2fs to %6.2fs>", int(lines.size()),
                             startTime.seconds(), endTime.seconds());
}

bool QVTCaption::anyLineContainsText(const QString& text) const
{
    for (const auto& line : lines) {
        if (line.text.string().contains(text, Qt::CaseSensitive)) {
            return true;
        }
    }
    return false;
}
