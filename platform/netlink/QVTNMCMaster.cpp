#include "QVTNMCMaster.h"

#include "Log.h"
#include "NMCSocket.h"
#include "Zeroconf.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <unistd.h>

namespace {

std::string hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return "localhost";
    }
    return name;
}

}  // namespace

struct QVTNMCMaster::State {
    using Clock = std::chrono::steady_clock;
    using Key = std::pair<uint32_t, uint16_t>;  // address, port (network order)

    NMCSocket socket;
    bool listening = false;
    std::string serviceName;
    std::shared_ptr<Zeroconf> zeroconf;
    Zeroconf::Token published = 0;

    mutable std::mutex mutex;
    std::map<Key, Clock::time_point> subscribers;
    uint64_t refused = 0;

    void dropExpired(Clock::time_point now)
    {
        std::erase_if(subscribers, [now](const auto& s) { return now - s.second > nmclink::kSubscriptionExpiry; });
    }

    void subscribe(std::span<const uint8_t> datagram, const sockaddr_in& from)
    {
        if (datagram.size() != nmclink::kSubscribe.size() ||
            !std::equal(nmclink::kSubscribe.begin(), nmclink::kSubscribe.end(), datagram.begin())) {
            return;
        }
        const auto now = Clock::now();
        std::lock_guard lock(mutex);
        dropExpired(now);
        const Key key{from.sin_addr.s_addr, from.sin_port};
        if (subscribers.size() >= nmclink::kMaxSubscribers && !subscribers.contains(key)) {
            if (refused++ % 100 == 0) {
                KLOG_WARN("network link: more than {} slaves, a subscription is refused", nmclink::kMaxSubscribers);
            }
            return;
        }
        subscribers[key] = now;
    }
};

QVTNMCMaster::QVTNMCMaster(std::string_view name, uint16_t port, std::shared_ptr<Zeroconf> zeroconf)
    : state_(std::make_unique<State>())
{
    state_->serviceName = std::string(name) + " : " + hostName();
    std::string error;
    if (!state_->socket.open(port, &error)) {
        KLOG_ERROR("network link master: {}", error);
        return;
    }
    state_->listening = true;
    State* state = state_.get();
    state_->socket.start([state](std::span<const uint8_t> d, const sockaddr_in& from) { state->subscribe(d, from); },
                         std::chrono::seconds(1), nullptr);
    if (zeroconf) {
        state_->zeroconf = std::move(zeroconf);
        state_->published = state_->zeroconf->publish(QString::fromStdString(state_->serviceName),
                                                      QString::fromLatin1(nmclink::kServiceType), state_->socket.port());
    }
}

QVTNMCMaster::~QVTNMCMaster()
{
    if (state_->zeroconf && state_->published != 0) {
        state_->zeroconf->withdraw(state_->published);
    }
    state_->socket.stop();
}

bool QVTNMCMaster::isListening() const
{
    return state_->listening;
}

uint16_t QVTNMCMaster::port() const
{
    return state_->socket.port();
}

std::string QVTNMCMaster::serviceName() const
{
    return state_->serviceName;
}

bool QVTNMCMaster::sendCommand(uint8_t command, std::string_view time, uint8_t fps, uint8_t cue)
{
    const auto packet = NMC_Packet::fromTimeText(command, time, fps, cue);
    if (!packet) {
        KLOG_WARN("network link: command {} not sent, time \"{}\" is not h:m:s:f", int(command), time);
        return false;
    }
    if (!state_->listening) {
        return false;
    }
    const auto bytes = packet->toBytes();
    std::vector<State::Key> targets;
    {
        std::lock_guard lock(state_->mutex);
        state_->dropExpired(State::Clock::now());
        for (const auto& [key, when] : state_->subscribers) {
            targets.push_back(key);
        }
    }
    for (const auto& [address, port] : targets) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = address;
        to.sin_port = port;
        state_->socket.sendTo(bytes, to);
    }
    return true;
}

size_t QVTNMCMaster::subscriberCount() const
{
    std::lock_guard lock(state_->mutex);
    state_->dropExpired(State::Clock::now());
    return state_->subscribers.size();
}
