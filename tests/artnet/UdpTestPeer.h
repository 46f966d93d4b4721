#pragma once
// A plain blocking UDP socket on 127.0.0.1 for tests: the far end of the socket or node under
// test. Every receive is bounded by a timeout.

#include <QByteArray>

#include <cstdint>
#include <optional>

class UdpTestPeer {
public:
    // Binds 127.0.0.1 on a free port.
    UdpTestPeer();
    ~UdpTestPeer();
    UdpTestPeer(const UdpTestPeer&) = delete;
    UdpTestPeer& operator=(const UdpTestPeer&) = delete;

    std::uint16_t port() const { return port_; }
    void sendTo(std::uint16_t port, const QByteArray& datagram) const;
    // The next datagram, or nullopt when none came within the timeout.
    std::optional<QByteArray> receive(double timeoutSeconds = 2.0) const;

    // A port that was free a moment ago (bound and released).
    static std::uint16_t freePort();

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};
