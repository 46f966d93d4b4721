#pragma once
// One cue's voice in the engine's mixer: a queue of scheduled PCM buffers played in order on
// one mixer bus, from now or from a given engine sample time, at a volume, with post-fader
// levels per channel.
//
// Threads: schedule, play, stop and volume may be called from any thread, concurrently; the
// engine's render thread consumes the buffers without locks or allocation: scheduled buffers
// reach it through a lock-free list, and played or dropped ones leave it, with their
// completions, to the engine's housekeeping thread, which runs the completions and frees them.
//
// Ownership: the player owns its node (shared_ptr); the engine holds it while it is connected
// and frees it on its housekeeping thread once no render cycle can still see it.

#include "PcmBuffer.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class KavioAudioPlayerNode {
public:
    using Completion = std::function<void()>;
    static constexpr uint32_t kMeteredChannels = 32;
    // A start time meaning "at the next render cycle".
    static constexpr int64_t kNow = INT64_MIN;

    KavioAudioPlayerNode() = default;
    ~KavioAudioPlayerNode();
    KavioAudioPlayerNode(const KavioAudioPlayerNode&) = delete;
    KavioAudioPlayerNode& operator=(const KavioAudioPlayerNode&) = delete;

    // Queues the buffer after those already scheduled. `completion` runs on the engine's
    // housekeeping thread once the buffer has been played to its end; never for a buffer that
    // stop() dropped. Null or empty buffers are ignored.
    void scheduleBuffer(std::shared_ptr<const PcmBuffer> buffer, Completion completion = {});
    // Starts playing at the next cycle, or at engine sample time `sampleTime` (frames before
    // it stay silent; a time already passed starts at once).
    void play(int64_t sampleTime = kNow);
    // Stops and drops every buffer scheduled so far, without their completions.
    void stop();
    bool isPlaying() const { return playing_.load(std::memory_order_acquire); }

    float volume() const { return volume_.load(std::memory_order_relaxed); }
    void setVolume(float volume) { volume_.store(volume, std::memory_order_relaxed); }
    // The engine sample time of the last render cycle that saw this node (the engine's time
    // when it was connected, before any).
    int64_t lastRenderSampleTime() const { return lastRender_.load(std::memory_order_relaxed); }
    // The start time of the last play() (kNow for "at once").
    int64_t startSampleTime() const { return startTime_.load(std::memory_order_relaxed); }

    // Engine side. ------------------------------------------------------------------------
    struct Item {
        std::shared_ptr<const PcmBuffer> buffer;
        Completion completion;
        uint64_t generation = 0;
        uint32_t position = 0;
        bool played = false;
        Item* next = nullptr;
    };
    // The list the render thread hands finished items to (lock-free push, whole-list take).
    struct RetireList {
        std::atomic<Item*> head{nullptr};
        void push(Item* item);
        Item* takeAll() { return head.exchange(nullptr, std::memory_order_acq_rel); }
    };
    // Render thread: adds this node's frames of the cycle starting at engine sample time
    // `cycleStart` into `planes`, and measures them when metering is on.
    void render(float* const* planes, uint32_t channels, uint32_t frames, int64_t cycleStart, RetireList& retired);
    void setLastRenderSampleTime(int64_t time) { lastRender_.store(time, std::memory_order_relaxed); }
    void setMetering(bool on) { metering_.store(on, std::memory_order_relaxed); }
    // The last cycle's average power of channel c in dB (-120 for silence or no data).
    float averagePower(uint32_t channel) const;
    void resetMeters();

private:
    std::atomic<Item*> inbox_{nullptr};  // newest first
    Item* queueHead_ = nullptr;          // render thread only, oldest first
    Item* queueTail_ = nullptr;
    std::atomic<uint64_t> generation_{0};
    std::atomic<bool> playing_{false};
    std::atomic<int64_t> startTime_{kNow};
    std::atomic<float> volume_{1.0f};
    std::atomic<int64_t> lastRender_{0};
    std::atomic<bool> metering_{false};
    std::array<std::atomic<float>, kMeteredChannels> power_{};
};
