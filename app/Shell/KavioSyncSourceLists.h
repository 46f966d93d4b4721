#pragma once
// The sync-source and interface settings' list logic, pure: which entries the source pop-ups
// hold, which one is selected when a remembered device is missing or back, the network
// interface snapshot the DMX pop-up is built from, and the values the titles stand for. The
// application controller feeds it the devices there are and shows what it answers.

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <cstdint>
#include <utility>
#include <vector>

struct AudioDeviceInfo;

namespace KavioSyncSourceLists {

inline const QString kDisabled = QStringLiteral("Disabled");
inline const QString kDisable = QStringLiteral("Disable");  // the DMX pop-up's off entry
inline const QString kNone = QStringLiteral("None");
inline const QString kDisconnected = QStringLiteral(" - DISCONNECTED");
inline const QString kLoopbackInterface = QStringLiteral("(Loopback Interface)");
inline const QString kLoopbackAddress = QStringLiteral("127.0.0.1");
// An empty title stands for a separator.
inline const QString kSeparator;

// A remembered choice among `titles`: itself when present; a bare name that is missing is
// appended with the marker; a marked name selects its bare name when that is back, else is
// appended as it is (never with a second marker). Answers the title to select.
QString rememberedTitle(QStringList& titles, const QString& remembered);

// The selection a pop-up falls back to when `selected` is not among its titles: the first source
// (the third entry) when there is one, else the first entry. `selected` itself when present,
// and a null selection stays null.
QString fallbackSelection(const QStringList& titles, const QString& selected);

// The LTC pop-up's devices, in the server's order: (title, UID) of each device with input
// channels whose name differs from its UID (an unnamed or UID-named device is left out). The
// title is the name; devices that share a name add " (<UID>)" to it.
std::vector<std::pair<QString, QString>> ltcDevices(const std::vector<AudioDeviceInfo>& devices);
// The 0-based input channel a channel title stands for; a title outside 1..channelCount (a
// saved "None", a device with fewer channels) stands for the first channel.
int32_t ltcChannelForTitle(const QString& title, uint64_t channelCount);
// The clock's free-wheel frames: "Disabled" never gives up (2147483647), else the title's number.
int32_t freeWheelFrames(const QString& title);

// One network interface as the DMX settings see it.
struct NetworkInterfaceState {
    QString name;
    bool ethernetOrWireless = false;
    bool linkUp = false;
    QString ipv4;  // the first address; empty without one
};
// Interface name → its first IPv4 address, or "1" / "0" for a link up or down without one, for
// Ethernet and wireless interfaces only; plus "(Loopback Interface)" = "127.0.0.1".
QVariantMap networkConfiguration(const std::vector<NetworkInterfaceState>& interfaces);
// The machine's interfaces now: the IPv4 snapshot, with the kind (/sys/class/net/<if>/type 1,
// or its "wireless" folder) and the link ("carrier") read from sysfs under `sysfsRoot`.
std::vector<NetworkInterfaceState> systemNetworkInterfaces(const QString& sysfsRoot = QStringLiteral("/sys/class/net"));

// The DMX pop-up: "Disable", the separator, one "<interface> - <address>" entry per interface
// whose value is an address (its leading number 2 or more), sorted by title, and the entry a
// remembered or earlier choice needs. `addresses` runs beside `titles` ("none" for "Disable",
// empty for the separator and a disconnected entry).
struct DmxMenu {
    QStringList titles;
    QStringList addresses;
    QString selected;
    QString addressOf(const QString& title) const;
    bool operator==(const DmxMenu&) const = default;
};
// The menu rebuilt from `configuration`: the remembered interface (its whole title, so an
// interface whose address changed counts as missing) is selected, or shown disconnected; else the
// earlier selection when it is still offered; else "Disable".
DmxMenu dmxMenu(const QVariantMap& configuration, const QString& lastInterface, const QString& previousTitle);
// Art-Net's Sub-Uni byte from the sub-net title (a multiple of 16) and the universe title.
int32_t dmxSubUni(const QString& subNetTitle, const QString& universeTitle);

}  // namespace KavioSyncSourceLists
