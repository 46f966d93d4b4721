#pragma once
// The machine's IPv4 state per network interface, read fresh on every call (nothing is kept):
// interface name → {"Addresses": [IPv4 addresses as text, in the kernel's order]}. Interfaces
// without an IPv4 address are left out; loopback is included. The switcher integration, the OSC
// surface, the network link and the DMX settings all read this one snapshot.

#include <QString>
#include <QVariantMap>

#include <vector>

namespace NetworkInterfaces {

// One address of one interface as the system lists it (AF_INET, AF_INET6, AF_PACKET, …).
struct AddressRecord {
    QString interfaceName;
    int family = 0;
    QString address;  // numeric text; empty when the entry carries no address
};

// The pure part: records in the system's order → the snapshot.
QVariantMap ipv4StateFromRecords(const std::vector<AddressRecord>& records);

// The system's records from getifaddrs, in its order; empty when the list cannot be read.
std::vector<AddressRecord> systemAddressRecords();

// ipv4StateFromRecords(systemAddressRecords()).
QVariantMap ipv4Snapshot();

}  // namespace NetworkInterfaces
