#include "QVTMIDINode.h"

QVTMIDINode::QVTMIDINode(QVTMIDIManager& manager) : manager_(manager) {}

QVTMIDINode::~QVTMIDINode() = default;

void QVTMIDINode::removeResources() { setNodeName(QString()); }

QString QVTMIDINode::nodeName() const {
    std::lock_guard lock(nameMutex_);
    return nodeName_;
}

void QVTMIDINode::setNodeName(const QString& name) {
    std::lock_guard lock(nameMutex_);
    nodeName_ = name;
}

QString QVTMIDINode::nameOfEndpoint(MidiBackend& backend, MidiEndpointRef endpoint) {
    std::string name = backend.endpointName(endpoint);
    if (name.empty()) name = backend.endpointDisplayName(endpoint);
    return QString::fromStdString(name);
}
