#include "Audio/KavioAudioStreamersManager.h"

#include "QVTAudioStreamer.h"

#include <thread>

KavioAudioStreamersManager& KavioAudioStreamersManager::sharedManager() {
    static KavioAudioStreamersManager manager;
    return manager;
}

KavioAudioStreamersManager::~KavioAudioStreamersManager() {
    forEach([](QVTAudioStreamer& streamer) { streamer.removeResources(); });
    delete streamers_.load();
}

template <typename Call>
void KavioAudioStreamersManager::forEach(Call&& call) const {
    // Counted before the table is read: a changer that replaced it waits for this walk.
    const int half = enterWalk();
    for (const auto& [uuid, streamer] : *streamers_.load()) call(*streamer);
    leaveWalk(half);
}

int KavioAudioStreamersManager::enterWalk() const {
    for (;;) {
        const uint64_t generation = generation_.load();
        const int half = int(generation & 1);
        walkers_[half].fetch_add(1);
        // Counted in the half a change that starts from now on will wait for.
        if (generation_.load() == generation) return half;
        walkers_[half].fetch_sub(1);
    }
}

void KavioAudioStreamersManager::publish(std::unique_ptr<const Table> table) {
    std::unique_ptr<const Table> old(streamers_.exchange(table.release()));
    const int oldHalf = int(generation_.fetch_add(1) & 1);
    while (walkers_[oldHalf].load() != 0) std::this_thread::yield();
}

void KavioAudioStreamersManager::createAudioStreamerWithUUID(const QString& uuid) {
    auto streamer = std::make_shared<QVTAudioStreamer>(kSampleRate, uint8_t(channelCount_.load() & 0xff));
    std::shared_ptr<QVTAudioStreamer> old;
    {
        std::lock_guard lock(changeGuard_);
        auto table = std::make_unique<Table>(*streamers_.load());
        old = std::exchange((*table)[uuid], streamer);
        publish(std::move(table));
    }
    if (old) old->removeResources();
    streamer->setIsEnabled(isEnabled_.load());
}

std::shared_ptr<QVTAudioStreamer> KavioAudioStreamersManager::streamerWithUUID(const QString& uuid) const {
    std::shared_ptr<QVTAudioStreamer> found;
    const int half = enterWalk();
    const Table& table = *streamers_.load();
    if (auto it = table.find(uuid); it != table.end()) found = it->second;
    leaveWalk(half);
    return found;
}

void KavioAudioStreamersManager::removeStreamerWithUUID(const QString& uuid) {
    std::shared_ptr<QVTAudioStreamer> removed;
    {
        std::lock_guard lock(changeGuard_);
        auto table = std::make_unique<Table>(*streamers_.load());
        auto it = table->find(uuid);
        if (it == table->end()) return;
        removed = it->second;
        table->erase(it);
        publish(std::move(table));
    }
    removed->removeResources();
}

void KavioAudioStreamersManager::addBufferA(const std::shared_ptr<const PcmBuffer>& buffer) {
    forEach([&](QVTAudioStreamer& s) { s.addBufferA(buffer); });
}

void KavioAudioStreamersManager::addBufferB(const std::shared_ptr<const PcmBuffer>& buffer) {
    forEach([&](QVTAudioStreamer& s) { s.addBufferB(buffer); });
}

void KavioAudioStreamersManager::setChannelMappingA(const QList<int>& mapping) {
    const std::vector<int> copy(mapping.begin(), mapping.end());
    forEach([&](QVTAudioStreamer& s) { s.setChannelMappingA(copy); });
}

void KavioAudioStreamersManager::setChannelMappingB(const QList<int>& mapping) {
    const std::vector<int> copy(mapping.begin(), mapping.end());
    forEach([&](QVTAudioStreamer& s) { s.setChannelMappingB(copy); });
}

void KavioAudioStreamersManager::switchBuffers() {
    forEach([](QVTAudioStreamer& s) { s.switchBuffers(); });
}

void KavioAudioStreamersManager::clearBuffers() {
    forEach([](QVTAudioStreamer& s) { s.clearBuffers(); });
}

void KavioAudioStreamersManager::clearCurrentBuffer() {
    forEach([](QVTAudioStreamer& s) { s.clearCurrentBuffer(); });
}

void KavioAudioStreamersManager::setIsEnabled(bool enabled) {
    isEnabled_.store(enabled);
    forEach([&](QVTAudioStreamer& s) { s.setIsEnabled(enabled); });
}

void KavioAudioStreamersManager::setIsMixing(bool mixing) {
    isMixing_.store(mixing);
    forEach([&](QVTAudioStreamer& s) { s.setIsMixing(mixing); });
}

void KavioAudioStreamersManager::setMixProgress(float progress) {
    mixProgress_.store(progress);
    forEach([&](QVTAudioStreamer& s) { s.setMixProgress(progress); });
}

void KavioAudioStreamersManager::setVolumeA(double volume) {
    volumeA_.store(volume);
    forEach([&](QVTAudioStreamer& s) { s.setVolumeA(volume); });
}

void KavioAudioStreamersManager::setVolumeB(double volume) {
    volumeB_.store(volume);
    forEach([&](QVTAudioStreamer& s) { s.setVolumeB(volume); });
}
