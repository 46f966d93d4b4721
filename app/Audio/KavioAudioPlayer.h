#pragma once
// The sound of one cue: a file player decodes the first audio track of the cue's media a buffer
// at a time; a live player takes the buffers its cue pushes. Each buffer is routed channel by
// channel onto the output channels, slowed down or sped up for the playback rate, scheduled on
// the player's node (one bus of the engine's mixer) and handed in the same form to the audio
// streamers, deck A while the cue is current and deck B otherwise. A fixed number of buffers is
// kept ahead: three after a seek, six after creation or an engine restart; each buffer played
// brings one more read.
//
// Threads: creation, play, seeks, rate, volume and routing on the main thread (a seek from
// elsewhere is logged and still done). Reads run on the player's serial queue
// "com.dalvek.audioconverter" (refills queued from the node's completions, and the seek's
// reader set-up and fill, run synchronously); stop may be called from any thread and runs on
// that queue. Live buffers arrive on the source's thread.
//
// Ownership: the cue owns its players (shared_ptr) and calls removeResources before dropping
// one; a player holds its cue weakly and owns its node, reader and queue.

#include "Audio/KavioAudioOutputManagerInterface.h"
#include "Cue/KavioVideoItem.h"
#include "PcmBuffer.h"

#include <QList>
#include <QString>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class AudioSampleReader;
class DispatchQueue;
class KavioAudioEngine;
class KavioAudioPlayerCue;
class KavioAudioPlayerNode;
class KavioAudioStreamersManager;

class KavioAudioPlayer : public KavioCueAudioPlayer, public std::enable_shared_from_this<KavioAudioPlayer> {
public:
    static constexpr uint32_t kBufferFrames = 8192;
    static constexpr int kBuffersPerFill = 3;
    static constexpr int kMeterChannels = 16;
    // Silence scheduled when the reader fails before it gave any buffer.
    static constexpr uint32_t kFailureSilenceFrames = 4096;
    static constexpr int kMaxConsecutiveReadFailures = 3;
    static constexpr int kMaxDelayMs = 60000;

    // A file player for the first audio track of `path`; nullptr when the file has no audio
    // track or cannot be opened, or no mixer bus is free (logged). Starts stopped, with six
    // buffers from the cue's time scheduled.
    static std::shared_ptr<KavioAudioPlayer> initWithFileURL(const QString& path, const QList<int>& mapping,
                                                             int maxChannels, int delayMs,
                                                             std::weak_ptr<KavioAudioPlayerCue> cue,
                                                             double sampleRate);
    // A live player for `channels` source channels fed by scheduleBuffer; nullptr when no bus
    // is free.
    static std::shared_ptr<KavioAudioPlayer> initWithDeviceChannels(int channels, const QList<int>& mapping,
                                                                    int maxChannels, int delayMs,
                                                                    std::weak_ptr<KavioAudioPlayerCue> cue,
                                                                    double sampleRate);
    ~KavioAudioPlayer() override;
    KavioAudioPlayer(const KavioAudioPlayer&) = delete;
    KavioAudioPlayer& operator=(const KavioAudioPlayer&) = delete;

    // Starts; when already playing, seeks to the cue's time instead.
    void play();
    // Starts the node, after the delay, and hands the buffers read so far to the streamers
    // (with the delay's silence ahead of them). Nothing while playing; refused (logged) while
    // the engine is not running.
    void startPlayback();
    // Stops and drops everything scheduled; empties the streamers' current deck when the cue
    // is current.
    void stop();
    // Seeks to media time `seconds` (file players). Negative or NaN times are refused; a time
    // within 1 ms of the last seek does nothing. A playing player plays on from there.
    void setCurrentTime(double seconds);
    // Positive finite rates only (others refused, logged). Drops what is scheduled; the next
    // seek reads again.
    void setRate(float rate);
    float rate() const { return workingrate_; }
    float volume() const override;
    void setVolume(float volume) override;
    // For the next start; negative is 0, more than 60 s is 60 s.
    void setDelay(int delayMs) override;

    // KavioCueAudioPlayer.
    QList<int> channelMapping() const override;
    int deviceChannels() const override { return deviceChannels_; }
    void setOutputChannelMapping(const QList<int>& mapping, int maxChannels) override;

    int realChannels() const { return std::min(audioChannels_.load(), deviceChannels_.load()); }
    int audioChannels() const { return audioChannels_; }
    double duration() const { return duration_; }
    bool isUsingStereoDownMix() const override { return isUsingStereoDownMix_; }
    bool isPlaying() const { return isPlaying_; }
    bool isFilePlayer() const { return isFilePlayer_; }

    // Live players: one pushed buffer (only while playing). A buffer of another format becomes
    // the live format; the cue's players then get the default routing again.
    void scheduleBuffer(const std::shared_ptr<const PcmBuffer>& buffer) override;

    // Reads the bus's levels into the meters. Main thread (the interface tick).
    void updateMeters();
    // The levels updateMeters last read, in dB, one per meter channel.
    std::vector<double> meterLevels() const;
    // KavioCueAudioPlayer: updateMeters, then the levels read.
    QList<float> channelMeters() override;
    // Mutes the engine's device output for kind 10 or disabled output, else unmutes it.
    void checkForAudioKindChanged() override;
    // Stops, leaves the mixer and drops the reader and the cue. The player is not used again.
    void removeResources();

    // The buffer at `rate`: frames dropped above 1, linearly interpolated below; a buffer of
    // one frame repeats it, of none gives none.
    static std::shared_ptr<PcmBuffer> changePlaybackRateOfBuffer(const PcmBuffer& buffer, float rate);

    // For tests: the node, its bus, the buffers scheduled while stopped, the next read position.
    const KavioAudioPlayerNode& playerNode() const { return *playerNode_; }
    uint32_t mixerBus() const { return mixerbus_; }
    size_t preloadedBufferCount() const;
    int64_t startPosition() const { return startPosition_; }

private:
    KavioAudioPlayer();
    bool generalInit(const QList<int>& mapping, int maxChannels, int delayMs, std::weak_ptr<KavioAudioPlayerCue> cue,
                     double sampleRate);
    std::shared_ptr<KavioAudioPlayerCue> cue() const { return parentCue_.lock(); }
    std::shared_ptr<KavioAudioOutputManagerInterface> outputManager() const;
    bool cueIsCurrent() const;
    PcmFormat localFormat() const;
    void toStreamers(const std::shared_ptr<const PcmBuffer>& buffer) const;
    void setupAssetReader();
    void readNextSampleBuffer();
    void scheduleWithRefill(const std::shared_ptr<const PcmBuffer>& buffer);
    void fillBuffers();
    void stopOnQueue();
    void resetBuffers();
    void audioEngineWillStop();
    void audioEngineDidStart();

    KavioAudioEngine& engine_;
    KavioAudioStreamersManager& streamers_;
    std::shared_ptr<KavioAudioPlayerNode> playerNode_;
    std::unique_ptr<AudioSampleReader> assetReader_;  // the player's queue only
    mutable std::mutex mapGuard_;  // the routing is set on the main thread, read by the queue
    std::vector<int> channelmap_;
    std::vector<std::shared_ptr<const PcmBuffer>> preloadedBuffers_;  // the player's queue only
    std::weak_ptr<KavioAudioPlayerCue> parentCue_;
    QString path_;
    uint32_t preloadedSamples_ = 0;
    uint32_t samplesInLastBuffer_ = 0;
    int64_t length_ = 0;
    double duration_ = 0;
    std::atomic<int64_t> startPosition_{0};
    std::unique_ptr<DispatchQueue> queue_;
    int32_t delayinms_ = 0;
    double currenttime_ = -1.0;
    std::array<std::atomic<double>, kMeterChannels> channelmeters_{};
    bool isFilePlayer_ = false;
    int32_t currenttimeattemptsafterstop_ = 0;
    uint32_t mixerbus_ = UINT32_MAX;
    std::atomic<bool> wasplaying_{false};
    float currentvolume_ = 0;
    float workingrate_ = 1.0f;
    PcmFormat localbufferformat_;  // live players: the pushed buffers' format
    std::atomic<bool> isPlaying_{false};
    bool isUsingStereoDownMix_ = true;
    std::atomic<int32_t> deviceChannels_{0};
    std::atomic<int32_t> audioChannels_{0};
    int readFailures_ = 0;
    bool removed_ = false;
    std::vector<std::vector<float>> decoded_;  // the player's queue only
};
