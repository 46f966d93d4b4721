#pragma once
// The sending side of the network link: while it exists, slaves find it by zeroconf and get its
// commands. The wire format is in NMCPacket.h.

#include "NMCPacket.h"

#include <memory>
#include <string>
#include <string_view>

class Zeroconf;

class QVTNMCMaster {
public:
    // Listens for subscriptions on `port` (nmclink::kDefaultPort; 0 for a free port, in tests) and
    // publishes the service "<name> : <host name>" of type nmclink::kServiceType on `zeroconf`
    // (none: not published). A port that cannot be bound is logged; the master then sends
    // nothing.
    explicit QVTNMCMaster(std::string_view name, uint16_t port = nmclink::kDefaultPort,
                          std::shared_ptr<Zeroconf> zeroconf = nullptr);
    ~QVTNMCMaster();
    QVTNMCMaster(const QVTNMCMaster&) = delete;
    QVTNMCMaster& operator=(const QVTNMCMaster&) = delete;

    bool isListening() const;
    uint16_t port() const;
    // "<name> : <host name>", as published.
    std::string serviceName() const;

    // One command packet to every slave that subscribed within the expiry. The time text must
    // be "h:m:s:f"; any other text sends nothing and answers false. Any thread; never blocks
    // on the network.
    bool sendCommand(uint8_t command, std::string_view time, uint8_t fps, uint8_t cue);

    // The slaves currently subscribed.
    size_t subscriberCount() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};
