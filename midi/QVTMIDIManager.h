#pragma once
// The MIDI framework's single instance. It owns the MIDI client, one receiver node per source
// name, one sender node per destination name, and our own virtual destination; it rebuilds its
// lists when the machine's MIDI set-up changes, and owns the private notification centre on
// which every MIDI event of the framework is posted (names in TonarilNotifications.h).
//
// Threads:
// - The node lists are guarded by the serial queue "com.dalvek.midisources"; every list
//   operation enters it synchronously, so it may be called from any thread except from a task
//   of that queue.
// - Refreshes run on the main thread: called elsewhere, they wait for the main thread.
//   "QVTMIDI-SETUPCHANGED" is posted on the thread that ran setupChanged() (the main thread for
//   changes the system reports).
// - Input notifications are posted on the MIDI input thread with the receiving node as
//   object; observers that touch the interface move to the main queue themselves, and never
//   wait there synchronously (a refresh on the main thread may be waiting for the input thread).

#include "MIDIServices.h"
#include "QVTMIDIReceiverNode.h"
#include "QVTMIDISenderNode.h"
#include "TonarilNotifications.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <mutex>
#include <vector>

class DispatchQueue;
class NotificationCenter;

class QVTMIDIManager {
public:
    // Made once per process on the MIDI system this machine has (MidiBackend::chooseDefault).
    // Null, then and ever after, when the client cannot be created.
    static QVTMIDIManager* sharedManager();
    // A manager of its own on the given backend (tests, benchmarks). Null, with
    // "error <status> at MIDIClientCreate" in the log, when the client cannot be created.
    static std::unique_ptr<QVTMIDIManager> createWithBackend(std::shared_ptr<MidiBackend> backend);
    // Releases every node and our virtual destination, then the client.
    ~QVTMIDIManager();
    QVTMIDIManager(const QVTMIDIManager&) = delete;
    QVTMIDIManager& operator=(const QVTMIDIManager&) = delete;

    // Stores the name and runs setupChanged(), so the lists are built and
    // "QVTMIDI-SETUPCHANGED" has been posted when it returns.
    void startManagerWithName(const QString& name);
    // createVirtualReceiverWithName("To " + managerName()).
    void createDefaultVirtualReceiver();
    // Replaces the virtual receiver with a new one of that name, appended to midiSources().
    // When it cannot be made there is no virtual receiver.
    void createVirtualReceiverWithName(const QString& name);

    MidiClientRef midiClient() const { return setupListener_; }
    MidiBackend& backend() const { return *backend_; }
    std::shared_ptr<QVTMIDIReceiverNode> virtualReceiver() const;

    // Node lists (see Threads above).
    std::shared_ptr<QVTMIDIReceiverNode> createReceiverWithEndpointRef(MidiEndpointRef source);
    void removeSourceNode(const std::shared_ptr<QVTMIDIReceiverNode>& node);
    std::vector<std::shared_ptr<QVTMIDIReceiverNode>> midiSources() const;
    std::vector<std::shared_ptr<QVTMIDISenderNode>> midiDests() const;
    // The nodes' names, sorted case-insensitively for the user's locale; nameless nodes skipped.
    QStringList midiSourceNames() const;
    QStringList midiDestNames() const;
    // The first node whose name equals `name` exactly (letter case counts), or null.
    std::shared_ptr<QVTMIDIReceiverNode> sourceNodeNamed(const QString& name) const;
    std::shared_ptr<QVTMIDISenderNode> destinationNodeNamed(const QString& name) const;
    // Node name -> enabled (bool), in list order, a later node overriding an earlier of its name.
    QVariantMap midiSourceSnapshot() const;
    QVariantMap midiDestsSnapshot() const;
    // Every node whose name is a key takes the key's value as its enabled flag.
    void loadSourceSnaphot(const QVariantMap& snapshot);
    void loadDestsSnaphot(const QVariantMap& snapshot);

    // Refreshes the sources, then the destinations, then posts "QVTMIDI-SETUPCHANGED".
    void setupChanged();
    // Gives every present source name one node (the first endpoint of a name wins), releases the
    // nodes whose names are gone, and keeps the enabled flags of those that stay. Our virtual
    // receiver is kept by its name.
    void refreshMIDISources();
    // The same for destinations and sender nodes.
    void refreshMIDIDests();

    std::shared_ptr<NotificationCenter> midiKitNotificationCenter() const;
    void setMidiKitNotificationCenter(std::shared_ptr<NotificationCenter> center);
    QString managerName() const;
    void setManagerName(const QString& name);

    // Forwarders to the node given last; a null node is ignored. The device ids are not sent:
    // the node's MMC messages always address all devices (0x7F).
    void sendMTCQuarterWithSMTPETime(const QString& time, QVTMIDISenderNode* node);
    void sendMMCLocateWithSMTPETime(const QString& time, QVTMIDISenderNode* node);
    void sendMMCPlayWithDeviceID(int deviceID, QVTMIDISenderNode* node);
    void sendMMStopWithDeviceID(int deviceID, QVTMIDISenderNode* node);
    void sendMidiCC(int value, QVTMIDISenderNode* node);

private:
    explicit QVTMIDIManager(std::shared_ptr<MidiBackend> backend);

    std::shared_ptr<MidiBackend> backend_;
    MidiClientRef setupListener_ = 0;
    std::unique_ptr<DispatchQueue> sourcesHandleQueue_;
    std::vector<std::shared_ptr<QVTMIDIReceiverNode>> midiSources_;
    std::vector<std::shared_ptr<QVTMIDISenderNode>> midiDests_;
    std::shared_ptr<QVTMIDIReceiverNode> virtualReceiver_;
    mutable std::mutex propertyMutex_;  // the centre, the name and the virtual receiver
    std::shared_ptr<NotificationCenter> midiKitNotificationCenter_;
    QString managerName_;
};

// The client's notify procedure (`refCon` is the manager): a set-up change runs setupChanged().
void managerMIDINotificationProc(const MidiNotification& notification, void* refCon);
