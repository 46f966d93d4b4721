#include "Inspector/KavioInspectorNumberFormatter.h"

#include "Views/KavioTextField.h"

#include <QRegularExpression>

#include <cmath>

KavioInspectorNumberFormatter::KavioInspectorNumberFormatter(double minimum, double maximum, bool allowsFractions,
                                                             QObject* parent)
    : QValidator(parent), minimum_(minimum), maximum_(maximum), allowsFractions_(allowsFractions)
{
}

std::optional<double> KavioInspectorNumberFormatter::valueOf(const QString& text) const
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < minimum_ || value > maximum_)
        return std::nullopt;
    if (!allowsFractions_ && value != std::trunc(value))
        return std::nullopt;
    return value;
}

QValidator::State KavioInspectorNumberFormatter::validate(QString& input, int&) const
{
    static const QRegularExpression whole(QStringLiteral("^-?[0-9]{0,9}$"));
    static const QRegularExpression fraction(QStringLiteral("^-?[0-9]{0,9}(\\.[0-9]{0,6})?$"));
    if (!(allowsFractions_ ? fraction : whole).match(input).hasMatch())
        return Invalid;
    bool ok = false;
    input.toDouble(&ok);
    // A lone minus or point is on its way to a number; the bounds are checked when committed.
    return ok ? Acceptable : Intermediate;
}

void KavioInspectorNumberFormatter::fixup(QString& input) const
{
    if (const auto* field = dynamic_cast<const KavioTextField*>(parent()))
        input = field->oldTitle();
}
