#pragma once
// The loudness and waveform of one media file. An analyzer reads the whole file once on a
// serial queue (AudioReader) and then answers, from the samples it keeps in memory, the level
// in dBFS of a list of channels and one channel's peak per time bucket.
//
// Threads: made on any thread; the reading and the completion handler run on the given queue.
// isCancelled is set from any thread; the questions are asked once isReady is true, from any
// one thread at a time (the samples are no longer written then).
//
// Ownership: shared. The queued job keeps the analyzer alive until its handler returned; the
// owner (the cue) drops its reference whenever it likes.

#include "Audio/AudioReader.h"

#include <QList>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class DispatchQueue;

// One peak per bucket, full scale 1.0; empty for no buckets.
struct AudioAnalyzerResult {
    std::vector<float> peaks;
    uint32_t length() const { return uint32_t(peaks.size()); }
};

class AudioAnalyzer : public AudioReaderDelegate, public std::enable_shared_from_this<AudioAnalyzer> {
public:
    using CompletedHandler = std::function<void(AudioAnalyzer&)>;
    static constexpr double kFullScale = 2147483648.0;  // 2^31
    static constexpr float kTargetDBFS = -18.0f;

    // Queues the reading of `path` (stereo down-mix when the user default
    // "shouldUseStereoDownmix" is on) and returns at once. `completed` (may be empty) runs on
    // `queue` when the reading ended, also after cancellation.
    static std::shared_ptr<AudioAnalyzer> initWithFile(const QString& path, DispatchQueue& queue,
                                                       CompletedHandler completed);
    // As above with the down-mix given (tests and benchmarks).
    static std::shared_ptr<AudioAnalyzer> initWithFile(const QString& path, bool shouldmixdown,
                                                       DispatchQueue& queue, CompletedHandler completed);

    // Reading ended without cancellation.
    bool isReady() const { return isReady_.load(std::memory_order_acquire); }
    // The file had no readable audio, was too long to hold, or failed while reading.
    bool hadError() const { return hadError_.load(std::memory_order_acquire); }
    bool isCancelled() const override { return isCancelled_.load(std::memory_order_relaxed); }
    void setIsCancelled(bool cancelled) { isCancelled_.store(cancelled, std::memory_order_relaxed); }

    uint32_t channelCount() const { return uint32_t(channels_.size()); }
    int64_t channelByteLength() const { return channelByteLength_; }
    double frequency() const { return frequency_; }

    // The level in dBFS of the loudest of the first min(list size, channelCount) channels:
    // 20 log10(RMS) + 3.0 per channel, full scale 1.0. A position whose entry is -1 is skipped.
    // Minus infinity when nothing was measured (or before the reading ended).
    float rmsOnChannels(const QList<int>& channels) const;
    float analyzeRMSOnChannels(const QList<int>& channels) const { return rmsOnChannels(channels); }
    // The gain that brings `dbfs` to -18 dBFS; 1.0 for an infinite (or NaN) level.
    static float targetVolumeWithDBFS(float dbfs);

    // The peak of every whole bucket of `bucketDuration` seconds of `channel`, starting from
    // 0.0 (negative samples never raise it), divided by 2^31. Empty for a channel beyond the
    // analysed ones, a bucket of less than one sample, a zero rate or before the reading ended.
    AudioAnalyzerResult analyzeChannel(uint32_t channel, float bucketDuration) const;

    // Peak per bucket of `count` buckets of `bucketDuration` x `frequency` samples each; the
    // caller sizes `samples` to hold them all.
    static void processAmplitude(const float* samples, int64_t sampleCount, float bucketDuration, uint32_t count,
                                 double frequency, float* peak);
    // v -> (v - minimum) / (maximum - minimum); the second form uses the values' own range.
    static void normalize(float* values, uint32_t length, float minimum, float maximum);
    static void normalize(float* values, uint32_t length);

private:
    AudioAnalyzer() = default;
    void run(const QString& path, bool shouldmixdown);

    std::vector<std::vector<float>> channels_;
    int64_t channelByteLength_ = 0;
    double frequency_ = 0;
    std::atomic<bool> isReady_{false}, hadError_{false}, isCancelled_{false};
};
