#pragma once
// The UDP endpoint of the link's master and slave: one IPv4 socket and one thread that hands
// each datagram, and a periodic tick, to its owner. Internal to the link.

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <thread>

class NMCSocket {
public:
    using ReceiveHandler = std::function<void(std::span<const uint8_t> datagram, const sockaddr_in& from)>;
    using TickHandler = std::function<void()>;

    NMCSocket() = default;
    NMCSocket(const NMCSocket&) = delete;
    NMCSocket& operator=(const NMCSocket&) = delete;
    ~NMCSocket();

    // Binds to `port` on every IPv4 interface (0: a free port). False, with the reason, when
    // the socket cannot be made or bound.
    bool open(uint16_t port, std::string* error);
    uint16_t port() const { return port_; }

    // Runs the thread: onReceive for each datagram, onTick every `tick` (and once at start).
    // Both run on that thread only.
    void start(ReceiveHandler onReceive, std::chrono::milliseconds tick, TickHandler onTick);
    // Ends the thread; no handler runs once this returns. Not from a handler.
    void stop();

    // One datagram; any thread. False when the system refused it.
    bool sendTo(std::span<const uint8_t> datagram, const sockaddr_in& to) const;

private:
    void run(ReceiveHandler onReceive, std::chrono::milliseconds tick, TickHandler onTick);

    int fd_ = -1;
    int wake_ = -1;  // eventfd that ends the thread's poll
    uint16_t port_ = 0;
    std::thread thread_;
};
