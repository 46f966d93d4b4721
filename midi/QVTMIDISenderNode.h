#pragma once
// One MIDI destination the framework can drive: MIDI time code as quarter frames, MMC play,
// stop and locate (device id 0x7F, all-call), and a control change. Time texts are
// "HH:MM:SS:FF" and all output is stamped as 30 frames per second.
//
// The node keeps no lock: callers serialise their calls per node (any one thread at a time).
// Sends never block on the MIDI output; packets stamped ahead are scheduled by the backend.

#include "QVTMIDINode.h"

#include <cstdint>
#include <memory>

class QVTMIDISenderNode : public QVTMIDINode {
public:
    // One quarter frame at 30 frames per second (1/120 s) in host-time units.
    static constexpr double kQuarterFrameStep = 8333333.333;

    // A node for `destination`, named after it, with an output port on the manager's client.
    // Null (with "error <status> at MIDIOutputPortCreate" in the log) when the port cannot be made.
    static std::shared_ptr<QVTMIDISenderNode> initSenderWithEndpointRef(QVTMIDIManager& manager,
                                                                        MidiEndpointRef destination);
    ~QVTMIDISenderNode() override;

    // Releases the output port; later sends do nothing.
    void removeResources() override;

    // Sends one block of eight quarter frames for the time, unless the time is within one frame
    // of the last block sent. The first block is stamped from the host clock; every later one
    // goes on from `timestamp()`, one quarter-frame step per packet. A malformed time text is
    // refused with a log line and changes nothing.
    void sendMTCQuarterWithSMPTETime(const QString& time);
    void sendMMCPlay();
    void sendMMCStop();
    // Refuses a malformed time text with a log line.
    void sendMMCLocateWithSMPTETime(const QString& time);
    // Sends control change 0, value 0, on channel 1; what the argument should select is open.
    void sendMidiCC(int value);

    MidiPortRef outputPort() const { return outputPort_; }
    // Frame count of the last quarter-frame block sent, -1 before the first.
    std::int64_t lasttimesent() const { return lasttimesent_; }
    // Host time at which the next quarter-frame block starts.
    MidiTimeStamp timestamp() const { return timestamp_; }

private:
    explicit QVTMIDISenderNode(QVTMIDIManager& manager);
    void releasePort();
    // One packet stamped with the current host time, which becomes `timestamp()`.
    void sendNow(std::span<const std::uint8_t> bytes);
    void send(std::span<const MidiPacket> packets);

    MidiPortRef outputPort_ = 0;
    std::int64_t lasttimesent_ = -1;
    MidiTimeStamp timestamp_ = 0;
};
