#include "GCDAsyncUdpSocket_QVTLIGHTING.h"

#include "DispatchQueue.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

const QString GCDAsyncUdpSocketErrorDomain = QStringLiteral("GCDAsyncUdpSocketErrorDomain");
const QString GCDAsyncUdpSocketQueueName = QStringLiteral("GCDAsyncUdpSocket");
const QString GCDAsyncUdpSocketPOSIXErrorDomain = QStringLiteral("NSPOSIXErrorDomain");
const QString GCDAsyncUdpSocketNetDBErrorDomain = QStringLiteral("kCFStreamErrorDomainNetDB");

QVariantMap GCDAsyncUdpSocketErrorInfo::userInfo() const
{
    QVariantMap info{{QStringLiteral("NSLocalizedDescription"), localizedDescription}};
    if (!failureReason.isEmpty())
        info.insert(QStringLiteral("NSLocalizedFailureReason"), failureReason);
    return info;
}

QString GCDAsyncUdpSocketErrorInfo::toString() const
{
    QString text = localizedDescription;
    if (!failureReason.isEmpty())
        text += QStringLiteral(" (%1)").arg(failureReason);
    return text + QStringLiteral(" [%1 %2]").arg(domain).arg(code);
}

void GCDAsyncUdpSocketDelegate::udpSocketDidSendDataWithTag(GCDAsyncUdpSocket_QVTLIGHTING*, long) {}
void GCDAsyncUdpSocketDelegate::udpSocketDidNotSendDataWithTag(GCDAsyncUdpSocket_QVTLIGHTING*, long,
                                                               const GCDAsyncUdpSocketErrorInfo&) {}
void GCDAsyncUdpSocketDelegate::udpSocketDidReceiveData(GCDAsyncUdpSocket_QVTLIGHTING*, const QByteArray&,
                                                        const QByteArray&, void*) {}
void GCDAsyncUdpSocketDelegate::udpSocketDidClose(GCDAsyncUdpSocket_QVTLIGHTING*,
                                                  const std::optional<GCDAsyncUdpSocketErrorInfo>&) {}

namespace {

using Error = GCDAsyncUdpSocketErrorInfo;

enum Flags : std::uint32_t {
    kSocketsCreated = 0x1,
    kBound = 0x2,
    kReceiveContinuous = 0x20,
    kIPv4Deactivated = 0x40,
    kIPv6Deactivated = 0x80,
};
enum Config : std::uint16_t {
    kIPv4Disabled = 0x1,
    kIPv6Disabled = 0x2,
    kPreferIPv4 = 0x4,
    kPreferIPv6 = 0x8,
};
constexpr int kV4 = 0;
constexpr int kV6 = 1;

Error errorIn(long code, const QString& message)
{
    return {GCDAsyncUdpSocketErrorDomain, code, message, {}};
}
Error badConfigError(const QString& message) { return errorIn(GCDAsyncUdpSocketBadConfigError, message); }
Error badParamError(const QString& message) { return errorIn(GCDAsyncUdpSocketBadParamError, message); }
Error otherError(const QString& message) { return errorIn(GCDAsyncUdpSocketOtherError, message); }
Error errnoErrorWithReason(const char* reason)
{
    const int e = errno;
    return {GCDAsyncUdpSocketPOSIXErrorDomain, e, QString::fromLocal8Bit(std::strerror(e)),
            QString::fromLatin1(reason)};
}
Error gaiError(int code)
{
    return {GCDAsyncUdpSocketNetDBErrorDomain, code, QString::fromLocal8Bit(gai_strerror(code)), {}};
}

void setError(Error* errPtr, const Error& error)
{
    if (errPtr)
        *errPtr = error;
}

QByteArray addressBytes(const void* address, std::size_t length)
{
    return QByteArray(static_cast<const char*>(address), static_cast<qsizetype>(length));
}

// A numeric interface address or name, matched against the local interface list.
struct InterfaceAddresses {
    std::optional<sockaddr_in> address4;
    std::optional<sockaddr_in6> address6;
    unsigned index4 = 0;  // the interface holding address4; 0 for the wildcard
    std::optional<in_addr> broadcast4;  // that interface's broadcast address, when it has one
};

InterfaceAddresses convertInterfaceDescription(const std::optional<QString>& description, std::uint16_t port)
{
    InterfaceAddresses out;
    sockaddr_in a4{};
    a4.sin_family = AF_INET;
    a4.sin_port = htons(port);
    sockaddr_in6 a6{};
    a6.sin6_family = AF_INET6;
    a6.sin6_port = htons(port);
    if (!description) {
        a4.sin_addr.s_addr = htonl(INADDR_ANY);
        a6.sin6_addr = in6addr_any;
        out.address4 = a4;
        out.address6 = a6;
        return out;
    }
    const bool loopback = *description == QLatin1String("localhost") || *description == QLatin1String("loopback");
    const QByteArray wanted = description->toUtf8();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return out;
    for (ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr)
            continue;
        char text[INET6_ADDRSTRLEN] = {};
        const int family = ifa->ifa_addr->sa_family;
        if (family == AF_INET && !out.address4) {
            const auto* sin = reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr);
            inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text);
            const bool match = loopback ? sin->sin_addr.s_addr == htonl(INADDR_LOOPBACK)
                                        : (wanted == ifa->ifa_name || wanted == text);
            if (match) {
                a4.sin_addr = sin->sin_addr;
                out.address4 = a4;
                out.index4 = if_nametoindex(ifa->ifa_name);
                if ((ifa->ifa_flags & IFF_BROADCAST) && ifa->ifa_broadaddr && ifa->ifa_broadaddr->sa_family == AF_INET)
                    out.broadcast4 = reinterpret_cast<const sockaddr_in*>(ifa->ifa_broadaddr)->sin_addr;
            }
        } else if (family == AF_INET6 && !out.address6) {
            const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(ifa->ifa_addr);
            inet_ntop(AF_INET6, &sin6->sin6_addr, text, sizeof text);
            const bool match = loopback ? IN6_IS_ADDR_LOOPBACK(&sin6->sin6_addr)
                                        : (wanted == ifa->ifa_name || wanted == text);
            if (match) {
                a6 = *sin6;
                a6.sin6_port = htons(port);
                out.address6 = a6;
            }
        }
    }
    freeifaddrs(list);
    return out;
}

struct Resolution {
    std::vector<QByteArray> addresses;  // sockaddr_in / sockaddr_in6 records, resolver order
    std::optional<Error> error;
};

Resolution resolveHost(const QString& host, std::uint16_t port)
{
    Resolution r;
    if (host == QLatin1String("localhost") || host == QLatin1String("loopback")) {
        sockaddr_in a4{};
        a4.sin_family = AF_INET;
        a4.sin_port = htons(port);
        a4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sockaddr_in6 a6{};
        a6.sin6_family = AF_INET6;
        a6.sin6_port = htons(port);
        a6.sin6_addr = in6addr_loopback;
        r.addresses = {addressBytes(&a4, sizeof a4), addressBytes(&a6, sizeof a6)};
        return r;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    addrinfo* result = nullptr;
    const int code = getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &result);
    if (code != 0) {
        r.error = gaiError(code);
        return r;
    }
    for (addrinfo* ai = result; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
            r.addresses.push_back(addressBytes(ai->ai_addr, sizeof(sockaddr_in)));
        } else if (ai->ai_family == AF_INET6 && ai->ai_addrlen >= sizeof(sockaddr_in6)) {
            sockaddr_in6 a6;
            std::memcpy(&a6, ai->ai_addr, sizeof a6);
            if (a6.sin6_port == 0)
                a6.sin6_port = htons(port);
            r.addresses.push_back(addressBytes(&a6, sizeof a6));
        }
    }
    freeaddrinfo(result);
    if (r.addresses.empty())
        r.error = gaiError(EAI_FAIL);
    return r;
}

int familyOf(const QByteArray& address)
{
    sa_family_t family = AF_UNSPEC;
    if (address.size() >= static_cast<qsizetype>(sizeof(sockaddr)))
        std::memcpy(&family, address.constData() + offsetof(sockaddr, sa_family), sizeof family);
    return family;
}

// Watches the OS sockets for readiness on its own thread. Interest is one-shot: when a socket
// becomes ready, the interest is dropped and onReady is called; the socket queue re-arms it
// once it has drained the socket. Only setSocket() waits for the thread, so a descriptor is
// never closed while it is being polled.
class ReadinessWatcher {
public:
    using ReadyHandler = std::function<void(bool readable)>;

    explicit ReadinessWatcher(ReadyHandler onReady) : onReady_(std::move(onReady)) {}
    ~ReadinessWatcher() { stop(); }

    void setSocket(int family, int fd)
    {
        std::unique_lock lock(mutex_);
        if (fd >= 0 && !thread_.joinable()) {
            wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
            thread_ = std::thread([this] { run(); });
        }
        fds_[family] = fd;
        wantRead_[family] = wantWrite_[family] = false;
        const std::uint64_t epoch = ++requested_;
        if (!thread_.joinable())
            return;
        wake();
        acknowledged_.wait(lock, [&] { return seen_ >= epoch; });
    }

    void arm(int family, bool read)
    {
        std::lock_guard lock(mutex_);
        (read ? wantRead_ : wantWrite_)[family] = true;
        wake();
    }

    void stop()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            wake();
        }
        if (thread_.joinable())
            thread_.join();
        if (wakeFd_ >= 0)
            ::close(wakeFd_);
        wakeFd_ = -1;
    }

private:
    void wake()
    {
        if (wakeFd_ >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto n = ::write(wakeFd_, &one, sizeof one);
        }
    }

    void run()
    {
        for (;;) {
            std::array<pollfd, 3> pfds{};
            std::array<int, 3> familyOfSlot{};
            int count = 1;
            std::uint64_t epoch;
            {
                std::lock_guard lock(mutex_);
                epoch = seen_ = requested_;
                acknowledged_.notify_all();
                if (stopping_)
                    return;
                pfds[0] = {wakeFd_, POLLIN, 0};
                for (int f = 0; f < 2; ++f) {
                    const short events = static_cast<short>((wantRead_[f] ? POLLIN : 0) | (wantWrite_[f] ? POLLOUT : 0));
                    if (fds_[f] >= 0 && events) {
                        familyOfSlot[count] = f;
                        pfds[count++] = {fds_[f], events, 0};
                    }
                }
            }
            if (::poll(pfds.data(), static_cast<nfds_t>(count), -1) < 0)
                continue;
            if (pfds[0].revents) {
                std::uint64_t value;
                [[maybe_unused]] const auto n = ::read(wakeFd_, &value, sizeof value);
            }
            for (int i = 1; i < count; ++i) {
                const int f = familyOfSlot[i];
                bool readable = false;
                bool writable = false;
                {
                    std::lock_guard lock(mutex_);
                    if (requested_ != epoch)
                        break;  // the sockets changed while polling: these events are stale
                    const short r = pfds[i].revents;
                    readable = wantRead_[f] && (r & (POLLIN | POLLERR | POLLHUP));
                    writable = wantWrite_[f] && (r & (POLLOUT | POLLERR | POLLHUP));
                    if (readable)
                        wantRead_[f] = false;
                    if (writable)
                        wantWrite_[f] = false;
                }
                if (readable)
                    onReady_(true);
                if (writable)
                    onReady_(false);
            }
        }
    }

    ReadyHandler onReady_;
    std::mutex mutex_;
    std::condition_variable acknowledged_;
    std::thread thread_;
    int wakeFd_ = -1;
    int fds_[2] = {-1, -1};
    bool wantRead_[2] = {false, false};
    bool wantWrite_[2] = {false, false};
    std::uint64_t requested_ = 0;
    std::uint64_t seen_ = 0;
    bool stopping_ = false;
};

struct SendPacket {
    QByteArray buffer;
    double timeout = -1;
    long tag = 0;
    bool resolveInProgress = true;
    std::vector<QByteArray> resolvedAddresses;
    std::optional<Error> resolveError;
    QByteArray address;
};

}  // namespace

struct GCDAsyncUdpSocket_QVTLIGHTING::Impl {
    Impl(GCDAsyncUdpSocket_QVTLIGHTING* owner, std::weak_ptr<GCDAsyncUdpSocketDelegate> delegate,
         std::shared_ptr<DispatchQueue> delegateQueue);
    ~Impl();

    bool preOp(Error* errPtr) const;
    bool createSockets(Error* errPtr);
    bool createSocket(int family, Error* errPtr);
    void closeSockets();
    void closeWithError(const std::optional<Error>& error);
    bool usable(int family) const { return fd[family] >= 0 && !(flags & (family == kV4 ? kIPv4Deactivated : kIPv6Deactivated)); }

    bool bind(std::uint16_t port, const std::optional<QString>& description, Error* errPtr);
    void doReceive();
    // Reads one datagram; false when the socket has nothing more (or was closed).
    bool receiveOne(int family);

    void maybeDequeueSend();
    void doPreSend();
    void doSend();
    void failCurrentSend(const Error& error);
    void endCurrentSend();

    template <class Call>
    void notify(Call call);

    GCDAsyncUdpSocket_QVTLIGHTING* owner;
    std::weak_ptr<GCDAsyncUdpSocketDelegate> delegate;
    std::shared_ptr<DispatchQueue> delegateQueue;

    // Socket-queue state.
    std::uint32_t flags = 0;
    std::uint16_t config = 0;
    std::uint16_t max4ReceiveSize = 65535;
    std::uint32_t max6ReceiveSize = 65535;
    std::uint16_t maxSendSize = 65535;
    int fd[2] = {-1, -1};
    unsigned receiveInterfaceIndex[2] = {0, 0};  // 0: any interface
    bool flipFlop = false;
    bool destroying = false;
    std::shared_ptr<SendPacket> currentSend;
    std::deque<std::shared_ptr<SendPacket>> sendQueue;
    std::uint64_t sendTimerGeneration = 0;
    bool sendTimerRunning = false;
    std::vector<char> receiveBuffer;

    ReadinessWatcher watcher;
    // Destroyed in this order: the resolver may still queue onto the socket queue.
    std::unique_ptr<DispatchQueue> socketQueue;
    std::unique_ptr<DispatchQueue> resolverQueue;
};

GCDAsyncUdpSocket_QVTLIGHTING::Impl::Impl(GCDAsyncUdpSocket_QVTLIGHTING* o,
                                          std::weak_ptr<GCDAsyncUdpSocketDelegate> d,
                                          std::shared_ptr<DispatchQueue> dq)
    : owner(o),
      delegate(std::move(d)),
      delegateQueue(std::move(dq)),
      watcher([this](bool readable) {
          socketQueue->async([this, readable] {
              if (readable)
                  doReceive();
              else if (currentSend && !currentSend->resolveInProgress && !destroying)
                  doSend();
          });
      }),
      socketQueue(std::make_unique<DispatchQueue>(GCDAsyncUdpSocketQueueName.toStdString())),
      resolverQueue(std::make_unique<DispatchQueue>("GCDAsyncUdpSocket.resolve"))
{
}

GCDAsyncUdpSocket_QVTLIGHTING::Impl::~Impl()
{
    watcher.stop();
    resolverQueue.reset();
    socketQueue.reset();
    for (int f : {kV4, kV6})
        if (fd[f] >= 0)
            ::close(fd[f]);
}

template <class Call>
void GCDAsyncUdpSocket_QVTLIGHTING::Impl::notify(Call call)
{
    auto d = delegate.lock();
    if (!d || !delegateQueue)
        return;
    delegateQueue->async([d = std::move(d), sock = owner, call = std::move(call)] { call(*d, sock); });
}

bool GCDAsyncUdpSocket_QVTLIGHTING::Impl::preOp(Error* errPtr) const
{
    if (delegate.expired()) {
        setError(errPtr, badConfigError(QStringLiteral("Attempting to use socket without a delegate. Set a delegate first.")));
        return false;
    }
    if (!delegateQueue) {
        setError(errPtr, badConfigError(QStringLiteral("Attempting to use socket without a delegate queue. Set a delegate queue first.")));
        return false;
    }
    return true;
}

bool GCDAsyncUdpSocket_QVTLIGHTING::Impl::createSocket(int family, Error* errPtr)
{
    const int s = ::socket(family == kV4 ? AF_INET : AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        setError(errPtr, errnoErrorWithReason("Error in socket() function"));
        return false;
    }
    const int one = 1;
    const int bufferSize = maxSendSize;
    const char* failure = nullptr;
    if (fcntl(s, F_SETFL, O_NONBLOCK) == -1)
        failure = "Error enabling non-blocking IO on socket (fcntl)";
    else if (setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == -1)
        failure = "Error enabling address reuse (setsockopt)";
    else if (setsockopt(s, SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof bufferSize) == -1)
        failure = "Error setting send buffer size (setsockopt)";
    else if (setsockopt(s, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize) == -1)
        failure = "Error setting receive buffer size (setsockopt)";
    // Keeps the IPv6 socket off IPv4 traffic, so both families can bind the same port.
    else if (family == kV6 && setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) == -1)
        failure = "Error in setsockopt() function";
    if (failure) {
        setError(errPtr, errnoErrorWithReason(failure));
        ::close(s);
        return false;
    }
    fd[family] = s;
    watcher.setSocket(family, s);
    return true;
}

bool GCDAsyncUdpSocket_QVTLIGHTING::Impl::createSockets(Error* errPtr)
{
    if (destroying) {
        setError(errPtr, badConfigError(QStringLiteral("Socket closed")));
        return false;
    }
    if (!(config & kIPv4Disabled) && !createSocket(kV4, errPtr))
        return false;
    if (!(config & kIPv6Disabled) && !createSocket(kV6, errPtr)) {
        closeSockets();
        return false;
    }
    flags |= kSocketsCreated;
    return true;
}

void GCDAsyncUdpSocket_QVTLIGHTING::Impl::closeSockets()
{
    for (int f : {kV4, kV6}) {
        if (fd[f] < 0)
            continue;
        watcher.setSocket(f, -1);
        ::close(fd[f]);
        fd[f] = -1;
        receiveInterfaceIndex[f] = 0;
    }
    flags &= ~static_cast<std::uint32_t>(kSocketsCreated);
}

void GCDAsyncUdpSocket_QVTLIGHTING::Impl::closeWithError(const std::optional<Error>& error)
{
    endCurrentSend();
    sendQueue.clear();
    const bool hadSockets = flags & kSocketsCreated;
    closeSockets();
    flags = 0;
    if (hadSockets)
        notify([error](GCDAsyncUdpSocketDelegate& d, GCDAsyncUdpSocket_QVTLIGHTING* s) { d.udpSocketDidClose(s, error); });
}

bool GCDAsyncUdpSocket_QVTLIGHTING::Impl::bind(std::uint16_t port, const std::optional<QString>& description, Error* errPtr)
{
    if (!preOp(errPtr))
        return false;
    if (flags & kBound) {
        setError(errPtr, badConfigError(QStringLiteral("Cannot bind a socket more than once.")));
        return false;
    }
    const bool v4Enabled = !(config & kIPv4Disabled);
    const bool v6Enabled = !(config & kIPv6Disabled);
    if (!v4Enabled && !v6Enabled) {
        setError(errPtr, badConfigError(QStringLiteral("Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.")));
        return false;
    }
    const InterfaceAddresses addresses = convertInterfaceDescription(description, port);
    if (!addresses.address4 && !addresses.address6) {
        setError(errPtr, badParamError(QStringLiteral("Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.")));
        return false;
    }
    if (!v4Enabled && !addresses.address6) {
        setError(errPtr, badParamError(QStringLiteral("IPv4 has been disabled and specified interface doesn't support IPv6.")));
        return false;
    }
    if (!v6Enabled && !addresses.address4) {
        setError(errPtr, badParamError(QStringLiteral("IPv6 has been disabled and specified interface doesn't support IPv4.")));
        return false;
    }
    const bool use4 = v4Enabled && addresses.address4;
    const bool use6 = v6Enabled && addresses.address6;
    if (!(flags & kSocketsCreated) && !createSockets(errPtr))
        return false;

    bool ok = true;
    if (use4) {
        sockaddr_in a4 = *addresses.address4;
        int broadcast = 0;
        socklen_t length = sizeof broadcast;
        getsockopt(fd[kV4], SOL_SOCKET, SO_BROADCAST, &broadcast, &length);
        if (broadcast && description && addresses.index4 != 0) {
            const int one = 1;
            a4.sin_addr.s_addr = htonl(INADDR_ANY);
            ok = setsockopt(fd[kV4], IPPROTO_IP, IP_PKTINFO, &one, sizeof one) == 0;
            receiveInterfaceIndex[kV4] = addresses.index4;
        }
        ok = ok && ::bind(fd[kV4], reinterpret_cast<const sockaddr*>(&a4), sizeof a4) == 0;
    }
    if (ok && use6)
        ok = ::bind(fd[kV6], reinterpret_cast<const sockaddr*>(&*addresses.address6), sizeof(sockaddr_in6)) == 0;
    if (!ok) {
        const Error error = errnoErrorWithReason("Error in bind() function");
        closeSockets();
        setError(errPtr, error);
        return false;
    }
    flags |= kBound;
    if (!use4)
        flags |= kIPv4Deactivated;
    if (!use6)
        flags |= kIPv6Deactivated;
    return true;
}

void GCDAsyncUdpSocket_QVTLIGHTING::Impl::doReceive()
{
    if (!(flags & kReceiveContinuous) || destroying)
        return;
    bool more[2] = {usable(kV4), usable(kV6)};
    // Bounded so that sends and other queued work get their turn under a flood.
    int budget = 256;
    while ((more[kV4] || more[kV6]) && budget > 0) {
        flipFlop = !flipFlop;
        for (int f : {flipFlop ? kV6 : kV4, flipFlop ? kV4 : kV6}) {
            if (!more[f])
                continue;
            more[f] = receiveOne(f);
            --budget;
            if (!(flags & kSocketsCreated))
                return;
        }
    }
    if (more[kV4] || more[kV6]) {
        socketQueue->async([this] { doReceive(); });
        return;
    }
    for (int f : {kV4, kV6})
        if (usable(f))
            watcher.arm(f, true);
}

bool GCDAsyncUdpSocket_QVTLIGHTING::Impl::receiveOne(int family)
{
    const std::size_t size = family == kV4 ? max4ReceiveSize : max6ReceiveSize;
    if (receiveBuffer.size() < size)
        receiveBuffer.resize(size);
    sockaddr_storage from{};
    iovec iov{receiveBuffer.data(), size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in6_pktinfo)) + CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd[family], &msg, 0);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return false;
        // Interrupted calls and ICMP errors left from earlier sends are not a broken socket.
        if (errno == EINTR || errno == ECONNREFUSED || errno == EHOSTUNREACH || errno == ENETUNREACH)
            return true;
        closeWithError(errnoErrorWithReason("Error in recvfrom() function"));
        return false;
    }
    if (receiveInterfaceIndex[family] != 0) {
        unsigned arrivedOn = 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                arrivedOn = static_cast<unsigned>(info.ipi_ifindex);
            }
        }
        if (arrivedOn != receiveInterfaceIndex[family])
            return true;
    }
    QByteArray data(receiveBuffer.data(), n);
    QByteArray address = addressBytes(&from, family == kV4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6));
    notify([data = std::move(data), address = std::move(address)](GCDAsyncUdpSocketDelegate& d,
                                                                  GCDAsyncUdpSocket_QVTLIGHTING* s) {
        d.udpSocketDidReceiveData(s, data, address, nullptr);
    });
    return true;
}

void GCDAsyncUdpSocket_QVTLIGHTING::Impl::maybeDequeueSend()
{
    if (currentSend || destroying)
        return;
    if (!(flags & kSocketsCreated)) {
        Error error;
        if (!createSockets(&error)) {
            closeWithError(error);
            return;
        }
    }
    while (!sendQueue.empty()) {
        auto packet = sendQueue.front();
        sendQueue.pop_front();
        if (!packet->resolveInProgress && packet->resolveError) {
            notify([tag = packet->tag, error = *packet->resolveError](GCDAsyncUdpSocketDelegate& d,
                                                                     GCDAsyncUdpSocket_QVTLIGHTING* s) {
                d.udpSocketDidNotSendDataWithTag(s, tag, error);
            });
            continue;
        }
        currentSend = std::move(packet);
        doPreSend();
        return;
    }
}

void GCDAsyncUdpSocket_QVTLIGHTING::Impl::doPreSend()
{
    const auto& packet = *currentSend;
    if (packet.resolveInProgress)
        return;  // the resolver's answer resumes this packet
    if (packet.resolveError) {
        failCurrentSend(*packet.resolveError);
        return;
    }
    const QByteArray* first4 = nullptr;
    const QByteArray* first6 = nullptr;
    for (const QByteArray& a : packet.resolvedAddresses) {
        if (familyOf(a) == AF_INET && !first4)
            first4 = &a;
        else if (familyOf(a) == AF_INET6 && !first6)
            first6 = &a;
    }
    if ((config & kIPv4Disabled) && !first6)
        return failCurrentSend(otherError(QStringLiteral("IPv4 has been disabled and DNS lookup found no IPv6 address(es).")));
    if ((config & kIPv6Disabled) && !first4)
        return failCurrentSend(otherError(QStringLiteral("IPv6 has been disabled and DNS lookup found no IPv4 address(es).")));
    if ((flags & kIPv4Deactivated) && !first6)
        return failCurrentSend(otherError(QStringLiteral("IPv4 has been deactivated due to bind/connect, and DNS lookup found no IPv6 address(es).")));
    if ((flags & kIPv6Deactivated) && !first4)
        return failCurrentSend(otherError(QStringLiteral("IPv6 has been deactivated due to bind/connect, and DNS lookup found no IPv4 address(es).")));
    const bool use4 = first4 && !(config & kIPv4Disabled) && !(flags & kIPv4Deactivated);
    const bool use6 = first6 && !(config & kIPv6Disabled) && !(flags & kIPv6Deactivated);
    const QByteArray* chosen = nullptr;
    if (use4 && (!use6 || (config & kPreferIPv4)))
        chosen = first4;
    else if (use6 && (!use4 || (config & kPreferIPv6)))
        chosen = first6;
    else
        chosen = first4 < first6 ? first4 : first6;  // both usable, no preference: resolver order
    currentSend->address = *chosen;
    doSend();
}

void GCDAsyncUdpSocket_QVTLIGHTING::Impl::doSend()
{
    auto& packet = *currentSend;
    const int family = familyOf(packet.address) == AF_INET ? kV4 : kV6;
    if (fd[family] < 0)
        return failCurrentSend(badConfigError(QStringLiteral("Socket closed")));
    const ssize_t n = ::sendto(fd[family], packet.buffer.constData(), static_cast<std::size_t>(packet.buffer.size()),
                               MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(packet.address.constData()),
                               static_cast<socklen_t>(packet.address.size()));
    if (n > 0) {
        flags |= kBound;
        notify([tag = packet.tag](GCDAsyncUdpSocketDelegate& d, GCDAsyncUdpSocket_QVTLIGHTING* s) {
            d.udpSocketDidSendDataWithTag(s, tag);
        });
        endCurrentSend();
        maybeDequeueSend();
        return;
    }
    if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        watcher.arm(family, false);
        if (packet.timeout >= 0 && !sendTimerRunning) {
            sendTimerRunning = true;
            socketQueue->asyncAfter(packet.timeout, [this, generation = sendTimerGeneration] {
                if (generation == sendTimerGeneration && sendTimerRunning)
                    failCurrentSend(errorIn(GCDAsyncUdpSocketSendTimeoutError, QStringLiteral("Send operation timed out")));
            });
        }
        return;
    }
    // One undeliverable datagram (no route, broadcast refused) must not take reception down.
    failCurrentSend(errnoErrorWithReason("Error in send() function."));
}

void GCDAsyncUdpSocket_QVTLIGHTING::Impl::failCurrentSend(const Error& error)
{
    notify([tag = currentSend->tag, error](GCDAsyncUdpSocketDelegate& d, GCDAsyncUdpSocket_QVTLIGHTING* s) {
        d.udpSocketDidNotSendDataWithTag(s, tag, error);
    });
    endCurrentSend();
    maybeDequeueSend();
}

void GCDAsyncUdpSocket_QVTLIGHTING::Impl::endCurrentSend()
{
    ++sendTimerGeneration;
    sendTimerRunning = false;
    currentSend.reset();
}

GCDAsyncUdpSocket_QVTLIGHTING::GCDAsyncUdpSocket_QVTLIGHTING(std::weak_ptr<GCDAsyncUdpSocketDelegate> delegate,
                                                             std::shared_ptr<DispatchQueue> delegateQueue)
    : impl_(std::make_unique<Impl>(this, std::move(delegate), std::move(delegateQueue)))
{
}

GCDAsyncUdpSocket_QVTLIGHTING::~GCDAsyncUdpSocket_QVTLIGHTING()
{
    impl_->socketQueue->sync([this] {
        impl_->closeWithError(std::nullopt);
        impl_->destroying = true;
    });
}

void GCDAsyncUdpSocket_QVTLIGHTING::setIPv4Enabled(bool enabled)
{
    impl_->socketQueue->async([impl = impl_.get(), enabled] {
        impl->config = enabled ? (impl->config & ~kIPv4Disabled) : (impl->config | kIPv4Disabled);
    });
}

void GCDAsyncUdpSocket_QVTLIGHTING::setIPv6Enabled(bool enabled)
{
    impl_->socketQueue->async([impl = impl_.get(), enabled] {
        impl->config = enabled ? (impl->config & ~kIPv6Disabled) : (impl->config | kIPv6Disabled);
    });
}

bool GCDAsyncUdpSocket_QVTLIGHTING::enableBroadcast(bool flag, GCDAsyncUdpSocketErrorInfo* errPtr)
{
    bool result = false;
    impl_->socketQueue->sync([&] {
        if (!impl_->preOp(errPtr) || (!(impl_->flags & kSocketsCreated) && !impl_->createSockets(errPtr)))
            return;
        if (impl_->fd[kV4] < 0)
            return;
        const int value = flag ? 1 : 0;
        if (setsockopt(impl_->fd[kV4], SOL_SOCKET, SO_BROADCAST, &value, sizeof value) == -1) {
            setError(errPtr, errnoErrorWithReason("Error in setsockopt() function"));
            return;
        }
        result = true;
    });
    return result;
}

bool GCDAsyncUdpSocket_QVTLIGHTING::enableReusePort(bool flag, GCDAsyncUdpSocketErrorInfo* errPtr)
{
    bool result = false;
    impl_->socketQueue->sync([&] {
        if (!impl_->preOp(errPtr) || (!(impl_->flags & kSocketsCreated) && !impl_->createSockets(errPtr)))
            return;
        const int value = flag ? 1 : 0;
        bool failed = false;
        for (int f : {kV4, kV6}) {
            if (impl_->fd[f] < 0 || failed)
                continue;
            if (setsockopt(impl_->fd[f], SOL_SOCKET, SO_REUSEPORT, &value, sizeof value) == -1) {
                setError(errPtr, errnoErrorWithReason("Error in setsockopt() function"));
                failed = true;
            } else {
                result = true;
            }
        }
    });
    return result;
}

bool GCDAsyncUdpSocket_QVTLIGHTING::bindToPort(std::uint16_t port, const std::optional<QString>& interfaceDescription,
                                               GCDAsyncUdpSocketErrorInfo* errPtr)
{
    bool result = false;
    impl_->socketQueue->sync([&] { result = impl_->bind(port, interfaceDescription, errPtr); });
    return result;
}

bool GCDAsyncUdpSocket_QVTLIGHTING::beginReceiving(GCDAsyncUdpSocketErrorInfo* errPtr)
{
    bool result = false;
    impl_->socketQueue->sync([&] {
        if (impl_->flags & kReceiveContinuous) {
            result = true;
            return;
        }
        if (!(impl_->flags & kSocketsCreated)) {
            setError(errPtr, badConfigError(QStringLiteral(
                                 "Must bind socket before you can receive data. You can do this explicitly via "
                                 "bind, or implicitly via connect or by sending data.")));
            return;
        }
        impl_->flags |= kReceiveContinuous;
        impl_->socketQueue->async([impl = impl_.get()] { impl->doReceive(); });
        result = true;
    });
    return result;
}

void GCDAsyncUdpSocket_QVTLIGHTING::sendData(const QByteArray& data, const QString& host, std::uint16_t port,
                                             double timeout, long tag)
{
    if (data.isEmpty())
        return;
    auto packet = std::make_shared<SendPacket>();
    packet->buffer = data;
    packet->timeout = timeout;
    packet->tag = tag;
    Impl* impl = impl_.get();
    impl->resolverQueue->async([impl, packet, host, port] {
        Resolution resolution = resolveHost(host, port);
        impl->socketQueue->async([impl, packet, resolution = std::move(resolution)] {
            packet->resolveInProgress = false;
            packet->resolvedAddresses = resolution.addresses;
            packet->resolveError = resolution.error;
            if (impl->currentSend == packet)
                impl->doPreSend();
        });
    });
    impl->socketQueue->async([impl, packet] {
        impl->sendQueue.push_back(packet);
        impl->maybeDequeueSend();
    });
}

void GCDAsyncUdpSocket_QVTLIGHTING::close()
{
    impl_->socketQueue->sync([this] { impl_->closeWithError(std::nullopt); });
}

std::uint16_t GCDAsyncUdpSocket_QVTLIGHTING::localPort()
{
    std::uint16_t port = 0;
    impl_->socketQueue->sync([&] {
        if (!(impl_->flags & kBound))
            return;
        for (int f : {kV4, kV6}) {
            if (!impl_->usable(f))
                continue;
            sockaddr_storage address{};
            socklen_t length = sizeof address;
            if (getsockname(impl_->fd[f], reinterpret_cast<sockaddr*>(&address), &length) == 0) {
                getHost(nullptr, &port, addressBytes(&address, length));
                return;
            }
        }
    });
    return port;
}

std::optional<GCDAsyncUdpSocket_QVTLIGHTING::InterfaceIPv4> GCDAsyncUdpSocket_QVTLIGHTING::interfaceIPv4(
    const QString& description)
{
    if (description.isEmpty())
        return std::nullopt;
    const InterfaceAddresses found = convertInterfaceDescription(description, 0);
    if (!found.address4)
        return std::nullopt;
    const auto dotted = [](const in_addr& address) {
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &address, text, sizeof text);
        return QString::fromLatin1(text);
    };
    return InterfaceIPv4{dotted(found.address4->sin_addr), found.broadcast4 ? dotted(*found.broadcast4) : QString()};
}

bool GCDAsyncUdpSocket_QVTLIGHTING::getHost(QString* hostPtr, std::uint16_t* portPtr, const QByteArray& address)
{
    QString host;
    std::uint16_t port = 0;
    char text[INET6_ADDRSTRLEN] = {};
    const int family = familyOf(address);
    bool ok = false;
    if (family == AF_INET && address.size() >= static_cast<qsizetype>(sizeof(sockaddr_in))) {
        sockaddr_in a4;
        std::memcpy(&a4, address.constData(), sizeof a4);
        host = QString::fromLatin1(inet_ntop(AF_INET, &a4.sin_addr, text, sizeof text) ? text : "");
        port = ntohs(a4.sin_port);
        ok = true;
    } else if (family == AF_INET6 && address.size() >= static_cast<qsizetype>(sizeof(sockaddr_in6))) {
        sockaddr_in6 a6;
        std::memcpy(&a6, address.constData(), sizeof a6);
        host = QString::fromLatin1(inet_ntop(AF_INET6, &a6.sin6_addr, text, sizeof text) ? text : "");
        port = ntohs(a6.sin6_port);
        ok = true;
    }
    if (hostPtr)
        *hostPtr = host;
    if (portPtr)
        *portPtr = port;
    return ok;
}
