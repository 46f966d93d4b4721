#pragma once
// The public entry point of the lighting library: one manager per process holds the receiver
// node, the port name the program shows on the Art-Net network, the interface to receive on, and
// a private notification centre on which DMX input is posted. Callers never touch a node: they
// set the interface, Net, Sub-Uni and OEM code here and observe the centre.
//
// Notifications, posted with the manager as object:
//  - "qvt_received_dmx" on the node's queue, user info {"updatedChannel": [slot 1-512, value 0-255]};
//  - "qvt_poll_replies" on the thread that called discoverOutputs(), user info {"nodes": a list of
//    [LongName, "a.b.c.d", SubSwitch, universe]} (one entry per DMX output port found).
//
// Threads: the setters that replace or address the node (setInputPortInterface, setOemCode,
// listenNet, discoverOutputs) are meant for one thread, the main one. portName() and
// inputPortInterface() may be read from any thread.
//
// A manager must be owned by a shared_ptr (sharedManager() is): its nodes hold it weakly.

#include "QVTLightingNode.h"

#include "NotificationCenter.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QVTLightingReceiverNode;

extern const QString QVTLightingReceivedDMXNotification;  // "qvt_received_dmx"
extern const QString QVTLightingUpdatedChannelKey;        // "updatedChannel"
extern const QString QVTLightingPollRepliesNotification;  // "qvt_poll_replies"
extern const QString QVTLightingNodesKey;                 // "nodes"

class QVTLightingManager : public std::enable_shared_from_this<QVTLightingManager> {
public:
    // No node, port name "Lumarik", no interface, a new private centre.
    QVTLightingManager();
    // Removes the nodes' resources.
    ~QVTLightingManager();
    QVTLightingManager(const QVTLightingManager&) = delete;
    QVTLightingManager& operator=(const QVTLightingManager&) = delete;

    // The process's manager, created on first use (thread-safe), alive until the process ends.
    static QVTLightingManager& sharedManager();

    NotificationCenter& lightingKitNotificationCenter() { return center_; }

    // Sent as ShortName and LongName in ArtPollReply, and used to leave our own reply out of a
    // poll's results.
    void setPortName(const QString& name);
    QString portName() const;

    // Closes and drops the current node (even when the value is unchanged), then, unless the
    // value is nullopt, creates a new receiver node bound to that interface (an IPv4 address or
    // an interface name). When the bind fails the manager stays without a node; the value is kept
    // either way. The empty string matches no interface, which is how reception is turned off.
    // A new node starts at Net 0, Sub-Uni 0, OEM code 0 and an all-zero DMX cache.
    void setInputPortInterface(const std::optional<QString>& interfaceDescription);
    std::optional<QString> inputPortInterface() const;

    // Forward to the receiver node; without one they do nothing and nothing is kept.
    void setOemCode(std::uint64_t code);
    // Net and Sub-Uni bytes an ArtDmx must carry: the low 8 bits of each argument.
    void listenNet(std::int32_t net, std::int32_t universe);
    // ArtPoll now, "qvt_poll_replies" half a second later.
    void discoverOutputs();

    // The first node when it is a receiver node; nullptr otherwise. Forwarding calls act on it only.
    std::shared_ptr<QVTLightingReceiverNode> receiverNode() const;

    // Appends a diagnostic node listening on `address` (see QVTLightingReceivingTestNode), when
    // it can bind. A test node standing first in the list takes the receiver node's place.
    void startForTesting(const QString& address = QStringLiteral("127.0.0.1"));

    // Ports for nodes created afterwards; Art-Net's own port unless a test needs free ones.
    void setPortsForTesting(QVTLightingPorts ports) { ports_ = ports; }

private:
    mutable std::mutex mutex_;
    QString portName_;
    std::optional<QString> inputPortInterface_;
    std::vector<std::shared_ptr<QVTLightingNode>> nodes;
    NotificationCenter center_;
    QVTLightingPorts ports_;
};
