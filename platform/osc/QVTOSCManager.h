#pragma once
// The OSC kit's manager: named OSC inputs listening on UDP ports, named outputs sending to a
// host and port, the kit's own notification centre on which received messages arrive, the
// default sender node that mirrors cue feedback, and the list of OSC clients found by
// zeroconf. Inputs are published as "_osc._udp" services while they listen.
//
// Received messages: for each one, on the input's own receiving thread, the kit posts
// "QVTOSC-RECEIVED" (object nullptr) on oscKitNotificationCenter() with the user info
//   "address": the message's address (QString)
//   "0", "1", ...: one entry per argument, {"type": 1 float | 2 integer | 3 string,
//                  "val": the value (float or double, int or qlonglong, QString)}
// Doubles arrive as type 1, 64-bit integers and the booleans T/F (as 1/0) as type 2, symbols
// and characters as type 3. Arguments of other OSC types get no entry (their position's key
// is absent). Packets that are not well-formed OSC (checked in full before liblo reads them; a
// bundle with one bad element goes whole), and messages whose address does not begin with "/",
// are dropped. Bundles are unpacked and their messages posted in order, at once
// (time tags are not waited for); a bundle nested deeper than 8 levels is dropped whole.
//
// All operations are safe from any thread. Input and output changes are meant for the main
// thread; sendOSCMessage() may be called from any thread, including a receiving thread.

#include "NotificationCenter.h"
#include "QVTOSCMessage.h"
#include "QVTOSCSenderNode.h"
#include "Zeroconf.h"

#include <QString>
#include <QVariantList>

#include <map>
#include <memory>
#include <mutex>
#include <vector>

inline const QString kQVTOSCReceivedNotification = QStringLiteral("QVTOSC-RECEIVED");
inline const QString kQVTOSCDetectedClientsChangedNotification =
    QStringLiteral("QVTOSC_DETECTED_CLIENTS_CHANGED");
inline const QString kQVTOSCAddressKey = QStringLiteral("address");
inline const QString kQVTOSCTypeKey = QStringLiteral("type");
inline const QString kQVTOSCValKey = QStringLiteral("val");

class QVTOSCManager {
public:
    // The process-wide manager, made on first use with the system's zeroconf.
    static QVTOSCManager& sharedManager();

    // A separate manager (tests): zeroconf may be a fake; nullptr means none at all.
    explicit QVTOSCManager(std::shared_ptr<Zeroconf> zeroconf);
    ~QVTOSCManager();
    QVTOSCManager(const QVTOSCManager&) = delete;
    QVTOSCManager& operator=(const QVTOSCManager&) = delete;

    NotificationCenter& oscKitNotificationCenter();

    // Opens the input `name` on UDP `port` (all interfaces), replacing an input of that name.
    // Answers true when it listens; false when the port cannot be opened (in use, refused) or
    // is outside 0..65535. Port 0 lets the system choose (see portOfInputWithName()).
    bool createInputWithName(const QString& name, int port);
    // Closes the input; nothing when there is none. Waits for a message being delivered on
    // the input's thread, so observers must not wait for the thread that removes the input.
    // May be called from the input's own receiving thread (then it does not wait).
    void removeInputWithName(const QString& name);
    // The UDP port the input listens on, 0 when there is no such input.
    int portOfInputWithName(const QString& name) const;

    // Makes the output `name` send to `host` (name or address) and `port`, replacing an output
    // of that name. Answers false, and leaves no output of that name, for an unusable target:
    // an empty host or "-", a port outside 1..65535, or a host name that does not resolve.
    bool createOutputWithName(const QString& name, const QString& host, int port);
    void removeOutputWithName(const QString& name);

    // Sends the message to every output, and again under each address the default sender node
    // mirrors it to. Without any output it sends nothing. The message is read once, at the
    // call; the caller may change it as soon as this returns. Never blocks on the network (a
    // full socket buffer drops the datagram), but it allocates and briefly takes the lock that
    // output changes take: not for per-cycle use on a real-time thread.
    void sendOSCMessage(const QVTOSCMessage& message);

    QVTOSCSenderNode& defaultSenderNode();

    // The OSC clients currently found by zeroconf, each a QVariantList of four entries:
    // [0] service name, [1] display name ("<service name>:<port>"), [2] host (IPv4 text),
    // [3] port (int). This program's own input "Kavio" on 51000 shows as "Kavio:51000".
    // Each change posts "QVTOSC_DETECTED_CLIENTS_CHANGED" (no user info) on the kit's centre,
    // from the zeroconf thread. Without zeroconf the list stays empty.
    QVariantList listOfDetectedOSCClients() const;

private:
    struct Input;
    struct Output;
    struct Clients;

    NotificationCenter center_;
    QVTOSCSenderNode senderNode_;
    std::shared_ptr<Zeroconf> zeroconf_;
    // Shared with the zeroconf browse handler, which may outlive this manager.
    std::shared_ptr<Clients> clients_;

    mutable std::mutex inputsMutex_;
    std::map<QString, std::unique_ptr<Input>> inputs_;
    mutable std::mutex outputsMutex_;  // held while sending, so an output is never closed mid-send
    std::map<QString, std::unique_ptr<Output>> outputs_;
};
