#include "Shell/KavioNetworkWatch.h"

#include "Log.h"

#include <QSocketNotifier>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace {
void logFailure(const char* step)
{
    KLOG_ERROR("AppDelegate::awakeFromNib: {} failed with error \"{}\"", step, std::strerror(errno));
}
}  // namespace

KavioNetworkWatch::KavioNetworkWatch() = default;

KavioNetworkWatch::~KavioNetworkWatch()
{
    notifier_.reset();
    if (socket_ >= 0)
        ::close(socket_);
}

bool KavioNetworkWatch::start(std::function<void()> changed)
{
    socket_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (socket_ < 0)
        logFailure("socket(NETLINK_ROUTE)");
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_IPV4_IFADDR;
    // Tried even without a socket, so that both failures are logged.
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        logFailure("bind(RTMGRP_IPV4_IFADDR)");
        return false;
    }
    changed_ = std::move(changed);
    notifier_ = std::make_unique<QSocketNotifier>(socket_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readChanges(); });
    return true;
}

void KavioNetworkWatch::readChanges()
{
    // Which address changed is not passed on: one call per batch of messages.
    std::array<char, 8192> buffer;
    bool any = false;
    while (::recv(socket_, buffer.data(), buffer.size(), 0) > 0)
        any = true;
    if (any && changed_)
        changed_();
}
