#include "Shell/KavioSyncSourceLists.h"

#include "AudioBackend.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

using namespace KavioSyncSourceLists;

TEST(KavioSyncSourceLists, RememberedChoicesAreShownOnceAndFoundAgain)
{
    const QString mark = kDisconnected;
    const struct {
        const char* name;
        QString remembered;
        QString selected;
        QStringList added;
    } cases[] = {
        {"there", "B", "B", {}},
        {"missing", "X", "X" + mark, {"X" + mark}},
        {"saved while missing, still missing: no second marker", "X" + mark, "X" + mark, {"X" + mark}},
        {"saved while missing, back", "B" + mark, "B", {}},
    };
    for (const auto& c : cases) {
        QStringList titles = {kDisabled, kSeparator, "A", "B"};
        EXPECT_EQ(rememberedTitle(titles, c.remembered), c.selected) << c.name;
        EXPECT_EQ(titles.mid(4), c.added) << c.name;
    }
    // The fallback when the selection is gone: the first source, else the first entry.
    EXPECT_EQ(fallbackSelection({kDisabled, kSeparator, "A"}, "B"), "A");
    EXPECT_EQ(fallbackSelection({kDisabled, kSeparator}, "B"), kDisabled);
    EXPECT_EQ(fallbackSelection({kDisabled, kSeparator, "A"}, "A"), "A");
    EXPECT_TRUE(fallbackSelection({kDisabled}, QString()).isNull());
}

TEST(KavioSyncSourceLists, LTCDevicesChannelsAndFreeWheel)
{
    std::vector<AudioDeviceInfo> devices(4);
    devices[0] = {1, "alsa_input.usb", "USB Audio", 2, 0, 48000};
    devices[1] = {2, "raw_uid", "raw_uid", 2, 0, 48000};        // named by its UID: left out
    devices[2] = {3, "alsa_output.hdmi", "HDMI", 0, 8, 48000};  // no input: left out
    devices[3] = {4, "null.monitor", "Monitor of Null Output", 2, 0, 48000};
    EXPECT_EQ(ltcDevices(devices), (std::vector<std::pair<QString, QString>>{
                                       {"USB Audio", "alsa_input.usb"}, {"Monitor of Null Output", "null.monitor"}}));
    // Two of one name stay apart.
    devices.push_back({5, "other.monitor", "Monitor of Null Output", 8, 0, 48000});
    EXPECT_EQ(ltcDevices(devices), (std::vector<std::pair<QString, QString>>{
                                       {"USB Audio", "alsa_input.usb"},
                                       {"Monitor of Null Output (null.monitor)", "null.monitor"},
                                       {"Monitor of Null Output (other.monitor)", "other.monitor"}}));

    const struct {
        QString title;
        uint64_t channels;
        int32_t channel;
    } channels[] = {{"1", 2, 0}, {"2", 2, 1}, {"3", 2, 0}, {"None", 2, 0}, {"0", 2, 0}, {"2", 0, 0}};
    for (const auto& c : channels)
        EXPECT_EQ(ltcChannelForTitle(c.title, c.channels), c.channel) << c.title.toStdString() << " of " << c.channels;

    EXPECT_EQ(freeWheelFrames(kDisabled), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(freeWheelFrames("10"), 10);
}

TEST(KavioSyncSourceLists, NetworkConfigurationFromTheInterfaces)
{
    const std::vector<NetworkInterfaceState> interfaces = {
        {"eth0", true, true, "192.168.1.20"},
        {"eth1", true, true, ""},       // link up, no address
        {"eth2", true, false, ""},      // link down
        {"lo", false, true, "127.0.0.1"},  // not Ethernet: the loopback entry stands for it
        {"tun0", false, true, "10.8.0.2"},
    };
    EXPECT_EQ(networkConfiguration(interfaces),
              (QVariantMap{{"eth0", "192.168.1.20"}, {"eth1", "1"}, {"eth2", "0"}, {kLoopbackInterface, kLoopbackAddress}}));

    // The kind and the link come from sysfs: type 1 is Ethernet, a "wireless" folder Wi-Fi.
    QTemporaryDir sysfs;
    const auto write = [&](const QString& path, const QByteArray& text) {
        QDir().mkpath(QFileInfo(sysfs.filePath(path)).path());
        QFile file(sysfs.filePath(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    };
    write("enp1s0/type", "1\n");
    write("enp1s0/carrier", "1\n");
    write("wlp2s0/type", "1\n");
    write("wlp2s0/wireless/.keep", "");
    write("wlp2s0/carrier", "0\n");
    write("lo/type", "772\n");
    write("lo/carrier", "1\n");
    std::map<QString, std::pair<bool, bool>> seen;
    for (const NetworkInterfaceState& state : systemNetworkInterfaces(sysfs.path()))
        seen[state.name] = {state.ethernetOrWireless, state.linkUp};
    EXPECT_EQ(seen, (std::map<QString, std::pair<bool, bool>>{
                        {"enp1s0", {true, true}}, {"wlp2s0", {true, false}}, {"lo", {false, true}}}));
}

TEST(KavioSyncSourceLists, DmxMenu)
{
    const QVariantMap configuration = {
        {"eth0", "192.168.1.20"}, {"eth1", "1"}, {"eth2", "0"}, {"usb0", "0.0.0.0"}, {kLoopbackInterface, kLoopbackAddress}};
    const QStringList offered = {kDisable, kSeparator, "(Loopback Interface) - 127.0.0.1", "eth0 - 192.168.1.20"};
    const struct {
        const char* name;
        QString last, previous;
        QStringList titles;
        QString selected;
    } cases[] = {
        {"first start", "", "", offered, kDisable},
        {"the remembered interface", "eth0 - 192.168.1.20", "eth0 - 192.168.1.20", offered, "eth0 - 192.168.1.20"},
        // The address changed: the new one is offered, the remembered one shown missing.
        {"address changed", "eth0 - 10.0.0.7", "eth0 - 10.0.0.7", offered + QStringList{"eth0 - 10.0.0.7" + kDisconnected},
         "eth0 - 10.0.0.7" + kDisconnected},
        {"back after missing", "eth0 - 192.168.1.20" + kDisconnected, "", offered, "eth0 - 192.168.1.20"},
        {"nothing remembered", "", "eth0 - 192.168.1.20", offered, "eth0 - 192.168.1.20"},
    };
    for (const auto& c : cases) {
        const DmxMenu menu = dmxMenu(configuration, c.last, c.previous);
        EXPECT_EQ(menu.titles, c.titles) << c.name;
        EXPECT_EQ(menu.selected, c.selected) << c.name;
        EXPECT_EQ(menu.addresses.size(), menu.titles.size()) << c.name;
    }
    const DmxMenu menu = dmxMenu(configuration, "", "");
    EXPECT_EQ(menu.addressOf("eth0 - 192.168.1.20"), "192.168.1.20");
    EXPECT_EQ(menu.addressOf(kDisable), "none");
    EXPECT_EQ(dmxSubUni("16", "3"), 19);
    EXPECT_EQ(dmxSubUni("240", "15"), 255);
}
