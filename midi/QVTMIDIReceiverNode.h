#pragma once
// One MIDI input the framework listens to: an input port connected to a source, or our own
// virtual destination ("To Kavio"). Every packet list that reaches it goes through
// myMIDIReadProc, which decodes it and posts the result on the manager's
// midiKitNotificationCenter() with this node as object (names in TonarilNotifications.h).

#include "QVTMIDINode.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class QVTMIDIReceiverNode : public QVTMIDINode {
public:
    // A node listening to `source`, named after it, with an input port "Input port - <name>" on
    // the manager's client. Null (with "error <status> at MIDIPortConnectSource" in the log)
    // when the source cannot be connected.
    static std::shared_ptr<QVTMIDIReceiverNode> initReceiverWithEndpointRef(QVTMIDIManager& manager,
                                                                            MidiEndpointRef source);
    // A node owning a new virtual destination of that name, which other programs send to. Null
    // (with "error <status> at MIDIDestinationCreate" in the log) when it cannot be made.
    static std::shared_ptr<QVTMIDIReceiverNode> initVirtualReceiverWithName(QVTMIDIManager& manager,
                                                                            const QString& name);
    // Releases the port if any remains.
    ~QVTMIDIReceiverNode() override;

    // Disables the node (packets still in flight are dropped), then releases its port or its
    // virtual destination; no read procedure of this node runs after it returns.
    void removeResources() override;

    MidiPortRef inputPort() const { return inputPort_; }
    // The SysEx message gathered so far; empty when none is pending. Any thread.
    std::vector<std::uint8_t> sysexBuffer() const;
    void setSysexBuffer(std::vector<std::uint8_t> buffer);

private:
    explicit QVTMIDIReceiverNode(QVTMIDIManager& manager);
    void releasePort();
    // Input thread: decodes one packet and posts what it means.
    void receive(const MidiPacket& packet);

    friend void myMIDIReadProc(const MidiPacketList& list, void* readProcRefCon, void* srcConnRefCon);

    MidiPortRef inputPort_ = 0;
    mutable std::mutex sysexMutex_;
    std::vector<std::uint8_t> sysexBuffer_;
    std::atomic<bool> reportedLongSysex_{false};
};

// The read procedure of every receiver node (`readProcRefCon` is the node). Runs on the MIDI
// input thread; a disabled node's list is dropped whole; otherwise the packets are decoded in
// order, each notification posted synchronously before the next packet is read.
void myMIDIReadProc(const MidiPacketList& list, void* readProcRefCon, void* srcConnRefCon);
