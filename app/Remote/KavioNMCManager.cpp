#include "Remote/KavioNMCManager.h"

#include "Clock/QVTClock.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NetworkInterfaces.h"
#include "NotificationCenter.h"
#include "QVTNMCMaster.h"

#include <sys/socket.h>

#include <algorithm>

namespace {

const QString kProjectHasUnsavedChanges = QStringLiteral("ProjectHasUnsavedChanges");
const QString kNetworkConfigurationDidChange = QStringLiteral("KavioNetworkConfigurationDidChangeNotification");
const QString kNameSeparator = QStringLiteral(" : ");

}  // namespace

namespace KavioNMCMenu {

QString title(const Entry& entry)
{
    return appOfTitle(entry.first) + kNameSeparator + entry.second;
}

std::vector<Entry> entriesOfService(const Zeroconf::Service& service)
{
    std::vector<Entry> entries;
    if (service.port == 0) {
        return entries;
    }
    for (const Zeroconf::Address& address : service.addresses) {
        if (address.family == AF_INET && !address.text.contains(u':')) {
            entries.emplace_back(service.name, address.text);
        }
    }
    return entries;
}

QStringList masterTitles(std::vector<Entry> entries)
{
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.first.compare(b.first) < 0; });
    QStringList titles;
    for (const Entry& entry : entries) {
        const QString t = title(entry);
        if (!titles.contains(t)) {
            titles.append(t);
        }
    }
    return titles;
}

QString hostOfTitle(const QString& title)
{
    const qsizetype at = title.lastIndexOf(kNameSeparator);
    return at < 0 ? title : title.mid(at + kNameSeparator.size());
}

QString appOfTitle(const QString& title)
{
    const qsizetype at = title.indexOf(kNameSeparator);
    return at < 0 ? title : title.left(at);
}

}  // namespace KavioNMCMenu

using namespace KavioNMCMenu;

KavioNMCManager& KavioNMCManager::sharedManager()
{
    static KavioNMCManager* manager = new KavioNMCManager();  // lives past static destruction
    return *manager;
}

// The system's zeroconf is taken when the link is used, not when a send first reaches the
// manager: a process that never starts the link never talks to the daemon.
KavioNMCManager::KavioNMCManager() : KavioNMCManager(nullptr, nmclink::kDefaultPort, &NetworkInterfaces::ipv4Snapshot)
{
    usesSystemZeroconf_ = true;
}

std::shared_ptr<Zeroconf> KavioNMCManager::zeroconf()
{
    if (!zeroconf_ && usesSystemZeroconf_)
        zeroconf_ = Zeroconf::system();
    return zeroconf_;
}

KavioNMCManager::KavioNMCManager(std::shared_ptr<Zeroconf> zeroconf, uint16_t port, SnapshotProvider snapshot)
    : zeroconf_(std::move(zeroconf)), port_(port), snapshot_(std::move(snapshot))
{
    menu_.titles = {kDisabled, kSeparator};
    menu_.selected = kDisabled;
}

KavioNMCManager::~KavioNMCManager()
{
    *alive_ = false;
    NotificationCenter::defaultCenter().removeObserver(this);
    if (slave_) {
        slave_->setDelegate(nullptr);
    }
    std::lock_guard lock(masterMutex_);
    master_.reset();
}

// --- Controls ----------------------------------------------------------------------------------

void KavioNMCManager::setMenuHandler(std::function<void(const Menu&)> handler)
{
    menuHandler_ = std::move(handler);
    menuChanged();
}

KavioNMCManager::Menu KavioNMCManager::menu() const
{
    return menu_;
}

void KavioNMCManager::menuChanged()
{
    if (menuHandler_) {
        menuHandler_(menu_);
    }
}

bool KavioNMCManager::menuHas(const QString& title) const
{
    return !title.isEmpty() && menu_.titles.contains(title);
}

void KavioNMCManager::select(const QString& title)
{
    menu_.selected = title;
}

void KavioNMCManager::startManager()
{
    if (slave_) {
        slave_->setDelegate(nullptr);
        slave_.reset();
    }
    {
        std::lock_guard lock(masterMutex_);
        master_.reset();
    }
    isKavioBackup_.store(false);
    lastSelectedItem_.clear();
    selectedItemAfterStartup_ = false;
    {
        std::lock_guard lock(serversMutex_);
        interfaces_.clear();
        detectedServers_.clear();
        services_.clear();
    }
    toggleNMCOutput();
    shouldSkipSendingNextLocate_.store(false);
    NotificationCenter::defaultCenter().removeObserver(this);
    NotificationCenter::defaultCenter().addObserver(this, kNetworkConfigurationDidChange, nullptr,
                                                    [this](const Notification&) { validateNetwork(); });
    buildServersList();
    if (!started_ && zeroconf()) {
        started_ = true;
        zeroconf()->browse(QString::fromLatin1(nmclink::kServiceType),
                          [this, alive = std::weak_ptr<bool>(alive_)](const std::vector<Zeroconf::Service>& services) {
                              // The manager outlives discovery in the program; a test's goes
                              // with its zeroconf.
                              if (!alive.expired()) {
                                  servicesChanged(services);
                              }
                          });
    }
}

void KavioNMCManager::setMasterSwitch(bool on)
{
    menu_.masterSwitch = on;
    toggleNMCOutput();
}

void KavioNMCManager::toggleNMCOutput()
{
    NotificationCenter::defaultCenter().post(kProjectHasUnsavedChanges);
    if (menu_.masterSwitch) {
        std::lock_guard lock(masterMutex_);
        if (!master_) {
            master_ = std::make_shared<QVTNMCMaster>(kAppName.toStdString(), port_, zeroconf());
        }
        menu_.enabled = false;
    } else {
        std::shared_ptr<QVTNMCMaster> dropped;
        {
            std::lock_guard lock(masterMutex_);
            dropped = std::move(master_);
        }
        menu_.enabled = true;
    }
    menuChanged();
}

void KavioNMCManager::selectServer(const QString& title)
{
    select(title);
    serverSelected();
}

void KavioNMCManager::serverSelected()
{
    NotificationCenter::defaultCenter().post(kProjectHasUnsavedChanges);
    if (slave_) {
        slave_->setDelegate(nullptr);
        slave_.reset();
    }
    const QString title = menu_.selected;
    // Backup mode follows the selection: a later master of another kind, or none, must not
    // leave this copy ignoring its transport.
    isKavioBackup_.store(false);
    if (title == kDisabled) {
        lastSelectedItem_.clear();
    } else if (!title.contains(kDisconnected) && !title.isEmpty()) {
        lastSelectedItem_ = title;
        const QString host = hostOfTitle(title);
        slave_ = std::make_unique<QVTNMCSlave>(host.toStdString(), port_);
        if (appOfTitle(title) == kAppName) {
            KLOG_INFO("will be a Kavio backup!");
            isKavioBackup_.store(true);
        }
        KLOG_INFO("slave: {}", host.toStdString());
        slave_->setDelegate(this);
    }
    shouldSkipSendingNextLocate_.store(false);
    menuChanged();
}

void KavioNMCManager::buildServersList()
{
    QString remembered = menu_.selected;
    menu_.enabled = true;
    QStringList titles{kDisabled, kSeparator};
    {
        std::lock_guard lock(serversMutex_);
        titles += masterTitles(detectedServers_);
    }
    menu_.titles = titles;
    // The first list with a master, before any choice, follows its last master.
    if (!selectedItemAfterStartup_ && menu_.titles.size() >= 3) {
        selectedItemAfterStartup_ = true;
        select(menu_.titles.last());
        lastSelectedItem_ = menu_.titles.last();
        remembered = lastSelectedItem_;
        serverSelected();
    }
    if (menuHas(remembered)) {
        select(remembered);
    } else if (const QString bare = QString(remembered).remove(kDisconnected);
               remembered.contains(kDisconnected) && menuHas(bare)) {
        select(bare);  // the master is back
        serverSelected();
    } else {
        select(kDisabled);
    }
    if (!lastSelectedItem_.isEmpty() && !menuHas(lastSelectedItem_) && !menuHas(lastSelectedItem_ + kDisconnected)) {
        menu_.titles.append(lastSelectedItem_ + kDisconnected);
        select(lastSelectedItem_ + kDisconnected);
        serverSelected();
    }
    if (menu_.masterSwitch) {
        select(kDisabled);
        menu_.enabled = false;
    } else {
        menu_.enabled = true;
    }
    menuChanged();
}

void KavioNMCManager::servicesChanged(const std::vector<Zeroconf::Service>& services)
{
    {
        std::lock_guard lock(serversMutex_);
        for (const Zeroconf::Service& s : services) {
            const bool known = std::any_of(services_.begin(), services_.end(),
                                           [&s](const Zeroconf::Service& k) { return k.name == s.name; });
            if (!known) {
                KLOG_INFO("found service: {}", s.name.toStdString());
                KLOG_INFO("netServiceDidResolveAddress: {}", s.name.toStdString());
            }
        }
        for (const Zeroconf::Service& k : services_) {
            if (std::none_of(services.begin(), services.end(),
                             [&k](const Zeroconf::Service& s) { return k.name == s.name; })) {
                KLOG_INFO("remove service: {}", k.name.toStdString());
            }
        }
        services_ = services;
        resolveServices();
    }
    rebuildMenuLater();
}

void KavioNMCManager::resolveServices()
{
    detectedServers_.clear();
    for (const Zeroconf::Service& s : services_) {
        const auto entries = entriesOfService(s);
        detectedServers_.insert(detectedServers_.end(), entries.begin(), entries.end());
    }
}

void KavioNMCManager::rebuildMenuLater()
{
    DispatchQueue::main().async([this, alive = std::weak_ptr<bool>(alive_)] {
        if (!alive.expired()) {
            buildServersList();
        }
    });
}

void KavioNMCManager::validateNetwork()
{
    const QVariantMap snapshot = snapshot_ ? snapshot_() : QVariantMap();
    {
        std::lock_guard lock(serversMutex_);
        if (snapshot == interfaces_) {
            return;
        }
        interfaces_ = snapshot;
        // Discovery keeps following the services by itself; what it last reported is resolved
        // again against the new configuration.
        resolveServices();
    }
    rebuildMenuLater();
}

QVariantMap KavioNMCManager::saveData() const
{
    return {{QStringLiteral("enableButton"), menu_.masterSwitch}, {QStringLiteral("serversPopup"), menu_.selected}};
}

void KavioNMCManager::loadData(const QVariantMap& data)
{
    if (data.isEmpty()) {
        return;
    }
    selectedItemAfterStartup_ = true;
    lastSelectedItem_.clear();
    menu_.masterSwitch = data.value(QStringLiteral("enableButton")).toBool();
    const QString saved = data.value(QStringLiteral("serversPopup")).toString();
    const QString bare = QString(saved).remove(kDisconnected);
    if (menuHas(saved)) {
        select(saved);
    } else if (menuHas(bare)) {
        select(bare);
    } else if (saved.contains(kDisconnected)) {
        menu_.titles.append(saved);
        select(saved);
    } else if (!saved.isEmpty()) {
        const QString missing = saved + kDisconnected;
        if (!menuHas(missing)) {
            KLOG_INFO("add title: {}", missing.toStdString());
            menu_.titles.append(missing);
        }
        select(missing);
    }
    toggleNMCOutput();
    serverSelected();
}

uint16_t KavioNMCManager::masterPort() const
{
    const auto master = currentMaster();
    return master ? master->port() : 0;
}

size_t KavioNMCManager::followerCount() const
{
    const auto master = currentMaster();
    return master ? master->subscriberCount() : 0;
}

bool KavioNMCManager::isFollowing() const
{
    return slave_ != nullptr;
}

// --- Sends -------------------------------------------------------------------------------------

std::shared_ptr<QVTNMCMaster> KavioNMCManager::currentMaster() const
{
    std::lock_guard lock(masterMutex_);
    return master_;
}

void KavioNMCManager::send(uint8_t command, const QString& smpteTime, uint8_t fps, uint8_t cue)
{
    if (const auto master = currentMaster()) {
        master->sendCommand(command, smpteTime.toStdString(), fps, cue);
    }
}

void KavioNMCManager::sendPlayOnLocation(const QString& smpteTime, uint8_t fps, uint8_t cue)
{
    send(KavioNetworkLinkCommandPlay, smpteTime, fps, cue);
}

void KavioNMCManager::sendStopOnLocation(const QString& smpteTime, uint8_t fps, uint8_t cue)
{
    send(KavioNetworkLinkCommandStop, smpteTime, fps, cue);
}

void KavioNMCManager::sendLocateOnLocation(const QString& smpteTime, uint8_t fps, uint8_t cue)
{
    // The suppression belongs to the next locate, sent or not: a master switched on later must
    // not lose its first locate to a restart made long before.
    if (shouldSkipSendingNextLocate_.exchange(false)) {
        return;
    }
    send(KavioNetworkLinkCommandLocate, smpteTime, fps, cue);
}

void KavioNMCManager::sendCueCommand(KavioNMCCueCommand command)
{
    CueCommandObserver observer;
    {
        std::lock_guard lock(observerMutex_);
        observer = cueCommandObserver_;
    }
    if (observer) {
        observer(command);
    }
    if (!currentMaster()) {
        return;
    }
    if (command.cue > 255) {
        KLOG_WARN("network link: command {} for cue {} not sent, the packet carries cues up to 255",
                  int(command.command), command.cue);
        return;
    }
    send(command.command, command.smpteTime.isEmpty() ? QStringLiteral("00:00:00:00") : command.smpteTime,
         command.fps, uint8_t(command.cue));
}

void KavioNMCManager::sendKavioPlay(const QString& smpteTime, uint8_t fps, uint64_t cue)
{
    sendCueCommand({KavioNetworkLinkCommandBackupPlay, smpteTime, fps, cue});
}

void KavioNMCManager::sendKavioStop(const QString& smpteTime, uint8_t fps, uint64_t cue)
{
    sendCueCommand({KavioNetworkLinkCommandBackupStop, smpteTime, fps, cue});
}

void KavioNMCManager::sendKavioPlayCue(uint64_t cue, uint8_t fps)
{
    sendCueCommand({KavioNetworkLinkCommandJumpToCueAndPlay, {}, fps, cue});
}

void KavioNMCManager::sendKavioJumpToCue(uint64_t cue, uint8_t fps)
{
    sendCueCommand({KavioNetworkLinkCommandJumpToCue, {}, fps, cue});
}

void KavioNMCManager::sendKavioRewindCue(uint64_t cue, uint8_t fps)
{
    sendCueCommand({KavioNetworkLinkCommandRewindCue, {}, fps, cue});
}

void KavioNMCManager::sendKavioSeek(const QString& smpteTime, uint8_t fps, uint64_t cue)
{
    sendCueCommand({KavioNetworkLinkCommandSeek, smpteTime, fps, cue});
}

void KavioNMCManager::sendKavioGoto(const QString& smpteTime, uint8_t fps, uint64_t cue)
{
    sendCueCommand({KavioNetworkLinkCommandGoto, smpteTime, fps, cue});
}

void KavioNMCManager::sendKavioPanic()
{
    sendCueCommand({KavioNetworkLinkCommandPanic, {}, 30, 0});
}

void KavioNMCManager::setCueCommandObserver(CueCommandObserver observer)
{
    std::lock_guard lock(observerMutex_);
    cueCommandObserver_ = std::move(observer);
}

bool KavioNMCManager::shouldSkipSendingNextLocate() const
{
    return shouldSkipSendingNextLocate_.load();
}

void KavioNMCManager::setShouldSkipSendingNextLocate(bool skip)
{
    shouldSkipSendingNextLocate_.store(skip);
}

bool KavioNMCManager::isKavioBackup() const
{
    return isKavioBackup_.load();
}

void KavioNMCManager::setIsKavioBackup(bool backup)
{
    isKavioBackup_.store(backup);
}

void KavioNMCManager::setDelegate(const std::weak_ptr<QVTClock>& delegate)
{
    std::lock_guard lock(delegateMutex_);
    delegate_ = delegate;
}

void KavioNMCManager::handleNMCData(std::span<const uint8_t> packet)
{
    std::shared_ptr<QVTClock> delegate;
    {
        std::lock_guard lock(delegateMutex_);
        delegate = delegate_.lock();
    }
    if (delegate) {
        delegate->receivedNMCMessage(packet);
    }
}
