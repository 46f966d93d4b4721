#pragma once
// Our MIDI services layer: clients, ports, endpoints, packet lists and sends, behind one
// backend interface with one file per backend (ALSA sequencer, JACK MIDI, in-process).
//
// References are small unsigned numbers, 0 meaning "none". A backend serves one client.
// Host time is nanoseconds of CLOCK_MONOTONIC; a time stamp of 0 means "now".
//
// Threads: every operation may be called from any thread except where noted. Read procedures
// run on the backend's input thread (never a real-time thread); the set-up notification runs
// on DispatchQueue::main(), several changes in a row being announced once.

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

using MidiObjectRef = std::uint32_t;
using MidiClientRef = MidiObjectRef;
using MidiPortRef = MidiObjectRef;
using MidiEndpointRef = MidiObjectRef;
using MidiTimeStamp = std::uint64_t;
// 0 is success; failures are negative errno-style numbers, logged by callers as they stand.
using MidiStatus = long;

constexpr MidiStatus kMidiNoError = 0;

// One MIDI message (or part of a SysEx message) with the host time it arrived or is due.
struct MidiPacket {
    MidiTimeStamp timeStamp = 0;
    std::span<const std::uint8_t> bytes;
};

struct MidiPacketList {
    std::span<const MidiPacket> packets;
};

enum MidiNotificationMessageID : std::int32_t {
    kMidiMsgSetupChanged = 1,
};

struct MidiNotification {
    std::int32_t messageID = 0;
};

// Called with every packet list that reaches an input port (from its connected sources) or a
// destination of our own. `readProcRefCon` is the context given when the port or destination
// was made, `srcConnRefCon` the one given when the source was connected.
using MidiReadProc = void (*)(const MidiPacketList& list, void* readProcRefCon, void* srcConnRefCon);
using MidiNotifyProc = void (*)(const MidiNotification& notification, void* refCon);

// Current host time, in the unit of MidiTimeStamp.
MidiTimeStamp midiHostTime();

class MidiBackend {
public:
    virtual ~MidiBackend();

    // The backend's name for the log ("ALSA sequencer", "JACK", "in-process").
    virtual std::string name() const = 0;

    // Opens the one client of this backend under `name`. The notify proc is called on the main
    // queue when endpoints of other programs appear, vanish or change.
    MidiStatus clientCreate(const std::string& name, MidiNotifyProc notifyProc, void* refCon,
                            MidiClientRef* outClient);
    // Closes the client and everything made on it. No read or notify proc runs after it returns.
    MidiStatus clientDispose(MidiClientRef client);

    // An input port, hidden from other programs, that receives from the sources connected to it.
    virtual MidiStatus inputPortCreate(MidiClientRef client, const std::string& name, MidiReadProc readProc,
                                       void* refCon, MidiPortRef* outPort) = 0;
    // An output port through which send() reaches any destination.
    virtual MidiStatus outputPortCreate(MidiClientRef client, const std::string& name, MidiPortRef* outPort) = 0;
    // After it returns the port's read proc is not running and is not called again.
    virtual MidiStatus portDispose(MidiPortRef port) = 0;
    virtual MidiStatus portConnectSource(MidiPortRef port, MidiEndpointRef source, void* connRefCon) = 0;
    virtual MidiStatus portDisconnectSource(MidiPortRef port, MidiEndpointRef source) = 0;

    // A destination of our own that other programs see and send to.
    virtual MidiStatus destinationCreate(MidiClientRef client, const std::string& name, MidiReadProc readProc,
                                         void* refCon, MidiEndpointRef* outDestination) = 0;
    // As portDispose, for a destination made by destinationCreate.
    virtual MidiStatus endpointDispose(MidiEndpointRef endpoint) = 0;

    // Endpoints of other programs and devices, in the order the system lists them. Our own
    // ports and destinations are never listed.
    virtual std::vector<MidiEndpointRef> sources() = 0;
    virtual std::vector<MidiEndpointRef> destinations() = 0;
    // The endpoint's name, and the longer name the system shows for it; empty when unknown.
    virtual std::string endpointName(MidiEndpointRef endpoint) = 0;
    virtual std::string endpointDisplayName(MidiEndpointRef endpoint) = 0;

    // Sends every packet of the list to `destination` through `port`, each at its time stamp
    // (packets stamped in the future are scheduled, never waited for). Messages leave in the
    // order they were given. Does not block on the MIDI output.
    virtual MidiStatus send(MidiPortRef port, MidiEndpointRef destination, const MidiPacketList& list) = 0;

    // The backend for this machine: the ALSA sequencer when its device exists, else JACK when a
    // server runs, else the in-process backend with no endpoints. Logs which one once.
    static std::shared_ptr<MidiBackend> chooseDefault();

protected:
    // What a backend does to open and close its client; the base keeps the notify proc.
    virtual MidiStatus openClient(const std::string& name, MidiClientRef* outClient) = 0;
    virtual void closeClient(MidiClientRef client) = 0;

    // Schedules one set-up notification on the main queue; changes reported before it has run
    // are covered by it. Safe from any thread except a real-time one.
    void announceSetupChanged();

private:
    struct NotifyState;
    std::shared_ptr<NotifyState> notifyState() const;
    mutable std::mutex notifyGuard_;
    std::shared_ptr<NotifyState> notify_;
};
