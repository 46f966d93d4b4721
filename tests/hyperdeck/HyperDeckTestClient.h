#pragma once
// A HyperDeck-protocol client over real TCP on 127.0.0.1, for the server's and the program's
// tests. Every wait has a deadline; nothing waits a fixed time.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

class HyperDeckTestClient {
public:
    static constexpr double kTimeoutSeconds = 30.0;

    // `receiveBuffer` (bytes, 0: the system's) caps what the kernel holds unread for the client.
    explicit HyperDeckTestClient(std::uint16_t port, int receiveBuffer = 0)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receiveBuffer > 0)
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~HyperDeckTestClient() { close(); }
    HyperDeckTestClient(const HyperDeckTestClient&) = delete;
    HyperDeckTestClient& operator=(const HyperDeckTestClient&) = delete;

    bool connected() const { return connected_; }
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    // Stops sending; replies still arrive.
    void shutdownSending() { ::shutdown(fd_, SHUT_WR); }

    bool send(const std::string& bytes) { return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size()); }

    // Reads until the received text holds `end` after what was taken before; returns everything
    // up to and including it and keeps the rest. Empty on timeout or when the server closed first.
    std::string readUntil(const std::string& end, double timeoutSeconds = kTimeoutSeconds)
    {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::duration<double>(timeoutSeconds));
        while (true) {
            if (const auto at = buffer_.find(end); at != std::string::npos) {
                std::string out = buffer_.substr(0, at + end.size());
                buffer_.erase(0, at + end.size());
                return out;
            }
            if (!receiveSome(deadline))
                return {};
        }
    }
    // One reply: a status line, or a block up to its empty line.
    std::string reply()
    {
        std::string first = readUntil("\r\n");
        if (first.size() < 3 || first[first.size() - 3] != ':')
            return first;
        return first + readUntil("\r\n\r\n");
    }
    std::string command(const std::string& line)
    {
        send(line + "\r\n");
        return reply();
    }
    // Whether the server closed the connection (after any bytes still in flight), within the timeout.
    bool closedByServer(double timeoutSeconds = kTimeoutSeconds)
    {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::duration<double>(timeoutSeconds));
        while (receiveSome(deadline)) {
        }
        return eof_;
    }
    const std::string& pending() const { return buffer_; }

private:
    bool receiveSome(std::chrono::steady_clock::time_point deadline)
    {
        if (eof_ || fd_ < 0)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            eof_ = true;
            return false;
        }
        buffer_.append(chunk, std::size_t(n));
        return true;
    }

    int fd_ = -1;
    bool connected_ = false;
    bool eof_ = false;
    std::string buffer_;
};
