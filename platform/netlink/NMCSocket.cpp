#include "NMCSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

NMCSocket::~NMCSocket()
{
    stop();
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (wake_ >= 0) {
        ::close(wake_);
    }
}

bool NMCSocket::open(uint16_t port, std::string* error)
{
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd_ < 0 || wake_ < 0) {
        *error = std::string("cannot make a socket: ") + std::strerror(errno);
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        *error = "cannot bind UDP port " + std::to_string(port) + ": " + std::strerror(errno);
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    return true;
}

void NMCSocket::start(ReceiveHandler onReceive, std::chrono::milliseconds tick, TickHandler onTick)
{
    thread_ = std::thread(&NMCSocket::run, this, std::move(onReceive), tick, std::move(onTick));
}

void NMCSocket::stop()
{
    if (!thread_.joinable()) {
        return;
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
    thread_.join();
}

bool NMCSocket::sendTo(std::span<const uint8_t> datagram, const sockaddr_in& to) const
{
    return ::sendto(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to),
                    sizeof to) == ssize_t(datagram.size());
}

void NMCSocket::run(ReceiveHandler onReceive, std::chrono::milliseconds tick, TickHandler onTick)
{
    using Clock = std::chrono::steady_clock;
    auto nextTick = Clock::now();
    uint8_t buffer[2048];
    for (;;) {
        const auto now = Clock::now();
        if (now >= nextTick) {
            if (onTick) {
                onTick();
            }
            nextTick = now + tick;
        }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - Clock::now());
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
        if (::poll(fds, 2, int(std::max<int64_t>(wait.count(), 0) + 1)) < 0 && errno != EINTR) {
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        // Drain what is there; the socket does not block.
        for (;;) {
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n =
                ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (n < 0) {
                break;
            }
            onReceive(std::span<const uint8_t>(buffer, size_t(n)), from);
        }
    }
}
