#include "NetworkInterfaces.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

using NetworkInterfaces::AddressRecord;

TEST(NetworkInterfaces, SnapshotKeepsIPv4AddressesPerInterfaceInTheSystemsOrder)
{
    const std::vector<AddressRecord> records = {
        {"eth0", AF_PACKET, ""},
        {"eth0", AF_INET, "192.168.1.20"},
        {"wlan0", AF_INET, "10.0.0.7"},
        {"eth0", AF_INET, "192.168.1.21"},
        {"eth0", AF_INET6, "fe80::1"},
        {"eth1", AF_INET6, "fe80::2"},  // up, but no IPv4: absent
        {"eth2", AF_PACKET, ""},
        {"lo", AF_INET, "127.0.0.1"},
    };
    const QVariantMap snapshot = NetworkInterfaces::ipv4StateFromRecords(records);
    EXPECT_EQ(snapshot.keys(), QStringList({"eth0", "lo", "wlan0"}));
    EXPECT_EQ(snapshot["eth0"].toMap()["Addresses"].toList(),
              QVariantList({"192.168.1.20", "192.168.1.21"}));
    EXPECT_EQ(snapshot["wlan0"].toMap()["Addresses"].toList(), QVariantList({"10.0.0.7"}));
    EXPECT_TRUE(NetworkInterfaces::ipv4StateFromRecords({}).isEmpty());
}

TEST(NetworkInterfaces, TheRealSnapshotHoldsLoopback)
{
    const QVariantMap snapshot = NetworkInterfaces::ipv4Snapshot();
    bool found = false;
    for (const QVariant& state : snapshot)
        found = found || state.toMap()["Addresses"].toList().contains("127.0.0.1");
    EXPECT_TRUE(found);
}
