#include "ZelmoraServer.h"

#include "Log.h"
#include "ZelmoraDelegate.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <list>
#include <optional>
#include <vector>

using namespace zelmora;
using Clock = std::chrono::steady_clock;

namespace {

std::string text(const QString& s) { return s.toStdString(); }
std::string boolText(bool b) { return b ? "true" : "false"; }

struct Connection {
    int fd = -1;
    CommandReader reader;
    std::string out;
    std::optional<Clock::time_point> midCommandSince;
    bool closeWhenSent = false;
    bool notifyTransport = false, notifySlot = false, notifyRemote = false, notifyConfiguration = false;
    Fields lastTransport;  // what this client last heard, for its notifications
    explicit Connection(int f, std::size_t maxLine) : fd(f), reader(maxLine) {}
};

}  // namespace

// The thread's state: the connections and the cached clip list.
struct ZelmoraServer::Loop {
    explicit Loop(ZelmoraServer& s) : server(s) {}
    ZelmoraServer& server;
    std::list<Connection> connections;
    std::int32_t clipCount = 0;
    std::vector<std::string> clipLines;
    Clock::time_point nextNotifyCheck = Clock::now();

    std::shared_ptr<ZelmoraDelegate> delegate()
    {
        std::lock_guard lock(server.delegateMutex_);
        return server.delegate_.lock();
    }

    void refreshClipsIfStale()
    {
        if (!server.playlistStale_.exchange(false))
            return;
        clipLines.clear();
        clipCount = 0;
        if (const auto d = delegate()) {
            clipCount = d->hyperdeck_clipCount();
            for (const QString& line : d->hyperdeck_clipsInfo())
                clipLines.push_back(text(line));
        }
    }

    Fields transportFields()
    {
        const auto d = delegate();
        if (!d)
            return {{"status", "stopped"}, {"speed", "0"}, {"slot id", "1"}, {"clip id", "none"}, {"single clip", "false"},
                    {"display timecode", "00:00:00:00"}, {"timecode", "00:00:00:00"}, {"video format", "none"},
                    {"loop", "false"}};
        const std::string timecode = text(d->hyperdeck_displayTimecode());
        return {{"status", text(d->hyperdeck_playbackStatus())},
                {"speed", std::to_string(d->hyperdeck_playbackSpeed())},
                {"slot id", std::to_string(d->hyperdeck_slotID())},
                {"clip id", text(d->hyperdeck_clipID())},
                {"single clip", text(d->hyperdeck_isSingleClip())},
                {"display timecode", timecode},
                {"timecode", timecode},
                {"video format", text(d->hyperdeck_videoFormat())},
                {"loop", text(d->hyperdeck_isLooping())}};
    }

    std::string answer(Connection& c, const Request& r)
    {
        const auto d = delegate();
        switch (r.command) {
        case Command::Ping:
            return statusReply(ReplyCode::Ok);
        case Command::Quit:
            c.closeWhenSent = true;
            return statusReply(ReplyCode::Ok);
        case Command::DeviceInfo:
            return blockReply(ReplyCode::DeviceInfo, {{"protocol version", kProtocolVersion},
                                                      {"model", text(server.options_.model)},
                                                      {"slot count", "1"}});
        case Command::SlotInfo: {
            const std::int32_t slot = d ? d->hyperdeck_slotID() : 1;
            if (r.slotID && *r.slotID != std::uint64_t(slot))
                return statusReply(ReplyCode::OutOfRange);
            return blockReply(ReplyCode::SlotInfo, {{"slot id", std::to_string(slot)},
                                                    {"status", "mounted"},
                                                    {"video format", d ? text(d->hyperdeck_videoFormat()) : "none"}});
        }
        case Command::TransportInfo:
            return blockReply(ReplyCode::TransportInfo, transportFields());
        case Command::ClipsCount:
            refreshClipsIfStale();
            return blockReply(ReplyCode::ClipsCount, {{"clip count", std::to_string(clipCount)}});
        case Command::ClipsGet: {
            refreshClipsIfStale();
            const std::uint64_t first = r.clipID.value_or(1);
            if (first < 1 || (r.clipID && first > clipLines.size()))
                return statusReply(ReplyCode::OutOfRange);
            const std::uint64_t available = clipLines.size() - std::min<std::uint64_t>(first - 1, clipLines.size());
            const std::uint64_t n = std::min(available, r.count.value_or(available));
            const auto begin = clipLines.begin() + std::ptrdiff_t(first - 1);
            return blockReply(ReplyCode::ClipsInfo, {{"clip count", std::to_string(n)}},
                              std::vector<std::string>(begin, begin + std::ptrdiff_t(n)));
        }
        case Command::Play:
            if (d) {
                if (r.singleClip)
                    *r.singleClip ? d->hyperdeck_makePauseAtEndOnAllItems() : d->hyperdeck_makePauseAtEndOffAllItems();
                if (r.loop) {
                    const bool single = r.singleClip ? *r.singleClip : d->hyperdeck_isSingleClip() == QLatin1String("true");
                    if (single)
                        *r.loop ? d->hyperdeck_makeLoopOnCurrentItem() : d->hyperdeck_makeLoopOffCurrentItem();
                    else
                        *r.loop ? d->hyperdeck_makeLoopOnPlaylist() : d->hyperdeck_makeLoopOffPlaylist();
                }
                d->hyperdeck_startPlayback();
            }
            return statusReply(ReplyCode::Ok);
        case Command::Stop:
            if (d)
                d->hyperdeck_stopPlayback();
            return statusReply(ReplyCode::Ok);
        case Command::Goto:
            if (r.clipID) {
                refreshClipsIfStale();
                if (*r.clipID < 1 || *r.clipID > std::uint64_t(std::max(clipCount, 0)))
                    return statusReply(ReplyCode::OutOfRange);
                if (d)
                    d->hyperdeck_gotoClip(*r.clipID);
            } else if (d) {
                d->hyperdeck_gotoWithTimecode(QString::fromStdString(*r.timecode));
            }
            return statusReply(ReplyCode::Ok);
        case Command::Notify:
            if (!r.notifyTransport && !r.notifySlot && !r.notifyRemote && !r.notifyConfiguration)
                return blockReply(ReplyCode::Notify, {{"transport", boolText(c.notifyTransport)},
                                                      {"slot", boolText(c.notifySlot)},
                                                      {"remote", boolText(c.notifyRemote)},
                                                      {"configuration", boolText(c.notifyConfiguration)}});
            if (r.notifyTransport) {
                c.notifyTransport = *r.notifyTransport;
                if (c.notifyTransport)
                    c.lastTransport = transportFields();  // later changes only
            }
            c.notifySlot = r.notifySlot.value_or(c.notifySlot);
            c.notifyRemote = r.notifyRemote.value_or(c.notifyRemote);
            c.notifyConfiguration = r.notifyConfiguration.value_or(c.notifyConfiguration);
            return statusReply(ReplyCode::Ok);
        }
        return statusReply(ReplyCode::SyntaxError);
    }

    void read(Connection& c)
    {
        char buffer[4096];
        const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            c.closeWhenSent = true;
            c.out.clear();
            return;
        }
        if (n == 0) {
            // The client is done sending: what it asked for is still answered, a half command
            // is dropped.
            c.closeWhenSent = true;
            c.midCommandSince.reset();
            return;
        }
        if (n < 0 || c.closeWhenSent)
            return;
        for (const Parsed& p : c.reader.feed(std::string_view(buffer, std::size_t(n)))) {
            c.out += p.request ? answer(c, *p.request) : statusReply(p.error);
            if (c.closeWhenSent)
                break;  // nothing after quit
        }
        if (!c.reader.isMidCommand())
            c.midCommandSince.reset();
        else if (!c.midCommandSince)
            c.midCommandSince = Clock::now();
    }

    void write(Connection& c)
    {
        while (!c.out.empty()) {
            const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR)
                    return;
                c.out.clear();
                c.closeWhenSent = true;
                return;
            }
            c.out.erase(0, std::size_t(n));
        }
    }

    void accept(int listenFd)
    {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        if (connections.size() >= server.options_.maxConnections) {
            const std::string refusal = statusReply(ReplyCode::ConnectionRejected);
            (void)::send(fd, refusal.data(), refusal.size(), MSG_NOSIGNAL);
            ::close(fd);
            KLOG_WARN("HyperDeck connection refused: {} connections open", connections.size());
            return;
        }
        auto& c = connections.emplace_back(fd, server.options_.maxLineLength);
        c.out = banner(text(server.options_.model));
        server.connectionCount_.store(connections.size());
    }

    void notifyChanges()
    {
        const auto now = Clock::now();
        if (now < nextNotifyCheck)
            return;
        nextNotifyCheck = now + server.options_.notifyInterval;
        if (std::none_of(connections.begin(), connections.end(), [](const Connection& c) { return c.notifyTransport; }))
            return;
        const Fields current = transportFields();
        for (auto& c : connections) {
            if (!c.notifyTransport || c.closeWhenSent)
                continue;
            Fields changed;
            for (std::size_t i = 0; i < current.size(); ++i)
                if (i >= c.lastTransport.size() || c.lastTransport[i] != current[i])
                    changed.push_back(current[i]);
            if (!changed.empty())
                c.out += blockReply(ReplyCode::AsyncTransportInfo, changed);
            c.lastTransport = current;
        }
    }

    // How long poll may sleep: until the next notification check or half-line deadline.
    int pollTimeout() const
    {
        std::optional<Clock::time_point> wake;
        const auto earliest = [&](Clock::time_point t) { wake = wake ? std::min(*wake, t) : t; };
        if (std::any_of(connections.begin(), connections.end(), [](const Connection& c) { return c.notifyTransport; }))
            earliest(nextNotifyCheck);
        for (const auto& c : connections)
            if (c.midCommandSince)
                earliest(*c.midCommandSince + server.options_.halfLineTimeout);
        if (!wake)
            return -1;
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*wake - Clock::now()).count();
        return int(std::clamp<long long>(ms, 0, 60000));
    }

    void closeFinished()
    {
        const auto now = Clock::now();
        for (auto it = connections.begin(); it != connections.end();) {
            const bool stalled = it->midCommandSince && now - *it->midCommandSince >= server.options_.halfLineTimeout;
            const bool flooded = it->out.size() > server.options_.maxPendingOutput;
            if (stalled || flooded)
                KLOG_WARN("HyperDeck connection closed: {}", stalled ? "unfinished command" : "replies not read");
            if (stalled || flooded || (it->closeWhenSent && it->out.empty())) {
                ::close(it->fd);
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
        server.connectionCount_.store(connections.size());
    }
};

ZelmoraServer& ZelmoraServer::sharedServer()
{
    static ZelmoraServer server([] {
        Options options;
        bool ok = false;
        const int port = qEnvironmentVariableIntValue("KAVIO_HYPERDECK_PORT", &ok);
        if (ok && port >= 0 && port <= 65535)
            options.port = std::uint16_t(port);
        return options;
    }());
    return server;
}

ZelmoraServer::ZelmoraServer() : ZelmoraServer(Options()) {}

ZelmoraServer::ZelmoraServer(Options options) : options_(std::move(options)) {}

ZelmoraServer::~ZelmoraServer() { stop(); }

void ZelmoraServer::setDelegate(std::weak_ptr<ZelmoraDelegate> delegate)
{
    std::lock_guard lock(delegateMutex_);
    delegate_ = std::move(delegate);
    playlistStale_.store(true);
}

bool ZelmoraServer::start()
{
    if (running_.load())
        return true;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        KLOG_ERROR("HyperDeck server: no socket: {}", std::strerror(errno));
        return false;
    }
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options_.port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!options_.bindAddress.empty() && ::inet_pton(AF_INET, options_.bindAddress.c_str(), &address.sin_addr) != 1) {
        KLOG_ERROR("HyperDeck server: bad address {}", options_.bindAddress);
        ::close(fd);
        return false;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
        KLOG_ERROR("HyperDeck server: cannot listen on port {}: {}", options_.port, std::strerror(errno));
        ::close(fd);
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        KLOG_ERROR("HyperDeck server: no eventfd: {}", std::strerror(errno));
        ::close(fd);
        return false;
    }
    boundPort_.store(ntohs(address.sin_port));
    playlistStale_.store(true);
    running_.store(true);
    thread_ = std::thread([this, fd] { run(fd, wakeFd_); });
    KLOG_INFO("HyperDeck server listening on port {}", port());
    return true;
}

void ZelmoraServer::stop()
{
    if (!running_.load())
        return;
    const std::uint64_t one = 1;
    (void)::write(wakeFd_, &one, sizeof one);
    thread_.join();
    ::close(wakeFd_);
    wakeFd_ = -1;
    boundPort_.store(0);
    connectionCount_.store(0);
    running_.store(false);
    KLOG_INFO("HyperDeck server stopped");
}

void ZelmoraServer::run(int listenFd, int wakeFd)
{
    Loop loop(*this);
    std::vector<pollfd> fds;
    while (true) {
        fds.assign({{wakeFd, POLLIN, 0}, {listenFd, POLLIN, 0}});
        for (const auto& c : loop.connections)
            fds.push_back({c.fd, short((c.closeWhenSent ? 0 : POLLIN) | (c.out.empty() ? 0 : POLLOUT)), 0});
        if (::poll(fds.data(), fds.size(), loop.pollTimeout()) < 0 && errno != EINTR) {
            KLOG_ERROR("HyperDeck server: poll failed: {}", std::strerror(errno));
            break;
        }
        if (fds[0].revents)
            break;
        std::size_t i = 2;
        for (auto& c : loop.connections) {
            const short events = fds[i++].revents;
            if (events & (POLLIN | POLLHUP | POLLERR))
                loop.read(c);
        }
        if (fds[1].revents & POLLIN)
            loop.accept(listenFd);
        loop.notifyChanges();
        for (auto& c : loop.connections)
            loop.write(c);
        loop.closeFinished();
    }
    for (const auto& c : loop.connections)
        ::close(c.fd);
    ::close(listenFd);
}
