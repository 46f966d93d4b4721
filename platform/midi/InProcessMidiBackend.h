#pragma once
// A backend whose endpoints live inside this process. It stands in when the machine has no MIDI
// system (then it has no endpoints), and lets tests play the other side: add and remove
// sources and destinations, deliver packets from a source or to one of our destinations, and
// read back what was sent.

#include "MIDIServices.h"

#include <map>

class InProcessMidiBackend : public MidiBackend {
public:
    struct SentPacket {
        MidiEndpointRef destination = 0;
        MidiTimeStamp timeStamp = 0;
        std::vector<std::uint8_t> bytes;
    };

    std::string name() const override;

    MidiStatus inputPortCreate(MidiClientRef client, const std::string& name, MidiReadProc readProc, void* refCon,
                               MidiPortRef* outPort) override;
    MidiStatus outputPortCreate(MidiClientRef client, const std::string& name, MidiPortRef* outPort) override;
    MidiStatus portDispose(MidiPortRef port) override;
    MidiStatus portConnectSource(MidiPortRef port, MidiEndpointRef source, void* connRefCon) override;
    MidiStatus portDisconnectSource(MidiPortRef port, MidiEndpointRef source) override;
    MidiStatus destinationCreate(MidiClientRef client, const std::string& name, MidiReadProc readProc, void* refCon,
                                 MidiEndpointRef* outDestination) override;
    MidiStatus endpointDispose(MidiEndpointRef endpoint) override;
    std::vector<MidiEndpointRef> sources() override;
    std::vector<MidiEndpointRef> destinations() override;
    std::string endpointName(MidiEndpointRef endpoint) override;
    std::string endpointDisplayName(MidiEndpointRef endpoint) override;
    // Records the packets (see sent()); nothing leaves the process.
    MidiStatus send(MidiPortRef port, MidiEndpointRef destination, const MidiPacketList& list) override;

    // The other side. Adding or removing an endpoint announces a set-up change.
    MidiEndpointRef addSource(const std::string& name, const std::string& displayName = {});
    MidiEndpointRef addDestination(const std::string& name, const std::string& displayName = {});
    void removeEndpoint(MidiEndpointRef endpoint);
    // Hands the packets, as one list, to the read proc of every port connected to the source,
    // or of our destination, on the calling thread. Answers false when nothing listens.
    bool deliver(MidiEndpointRef endpoint, const std::vector<MidiPacket>& packets);
    std::vector<SentPacket> sent() const;
    // Makes every later portConnectSource to `source` fail with `status` (0 lifts it).
    void failConnectsTo(MidiEndpointRef source, MidiStatus status);
    // Our destinations (made by destinationCreate) by name, 0 when none.
    MidiEndpointRef ownDestinationNamed(const std::string& name) const;

protected:
    MidiStatus openClient(const std::string& name, MidiClientRef* outClient) override;
    void closeClient(MidiClientRef client) override;

private:
    struct Endpoint {
        std::string name;
        std::string displayName;
        bool isSource = false;
        bool isOwn = false;  // a destination of ours
        MidiReadProc readProc = nullptr;
        void* refCon = nullptr;
    };
    struct Port {
        bool isInput = false;
        MidiReadProc readProc = nullptr;
        void* refCon = nullptr;
        std::map<MidiEndpointRef, void*> connections;
    };

    MidiObjectRef nextRef();
    MidiEndpointRef addEndpoint(const std::string& name, const std::string& displayName, bool isSource);
    std::vector<MidiEndpointRef> listed(bool sources) const;

    // Held while a read proc runs, so disposing waits for a delivery in progress.
    mutable std::recursive_mutex mutex_;
    MidiClientRef client_ = 0;
    MidiObjectRef lastRef_ = 0;
    std::map<MidiEndpointRef, Endpoint> endpoints_;
    std::map<MidiPortRef, Port> ports_;
    std::map<MidiEndpointRef, MidiStatus> connectFailures_;
    std::vector<SentPacket> sent_;
};
