#include "QVTLightingManager.h"

#include "QVTLightingReceiverNode.h"
#include "QVTLightingReceivingTestNode.h"

const QString QVTLightingReceivedDMXNotification = QStringLiteral("qvt_received_dmx");
const QString QVTLightingUpdatedChannelKey = QStringLiteral("updatedChannel");
const QString QVTLightingPollRepliesNotification = QStringLiteral("qvt_poll_replies");
const QString QVTLightingNodesKey = QStringLiteral("nodes");

QVTLightingManager::QVTLightingManager() : portName_(QStringLiteral("Lumarik")) {}

QVTLightingManager::~QVTLightingManager()
{
    for (const auto& node : nodes)
        node->removeResources();
}

QVTLightingManager& QVTLightingManager::sharedManager()
{
    // Never destroyed: nodes and their threads must not be torn down during static destruction.
    static auto* instance = new std::shared_ptr<QVTLightingManager>(std::make_shared<QVTLightingManager>());
    return **instance;
}

void QVTLightingManager::setPortName(const QString& name)
{
    std::lock_guard lock(mutex_);
    portName_ = name;
}

QString QVTLightingManager::portName() const
{
    std::lock_guard lock(mutex_);
    return portName_;
}

void QVTLightingManager::setInputPortInterface(const std::optional<QString>& interfaceDescription)
{
    {
        std::lock_guard lock(mutex_);
        inputPortInterface_ = interfaceDescription;
    }
    if (!nodes.empty()) {
        nodes.front()->removeResources();
        nodes.erase(nodes.begin());
    }
    if (!interfaceDescription)
        return;
    if (auto node = QVTLightingReceiverNode::create(weak_from_this(), ports_))
        nodes.push_back(std::move(node));
}

std::optional<QString> QVTLightingManager::inputPortInterface() const
{
    std::lock_guard lock(mutex_);
    return inputPortInterface_;
}

void QVTLightingManager::setOemCode(std::uint64_t code)
{
    if (auto node = receiverNode())
        node->setOemCode(code);
}

void QVTLightingManager::listenNet(std::int32_t net, std::int32_t universe)
{
    if (auto node = receiverNode()) {
        node->setListeningNet(static_cast<std::uint8_t>(net & 0xFF));
        node->setListeningUni(static_cast<std::uint8_t>(universe & 0xFF));
    }
}

void QVTLightingManager::discoverOutputs()
{
    if (auto node = receiverNode())
        node->sendArtPoll();
}

std::shared_ptr<QVTLightingReceiverNode> QVTLightingManager::receiverNode() const
{
    return nodes.empty() ? nullptr : std::dynamic_pointer_cast<QVTLightingReceiverNode>(nodes.front());
}

void QVTLightingManager::startForTesting(const QString& address)
{
    if (auto node = QVTLightingReceivingTestNode::create(weak_from_this(), address, ports_))
        nodes.push_back(std::move(node));
}
