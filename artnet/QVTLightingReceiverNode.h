#pragma once
// The live Art-Net endpoint: listens on one interface (IPv4 only) and
//  - turns each ArtDmx of its Net and Sub-Uni into one "qvt_received_dmx" per slot whose value
//    changed, in ascending slot order;
//  - answers every ArtPoll with its 208-byte ArtPollReply, advertising the Net and Sub-Uni it
//    listens to, sent to its interface's broadcast address (the poller itself on an interface
//    without one, such as loopback);
//  - on request polls the network and, for half a second, collects the DMX output ports of the
//    nodes that answer ("qvt_poll_replies");
//  - re-opens its socket once when it closes without being asked to.
// Malformed or foreign datagrams, and replies that cannot be sent, are dropped; reception goes on.
// Such drops are logged at most once per ten seconds, with a count.
//
// Threads: datagrams are handled one at a time on the node's queue "QVTLightingNode_queue", and
// "qvt_received_dmx" is posted there, synchronously: observers run on that queue and move work
// elsewhere themselves. The Net, Sub-Uni, OEM code and polling flag are single-word values that
// any thread may set; a change applies from the next datagram.

#include "GCDAsyncUdpSocket_QVTLIGHTING.h"
#include "QVTLightingNode.h"

#include <QVariantList>

#include <array>
#include <atomic>
#include <chrono>
#include <mutex>

class QVTLightingReceiverNode : public QVTLightingNode,
                                public GCDAsyncUdpSocketDelegate,
                                public std::enable_shared_from_this<QVTLightingReceiverNode> {
    struct Private {};

public:
    // A node that already receives on the manager's inputPortInterface, or nullptr when the
    // socket cannot be bound or cannot receive (the reason is logged).
    static std::shared_ptr<QVTLightingReceiverNode> create(std::weak_ptr<QVTLightingManager> manager,
                                                           QVTLightingPorts ports = {});
    QVTLightingReceiverNode(Private, std::weak_ptr<QVTLightingManager> manager, QVTLightingPorts ports);
    ~QVTLightingReceiverNode() override;

    // Configures (IPv4 only, broadcast, port reuse), binds the listen port on the manager's
    // interface and begins receiving. True when receiving. A failed bind leaves the socket open.
    bool startReceiving();

    std::uint8_t listeningNet() const { return listeningNet_; }
    void setListeningNet(std::uint8_t net) { listeningNet_ = net; }
    // The ArtDmx Sub-Uni byte to accept: sub-net in the high nibble, universe in the low one.
    std::uint8_t listeningUni() const { return listeningUni_; }
    void setListeningUni(std::uint8_t uni) { listeningUni_ = uni; }
    std::uint64_t oemCode() const { return oemCode_; }
    void setOemCode(std::uint64_t code) { oemCode_ = code; }
    bool isPolling() const { return isPolling_; }
    void setIsPolling(bool polling) { isPolling_ = polling; }

    // Opens a poll window: sends an ArtPoll to the interface's broadcast address (on an interface
    // without one, the /24 broadcast of its address: loopback stays on 127.0.0.1) and, 0.5 s
    // later, posts "qvt_poll_replies" with the output ports found, on the calling thread's queue
    // (the main queue when the caller runs on none). A new call restarts the window and drops the
    // earlier one without a post. Must not be called on the node's queue.
    void sendArtPoll();
    // Ends the window and posts what was found; the window's timer calls it.
    void turnOffPolling();

    // Stops the re-open, closes the socket and ends a poll window without a post.
    void removeResources() override;

    void udpSocketDidReceiveData(GCDAsyncUdpSocket_QVTLIGHTING* sock, const QByteArray& data,
                                 const QByteArray& address, void* filterContext) override;
    void udpSocketDidNotSendDataWithTag(GCDAsyncUdpSocket_QVTLIGHTING* sock, long tag,
                                        const GCDAsyncUdpSocketErrorInfo& error) override;
    void udpSocketDidClose(GCDAsyncUdpSocket_QVTLIGHTING* sock,
                           const std::optional<GCDAsyncUdpSocketErrorInfo>& error) override;

private:
    // At most one log line per interval, carrying how many events it stands for.
    class RateLimitedLog {
    public:
        // True when the caller should log now; `count` is then the number of events since the
        // last line, this one included.
        bool shouldLog(long& count);

    private:
        std::chrono::steady_clock::time_point last_{};
        long pending_ = 0;
    };

    struct PollTimer {
        std::atomic<bool> valid{true};
    };

    void handleArtDmx(const QByteArray& data);
    void handleArtPollReply(const QByteArray& data);
    void handleArtPoll(const QByteArray& address);
    // The reply as of now, with the interface's numeric address.
    void assembleArtPollReply(const QString& interfaceAddress);
    void ignoreDatagram(const char* why);

    const QVTLightingPorts ports_;
    std::atomic<std::uint8_t> listeningNet_{0};
    std::atomic<std::uint8_t> listeningUni_{0};
    std::atomic<std::uint64_t> oemCode_{0};
    std::atomic<bool> isPolling_{false};
    std::atomic<bool> shouldclose_{false};

    // Node-queue state.
    ArtNet::ArtNet_Packet_ArtPollReply nodePollReply;
    std::array<std::uint8_t, ArtNet::kDmxSlots> dmxCache{};
    QVariantList foundNodes;
    RateLimitedLog ignoredLog_;
    RateLimitedLog sendFailureLog_;

    std::mutex pollMutex_;
    std::shared_ptr<PollTimer> pollTimer;  // guarded by pollMutex_
};
