#include "QVTNMCSlave.h"

#include "Log.h"
#include "NMCSocket.h"

#include <arpa/inet.h>

#include <algorithm>
#include <mutex>

struct QVTNMCSlave::State {
    std::string host;
    sockaddr_in master{};
    NMCSocket socket;
    bool open = false;

    std::mutex delegateMutex;  // held while a packet is delivered
    QVTNMCSlaveDelegate* delegate = nullptr;
    uint64_t dropped = 0;

    void subscribe() { socket.sendTo(nmclink::kSubscribe, master); }

    void receive(std::span<const uint8_t> datagram, const sockaddr_in& from)
    {
        const char* why = nullptr;
        if (from.sin_addr.s_addr != master.sin_addr.s_addr || from.sin_port != master.sin_port) {
            why = "not from the followed master";
        } else if (datagram.size() < NMC_Packet::kSize) {
            why = "shorter than a packet";
        } else if (!std::equal(nmclink::kMagic.begin(), nmclink::kMagic.end(), datagram.begin())) {
            why = "another magic";
        }
        if (why) {
            // Sparingly: a stray sender must not flood the log.
            if (dropped++ % 100 == 0) {
                KLOG_WARN("network link: datagram of {} bytes dropped ({}; {} dropped so far)", datagram.size(), why,
                          dropped);
            }
            return;
        }
        std::lock_guard lock(delegateMutex);
        if (delegate) {
            delegate->handleNMCData(datagram.first(NMC_Packet::kSize));
        }
    }
};

QVTNMCSlave::QVTNMCSlave(const std::string& host, uint16_t port) : state_(std::make_unique<State>())
{
    state_->host = host;
    state_->master.sin_family = AF_INET;
    state_->master.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &state_->master.sin_addr) != 1) {
        KLOG_ERROR("network link slave: \"{}\" is no IPv4 address", host);
        return;
    }
    std::string error;
    if (!state_->socket.open(0, &error)) {
        KLOG_ERROR("network link slave: {}", error);
        return;
    }
    state_->open = true;
    State* state = state_.get();
    state_->socket.start([state](std::span<const uint8_t> d, const sockaddr_in& from) { state->receive(d, from); },
                         nmclink::kSubscribeInterval, [state] { state->subscribe(); });
}

QVTNMCSlave::~QVTNMCSlave()
{
    state_->socket.stop();
}

void QVTNMCSlave::setDelegate(QVTNMCSlaveDelegate* delegate)
{
    std::lock_guard lock(state_->delegateMutex);
    state_->delegate = delegate;
}

const std::string& QVTNMCSlave::host() const
{
    return state_->host;
}

uint16_t QVTNMCSlave::localPort() const
{
    return state_->open ? state_->socket.port() : 0;
}
