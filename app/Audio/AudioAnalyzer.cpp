#include "Audio/AudioAnalyzer.h"

#include "DispatchQueue.h"
#include "Log.h"
#include "UserDefaults.h"

#include <algorithm>
#include <cmath>
#include <limits>

std::shared_ptr<AudioAnalyzer> AudioAnalyzer::initWithFile(const QString& path, DispatchQueue& queue,
                                                           CompletedHandler completed)
{
    const bool mixdown = UserDefaults::standardUserDefaults().boolForKey(QStringLiteral("shouldUseStereoDownmix"));
    return initWithFile(path, mixdown, queue, std::move(completed));
}

std::shared_ptr<AudioAnalyzer> AudioAnalyzer::initWithFile(const QString& path, bool shouldmixdown,
                                                           DispatchQueue& queue, CompletedHandler completed)
{
    std::shared_ptr<AudioAnalyzer> analyzer(new AudioAnalyzer());
    queue.async([analyzer, path, shouldmixdown, completed = std::move(completed)] {
        analyzer->run(path, shouldmixdown);
        if (completed)
            completed(*analyzer);
    });
    return analyzer;
}

void AudioAnalyzer::run(const QString& path, bool shouldmixdown)
{
    AudioReaderOutput read = AudioReader::readAudioRef(path, this, shouldmixdown);
    channels_ = std::move(read.channels);
    channelByteLength_ = read.length;
    frequency_ = read.sampleRate;
    if (read.error > 0)
        hadError_.store(true, std::memory_order_release);
    if (!isCancelled())
        isReady_.store(true, std::memory_order_release);
}

float AudioAnalyzer::rmsOnChannels(const QList<int>& list) const
{
    float overall = -std::numeric_limits<float>::infinity();
    if (!isReady())
        return overall;
    const qsizetype count = std::min<qsizetype>(list.size(), qsizetype(channels_.size()));
    for (qsizetype i = 0; i < count; ++i) {
        if (list[i] == -1) {
            KLOG_VERBOSE("channel {:<2}  (skipped)", i);
            continue;
        }
        const std::vector<float>& samples = channels_[size_t(i)];
        double sum = 0.0;
        for (const float sample : samples) {
            const float scaled = sample * float(1.0 / kFullScale);
            sum += double(scaled * scaled);
        }
        const float root = std::sqrt(float(sum / double(samples.size())));
        const float level = 20.0f * std::log10(root) + 3.0f;
        KLOG_VERBOSE("channel {:<2}  RMS={:6.2f} dBFS", i, level);
        if (level > overall)  // a NaN level (no frames) never wins
            overall = level;
    }
    KLOG_VERBOSE("overall     RMS={:6.2f} dBFS", overall);
    return overall;
}

float AudioAnalyzer::targetVolumeWithDBFS(float dbfs)
{
    if (!std::isfinite(dbfs))
        return 1.0f;
    return std::pow(10.0f, (kTargetDBFS - dbfs) / 20.0f);
}

AudioAnalyzerResult AudioAnalyzer::analyzeChannel(uint32_t channel, float bucketDuration) const
{
    AudioAnalyzerResult result;
    if (!isReady() || channel >= channels_.size() || !(frequency_ > 0))
        return result;
    const double samplesPerBucket = double(bucketDuration) * frequency_;
    if (!(samplesPerBucket >= 1.0) || !std::isfinite(samplesPerBucket))
        return result;
    const double buckets = std::trunc(double(channelByteLength_) / samplesPerBucket);
    if (buckets < 1.0 || buckets > double(std::numeric_limits<uint32_t>::max()))
        return result;
    result.peaks.assign(size_t(buckets), 0.0f);
    processAmplitude(channels_[channel].data(), channelByteLength_, bucketDuration, result.length(), frequency_,
                     result.peaks.data());
    normalize(result.peaks.data(), result.length(), 0.0f, float(kFullScale));
    return result;
}

void AudioAnalyzer::processAmplitude(const float* samples, int64_t sampleCount, float bucketDuration,
                                     uint32_t count, double frequency, float* peak)
{
    const double samplesPerBucket = double(bucketDuration) * frequency;
    for (uint32_t i = 0; i < count; ++i) {
        const float start = float(double(i) * samplesPerBucket);
        const int64_t first = int64_t(start);
        const double end = std::min(double(first) + samplesPerBucket, double(sampleCount));
        float highest = 0.0f;
        for (int64_t s = first; double(s) < end; ++s)
            highest = std::max(highest, samples[s]);
        peak[i] = highest;
    }
}

void AudioAnalyzer::normalize(float* values, uint32_t length, float minimum, float maximum)
{
    const float range = maximum - minimum;
    for (uint32_t i = 0; i < length; ++i)
        values[i] = (values[i] - minimum) / range;
}

void AudioAnalyzer::normalize(float* values, uint32_t length)
{
    if (length == 0)
        return;
    const auto [low, high] = std::minmax_element(values, values + length);
    normalize(values, length, *low, *high);
}
