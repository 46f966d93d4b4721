#pragma once
// The A/B audio streamer of one video output. Deck A carries the current cue's audio, deck B the
// next cue's; each deck has its own ring (32 s at 48 kHz), channel mapping and volume. A pull
// hands out one block of deck A alone, or while mixing a crossfade from A to B at `mixProgress`,
// padding a deck with silence when it holds too few frames.
//
// Threads: every operation may be called from any thread. Adding, mapping changes, clearing,
// switching and pulling run synchronously on the streamer's own serial queue
// ("com.dalvek.ndikit_audiostreamer"), one after the other. The flags, the mix progress and the
// volumes are plain values read by the pull when it runs. Only removeResources (and destruction)
// must not overlap other calls.
//
// Ownership: the streamer owns its rings, work lists and mapping copies. A pulled block belongs
// to the caller. Owners hold the streamer by std::shared_ptr; senders keep a weak reference.

#include "AEUtilities/AECircularBuffer.h"
#include "PcmBuffer.h"
#include "QVTNDIAudioSource.h"

#include <atomic>
#include <memory>
#include <vector>

class DispatchQueue;

class QVTAudioStreamer : public QVTNDIAudioSource {
public:
    static constexpr uint32_t kRingFrames = 1536000;
    // Work lists hold this many frames; a pull asking for more is refused (a silent block).
    static constexpr int32_t kWorkFrames = 153600;

    // A rate below 1000 Hz becomes 48000, a channel count of 0 becomes 1. Both mappings start as
    // [1, 2, ..., channels]; disabled, not mixing, progress 0, both volumes 0 (silent).
    QVTAudioStreamer(double sampleRate, uint8_t channels);
    ~QVTAudioStreamer() override;
    QVTAudioStreamer(const QVTAudioStreamer&) = delete;
    QVTAudioStreamer& operator=(const QVTAudioStreamer&) = delete;

    // Releases the rings and work lists; the streamer is not used afterwards. Idempotent.
    void removeResources();

    // Output channel k (from 0) takes the deck's channel mapping[k] (from 1); entries out of
    // range, and output channels past the mapping, stay silent.
    void setChannelMappingA(const std::vector<int>& mapping);
    void setChannelMappingB(const std::vector<int>& mapping);
    std::vector<int> channelMappingA() const;
    std::vector<int> channelMappingB() const;

    // Queue a copy of the buffer's valid frames on deck A or B before returning. Null or empty
    // buffers are ignored. A buffer with another channel count than the deck first empties the
    // deck and gives it the buffer's format; a full deck drops the buffer (logged). Nothing is
    // resampled.
    void addBufferA(const std::shared_ptr<const PcmBuffer>& buffer);
    void addBufferB(const std::shared_ptr<const PcmBuffer>& buffer);

    // Deck B becomes deck A; the former deck A becomes an empty deck B (two steps on the queue).
    void switchBuffers();
    void clearBuffers() override;
    void clearCurrentBuffer();
    void clearPreviousBuffer();

    // Remakes the three mixing work lists for `channels` channels (the pulls do this as needed).
    void changeHelpersToChannels(int32_t channels);

    // Deck B's format while mixing and B has more channels, else deck A's.
    AudioStreamBasicDescription asbd() override;
    float* audioDataWithNumberOfFrames(int32_t frames, int32_t channelCount) override;
    // As the float pull, each sample scaled by 32767 and truncated; samples beyond full scale
    // are clipped.
    int16_t* interleaved16AudioDataWithNumberOfFrames(int32_t frames, int32_t channelCount) override;

    bool isEnabled() const override { return isEnabled_.load(std::memory_order_relaxed); }
    void setIsEnabled(bool enabled) override { isEnabled_.store(enabled, std::memory_order_relaxed); }
    bool isMixing() const override { return isMixing_.load(std::memory_order_relaxed); }
    void setIsMixing(bool mixing) override { isMixing_.store(mixing, std::memory_order_relaxed); }
    // 0 = all A, 1 = all B.
    float mixProgress() const { return mixProgress_.load(std::memory_order_relaxed); }
    void setMixProgress(float progress) { mixProgress_.store(progress, std::memory_order_relaxed); }
    double volumeA() const { return volumeA_.load(std::memory_order_relaxed); }
    void setVolumeA(double volume) { volumeA_.store(volume, std::memory_order_relaxed); }
    double volumeB() const { return volumeB_.load(std::memory_order_relaxed); }
    void setVolumeB(double volume) { volumeB_.store(volume, std::memory_order_relaxed); }

private:
    // Receives channel k's F samples of a pull.
    template <typename WritePlane>
    void pull(int32_t frames, int32_t channels, WritePlane&& writePlane);
    void addBuffer(int deck, const std::shared_ptr<const PcmBuffer>& buffer);
    bool padWithSilence(int deck, uint32_t frames);
    void mapDeck(int deck, const std::vector<int>& mapping, int32_t channels, uint32_t frames,
                 AudioBufferList* target);
    void freeMixingLists();

    AECircularBuffer circularbuffer[2];
    AudioStreamBasicDescription asbd_[2]{};
    AudioStreamBasicDescription tempformat{};
    AudioBufferList* bufferList[2] = {nullptr, nullptr};
    AudioBufferList* bufferListMix = nullptr;
    AudioBufferList* bufferList1_temp = nullptr;
    AudioBufferList* bufferList2_temp = nullptr;
    int32_t buffer1 = 0;  // ring index of deck A
    int32_t buffer2 = 1;  // ring index of deck B
    std::unique_ptr<DispatchQueue> queue;
    std::atomic<bool> isEnabled_{false};
    std::atomic<bool> isMixing_{false};
    std::atomic<float> mixProgress_{0.0f};
    std::atomic<double> volumeA_{0.0};
    std::atomic<double> volumeB_{0.0};
    std::vector<int> channelMappingA_;
    std::vector<int> channelMappingB_;
    bool removed_ = false;
};
