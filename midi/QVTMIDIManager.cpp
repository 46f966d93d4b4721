#include "QVTMIDIManager.h"

#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"

#include <QCollator>

#include <algorithm>

namespace {

// The list operations, shared by sources and destinations. Callers run them on the queue.

template <typename Node>
std::shared_ptr<Node> firstNamed(const std::vector<std::shared_ptr<Node>>& nodes, const QString& name) {
    for (const auto& node : nodes)
        if (node->nodeName() == name) return node;
    return nullptr;
}

template <typename Node>
QStringList sortedNames(const std::vector<std::shared_ptr<Node>>& nodes) {
    QStringList names;
    for (const auto& node : nodes) {
        const QString name = node->nodeName();
        if (!name.isNull()) names << name;
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(names.begin(), names.end(),
              [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    return names;
}

template <typename Node>
QVariantMap snapshotOf(const std::vector<std::shared_ptr<Node>>& nodes) {
    QVariantMap snapshot;
    for (const auto& node : nodes) {
        const QString name = node->nodeName();
        if (!name.isNull()) snapshot.insert(name, node->enabled());
    }
    return snapshot;
}

template <typename Node>
void applySnapshot(const std::vector<std::shared_ptr<Node>>& nodes, const QVariantMap& snapshot) {
    for (const auto& node : nodes) {
        auto entry = snapshot.constFind(node->nodeName());
        if (entry != snapshot.constEnd()) node->setEnabled(entry->toBool());
    }
}

// One refresh of a node list against the endpoints the system lists now; see refreshMIDISources.
template <typename Node, typename MakeNode>
void refreshNodes(DispatchQueue& queue, std::vector<std::shared_ptr<Node>>& nodes, MidiBackend& backend,
                  const std::vector<MidiEndpointRef>& endpoints, QStringList present, MakeNode makeNode) {
    QVariantMap snapshot;
    queue.sync([&] { snapshot = snapshotOf(nodes); });
    for (MidiEndpointRef endpoint : endpoints) {
        std::string raw = backend.endpointName(endpoint);
        if (raw.empty()) raw = backend.endpointDisplayName(endpoint);
        if (raw.empty()) continue;  // a nameless endpoint can be neither chosen nor kept by name
        const QString name = QString::fromStdString(raw);
        present << name;
        std::shared_ptr<Node> existing;
        queue.sync([&] { existing = firstNamed(nodes, name); });
        if (existing) continue;
        KLOG_INFO("name: {}", raw);
        if (auto node = makeNode(endpoint)) queue.sync([&] { nodes.push_back(node); });
    }
    std::vector<std::shared_ptr<Node>> copy;
    queue.sync([&] { copy = nodes; });
    for (const auto& node : copy) {
        const QString name = node->nodeName();
        if (!name.isNull() && present.contains(name)) continue;
        KLOG_INFO("remove: {}", name.toStdString());
        node->removeResources();
        queue.sync([&] { std::erase(nodes, node); });
        KLOG_INFO("remove done!");
    }
    queue.sync([&] { applySnapshot(nodes, snapshot); });
}

}  // namespace

QVTMIDIManager::QVTMIDIManager(std::shared_ptr<MidiBackend> backend)
    : backend_(std::move(backend)), sourcesHandleQueue_(std::make_unique<DispatchQueue>("com.dalvek.midisources")) {}

std::unique_ptr<QVTMIDIManager> QVTMIDIManager::createWithBackend(std::shared_ptr<MidiBackend> backend) {
    std::unique_ptr<QVTMIDIManager> manager(new QVTMIDIManager(std::move(backend)));
    const MidiStatus status = manager->backend_->clientCreate("midiClient", managerMIDINotificationProc,
                                                              manager.get(), &manager->setupListener_);
    if (status != kMidiNoError) {
        KLOG_ERROR("error {} at MIDIClientCreate", status);
        manager->setupListener_ = 0;
        return nullptr;
    }
    manager->midiKitNotificationCenter_ = std::make_shared<NotificationCenter>();
    return manager;
}

QVTMIDIManager* QVTMIDIManager::sharedManager() {
    // Never destroyed: it serves until the process ends, past the other static objects.
    static QVTMIDIManager* const shared = createWithBackend(MidiBackend::chooseDefault()).release();
    return shared;
}

QVTMIDIManager::~QVTMIDIManager() {
    if (auto receiver = virtualReceiver()) receiver->removeResources();
    {
        std::lock_guard lock(propertyMutex_);
        virtualReceiver_.reset();
    }
    std::vector<std::shared_ptr<QVTMIDINode>> nodes;
    sourcesHandleQueue_->sync([&] {
        nodes.assign(midiSources_.begin(), midiSources_.end());
        nodes.insert(nodes.end(), midiDests_.begin(), midiDests_.end());
        midiSources_.clear();
        midiDests_.clear();
    });
    for (const auto& node : nodes) node->removeResources();
    if (setupListener_ != 0) backend_->clientDispose(setupListener_);
    setupListener_ = 0;
    setMidiKitNotificationCenter(nullptr);
}

void QVTMIDIManager::startManagerWithName(const QString& name) {
    setManagerName(name);
    setupChanged();
}

void QVTMIDIManager::createDefaultVirtualReceiver() {
    createVirtualReceiverWithName(QStringLiteral("To ") + managerName());
}

void QVTMIDIManager::createVirtualReceiverWithName(const QString& name) {
    KLOG_INFO("createVirtualReceiver");
    std::shared_ptr<QVTMIDIReceiverNode> previous;
    {
        std::lock_guard lock(propertyMutex_);
        previous = std::move(virtualReceiver_);
    }
    if (previous) previous->removeResources();
    auto node = QVTMIDIReceiverNode::initVirtualReceiverWithName(*this, name);
    {
        std::lock_guard lock(propertyMutex_);
        virtualReceiver_ = node;
    }
    if (node) sourcesHandleQueue_->sync([&] { midiSources_.push_back(node); });
}

std::shared_ptr<QVTMIDIReceiverNode> QVTMIDIManager::virtualReceiver() const {
    std::lock_guard lock(propertyMutex_);
    return virtualReceiver_;
}

std::shared_ptr<QVTMIDIReceiverNode> QVTMIDIManager::createReceiverWithEndpointRef(MidiEndpointRef source) {
    auto node = QVTMIDIReceiverNode::initReceiverWithEndpointRef(*this, source);
    if (node) sourcesHandleQueue_->sync([&] { midiSources_.push_back(node); });
    return node;
}

void QVTMIDIManager::removeSourceNode(const std::shared_ptr<QVTMIDIReceiverNode>& node) {
    // Released outside the queue: releasing waits for the node's input, whose observers may
    // read the lists.
    node->removeResources();
    sourcesHandleQueue_->sync([&] { std::erase(midiSources_, node); });
}

std::vector<std::shared_ptr<QVTMIDIReceiverNode>> QVTMIDIManager::midiSources() const {
    std::vector<std::shared_ptr<QVTMIDIReceiverNode>> copy;
    sourcesHandleQueue_->sync([&] { copy = midiSources_; });
    return copy;
}

std::vector<std::shared_ptr<QVTMIDISenderNode>> QVTMIDIManager::midiDests() const {
    std::vector<std::shared_ptr<QVTMIDISenderNode>> copy;
    sourcesHandleQueue_->sync([&] { copy = midiDests_; });
    return copy;
}

QStringList QVTMIDIManager::midiSourceNames() const { return sortedNames(midiSources()); }
QStringList QVTMIDIManager::midiDestNames() const { return sortedNames(midiDests()); }

std::shared_ptr<QVTMIDIReceiverNode> QVTMIDIManager::sourceNodeNamed(const QString& name) const {
    std::shared_ptr<QVTMIDIReceiverNode> node;
    sourcesHandleQueue_->sync([&] { node = firstNamed(midiSources_, name); });
    return node;
}

std::shared_ptr<QVTMIDISenderNode> QVTMIDIManager::destinationNodeNamed(const QString& name) const {
    std::shared_ptr<QVTMIDISenderNode> node;
    sourcesHandleQueue_->sync([&] { node = firstNamed(midiDests_, name); });
    return node;
}

QVariantMap QVTMIDIManager::midiSourceSnapshot() const {
    QVariantMap snapshot;
    sourcesHandleQueue_->sync([&] { snapshot = snapshotOf(midiSources_); });
    return snapshot;
}

QVariantMap QVTMIDIManager::midiDestsSnapshot() const {
    QVariantMap snapshot;
    sourcesHandleQueue_->sync([&] { snapshot = snapshotOf(midiDests_); });
    return snapshot;
}

void QVTMIDIManager::loadSourceSnaphot(const QVariantMap& snapshot) {
    sourcesHandleQueue_->sync([&] { applySnapshot(midiSources_, snapshot); });
}

void QVTMIDIManager::loadDestsSnaphot(const QVariantMap& snapshot) {
    sourcesHandleQueue_->sync([&] { applySnapshot(midiDests_, snapshot); });
}

void QVTMIDIManager::setupChanged() {
    KLOG_INFO("{} setupChanged, mainthread: {}", "QVTMIDIManager", int(DispatchQueue::isMainThread()));
    refreshMIDISources();
    refreshMIDIDests();
    if (auto center = midiKitNotificationCenter()) center->post(TonarilNotifications::kSetupChanged);
}

void QVTMIDIManager::refreshMIDISources() {
    KLOG_INFO("refreshMIDISources");
    if (!DispatchQueue::isMainThread()) {
        DispatchQueue::main().sync([this] { refreshMIDISources(); });
        return;
    }
    QStringList present;
    if (auto receiver = virtualReceiver(); receiver && !receiver->nodeName().isNull())
        present << receiver->nodeName();
    refreshNodes(*sourcesHandleQueue_, midiSources_, *backend_, backend_->sources(), present,
                 [this](MidiEndpointRef source) { return QVTMIDIReceiverNode::initReceiverWithEndpointRef(*this, source); });
}

void QVTMIDIManager::refreshMIDIDests() {
    KLOG_INFO("refreshMIDIDests");
    if (!DispatchQueue::isMainThread()) {
        DispatchQueue::main().sync([this] { refreshMIDIDests(); });
        return;
    }
    refreshNodes(*sourcesHandleQueue_, midiDests_, *backend_, backend_->destinations(), {},
                 [this](MidiEndpointRef destination) { return QVTMIDISenderNode::initSenderWithEndpointRef(*this, destination); });
}

std::shared_ptr<NotificationCenter> QVTMIDIManager::midiKitNotificationCenter() const {
    std::lock_guard lock(propertyMutex_);
    return midiKitNotificationCenter_;
}

void QVTMIDIManager::setMidiKitNotificationCenter(std::shared_ptr<NotificationCenter> center) {
    std::lock_guard lock(propertyMutex_);
    midiKitNotificationCenter_ = std::move(center);
}

QString QVTMIDIManager::managerName() const {
    std::lock_guard lock(propertyMutex_);
    return managerName_;
}

void QVTMIDIManager::setManagerName(const QString& name) {
    std::lock_guard lock(propertyMutex_);
    managerName_ = name;
}

void QVTMIDIManager::sendMTCQuarterWithSMTPETime(const QString& time, QVTMIDISenderNode* node) {
    if (node) node->sendMTCQuarterWithSMPTETime(time);
}

void QVTMIDIManager::sendMMCLocateWithSMTPETime(const QString& time, QVTMIDISenderNode* node) {
    if (node) node->sendMMCLocateWithSMPTETime(time);
}

void QVTMIDIManager::sendMMCPlayWithDeviceID(int, QVTMIDISenderNode* node) {
    if (node) node->sendMMCPlay();
}

void QVTMIDIManager::sendMMStopWithDeviceID(int, QVTMIDISenderNode* node) {
    if (node) node->sendMMCStop();
}

void QVTMIDIManager::sendMidiCC(int value, QVTMIDISenderNode* node) {
    if (node) node->sendMidiCC(value);
}

void managerMIDINotificationProc(const MidiNotification& notification, void* refCon) {
    if (notification.messageID == kMidiMsgSetupChanged) static_cast<QVTMIDIManager*>(refCon)->setupChanged();
}
