#pragma once
// ZelmoraServer: the HyperDeck-protocol server. It listens on TCP (kDefaultPort, 9993, on every
// IPv4 interface unless told otherwise), greets each connection with the banner, reads its
// commands with the protocol's reader (ZelmoraProtocol.h, which also says which command asks
// which delegate question) and answers them from its delegate. Clients that asked for transport
// notifications get the transport fields whose answers changed, checked every notifyInterval.
//
// Refused: connections beyond maxConnections ("120 connection rejected", then closed); lines
// over maxLineLength or not UTF-8 ("100 syntax error"); a connection that leaves a command
// unfinished (a half line, an open block) for halfLineTimeout, or whose unread replies pile up
// past maxPendingOutput, is closed.
//
// Threads: one thread of its own, from start() to stop(), runs the sockets and every delegate
// call, one at a time. setDelegate, start, stop and refreshPlaylist may be called from any thread
// but the server's own (start and stop: not concurrently with each other). The delegate is held
// weakly; without one the server answers from nothing (no clips, "stopped", "none").
//
// The clip list (clip count and lines) is read from the delegate when a command needs it and it
// is stale: at start, and after each refreshPlaylist(), which only marks it (cheap, any thread,
// never waits for the server).

#include "ZelmoraProtocol.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class ZelmoraDelegate;

class ZelmoraServer {
public:
    struct Options {
        std::uint16_t port = zelmora::kDefaultPort;  // 0: a free port (tests), see port()
        std::string bindAddress;                     // IPv4 text; empty: every interface
        std::size_t maxLineLength = zelmora::kDefaultMaxLineLength;
        std::size_t maxConnections = 8;
        std::size_t maxPendingOutput = 1 << 20;
        std::chrono::milliseconds halfLineTimeout{10000};
        std::chrono::milliseconds notifyInterval{100};
        QString model = QStringLiteral("Kavio");     // the banner's and device info's model
    };

    // The process-wide server, made on first use: the default options, but the port from
    // KAVIO_HYPERDECK_PORT when set (0: a free one; the program's tests run it so).
    static ZelmoraServer& sharedServer();

    ZelmoraServer();
    explicit ZelmoraServer(Options options);
    ~ZelmoraServer();  // stops
    ZelmoraServer(const ZelmoraServer&) = delete;
    ZelmoraServer& operator=(const ZelmoraServer&) = delete;

    void setDelegate(std::weak_ptr<ZelmoraDelegate> delegate);

    // Listens and starts the thread; true when listening (also when it already was). False,
    // logged, when the port cannot be had.
    bool start();
    // Closes the port and every connection and ends the thread; no delegate call runs once this
    // returns. Nothing when stopped.
    void stop();
    bool isRunning() const { return running_.load(); }
    // The port listened on (the one the system chose for port 0); 0 while stopped.
    std::uint16_t port() const { return boundPort_.load(); }
    // Connections open now. Any thread.
    std::size_t connectionCount() const { return connectionCount_.load(); }

    // The clip list changed: it is read again when next needed.
    void refreshPlaylist() { playlistStale_.store(true); }

private:
    struct Loop;
    void run(int listenFd, int wakeFd);

    const Options options_;
    std::mutex delegateMutex_;
    std::weak_ptr<ZelmoraDelegate> delegate_;
    std::atomic<bool> running_{false};
    std::atomic<bool> playlistStale_{true};
    std::atomic<std::uint16_t> boundPort_{0};
    std::atomic<std::size_t> connectionCount_{0};
    int wakeFd_ = -1;
    std::thread thread_;
};
