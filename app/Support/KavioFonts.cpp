#include "Support/KavioFonts.h"

#include <QFontDatabase>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace KavioFonts {

QFont font(const QString& name, double pixelSize)
{
    const QString lower = name.toLower();
    const bool bold = lower.contains(QLatin1String("bold"));
    const bool italic = lower.contains(QLatin1String("italic")) || lower.contains(QLatin1String("oblique"));

    QString family;
    if (lower.startsWith(QLatin1String("helvetica")))
        family = QStringLiteral("Nimbus Sans");
    else if (lower.startsWith(QLatin1String("monaco")) || lower.startsWith(QLatin1String("menlo")))
        family = QStringLiteral("DejaVu Sans Mono");
    else {
        static const QRegularExpression styleWords(QStringLiteral("[- ]?(Bold|Italic|Oblique|Regular)"),
                                                   QRegularExpression::CaseInsensitiveOption);
        family = QString(name).remove(styleWords).trimmed();
    }
    if (!QFontDatabase::hasFamily(family))
        family = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();

    QFont result(family);
    result.setPixelSize(std::max(1, int(std::lround(pixelSize))));
    result.setBold(bold);
    result.setItalic(italic);
    return result;
}

}  // namespace KavioFonts
