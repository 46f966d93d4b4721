#include "QVTLightingNode.h"

#include "DispatchQueue.h"
#include "GCDAsyncUdpSocket_QVTLIGHTING.h"

QVTLightingNode::QVTLightingNode(std::weak_ptr<QVTLightingManager> manager)
    : queue(std::make_shared<DispatchQueue>("QVTLightingNode_queue")), manager_(std::move(manager))
{
}

QVTLightingNode::~QVTLightingNode() = default;

void QVTLightingNode::removeResources()
{
    queue->sync([this] { socket.reset(); });
    // The close queued callbacks that hold the node: let them finish now, so that the node is
    // released by its owner and never on its own queue.
    queue->sync([] {});
}

std::shared_ptr<QVTLightingManager> QVTLightingNode::manager() const
{
    return manager_.lock();
}
