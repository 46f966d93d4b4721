#include "QVTLightingReceiverNode.h"

#include "DispatchQueue.h"
#include "Log.h"
#include "QVTLightingManager.h"

// Every line of the node carries the subsystem and category by which log collection finds it.
#define NODE_LOG(...) KLOG_INFO("[com.dalvek.lighting_receive:dmx_receive_log] " __VA_ARGS__)

namespace {

constexpr auto kDropLogInterval = std::chrono::seconds(10);

std::string text(const GCDAsyncUdpSocketErrorInfo& error)
{
    return error.toString().toStdString();
}

std::string text(const std::optional<QString>& value)
{
    return value ? value->toStdString() : std::string("(null)");
}

}  // namespace

bool QVTLightingReceiverNode::RateLimitedLog::shouldLog(long& count)
{
    ++pending_;
    const auto now = std::chrono::steady_clock::now();
    if (last_ != std::chrono::steady_clock::time_point{} && now - last_ < kDropLogInterval)
        return false;
    count = pending_;
    pending_ = 0;
    last_ = now;
    return true;
}

std::shared_ptr<QVTLightingReceiverNode> QVTLightingReceiverNode::create(std::weak_ptr<QVTLightingManager> manager,
                                                                         QVTLightingPorts ports)
{
    auto node = std::make_shared<QVTLightingReceiverNode>(Private{}, std::move(manager), ports);
    node->socket = std::make_unique<GCDAsyncUdpSocket_QVTLIGHTING>(node->weak_from_this(), node->queue);
    if (!node->startReceiving()) {
        node->removeResources();
        return nullptr;
    }
    const auto owner = node->manager();
    NODE_LOG("receiving on: {}", text(owner ? owner->inputPortInterface() : std::nullopt));
    return node;
}

QVTLightingReceiverNode::QVTLightingReceiverNode(Private, std::weak_ptr<QVTLightingManager> manager,
                                                 QVTLightingPorts ports)
    : QVTLightingNode(std::move(manager)), ports_(ports)
{
}

QVTLightingReceiverNode::~QVTLightingReceiverNode() = default;

bool QVTLightingReceiverNode::startReceiving()
{
    shouldclose_ = false;
    socket->setIPv4Enabled(true);
    socket->setIPv6Enabled(false);
    GCDAsyncUdpSocketErrorInfo error;
    if (!socket->enableBroadcast(true, &error))
        NODE_LOG("Failed to enable broadcast, Reason : {}", text(error));
    if (!socket->enableReusePort(true, &error))
        NODE_LOG("Failed to enable port reusing, Reason : {}", text(error));
    const auto owner = manager();
    const std::optional<QString> interfaceDescription = owner ? owner->inputPortInterface() : std::nullopt;
    if (!socket->bindToPort(ports_.listenPort, interfaceDescription, &error)) {
        NODE_LOG("cannot bind to Art-Net port: {} interface: {}", text(error), text(interfaceDescription));
        return false;
    }
    if (!socket->beginReceiving(&error)) {
        socket->close();
        NODE_LOG("cannot begin receiving : {}", text(error));
        return false;
    }
    return true;
}

void QVTLightingReceiverNode::sendArtPoll()
{
    {
        std::lock_guard lock(pollMutex_);
        if (pollTimer)
            pollTimer->valid = false;
        pollTimer.reset();
    }
    const auto owner = manager();
    const QString interfaceDescription = owner ? owner->inputPortInterface().value_or(QString()) : QString();
    const auto ipv4 = GCDAsyncUdpSocket_QVTLIGHTING::interfaceIPv4(interfaceDescription);
    // The interface's own broadcast address reaches the nodes of its network whatever its size
    // (Art-Net networks are often /8); one without (loopback) keeps the old guess.
    const QString destination = ipv4 && !ipv4->broadcast.isEmpty()
                                    ? ipv4->broadcast
                                    : ArtNet::directBroadcastAddressForHost(ipv4 ? ipv4->address : interfaceDescription);
    queue->sync([&] {
        foundNodes.clear();
        isPolling_ = true;
        if (socket)
            socket->sendData(ArtNet::artPollPacket(), destination, ports_.remotePort, -1, 0);
    });
    auto timer = std::make_shared<PollTimer>();
    {
        std::lock_guard lock(pollMutex_);
        pollTimer = timer;
    }
    DispatchQueue* caller = DispatchQueue::current();
    (caller ? *caller : DispatchQueue::main()).asyncAfter(0.5, [weak = weak_from_this(), timer] {
        if (!timer->valid)
            return;
        if (auto node = weak.lock())
            node->turnOffPolling();
    });
}

void QVTLightingReceiverNode::turnOffPolling()
{
    isPolling_ = false;
    QVariantList nodes;
    queue->sync([&] { nodes = foundNodes; });
    if (const auto owner = manager())
        owner->lightingKitNotificationCenter().post(QVTLightingPollRepliesNotification, owner.get(),
                                                    {{QVTLightingNodesKey, nodes}});
}

void QVTLightingReceiverNode::removeResources()
{
    shouldclose_ = true;
    QVTLightingNode::removeResources();
    std::lock_guard lock(pollMutex_);
    if (pollTimer)
        pollTimer->valid = false;
    pollTimer.reset();
}

void QVTLightingReceiverNode::udpSocketDidReceiveData(GCDAsyncUdpSocket_QVTLIGHTING*, const QByteArray& data,
                                                      const QByteArray& address, void*)
{
    const auto opCode = ArtNet::opCodeOf(data);
    if (!opCode)
        return ignoreDatagram("is shorter than 11 bytes or lacks the Art-Net ID");
    switch (*opCode) {
    case ArtNet::OpDmx:
        return handleArtDmx(data);
    case ArtNet::OpPollReply:
        if (isPolling_)
            handleArtPollReply(data);
        return;
    case ArtNet::OpPoll:
        return handleArtPoll(address);
    default:
        return ignoreDatagram("has an OpCode this node does not handle");
    }
}

void QVTLightingReceiverNode::handleArtDmx(const QByteArray& data)
{
    const auto dmx = ArtNet::parseArtDmx(data);
    if (!dmx)
        return ignoreDatagram("is an ArtDmx shorter than its 18-byte header");
    if (dmx->net != listeningNet_ || dmx->subUni != listeningUni_)
        return;
    if (dmx->slotValues.size() < std::min<int>(dmx->length, ArtNet::kDmxSlots))
        ignoreDatagram("is an ArtDmx whose Length runs beyond the datagram (the slots present were used)");
    const auto owner = manager();
    ArtNet::applyDmxSlots(dmx->slotValues, dmxCache, [&](int slot, int value) {
        if (owner)
            owner->lightingKitNotificationCenter().post(QVTLightingReceivedDMXNotification, owner.get(),
                                                        {{QVTLightingUpdatedChannelKey, QVariantList{slot, value}}});
    });
}

void QVTLightingReceiverNode::handleArtPollReply(const QByteArray& data)
{
    const auto owner = manager();
    const auto reply = ArtNet::ArtNet_Packet_ArtPollReply::decode(data);
    for (const auto& port : ArtNet::outputPortsOfPollReply(reply, owner ? owner->portName() : QString()))
        foundNodes.append(QVariant(QVariantList{port.longName, port.ipAddress, port.subSwitch, port.universe}));
}

void QVTLightingReceiverNode::handleArtPoll(const QByteArray& address)
{
    const auto owner = manager();
    const std::optional<QString> interfaceDescription = owner ? owner->inputPortInterface() : std::nullopt;
    if (!socket || !interfaceDescription || interfaceDescription->isEmpty())
        return;
    const auto ipv4 = GCDAsyncUdpSocket_QVTLIGHTING::interfaceIPv4(*interfaceDescription);
    assembleArtPollReply(ipv4 ? ipv4->address : *interfaceDescription);
    // To the interface's broadcast address, which reaches the poller on any size of network;
    // an interface without one (loopback) answers the poller itself.
    QString destination = ipv4 ? ipv4->broadcast : QString();
    if (destination.isEmpty())
        GCDAsyncUdpSocket_QVTLIGHTING::getHost(&destination, nullptr, address);
    socket->sendData(nodePollReply.encode(), destination, ports_.remotePort, -1, 0);
}

void QVTLightingReceiverNode::assembleArtPollReply(const QString& interfaceAddress)
{
    const auto owner = manager();
    if (!owner)
        return;
    ArtNet::assembleArtPollReply(nodePollReply, interfaceAddress, owner->portName(), oemCode_, listeningNet_,
                                 listeningUni_);
}

void QVTLightingReceiverNode::ignoreDatagram(const char* why)
{
    long count = 0;
    if (ignoredLog_.shouldLog(count))
        NODE_LOG("ignored {} Art-Net datagram(s) since the last report; the latest {}", count, why);
}

void QVTLightingReceiverNode::udpSocketDidNotSendDataWithTag(GCDAsyncUdpSocket_QVTLIGHTING*, long,
                                                             const GCDAsyncUdpSocketErrorInfo& error)
{
    long count = 0;
    if (sendFailureLog_.shouldLog(count))
        KLOG_WARN("error, cannot send data: {} ({} failure(s) since the last report)", text(error), count);
}

void QVTLightingReceiverNode::udpSocketDidClose(GCDAsyncUdpSocket_QVTLIGHTING*,
                                                const std::optional<GCDAsyncUdpSocketErrorInfo>& error)
{
    NODE_LOG("socket closed with error: {}", error ? error->localizedDescription.toStdString() : "(null)");
    if (shouldclose_ || !socket)
        return;
    if (startReceiving())
        NODE_LOG("succesfull reconnect!");
    else
        NODE_LOG("couldn't re-open port after unwanted close {}", error ? text(*error) : "(null)");
}
