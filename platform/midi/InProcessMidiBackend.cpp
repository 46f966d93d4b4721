#include "InProcessMidiBackend.h"

#include <cerrno>

std::string InProcessMidiBackend::name() const { return "in-process"; }

MidiObjectRef InProcessMidiBackend::nextRef() { return ++lastRef_; }

MidiStatus InProcessMidiBackend::openClient(const std::string&, MidiClientRef* outClient) {
    std::lock_guard lock(mutex_);
    if (client_ != 0) return -EBUSY;
    client_ = nextRef();
    *outClient = client_;
    return kMidiNoError;
}

void InProcessMidiBackend::closeClient(MidiClientRef client) {
    std::lock_guard lock(mutex_);
    if (client != client_) return;
    client_ = 0;
    ports_.clear();
    std::erase_if(endpoints_, [](const auto& entry) { return entry.second.isOwn; });
}

MidiStatus InProcessMidiBackend::inputPortCreate(MidiClientRef client, const std::string&, MidiReadProc readProc,
                                                 void* refCon, MidiPortRef* outPort) {
    std::lock_guard lock(mutex_);
    if (client == 0 || client != client_) return -EINVAL;
    *outPort = nextRef();
    ports_[*outPort] = Port{true, readProc, refCon, {}};
    return kMidiNoError;
}

MidiStatus InProcessMidiBackend::outputPortCreate(MidiClientRef client, const std::string&, MidiPortRef* outPort) {
    std::lock_guard lock(mutex_);
    if (client == 0 || client != client_) return -EINVAL;
    *outPort = nextRef();
    ports_[*outPort] = Port{false, nullptr, nullptr, {}};
    return kMidiNoError;
}

MidiStatus InProcessMidiBackend::portDispose(MidiPortRef port) {
    std::lock_guard lock(mutex_);
    return ports_.erase(port) ? kMidiNoError : -ENOENT;
}

MidiStatus InProcessMidiBackend::portConnectSource(MidiPortRef port, MidiEndpointRef source, void* connRefCon) {
    std::lock_guard lock(mutex_);
    auto failure = connectFailures_.find(source);
    if (failure != connectFailures_.end()) return failure->second;
    auto p = ports_.find(port);
    auto e = endpoints_.find(source);
    if (p == ports_.end() || !p->second.isInput || e == endpoints_.end() || !e->second.isSource) return -ENOENT;
    p->second.connections[source] = connRefCon;
    return kMidiNoError;
}

MidiStatus InProcessMidiBackend::portDisconnectSource(MidiPortRef port, MidiEndpointRef source) {
    std::lock_guard lock(mutex_);
    auto p = ports_.find(port);
    if (p == ports_.end() || !p->second.connections.erase(source)) return -ENOENT;
    return kMidiNoError;
}

MidiStatus InProcessMidiBackend::destinationCreate(MidiClientRef client, const std::string& name,
                                                   MidiReadProc readProc, void* refCon,
                                                   MidiEndpointRef* outDestination) {
    std::lock_guard lock(mutex_);
    if (client == 0 || client != client_) return -EINVAL;
    *outDestination = nextRef();
    endpoints_[*outDestination] = Endpoint{name, name, false, true, readProc, refCon};
    return kMidiNoError;
}

MidiStatus InProcessMidiBackend::endpointDispose(MidiEndpointRef endpoint) {
    std::lock_guard lock(mutex_);
    auto e = endpoints_.find(endpoint);
    if (e == endpoints_.end() || !e->second.isOwn) return -ENOENT;
    endpoints_.erase(e);
    return kMidiNoError;
}

std::vector<MidiEndpointRef> InProcessMidiBackend::listed(bool sources) const {
    std::lock_guard lock(mutex_);
    std::vector<MidiEndpointRef> refs;
    for (const auto& [ref, endpoint] : endpoints_)
        if (!endpoint.isOwn && endpoint.isSource == sources) refs.push_back(ref);
    return refs;
}

std::vector<MidiEndpointRef> InProcessMidiBackend::sources() { return listed(true); }
std::vector<MidiEndpointRef> InProcessMidiBackend::destinations() { return listed(false); }

std::string InProcessMidiBackend::endpointName(MidiEndpointRef endpoint) {
    std::lock_guard lock(mutex_);
    auto e = endpoints_.find(endpoint);
    return e == endpoints_.end() ? std::string() : e->second.name;
}

std::string InProcessMidiBackend::endpointDisplayName(MidiEndpointRef endpoint) {
    std::lock_guard lock(mutex_);
    auto e = endpoints_.find(endpoint);
    return e == endpoints_.end() ? std::string() : e->second.displayName;
}

MidiStatus InProcessMidiBackend::send(MidiPortRef port, MidiEndpointRef destination, const MidiPacketList& list) {
    std::lock_guard lock(mutex_);
    auto p = ports_.find(port);
    if (p == ports_.end() || p->second.isInput) return -EINVAL;
    auto e = endpoints_.find(destination);
    if (e == endpoints_.end() || e->second.isSource) return -ENOENT;
    for (const MidiPacket& packet : list.packets)
        sent_.push_back({destination, packet.timeStamp, {packet.bytes.begin(), packet.bytes.end()}});
    return kMidiNoError;
}

MidiEndpointRef InProcessMidiBackend::addEndpoint(const std::string& name, const std::string& displayName,
                                                  bool isSource) {
    MidiEndpointRef ref;
    {
        std::lock_guard lock(mutex_);
        ref = nextRef();
        endpoints_[ref] = Endpoint{name, displayName, isSource, false, nullptr, nullptr};
    }
    announceSetupChanged();
    return ref;
}

MidiEndpointRef InProcessMidiBackend::addSource(const std::string& name, const std::string& displayName) {
    return addEndpoint(name, displayName, true);
}

MidiEndpointRef InProcessMidiBackend::addDestination(const std::string& name, const std::string& displayName) {
    return addEndpoint(name, displayName, false);
}

void InProcessMidiBackend::removeEndpoint(MidiEndpointRef endpoint) {
    {
        std::lock_guard lock(mutex_);
        endpoints_.erase(endpoint);
        for (auto& [ref, port] : ports_) port.connections.erase(endpoint);
    }
    announceSetupChanged();
}

bool InProcessMidiBackend::deliver(MidiEndpointRef endpoint, const std::vector<MidiPacket>& packets) {
    std::lock_guard lock(mutex_);
    const MidiPacketList list{packets};
    auto e = endpoints_.find(endpoint);
    if (e == endpoints_.end()) return false;
    if (e->second.isOwn) {
        e->second.readProc(list, e->second.refCon, nullptr);
        return true;
    }
    bool delivered = false;
    for (auto& [ref, port] : ports_) {
        auto connection = port.connections.find(endpoint);
        if (connection == port.connections.end()) continue;
        port.readProc(list, port.refCon, connection->second);
        delivered = true;
    }
    return delivered;
}

std::vector<InProcessMidiBackend::SentPacket> InProcessMidiBackend::sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
}

void InProcessMidiBackend::failConnectsTo(MidiEndpointRef source, MidiStatus status) {
    std::lock_guard lock(mutex_);
    if (status == kMidiNoError)
        connectFailures_.erase(source);
    else
        connectFailures_[source] = status;
}

MidiEndpointRef InProcessMidiBackend::ownDestinationNamed(const std::string& name) const {
    std::lock_guard lock(mutex_);
    for (const auto& [ref, endpoint] : endpoints_)
        if (endpoint.isOwn && endpoint.name == name) return ref;
    return 0;
}
