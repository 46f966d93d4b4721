#include "QVTMIDISenderNode.h"

#include "MIDIMessageCodec.h"
#include "QVTMIDIManager.h"

#include "Log.h"

#include <array>
#include <cstdlib>

QVTMIDISenderNode::QVTMIDISenderNode(QVTMIDIManager& manager) : QVTMIDINode(manager) {}

QVTMIDISenderNode::~QVTMIDISenderNode() { releasePort(); }

std::shared_ptr<QVTMIDISenderNode> QVTMIDISenderNode::initSenderWithEndpointRef(QVTMIDIManager& manager,
                                                                                MidiEndpointRef destination) {
    std::shared_ptr<QVTMIDISenderNode> node(new QVTMIDISenderNode(manager));
    MidiBackend& backend = manager.backend();
    node->midiEndpoint_ = destination;
    node->setNodeName(nameOfEndpoint(backend, destination));
    const std::string portName = "Output port - " + node->nodeName().toStdString();
    const MidiStatus status = backend.outputPortCreate(manager.midiClient(), portName, &node->outputPort_);
    if (status != kMidiNoError) {
        KLOG_ERROR("error {} at MIDIOutputPortCreate", status);
        node->outputPort_ = 0;
        return nullptr;
    }
    return node;
}

void QVTMIDISenderNode::removeResources() {
    releasePort();
    QVTMIDINode::removeResources();
}

void QVTMIDISenderNode::releasePort() {
    if (outputPort_ == 0) return;
    manager_.backend().portDispose(outputPort_);
    outputPort_ = 0;
}

void QVTMIDISenderNode::send(std::span<const MidiPacket> packets) {
    if (outputPort_ == 0) return;
    manager_.backend().send(outputPort_, midiEndpoint_, MidiPacketList{packets});
}

void QVTMIDISenderNode::sendNow(std::span<const std::uint8_t> bytes) {
    timestamp_ = midiHostTime();
    const MidiPacket packet{timestamp_, bytes};
    send(std::span(&packet, 1));
}

void QVTMIDISenderNode::sendMTCQuarterWithSMPTETime(const QString& time) {
    const auto fields = MIDIMessageCodec::parseSMPTEText(time);
    if (!fields) {
        KLOG_WARN("time code \"{}\" refused: not HH:MM:SS:FF at 30 frames per second", time.toStdString());
        return;
    }
    const std::int64_t count = MIDIMessageCodec::frameCount(*fields);
    const std::int64_t diff = std::llabs(count - lasttimesent_);
    if (lasttimesent_ == -1)
        timestamp_ = midiHostTime();
    else if (diff < 2)
        return;
    KLOG_DEBUG("framecount: {} diff: {}", count, diff);
    lasttimesent_ = count;

    const auto data = MIDIMessageCodec::mtcQuarterFrameData(*fields);
    std::array<std::array<std::uint8_t, 2>, 8> bytes;
    std::array<MidiPacket, 8> packets;
    for (std::size_t k = 0; k < 8; ++k) {
        bytes[k] = {0xF1, data[k]};
        packets[k] = MidiPacket{timestamp_, bytes[k]};
        timestamp_ = MidiTimeStamp(double(timestamp_) + kQuarterFrameStep);
    }
    send(packets);
}

void QVTMIDISenderNode::sendMMCPlay() { sendNow(MIDIMessageCodec::kMMCPlayMessage); }

void QVTMIDISenderNode::sendMMCStop() { sendNow(MIDIMessageCodec::kMMCStopMessage); }

void QVTMIDISenderNode::sendMMCLocateWithSMPTETime(const QString& time) {
    const auto fields = MIDIMessageCodec::parseSMPTEText(time);
    if (!fields) {
        KLOG_WARN("locate time \"{}\" refused: not HH:MM:SS:FF at 30 frames per second", time.toStdString());
        return;
    }
    sendNow(MIDIMessageCodec::mmcLocateMessage(*fields));
}

void QVTMIDISenderNode::sendMidiCC(int) { sendNow(MIDIMessageCodec::kControlChangeMessage); }
