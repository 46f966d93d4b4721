#include "Remote/KavioOSCArgument.h"

#include "QVTOSCManager.h"

#include <algorithm>
#include <cmath>
#include <limits>

KavioOSCArgument::KavioOSCArgument(const QVariantMap& userInfo)
{
    const auto it = userInfo.constFind(QStringLiteral("0"));
    if (it == userInfo.cend())
        return;
    present_ = true;
    const QVariantMap first = it->toMap();
    type_ = first.value(kQVTOSCTypeKey).toInt();
    val_ = first.value(kQVTOSCValKey);
}

std::optional<double> KavioOSCArgument::number() const
{
    if (!present_ || !val_.isValid())
        return std::nullopt;
    bool ok = false;
    const double value = val_.typeId() == QMetaType::QString ? val_.toString().trimmed().toDouble(&ok)
                                                             : val_.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<long long> KavioOSCArgument::integer() const
{
    const auto value = number();
    if (!value)
        return std::nullopt;
    // Integers arrive as qlonglong: read them whole, doubles lose precision above 2^53.
    if (val_.typeId() == QMetaType::LongLong || val_.typeId() == QMetaType::Int)
        return val_.toLongLong();
    constexpr double limit = 9.2e18;
    return static_cast<long long>(std::trunc(std::clamp(*value, -limit, limit)));
}

std::optional<QString> KavioOSCArgument::text() const
{
    if (!present_ || val_.typeId() != QMetaType::QString)
        return std::nullopt;
    return val_.toString();
}
