#include "UdpTestPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

}  // namespace

UdpTestPeer::UdpTestPeer() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
    const sockaddr_in a = loopback(0);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
        throw std::runtime_error("test peer cannot bind 127.0.0.1");
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = ntohs(bound.sin_port);
}

UdpTestPeer::~UdpTestPeer()
{
    ::close(fd_);
}

void UdpTestPeer::sendTo(std::uint16_t port, const QByteArray& datagram) const
{
    const sockaddr_in a = loopback(port);
    ::sendto(fd_, datagram.constData(), static_cast<std::size_t>(datagram.size()), 0,
             reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

std::optional<QByteArray> UdpTestPeer::receive(double timeoutSeconds) const
{
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeoutSeconds * 1000)) <= 0)
        return std::nullopt;
    QByteArray buffer(65536, '\0');
    const ssize_t n = ::recv(fd_, buffer.data(), static_cast<std::size_t>(buffer.size()), 0);
    if (n < 0)
        return std::nullopt;
    buffer.resize(n);
    return buffer;
}

std::uint16_t UdpTestPeer::freePort()
{
    UdpTestPeer probe;
    return probe.port();
}
