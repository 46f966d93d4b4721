#pragma once
// The common base of the MIDI manager's nodes: one MIDI endpoint (a source we receive from, our
// virtual destination, or a destination we send to), known by its name.
//
// Nodes are made and owned by QVTMIDIManager, which sends removeResources() when the endpoint
// goes away; callers that keep a node hold it as an extra owner (or weakly) and use its
// address as the object of their notification observations.

#include "MIDIServices.h"

#include <QString>

#include <atomic>
#include <mutex>

class QVTMIDIManager;

class QVTMIDINode {
public:
    explicit QVTMIDINode(QVTMIDIManager& manager);
    virtual ~QVTMIDINode();
    QVTMIDINode(const QVTMIDINode&) = delete;
    QVTMIDINode& operator=(const QVTMIDINode&) = delete;

    // Releases what the node holds of the MIDI system; the base clears the name. After it the
    // node does nothing and touches neither the manager nor the MIDI system.
    virtual void removeResources();

    MidiEndpointRef midiEndpoint() const { return midiEndpoint_; }
    // A receiver that is not enabled posts nothing and gathers nothing. Any thread.
    bool enabled() const { return enabled_.load(std::memory_order_relaxed); }
    void setEnabled(bool enabled) { enabled_.store(enabled, std::memory_order_relaxed); }
    bool isVirtual() const { return isVirtual_; }
    void setIsVirtual(bool isVirtual) { isVirtual_ = isVirtual; }
    // The endpoint's name: the key by which the manager finds, keeps and removes nodes. Null
    // before it is known and after removeResources(). Any thread.
    QString nodeName() const;
    void setNodeName(const QString& name);
    // A slot for callers; the framework never changes it.
    double mtcTime() const { return mtcTime_; }
    void setMtcTime(double seconds) { mtcTime_ = seconds; }

protected:
    // The endpoint's name, or its display name when it has none.
    static QString nameOfEndpoint(MidiBackend& backend, MidiEndpointRef endpoint);

    QVTMIDIManager& manager_;
    MidiEndpointRef midiEndpoint_ = 0;

private:
    std::atomic<bool> enabled_{true};
    bool isVirtual_ = false;
    mutable std::mutex nameMutex_;
    QString nodeName_;
    double mtcTime_ = 0.0;
};
