#pragma once
// The receiving side of the network link: follows one master at an IPv4 address, subscribing
// to it every second. The wire format is in NMCPacket.h.

#include "NMCPacket.h"

#include <memory>
#include <span>
#include <string>

class QVTNMCSlaveDelegate {
public:
    virtual ~QVTNMCSlaveDelegate() = default;
    // A command packet of the followed master (12 bytes, the magic checked), on the slave's own
    // thread.
    virtual void handleNMCData(std::span<const uint8_t> data) = 0;
};

class QVTNMCSlave {
public:
    // `host`: the master's IPv4 address as dotted text; `port`: the master's port. A host that
    // is no IPv4 address is logged and nothing is received.
    explicit QVTNMCSlave(const std::string& host, uint16_t port = nmclink::kDefaultPort);
    ~QVTNMCSlave();
    QVTNMCSlave(const QVTNMCSlave&) = delete;
    QVTNMCSlave& operator=(const QVTNMCSlave&) = delete;

    // The receiver of the packets (not owned), or null. Once this returns, the previous
    // delegate is not called again. Any thread but the delegate's own call.
    void setDelegate(QVTNMCSlaveDelegate* delegate);

    const std::string& host() const;
    // The local port the subscriptions come from (0 when the slave could not open it).
    uint16_t localPort() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};
