#include "Remote/KavioATEMManager.h"

#include "NetworkInterfaces.h"

#include <QVariantList>

QVariantMap KavioATEMManager::allConnectedNetworks()
{
    return NetworkInterfaces::ipv4Snapshot();
}

QSet<QString> KavioATEMManager::localIPs()
{
    QSet<QString> ips;
    const QVariantMap networks = allConnectedNetworks();
    for (auto it = networks.cbegin(); it != networks.cend(); ++it) {
        const QVariantList addresses = it.value().toMap().value(QStringLiteral("Addresses")).toList();
        if (!addresses.isEmpty())
            ips.insert(addresses.front().toString());
    }
    return ips;
}
