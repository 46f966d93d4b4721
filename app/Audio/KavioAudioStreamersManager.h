#pragma once
// Owns one A/B audio streamer per video output, keyed by the output's UUID, and fans every
// audio operation out to all of them. Deck A carries the current cue, deck B the next one.
//
// Threads: every operation may be called from any thread. Creating and removing streamers are
// serialised by a mutex; the fan-outs walk an immutable snapshot of the table taken without
// waiting or locking (so a render or audio thread calling setMixProgress never blocks on a
// table change), and the stored values are atomics. A replaced snapshot is freed by the changer
// once no fan-out is walking any.

#include "Audio/KavioAudioStreamersManagerInterface.h"

#include <QString>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

class PcmBuffer;
class QVTAudioStreamer;

class KavioAudioStreamersManager : public KavioAudioStreamersManagerInterface {
public:
    static constexpr double kSampleRate = 48000.0;

    static KavioAudioStreamersManager& sharedManager();
    KavioAudioStreamersManager() = default;
    ~KavioAudioStreamersManager() override;

    // A new streamer (48000 Hz, the low 8 bits of channelCount() channels) enabled as
    // isEnabled(), replacing (and releasing) any streamer already under the UUID.
    void createAudioStreamerWithUUID(const QString& uuid) override;
    std::shared_ptr<QVTAudioStreamer> streamerWithUUID(const QString& uuid) const override;
    // Releases the streamer's resources and forgets it; an unknown UUID changes nothing.
    void removeStreamerWithUUID(const QString& uuid) override;

    // Fan-outs: each streamer gets the same call.
    void addBufferA(const std::shared_ptr<const PcmBuffer>& buffer);
    void addBufferB(const std::shared_ptr<const PcmBuffer>& buffer);
    void setChannelMappingA(const QList<int>& mapping) override;
    void setChannelMappingB(const QList<int>& mapping) override;
    void switchBuffers() override;
    void clearBuffers();
    void clearCurrentBuffer();

    // Stored, then forwarded to every streamer.
    bool isEnabled() const { return isEnabled_.load(); }
    void setIsEnabled(bool enabled);
    bool isMixing() const override { return isMixing_.load(); }
    void setIsMixing(bool mixing) override;
    float mixProgress() const { return mixProgress_.load(); }
    void setMixProgress(float progress) override;
    double volumeA() const { return volumeA_.load(); }
    void setVolumeA(double volume) override;
    double volumeB() const { return volumeB_.load(); }
    void setVolumeB(double volume) override;
    // Only stored: the channel count of streamers created from now on.
    int32_t channelCount() const { return channelCount_.load(); }
    void setChannelCount(int32_t count) { channelCount_.store(count); }

private:
    using Table = std::map<QString, std::shared_ptr<QVTAudioStreamer>>;
    template <typename Call>
    void forEach(Call&& call) const;
    // Under changeGuard_: publishes `table` and frees the one it replaces once every walk that
    // may hold it has ended.
    void publish(std::unique_ptr<const Table> table);
    // A walk counts itself in the current generation's half; a change moves the generation on
    // and waits only for the old half, so walks that keep starting never hold a change back.
    int enterWalk() const;
    void leaveWalk(int half) const { walkers_[half].fetch_sub(1); }

    std::mutex changeGuard_;
    std::atomic<const Table*> streamers_{new Table};
    mutable std::atomic<int> walkers_[2]{0, 0};
    std::atomic<uint64_t> generation_{0};
    std::atomic<bool> isMixing_{false};
    std::atomic<bool> isEnabled_{true};
    std::atomic<float> mixProgress_{0.0f};
    std::atomic<int32_t> channelCount_{0};
    std::atomic<double> volumeA_{0.0};
    std::atomic<double> volumeB_{0.0};
};
