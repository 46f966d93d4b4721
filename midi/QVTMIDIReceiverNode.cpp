#include "QVTMIDIReceiverNode.h"

#include "MIDIMessageCodec.h"
#include "QVTMIDIManager.h"

#include "Log.h"
#include "NotificationCenter.h"

QVTMIDIReceiverNode::QVTMIDIReceiverNode(QVTMIDIManager& manager) : QVTMIDINode(manager) {}

QVTMIDIReceiverNode::~QVTMIDIReceiverNode() { releasePort(); }

std::shared_ptr<QVTMIDIReceiverNode> QVTMIDIReceiverNode::initReceiverWithEndpointRef(QVTMIDIManager& manager,
                                                                                      MidiEndpointRef source) {
    std::shared_ptr<QVTMIDIReceiverNode> node(new QVTMIDIReceiverNode(manager));
    MidiBackend& backend = manager.backend();
    node->midiEndpoint_ = source;
    node->setNodeName(nameOfEndpoint(backend, source));
    const std::string portName = "Input port - " + node->nodeName().toStdString();
    MidiStatus status =
        backend.inputPortCreate(manager.midiClient(), portName, myMIDIReadProc, node.get(), &node->inputPort_);
    if (status == kMidiNoError) status = backend.portConnectSource(node->inputPort_, source, nullptr);
    if (status != kMidiNoError) {
        KLOG_ERROR("error {} at MIDIPortConnectSource", status);
        node->releasePort();
        return nullptr;
    }
    return node;
}

std::shared_ptr<QVTMIDIReceiverNode> QVTMIDIReceiverNode::initVirtualReceiverWithName(QVTMIDIManager& manager,
                                                                                      const QString& name) {
    std::shared_ptr<QVTMIDIReceiverNode> node(new QVTMIDIReceiverNode(manager));
    MidiBackend& backend = manager.backend();
    const MidiStatus status = backend.destinationCreate(manager.midiClient(), name.toStdString(), myMIDIReadProc,
                                                        node.get(), &node->midiEndpoint_);
    if (status != kMidiNoError) {
        KLOG_ERROR("error {} at MIDIDestinationCreate", status);
        return nullptr;
    }
    node->setNodeName(QString::fromStdString(backend.endpointName(node->midiEndpoint_)));
    node->setIsVirtual(true);
    return node;
}

void QVTMIDIReceiverNode::removeResources() {
    setEnabled(false);
    releasePort();
    QVTMIDINode::removeResources();
}

void QVTMIDIReceiverNode::releasePort() {
    if (inputPort_ != 0) {
        manager_.backend().portDisconnectSource(inputPort_, midiEndpoint_);
        manager_.backend().portDispose(inputPort_);
        inputPort_ = 0;
    }
    if (isVirtual() && midiEndpoint_ != 0) {
        manager_.backend().endpointDispose(midiEndpoint_);
        midiEndpoint_ = 0;
    }
}

std::vector<std::uint8_t> QVTMIDIReceiverNode::sysexBuffer() const {
    std::lock_guard lock(sysexMutex_);
    return sysexBuffer_;
}

void QVTMIDIReceiverNode::setSysexBuffer(std::vector<std::uint8_t> buffer) {
    std::lock_guard lock(sysexMutex_);
    sysexBuffer_ = std::move(buffer);
}

void QVTMIDIReceiverNode::receive(const MidiPacket& packet) {
    MIDIMessageCodec::Result result;
    {
        std::lock_guard lock(sysexMutex_);
        result = MIDIMessageCodec::decodePacket(packet.bytes, packet.timeStamp, sysexBuffer_);
    }
    switch (result.problem) {
    case MIDIMessageCodec::Problem::SysexTooLong:
        if (!reportedLongSysex_.exchange(true))
            KLOG_WARN("{}: SysEx longer than {} bytes dropped (reported once)", nodeName().toStdString(),
                      MIDIMessageCodec::kMaxSysexLength);
        break;
    case MIDIMessageCodec::Problem::CueNumberNotNumeric:
        KLOG_WARN("{}: MSC GO ignored, its cue number is not a whole number", nodeName().toStdString());
        break;
    case MIDIMessageCodec::Problem::None: break;
    }
    if (!result.message) return;
    if (auto center = manager_.midiKitNotificationCenter())
        center->post(result.message->name, this, result.message->userInfo);
}

void myMIDIReadProc(const MidiPacketList& list, void* readProcRefCon, void*) {
    auto* node = static_cast<QVTMIDIReceiverNode*>(readProcRefCon);
    if (!node->enabled()) return;
    for (const MidiPacket& packet : list.packets) node->receive(packet);
}
