#pragma once
// A diagnostic node: it binds the Art-Net port on one fixed IPv4 address and describes every
// Art-Net datagram it receives in "QVTLIGHTINGTEST_LOG_NOTIFICATION" posts on the default
// centre (object: the node, user info {"message": text}). It answers nothing and posts no DMX.
// Only QVTLightingManager::startForTesting() creates one.
//
// Threads: datagrams are handled, and their messages posted, on the node's queue.

#include "GCDAsyncUdpSocket_QVTLIGHTING.h"
#include "QVTLightingNode.h"

#include <QString>

extern const QString QVTLightingTestLogNotification;  // "QVTLIGHTINGTEST_LOG_NOTIFICATION"
extern const QString QVTLightingTestMessageKey;       // "message"

class QVTLightingReceivingTestNode : public QVTLightingNode,
                                     public GCDAsyncUdpSocketDelegate,
                                     public std::enable_shared_from_this<QVTLightingReceivingTestNode> {
    struct Private {};

public:
    // A listening node, or nullptr when the port cannot be bound or received on (posted as a
    // message). On success a message without user info is posted.
    static std::shared_ptr<QVTLightingReceivingTestNode> create(std::weak_ptr<QVTLightingManager> manager,
                                                                const QString& address, QVTLightingPorts ports = {});
    QVTLightingReceivingTestNode(Private, std::weak_ptr<QVTLightingManager> manager);

    void udpSocketDidReceiveData(GCDAsyncUdpSocket_QVTLIGHTING* sock, const QByteArray& data,
                                 const QByteArray& address, void* filterContext) override;
    void udpSocketDidClose(GCDAsyncUdpSocket_QVTLIGHTING* sock,
                           const std::optional<GCDAsyncUdpSocketErrorInfo>& error) override;

    // The numeric text of an IPv4 or IPv6 socket-address record; "Error on get family type."
    // for anything else.
    static QString ipAddressFromData(const QByteArray& address);

private:
    bool listen(const QString& address, std::uint16_t port);
    void postMessage(const QString& message);
};
