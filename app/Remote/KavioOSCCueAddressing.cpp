#include "Remote/KavioOSCCueAddressing.h"

namespace {

QString replaced(const QString& address, const QString& role, std::uint64_t index)
{
    QString result = address;
    return result.replace(QStringLiteral("/kavio/%1/").arg(role), QStringLiteral("/kavio/%1/").arg(index));
}

}  // namespace

QStringList kavioRewrittenCueAddresses(const QString& address, const KavioOSCCueListState& state)
{
    const QString role = address.section(QLatin1Char('/'), 2, 2);
    if (role == QLatin1String("all") || role == QLatin1String("selected")) {
        QStringList addresses;
        if (role == QLatin1String("all")) {
            for (std::uint64_t n = 1; n <= state.count; ++n)
                addresses << replaced(address, role, n);
        } else {
            for (const std::uint64_t n : state.selectedIndexes)
                addresses << replaced(address, role, n);
        }
        return addresses;
    }
    if (!state.currentIndex)
        return {address};
    const std::uint64_t current = *state.currentIndex;
    if (role == QLatin1String("current"))
        return {replaced(address, role, current)};
    if (role == QLatin1String("next"))
        return {replaced(address, role, current + 1)};
    if (role == QLatin1String("previous"))
        return {replaced(address, role, current - 1)};
    return {address};
}

bool kavioAddressHasCueRole(const QString& address)
{
    const QStringView role = QStringView(address).split(QLatin1Char('/')).value(2);
    for (const char* word : {"current", "next", "previous", "all", "selected"})
        if (role == QLatin1String(word))
            return true;
    return false;
}
