#include "Support/KavioFonts.h"

#include <QFontDatabase>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace KavioFonts {

namespace {

// The installed family a font name maps onto. Asking the font database costs a fontconfig
// lookup, which views painting many buttons would pay per paint; the answer is kept per name.
QString familyFor(const QString& name, const QString& lower)
{
    static std::mutex mutex;
    static QHash<QString, QString> families;
    {
        std::lock_guard lock(mutex);
        const auto known = families.constFind(name);
        if (known != families.constEnd())
            return *known;
    }
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
    std::lock_guard lock(mutex);
    families.insert(name, family);
    return family;
}

}  // namespace

QFont font(const QString& name, double pixelSize)
{
    const QString lower = name.toLower();
    const bool bold = lower.contains(QLatin1String("bold"));
    const bool italic = lower.contains(QLatin1String("italic")) || lower.contains(QLatin1String("oblique"));

    QFont result(familyFor(name, lower));
    result.setPixelSize(std::max(1, int(std::lround(pixelSize))));
    result.setBold(bold);
    result.setItalic(italic);
    return result;
}

}  // namespace KavioFonts
