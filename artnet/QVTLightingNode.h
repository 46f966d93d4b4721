#pragma once
// The base of the lighting library's nodes: a weak link to the manager, a serial queue
// ("QVTLightingNode_queue") on which the node's socket delivers its callbacks, and the socket,
// which a subclass creates.
//
// Ownership: the manager owns its nodes through shared_ptr and calls removeResources() just
// before dropping one. A node owns its socket; the socket holds the node only weakly.

#include "ArtNetPacket.h"

#include <cstdint>
#include <memory>

class DispatchQueue;
class GCDAsyncUdpSocket_QVTLIGHTING;
class QVTLightingManager;

// The UDP ports a node binds and sends to. Art-Net uses 6454 for both; tests pick free ports so
// that they never share a port with a real node or with each other.
struct QVTLightingPorts {
    std::uint16_t listenPort = ArtNet::kPort;
    std::uint16_t remotePort = ArtNet::kPort;
};

class QVTLightingNode {
public:
    explicit QVTLightingNode(std::weak_ptr<QVTLightingManager> manager);
    virtual ~QVTLightingNode();
    QVTLightingNode(const QVTLightingNode&) = delete;
    QVTLightingNode& operator=(const QVTLightingNode&) = delete;

    // Closes and releases the socket (synchronously, on the node's queue, so no callback is
    // using it meanwhile) and waits for the callbacks already queued. Call from any thread but
    // the node's queue.
    virtual void removeResources();

    // The owning manager, or nullptr once it is gone.
    std::shared_ptr<QVTLightingManager> manager() const;

protected:
    const std::shared_ptr<DispatchQueue> queue;
    // Touched only on `queue`, or by the creating thread before the node is handed out.
    std::unique_ptr<GCDAsyncUdpSocket_QVTLIGHTING> socket;

private:
    std::weak_ptr<QVTLightingManager> manager_;
};
