#include "Shell/KavioSyncSourceLists.h"

#include "AudioBackend.h"
#include "NetworkInterfaces.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace KavioSyncSourceLists {

QString rememberedTitle(QStringList& titles, const QString& remembered)
{
    if (titles.contains(remembered))
        return remembered;
    if (!remembered.contains(kDisconnected)) {
        titles.append(remembered + kDisconnected);
        return titles.last();
    }
    const QString bare = QString(remembered).remove(kDisconnected);
    if (titles.contains(bare))
        return bare;
    titles.append(remembered);
    return remembered;
}

QString fallbackSelection(const QStringList& titles, const QString& selected)
{
    if (selected.isNull() || titles.contains(selected))
        return selected;
    if (titles.size() >= 3)
        return titles[2];
    return titles.value(0);
}

std::vector<std::pair<QString, QString>> ltcDevices(const std::vector<AudioDeviceInfo>& devices)
{
    std::vector<std::pair<QString, QString>> out;
    for (const AudioDeviceInfo& device : devices) {
        const QString name = QString::fromStdString(device.name);
        const QString uid = QString::fromStdString(device.uid);
        if (device.inputChannels > 0 && !name.isEmpty() && name != uid)
            out.emplace_back(name, uid);
    }
    // Titles choose the device: devices of one name (two null sinks' monitors) carry their UID.
    std::vector<std::pair<QString, QString>> titled = out;
    for (auto& [name, uid] : titled) {
        const QString& bare = name;  // clang 14 cannot capture a structured binding
        if (std::count_if(out.begin(), out.end(), [&bare](const auto& d) { return d.first == bare; }) > 1)
            name += QStringLiteral(" (") + uid + QLatin1Char(')');
    }
    return titled;
}

int32_t ltcChannelForTitle(const QString& title, uint64_t channelCount)
{
    bool ok = false;
    const long long n = title.toLongLong(&ok);
    return ok && n >= 1 && uint64_t(n) <= channelCount ? int32_t(n - 1) : 0;
}

int32_t freeWheelFrames(const QString& title)
{
    if (title == kDisabled)
        return std::numeric_limits<int32_t>::max();
    return title.toInt();
}

QVariantMap networkConfiguration(const std::vector<NetworkInterfaceState>& interfaces)
{
    QVariantMap configuration;
    for (const NetworkInterfaceState& state : interfaces) {
        if (!state.ethernetOrWireless || state.name.isEmpty())
            continue;
        configuration.insert(state.name, state.ipv4.isEmpty() ? QString::number(state.linkUp ? 1 : 0) : state.ipv4);
    }
    configuration.insert(kLoopbackInterface, kLoopbackAddress);
    return configuration;
}

std::vector<NetworkInterfaceState> systemNetworkInterfaces(const QString& sysfsRoot)
{
    const auto read = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).trimmed() : QString();
    };
    const QVariantMap snapshot = NetworkInterfaces::ipv4Snapshot();
    std::vector<NetworkInterfaceState> out;
    const QDir root(sysfsRoot);
    for (const QString& name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
        const QString folder = root.filePath(name);
        NetworkInterfaceState state;
        state.name = name;
        // ARPHRD_ETHER is 1; a wireless interface is also of that type, and has the folder.
        state.ethernetOrWireless = read(folder + QStringLiteral("/type")) == QStringLiteral("1") ||
                                   QFileInfo(folder + QStringLiteral("/wireless")).isDir();
        state.linkUp = read(folder + QStringLiteral("/carrier")) == QStringLiteral("1");
        state.ipv4 = snapshot.value(name).toMap().value(QStringLiteral("Addresses")).toList().value(0).toString();
        out.push_back(state);
    }
    return out;
}

QString DmxMenu::addressOf(const QString& title) const
{
    const qsizetype i = titles.indexOf(title);
    return i < 0 ? QString() : addresses.value(i);
}

DmxMenu dmxMenu(const QVariantMap& configuration, const QString& lastInterface, const QString& previousTitle)
{
    std::vector<std::pair<QString, QString>> entries;
    for (auto it = configuration.cbegin(); it != configuration.cend(); ++it) {
        // Link states "0" and "1", and addresses beginning 0 or 1, are no interface to listen on.
        const QString value = it.value().toString();
        if (value.section(QLatin1Char('.'), 0, 0).toInt() >= 2)
            entries.emplace_back(it.key() + QStringLiteral(" - ") + value, value);
    }
    std::sort(entries.begin(), entries.end());

    DmxMenu menu;
    menu.titles = {kDisable, kSeparator};
    menu.addresses = {QStringLiteral("none"), QString()};
    for (const auto& [title, address] : entries) {
        menu.titles.append(title);
        menu.addresses.append(address);
    }
    menu.selected = kDisable;
    if (!lastInterface.isEmpty()) {
        menu.selected = rememberedTitle(menu.titles, lastInterface);
        while (menu.addresses.size() < menu.titles.size())
            menu.addresses.append(QString());
    } else if (!previousTitle.isEmpty() && menu.titles.contains(previousTitle)) {
        menu.selected = previousTitle;
    }
    return menu;
}

int32_t dmxSubUni(const QString& subNetTitle, const QString& universeTitle)
{
    return subNetTitle.toInt() + universeTitle.toInt();
}

}  // namespace KavioSyncSourceLists
