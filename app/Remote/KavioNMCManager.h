#pragma once
// The network master/slave link: one copy of the program (the network master) sends its
// transport events, and its cue events, to the copies that follow it; a copy follows one master
// chosen from those found by zeroconf. A copy that follows another copy of this program is its
// backup and mirrors the cue events on its own cue list.
//
// This copy is network master while the master switch is on; without a master every send does
// nothing, the locate suppression included. The transport is platform/netlink.

#include "NMCPacket.h"
#include "QVTNMCSlave.h"
#include "Zeroconf.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

class QVTClock;
class QVTNMCMaster;

// The command byte of a network-link packet. Codes below 100 are the transport commands a plain
// slave obeys; 100 and above are the cue commands a backup mirrors.
enum KavioNetworkLinkCommand : uint8_t {
    KavioNetworkLinkCommandStop = 1,  // stop, then locate to the packet's time
    KavioNetworkLinkCommandPlay = 2,
    KavioNetworkLinkCommandLocate = 10,
    KavioNetworkLinkCommandSeek = 100,
    KavioNetworkLinkCommandRewindCue = 105,
    KavioNetworkLinkCommandGoto = 110,
    KavioNetworkLinkCommandJumpToCue = 120,
    KavioNetworkLinkCommandJumpToCueAndPlay = 130,
    KavioNetworkLinkCommandBackupStop = 140,
    KavioNetworkLinkCommandBackupPlay = 150,
    KavioNetworkLinkCommandPanic = 160,
};

// A cue command as the cue list hands it to the link: the command code, the time ("" for the
// commands that carry none), the frame rate and the cue's whole 1-based index (the link refuses
// an index its byte cannot carry rather than wrap it onto another cue, which the backup would
// play instead).
struct KavioNMCCueCommand {
    KavioNetworkLinkCommand command = KavioNetworkLinkCommandStop;
    QString smpteTime;
    uint8_t fps = 0;
    uint64_t cue = 0;
};

// The masters menu's rules, pure. A detected master is (service name, IPv4 address); its title
// is the name's part before the first " : ", " : ", and the address.
namespace KavioNMCMenu {

inline const QString kDisabled = QStringLiteral("Disabled");
inline const QString kSeparator;  // an empty title stands for the separator
inline const QString kDisconnected = QStringLiteral(" - DISCONNECTED");
inline const QString kAppName = QStringLiteral("Kavio");

using Entry = std::pair<QString, QString>;  // service name, IPv4 address

// "<name before the first ' : '> : <address>".
QString title(const Entry& entry);
// The entries of one resolved service: one per IPv4 address with a port (IPv6 is skipped).
std::vector<Entry> entriesOfService(const Zeroconf::Service& service);
// The menu's master titles: entries sorted by service name, each title once.
QStringList masterTitles(std::vector<Entry> entries);
// The host of a title: its part after the last " : ".
QString hostOfTitle(const QString& title);
// A title's application: its part before the first " : ".
QString appOfTitle(const QString& title);

}  // namespace KavioNMCMenu

class KavioNMCManager : public QVTNMCSlaveDelegate {
public:
    // The single instance, created on first use; lives for the process. Any thread.
    static KavioNMCManager& sharedManager();

    using SnapshotProvider = std::function<QVariantMap()>;
    // A manager of its own, for tests (one process can then hold a master and a backup): its
    // zeroconf, the link's UDP port (the master listens there, 0 for a free one; a slave sends
    // there) and the interface snapshot. sharedManager() has the system's zeroconf, the
    // link's fixed port and NetworkInterfaces::ipv4Snapshot.
    KavioNMCManager(std::shared_ptr<Zeroconf> zeroconf, uint16_t port, SnapshotProvider snapshot);
    ~KavioNMCManager() override;

    KavioNMCManager(const KavioNMCManager&) = delete;
    KavioNMCManager& operator=(const KavioNMCManager&) = delete;

    // --- The controls (main thread) ---------------------------------------------------------
    // The masters menu as the pop-up shows it: "Disabled", the separator (""), the masters;
    // the selected title; whether it can be used. And the master switch.
    struct Menu {
        QStringList titles;
        QString selected;
        bool enabled = true;
        bool masterSwitch = false;
        bool operator==(const Menu&) const = default;
    };
    // Called on the main thread with the new state after each change.
    void setMenuHandler(std::function<void(const Menu&)> handler);
    Menu menu() const;

    // Drops master and slave, forgets the choice, makes the master and follows the switch,
    // starts discovery and observes "KavioNetworkConfigurationDidChangeNotification".
    void startManager();
    // The master switch's action: on makes this copy master (a running slave stays); off drops
    // the master. Posts "ProjectHasUnsavedChanges".
    void setMasterSwitch(bool on);
    void toggleNMCOutput();
    // The user chose `title` in the menu; then serverSelected.
    void selectServer(const QString& title);
    // Follows the selected master: a slave of its host, in backup mode for a "Kavio" master;
    // nobody for "Disabled" or a disconnected title. Posts "ProjectHasUnsavedChanges".
    void serverSelected();
    // Rebuilds the menu from the detected masters, with the automatic first choice, the
    // reconnection of a returning master and the disconnected entry of a missing one.
    void buildServersList();
    // A new interface snapshot: when it differs from the last, the masters are found again.
    void validateNetwork();
    // Discovery's current list of "_nmc._udp." services (from zeroconf's thread or a test).
    void servicesChanged(const std::vector<Zeroconf::Service>& services);

    // The project's "nmcManager" record: {"enableButton": bool, "serversPopup": title}.
    QVariantMap saveData() const;
    void loadData(const QVariantMap& data);

    // The master's port (0 without a master) and its subscribed slaves, for tests.
    uint16_t masterPort() const;
    size_t followerCount() const;
    bool isFollowing() const;

    // --- Sends (any thread; they never block on the network) ----------------------------------
    // Transport commands to the followers (stop 1, play 2, locate 10), each with an SMPTE time,
    // the frame rate (24, 25 or 30) and a cue number (0 for the clock's commands). Sent only
    // while this copy is network master; a locate while the suppression is set is not sent and
    // clears the suppression.
    void sendPlayOnLocation(const QString& smpteTime, uint8_t fps, uint8_t cue);
    void sendStopOnLocation(const QString& smpteTime, uint8_t fps, uint8_t cue);
    void sendLocateOnLocation(const QString& smpteTime, uint8_t fps, uint8_t cue);

    // Cue commands to a backup: play (150) and stop (140) with the current cue's elapsed time,
    // the frame rate and the cue's index.
    void sendKavioPlay(const QString& smpteTime, uint8_t fps, uint64_t cue);
    void sendKavioStop(const QString& smpteTime, uint8_t fps, uint64_t cue);
    // The cue commands a backup mirrors (play 130, jump 120, rewind 105, seek 100, goto 110,
    // panic 160 with rate 30). A cue above 255 is not sent (logged).
    void sendKavioPlayCue(uint64_t cue, uint8_t fps);
    void sendKavioJumpToCue(uint64_t cue, uint8_t fps);
    void sendKavioRewindCue(uint64_t cue, uint8_t fps);
    void sendKavioSeek(const QString& smpteTime, uint8_t fps, uint64_t cue);
    void sendKavioGoto(const QString& smpteTime, uint8_t fps, uint64_t cue);
    void sendKavioPanic();
    // Tests: every cue command is handed to the observer (empty: none) before it is sent.
    using CueCommandObserver = std::function<void(const KavioNMCCueCommand&)>;
    void setCueCommandObserver(CueCommandObserver observer);

    // One-shot suppression of the next locate, set by the cue list when it moves the clock itself.
    bool shouldSkipSendingNextLocate() const;
    void setShouldSkipSendingNextLocate(bool skip);

    // This copy follows another copy of the program (a backup, mirroring its cue commands)
    // rather than only its transport. Follows the selection. Any thread.
    bool isKavioBackup() const;
    void setIsKavioBackup(bool backup);

    // The receiver of the packets: the master clock, held weakly. Any thread.
    void setDelegate(const std::weak_ptr<QVTClock>& delegate);
    // Hands a received packet to the delegate's receivedNMCMessage, on the calling thread (the
    // link's); nothing without a delegate.
    void handleNMCData(std::span<const uint8_t> packet) override;

private:
    KavioNMCManager();

    std::shared_ptr<QVTNMCMaster> currentMaster() const;
    void send(uint8_t command, const QString& smpteTime, uint8_t fps, uint8_t cue);
    void sendCueCommand(KavioNMCCueCommand command);
    void menuChanged();
    void resolveServices();  // detectedServers_ from services_; under serversMutex_
    void rebuildMenuLater();  // buildServersList on the main queue
    bool menuHas(const QString& title) const;
    void select(const QString& title);

    std::shared_ptr<Zeroconf> zeroconf();  // main thread; the system's is taken on first use
    std::shared_ptr<Zeroconf> zeroconf_;
    bool usesSystemZeroconf_ = false;
    const uint16_t port_;
    const SnapshotProvider snapshot_;

    std::atomic<bool> shouldSkipSendingNextLocate_{false};
    std::atomic<bool> isKavioBackup_{false};

    mutable std::mutex masterMutex_;  // guards master_ only: the sends copy it out
    std::shared_ptr<QVTNMCMaster> master_;
    std::unique_ptr<QVTNMCSlave> slave_;  // main thread

    // Main thread: the menu and the choice.
    Menu menu_;
    QString lastSelectedItem_;
    bool selectedItemAfterStartup_ = false;
    bool started_ = false;
    std::function<void(const Menu&)> menuHandler_;

    // Guards what discovery (zeroconf's thread) and the main thread share.
    mutable std::mutex serversMutex_;
    std::vector<KavioNMCMenu::Entry> detectedServers_;
    std::vector<Zeroconf::Service> services_;
    QVariantMap interfaces_;

    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // for main-queue hops

    std::mutex delegateMutex_;
    std::mutex observerMutex_;
    CueCommandObserver cueCommandObserver_;
    std::weak_ptr<QVTClock> delegate_;
};
