#include "Audio/KavioAudioStreamersManager.h"

#include "QVTAudioStreamer.h"

KavioAudioStreamersManager& KavioAudioStreamersManager::sharedManager() {
    static KavioAudioStreamersManager manager;
    return manager;
}

KavioAudioStreamersManager::~KavioAudioStreamersManager() {
    forEach([](QVTAudioStreamer& streamer) { streamer.removeResources(); });
}

template <typename Call>
void KavioAudioStreamersManager::forEach(Call&& call) const {
    const std::shared_ptr<const Table> table = snapshot();
    for (const auto& [uuid, streamer] : *table) call(*streamer);
}

void KavioAudioStreamersManager::createAudioStreamerWithUUID(const QString& uuid) {
    auto streamer = std::make_shared<QVTAudioStreamer>(kSampleRate, uint8_t(channelCount_.load() & 0xff));
    std::shared_ptr<QVTAudioStreamer> old;
    {
        std::lock_guard lock(changeGuard_);
        auto table = std::make_shared<Table>(*snapshot());
        auto& slot = (*table)[uuid];
        old = std::exchange(slot, streamer);
        streamers_.store(std::move(table));
    }
    if (old) old->removeResources();
    streamer->setIsEnabled(isEnabled_.load());
}

std::shared_ptr<QVTAudioStreamer> KavioAudioStreamersManager::streamerWithUUID(const QString& uuid) const {
    const std::shared_ptr<const Table> table = snapshot();
    auto it = table->find(uuid);
    return it == table->end() ? nullptr : it->second;
}

void KavioAudioStreamersManager::removeStreamerWithUUID(const QString& uuid) {
    std::shared_ptr<QVTAudioStreamer> removed;
    {
        std::lock_guard lock(changeGuard_);
        auto table = std::make_shared<Table>(*snapshot());
        auto it = table->find(uuid);
        if (it == table->end()) return;
        removed = it->second;
        table->erase(it);
        streamers_.store(std::move(table));
    }
    removed->removeResources();
}

void KavioAudioStreamersManager::addBufferA(const std::shared_ptr<const PcmBuffer>& buffer) {
    forEach([&](QVTAudioStreamer& s) { s.addBufferA(buffer); });
}

void KavioAudioStreamersManager::addBufferB(const std::shared_ptr<const PcmBuffer>& buffer) {
    forEach([&](QVTAudioStreamer& s) { s.addBufferB(buffer); });
}

void KavioAudioStreamersManager::setChannelMappingA(const std::vector<int>& mapping) {
    forEach([&](QVTAudioStreamer& s) { s.setChannelMappingA(mapping); });
}

void KavioAudioStreamersManager::setChannelMappingB(const std::vector<int>& mapping) {
    forEach([&](QVTAudioStreamer& s) { s.setChannelMappingB(mapping); });
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
