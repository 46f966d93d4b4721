#include "NetworkInterfaces.h"

#include "Log.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace NetworkInterfaces {

QVariantMap ipv4StateFromRecords(const std::vector<AddressRecord>& records)
{
    QVariantMap snapshot;
    for (const auto& record : records) {
        if (record.family != AF_INET || record.address.isEmpty() || record.interfaceName.isEmpty())
            continue;
        QVariantMap state = snapshot.value(record.interfaceName).toMap();
        QVariantList addresses = state.value("Addresses").toList();
        addresses.append(record.address);
        state.insert("Addresses", addresses);
        snapshot.insert(record.interfaceName, state);
    }
    return snapshot;
}

std::vector<AddressRecord> systemAddressRecords()
{
    std::vector<AddressRecord> records;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        KLOG_WARN("cannot read the network interfaces: {}", std::strerror(errno));
        return records;
    }
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        AddressRecord record;
        record.interfaceName = QString::fromUtf8(entry->ifa_name);
        if (entry->ifa_addr) {
            record.family = entry->ifa_addr->sa_family;
            char text[INET6_ADDRSTRLEN] = {};
            const void* raw = nullptr;
            if (record.family == AF_INET)
                raw = &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
            else if (record.family == AF_INET6)
                raw = &reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr;
            if (raw && inet_ntop(record.family, raw, text, sizeof text))
                record.address = QString::fromLatin1(text);
        }
        records.push_back(std::move(record));
    }
    freeifaddrs(list);
    return records;
}

QVariantMap ipv4Snapshot()
{
    return ipv4StateFromRecords(systemAddressRecords());
}

}  // namespace NetworkInterfaces
