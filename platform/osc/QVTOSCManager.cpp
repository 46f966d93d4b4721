#include "QVTOSCManager.h"

#include "Log.h"
#include "QVTOSCDatagram.h"

#include <lo/lo.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <thread>

namespace {

const QString kOSCServiceType = QStringLiteral("_osc._udp");

void loError(int number, const char* message, const char* where)
{
    KLOG_DEBUG("OSC: {} ({}) {}", message ? message : "", number, where ? where : "");
}

lo_message loMessageFor(const QVTOSCMessage::Snapshot& snapshot)
{
    lo_message m = lo_message_new();
    for (const auto& [type, value] : snapshot.values) {
        switch (type) {
        case QVTOSCValueTypeFloat: lo_message_add_float(m, value.toFloat()); break;
        case QVTOSCValueTypeInteger:
            lo_message_add_int32(
                m, int32_t(std::clamp<qlonglong>(value.toLongLong(), INT32_MIN, INT32_MAX)));
            break;
        case QVTOSCValueTypeString:
            lo_message_add_string(m, value.toString().toUtf8().constData());
            break;
        default: break;
        }
    }
    return m;
}

}  // namespace

// An input is a liblo server whose socket this kit reads on its own thread, so that each
// datagram can be checked before liblo parses and dispatches it.
struct QVTOSCManager::Input {
    lo_server server = nullptr;
    int port = 0;
    int wakeFd = -1;  // an eventfd that ends the receiving thread
    std::atomic<bool> closing{false};  // once removed, the rest of a packet is not delivered
    std::thread receiver;
    NotificationCenter* center = nullptr;
    std::shared_ptr<Zeroconf> zeroconf;
    Zeroconf::Token published = 0;

    ~Input()
    {
        if (zeroconf && published)
            zeroconf->withdraw(published);
        if (receiver.joinable()) {
            const uint64_t one = 1;
            [[maybe_unused]] ssize_t w = write(wakeFd, &one, sizeof one);
            receiver.join();
        }
        if (wakeFd >= 0)
            close(wakeFd);
        if (server)
            lo_server_free(server);
    }

    void receive()
    {
        std::vector<char> packet(65536);
        pollfd fds[2] = {{lo_server_get_socket_fd(server), POLLIN, 0}, {wakeFd, POLLIN, 0}};
        for (;;) {
            if (poll(fds, 2, -1) < 0 && errno != EINTR)
                break;
            if (fds[1].revents)
                break;
            if (!(fds[0].revents & POLLIN))
                continue;
            const ssize_t n = recv(fds[0].fd, packet.data(), packet.size(), MSG_DONTWAIT);
            if (n <= 0)
                continue;
            QVTOSCDatagram::dispatch(server, packet.data(), size_t(n));
        }
    }

    // Set while a message of this input is being delivered on its receiving thread.
    static thread_local const Input* delivering;

    static int onMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message,
                         void* userData)
    {
        auto* self = static_cast<Input*>(userData);
        if (!path || path[0] != '/' || self->closing)
            return 0;
        const QVariantMap info = QVTOSCDatagram::userInfoForMessage(path, types, argv, argc);
        delivering = self;
        // An exception must not unwind into liblo's C code.
        try {
            self->center->post(kQVTOSCReceivedNotification, nullptr, info);
        } catch (const std::exception& e) {
            KLOG_ERROR("handling {} threw: {}", path, e.what());
        } catch (...) {
            KLOG_ERROR("handling {} threw", path);
        }
        delivering = nullptr;
        return 0;
    }
};

thread_local const QVTOSCManager::Input* QVTOSCManager::Input::delivering = nullptr;

// Outputs send from a socket of their own. liblo's own send path goes through a process-wide
// socket borrowed from whichever server was made first, which races with closing inputs.
struct QVTOSCManager::Output {
    int fd = -1;
    sockaddr_storage to{};
    socklen_t toLength = 0;
    std::string target;
    bool failing = false;  // a failure is logged once until a send succeeds again
    ~Output()
    {
        if (fd >= 0)
            close(fd);
    }
};

struct QVTOSCManager::Clients {
    std::mutex mutex;  // guards list
    QVariantList list;
    std::mutex postMutex;  // held while posting, so the manager cannot go away meanwhile
    NotificationCenter* center = nullptr;  // nullptr once the manager is gone
};

QVTOSCManager& QVTOSCManager::sharedManager()
{
    // Never destroyed: receiving threads and other process-wide objects may still use it
    // while static objects are torn down at exit.
    static QVTOSCManager* instance = new QVTOSCManager(Zeroconf::system());
    return *instance;
}

QVTOSCManager::QVTOSCManager(std::shared_ptr<Zeroconf> zeroconf)
    : zeroconf_(std::move(zeroconf)), clients_(std::make_shared<Clients>())
{
    clients_->center = &center_;
    if (!zeroconf_)
        return;
    zeroconf_->browse(kOSCServiceType, [weak = std::weak_ptr<Clients>(clients_)](
                                           const std::vector<Zeroconf::Service>& services) {
        auto clients = weak.lock();
        if (!clients)
            return;
        QVariantList list;
        for (const auto& s : services) {
            if (s.host.isEmpty())
                continue;  // reachable over IPv6 only; the kit sends over IPv4
            list.append(QVariant(QVariantList{s.name, s.name + ':' + QString::number(s.port),
                                              s.host, s.port}));
        }
        {
            std::lock_guard lock(clients->mutex);
            clients->list = list;
        }
        std::lock_guard posting(clients->postMutex);
        if (clients->center)
            clients->center->post(kQVTOSCDetectedClientsChangedNotification);
    });
}

QVTOSCManager::~QVTOSCManager()
{
    {
        std::lock_guard posting(clients_->postMutex);
        clients_->center = nullptr;
    }
    std::map<QString, std::unique_ptr<Input>> closing;
    {
        std::lock_guard lock(inputsMutex_);
        closing.swap(inputs_);
    }
    for (auto& [name, input] : closing)
        input->closing = true;
}

NotificationCenter& QVTOSCManager::oscKitNotificationCenter()
{
    return center_;
}

bool QVTOSCManager::createInputWithName(const QString& name, int port)
{
    removeInputWithName(name);
    if (port < 0 || port > 65535) {
        KLOG_WARN("cannot create OSC input {}: port {} is out of range", name.toStdString(), port);
        return false;
    }
    auto input = std::make_unique<Input>();
    input->center = &center_;
    const std::string portText = std::to_string(port);
    input->server =
        lo_server_new_with_proto(port == 0 ? nullptr : portText.c_str(), LO_UDP, loError);
    input->wakeFd = eventfd(0, EFD_CLOEXEC);
    if (!input->server || input->wakeFd < 0) {
        KLOG_WARN("cannot create OSC input {} on UDP port {}", name.toStdString(), port);
        return false;
    }
    input->port = lo_server_get_port(input->server);
    // Time tags are not waited for: a control message acts when it arrives.
    lo_server_enable_queue(input->server, 0, 1);
    lo_server_add_method(input->server, nullptr, nullptr, &Input::onMessage, input.get());
    input->receiver = std::thread([in = input.get()] { in->receive(); });
    if (zeroconf_) {
        input->zeroconf = zeroconf_;
        input->published = zeroconf_->publish(name, kOSCServiceType, input->port);
    }
    KLOG_INFO("OSC input {} listens on UDP port {}", name.toStdString(), input->port);
    std::lock_guard lock(inputsMutex_);
    inputs_[name] = std::move(input);
    return true;
}

void QVTOSCManager::removeInputWithName(const QString& name)
{
    std::unique_ptr<Input> input;
    {
        std::lock_guard lock(inputsMutex_);
        auto it = inputs_.find(name);
        if (it == inputs_.end())
            return;
        input = std::move(it->second);
        inputs_.erase(it);
    }
    input->closing = true;
    // A receiving thread cannot join itself: let another thread close it once this message
    // has been handled.
    if (Input::delivering == input.get())
        std::thread([doomed = std::move(input)] {}).detach();
}

int QVTOSCManager::portOfInputWithName(const QString& name) const
{
    std::lock_guard lock(inputsMutex_);
    auto it = inputs_.find(name);
    return it == inputs_.end() ? 0 : it->second->port;
}

bool QVTOSCManager::createOutputWithName(const QString& name, const QString& host, int port)
{
    removeOutputWithName(name);
    const std::string hostText = host.trimmed().toStdString();
    if (hostText.empty() || hostText == "-" || port < 1 || port > 65535) {
        KLOG_DEBUG("no OSC output {}: unusable target {}:{}", name.toStdString(), hostText, port);
        return false;
    }
    const std::string portText = std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_INET;  // OSC peers are mostly IPv4; a host without one may still have IPv6
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    int r = getaddrinfo(hostText.c_str(), portText.c_str(), &hints, &found);
    if (r != 0) {
        hints.ai_family = AF_UNSPEC;
        r = getaddrinfo(hostText.c_str(), portText.c_str(), &hints, &found);
    }
    if (r != 0) {
        KLOG_WARN("no OSC output {}: {} does not resolve ({})", name.toStdString(), hostText,
                  gai_strerror(r));
        return false;
    }
    auto output = std::make_unique<Output>();
    output->fd = socket(found->ai_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    std::memcpy(&output->to, found->ai_addr, found->ai_addrlen);
    output->toLength = found->ai_addrlen;
    freeaddrinfo(found);
    if (output->fd < 0) {
        KLOG_WARN("no OSC output {}: {}", name.toStdString(), std::strerror(errno));
        return false;
    }
    const int yes = 1;  // a broadcast address is a valid feedback target
    setsockopt(output->fd, SOL_SOCKET, SO_BROADCAST, &yes, sizeof yes);
    output->target = hostText + ':' + portText;
    KLOG_INFO("OSC output {} sends to {}", name.toStdString(), output->target);
    std::lock_guard lock(outputsMutex_);
    outputs_[name] = std::move(output);
    return true;
}

void QVTOSCManager::removeOutputWithName(const QString& name)
{
    std::lock_guard lock(outputsMutex_);
    outputs_.erase(name);
}

void QVTOSCManager::sendOSCMessage(const QVTOSCMessage& message)
{
    const QVTOSCMessage::Snapshot snapshot = message.snapshot();
    if (!snapshot.address.startsWith('/')) {
        KLOG_DEBUG("not sending OSC message with address \"{}\"", snapshot.address.toStdString());
        return;
    }
    QStringList paths{snapshot.address};
    paths << senderNode_.mirroredAddresses(snapshot.address);
    std::vector<std::vector<char>> packets;
    lo_message m = loMessageFor(snapshot);
    for (const QString& path : paths) {
        const QByteArray p = path.toUtf8();
        std::vector<char> packet(lo_message_length(m, p.constData()));
        size_t size = packet.size();
        lo_message_serialise(m, p.constData(), packet.data(), &size);
        packets.push_back(std::move(packet));
    }
    lo_message_free(m);

    std::lock_guard lock(outputsMutex_);
    for (auto& [name, output] : outputs_) {
        for (const auto& packet : packets) {
            const bool sent = sendto(output->fd, packet.data(), packet.size(), 0,
                                     reinterpret_cast<const sockaddr*>(&output->to),
                                     output->toLength) == ssize_t(packet.size());
            if (!sent && !output->failing)
                KLOG_WARN("cannot send OSC to {}: {}", output->target, std::strerror(errno));
            output->failing = !sent;
        }
    }
}

QVTOSCSenderNode& QVTOSCManager::defaultSenderNode()
{
    return senderNode_;
}

QVariantList QVTOSCManager::listOfDetectedOSCClients() const
{
    std::lock_guard lock(clients_->mutex);
    return clients_->list;
}
