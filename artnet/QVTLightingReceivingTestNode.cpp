#include "QVTLightingReceivingTestNode.h"

#include "Log.h"
#include "NotificationCenter.h"

const QString QVTLightingTestLogNotification = QStringLiteral("QVTLIGHTINGTEST_LOG_NOTIFICATION");
const QString QVTLightingTestMessageKey = QStringLiteral("message");

std::shared_ptr<QVTLightingReceivingTestNode> QVTLightingReceivingTestNode::create(
    std::weak_ptr<QVTLightingManager> manager, const QString& address, QVTLightingPorts ports)
{
    auto node = std::make_shared<QVTLightingReceivingTestNode>(Private{}, std::move(manager));
    node->socket = std::make_unique<GCDAsyncUdpSocket_QVTLIGHTING>(node->weak_from_this(), node->queue);
    if (!node->listen(address, ports.listenPort)) {
        node->removeResources();
        return nullptr;
    }
    KLOG_INFO("test node is listening...");
    NotificationCenter::defaultCenter().post(QVTLightingTestLogNotification, node.get());
    return node;
}

QVTLightingReceivingTestNode::QVTLightingReceivingTestNode(Private, std::weak_ptr<QVTLightingManager> manager)
    : QVTLightingNode(std::move(manager))
{
}

bool QVTLightingReceivingTestNode::listen(const QString& address, std::uint16_t port)
{
    socket->setIPv4Enabled(true);
    socket->setIPv6Enabled(false);
    GCDAsyncUdpSocketErrorInfo error;
    if (!socket->enableBroadcast(true, &error))
        postMessage(QStringLiteral("Failed to enable broadcast, Reason : %1").arg(error.toString()));
    if (!socket->enableReusePort(true, &error))
        postMessage(QStringLiteral("Failed to enable port reusing, Reason : %1").arg(error.toString()));
    if (!socket->bindToPort(port, address, &error)) {
        postMessage(QStringLiteral("cannot bind to Art-Net port: %1").arg(error.toString()));
        return false;
    }
    if (!socket->beginReceiving(&error)) {
        socket->close();
        postMessage(QStringLiteral("cannot begin receiving Art-Net on port: %1").arg(error.toString()));
        return false;
    }
    return true;
}

void QVTLightingReceivingTestNode::postMessage(const QString& message)
{
    NotificationCenter::defaultCenter().post(QVTLightingTestLogNotification, this,
                                             {{QVTLightingTestMessageKey, message}});
}

void QVTLightingReceivingTestNode::udpSocketDidReceiveData(GCDAsyncUdpSocket_QVTLIGHTING*, const QByteArray& data,
                                                           const QByteArray& address, void*)
{
    const auto opCode = ArtNet::opCodeOf(data);
    if (!opCode)
        return;
    QString host;
    GCDAsyncUdpSocket_QVTLIGHTING::getHost(&host, nullptr, address);
    postMessage(QStringLiteral("host: %1 address: %2").arg(host, ipAddressFromData(address)));
    if (*opCode != ArtNet::OpDmx)
        return;
    // An ArtDmx too short for its header has nothing more to describe.
    const auto dmx = ArtNet::parseArtDmx(data);
    if (!dmx)
        return;
    postMessage(QStringLiteral("uni: %1 net: %2 seq: %3 length: %4 (%5,%6)")
                    .arg(dmx->subUni)
                    .arg(dmx->net)
                    .arg(dmx->sequence)
                    .arg(dmx->length)
                    .arg(dmx->length >> 8)
                    .arg(dmx->length & 0xFF));
    postMessage(QString::fromLatin1(data.toHex().toUpper()));
}

void QVTLightingReceivingTestNode::udpSocketDidClose(GCDAsyncUdpSocket_QVTLIGHTING*,
                                                     const std::optional<GCDAsyncUdpSocketErrorInfo>&)
{
    KLOG_INFO("udpSocketDidClose");
}

QString QVTLightingReceivingTestNode::ipAddressFromData(const QByteArray& address)
{
    QString host;
    if (!GCDAsyncUdpSocket_QVTLIGHTING::getHost(&host, nullptr, address))
        return QStringLiteral("Error on get family type.");
    return host;
}
