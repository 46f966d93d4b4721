// The output's audio of each frame, and the settings of a DeckLink output's card.
#include "Outputs/KavioDecklinkOutput.h"
#include "Outputs/KavioVideoOutputObject.h"

#include "DispatchQueue.h"
#include "Log.h"
#include "QVTAudioStreamer.h"
#include "QVTNDISender.h"
#include "UserDefaults.h"

#include <chrono>
#include <cmath>
#include <cstdlib>

namespace {

constexpr std::uint32_t kMaxAudioFrames = 153600;
constexpr double kSampleRate = 48000;

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double frameDuration(const GpuTime& rate)
{
    return 1.0 / (double(rate.timeValue) / double(rate.timeScale));
}

std::uint32_t clampFrames(double frames)
{
    if (!(frames > 0))
        return 0;
    return std::uint32_t(std::min(frames, double(kMaxAudioFrames)));
}

}  // namespace

void KavioVideoOutputObject::checkElapsedTimeForNaN()
{
    if (!std::isnan(elapsedtime_.load()))
        return;
    const double duration = frameDuration(framerate());
    elapsedtime_.store(duration);
    KLOG_WARN("error, elapsedtime was NaN, now it is {:f}", duration);
}

std::uint32_t KavioVideoOutputObject::audioFramesForThisFrame(std::int32_t kind, const GpuTime& rate)
{
    if (rate.timeValue <= 0 || rate.timeScale <= 0)
        return 0;
    if (kind == KavioVideoOutputTypeNDI) {
        // The exact share of frame n: what 48 kHz owes up to frame n + 1 minus what it owed up to
        // frame n, so the fraction of a 1001 rate is carried and nothing drifts over a show.
        elapsedtime_.store(now());
        checkElapsedTimeForNaN();
        const std::uint64_t n = ndiAudioFrames_.fetch_add(1);
        const auto owed = [&](std::uint64_t frames) {
            return std::uint64_t((unsigned __int128)frames * 48000u * std::uint64_t(rate.timeScale)
                                 / std::uint64_t(rate.timeValue));
        };
        return clampFrames(double(owed(n + 1) - owed(n)));
    }
    if (kind == KavioVideoOutputTypeDeckLink) {
        checkElapsedTimeForNaN();
        const float perSecond = float(rate.timeValue) / float(rate.timeScale);
        std::uint32_t frames = clampFrames(kSampleRate * 1.0 / double(perSecond));
        elapsedtime_.store(now());
        if (rate.timeScale == 1001) {
            if (rate.timeValue == 60000 || rate.timeValue == 30000) {
                const std::uint32_t place = framecounter_.load();
                const bool tenth = place == 9;
                framecounter_.store(tenth ? 0 : place + 1);
                if (rate.timeValue == 60000)
                    frames = tenth ? 808 : 800;
                else
                    frames = tenth ? 1607 : 1601;
            } else if (rate.timeValue == 24000) {
                frames = 2002;
            }
        }
        return frames;
    }
    const double last = elapsedtime_.load();
    const double at = now();
    const double elapsed = last != 0 ? at - last : frameDuration(rate);
    elapsedtime_.store(elapsed);
    checkElapsedTimeForNaN();
    const double frames = std::abs(elapsedtime_.load()) * kSampleRate;
    elapsedtime_.store(at);
    return frames < 1 ? 0 : clampFrames(frames);
}

void KavioVideoOutputObject::handleAudioOutput()
{
    audioOutputCount_.fetch_add(1, std::memory_order_relaxed);
    const std::int32_t kind = videoOutputType();
    const std::int32_t channels = audiochannels_.load();
    const std::int32_t cardChannels = outputchannels_.load();
    const std::uint32_t frames = audioFramesForThisFrame(kind, framerate());
    lastAudioFrames_.store(frames);
    if (frames == 0)
        return;
    queue->sync([&] {
        const auto streamer = audiostreamer_;
        if (!streamer)
            return;
        auto discard = [&](std::int32_t count) { std::free(streamer->audioDataWithNumberOfFrames(std::int32_t(frames), count)); };
        if (kind == KavioVideoOutputTypeNDI) {
            const auto sender = ndiSender();
            if (sender && isFullscreen() && streamer->isEnabled())
                sender->sendAudioNumberOfSamples(frames, channels);  // pulls from the streamer
            else
                discard(channels);
        } else if (kind == KavioVideoOutputTypeDeckLink) {
            const auto sink = decklinkOutput();
            const auto device = sink ? sink->outputDevice() : nullptr;
            if (device && isFullscreen() && streamer->isEnabled()) {
                // The device frees the block once played.
                if (int16_t* block = streamer->interleaved16AudioDataWithNumberOfFrames(std::int32_t(frames), cardChannels))
                    device->playback16bitAudioBuffer(block, frames, {});
            } else {
                discard(cardChannels);
            }
        } else {
            discard(channels);
        }
    });
}

// --- DeckLink settings -----------------------------------------------------------------------

void KavioVideoOutputObject::setDecklinkOutputDevice(std::shared_ptr<decklink::DeckLinkDevice> device)
{
    if (auto sink = decklinkOutput())
        sink->setOutputDevice(std::move(device));
}

void KavioVideoOutputObject::setDecklinkFormat(std::uint32_t displayMode)
{
    const auto sink = decklinkOutput();
    const auto device = sink ? sink->outputDevice() : nullptr;
    if (!device)
        return;
    for (const auto& format : device->playbackVideoFormatDescriptions()) {
        if (format.displayMode != displayMode)
            continue;
        device->setPlaybackActiveVideoFormatDescription(format, [weak = weak_from_this(), displayMode](const std::string& error) {
            auto output = weak.lock();
            if (!output)
                return;
            if (!error.empty()) {
                KLOG_ERROR("error {}, could not set Decklink format to {}", error, displayMode);
                return;
            }
            KLOG_INFO("video format set to: {:#010x}", displayMode);
            output->setProperDecklinkAudioFormat();
        });
    }
}

void KavioVideoOutputObject::setProperDecklinkAudioFormat()
{
    const auto sink = decklinkOutput();
    const auto device = sink ? sink->outputDevice() : nullptr;
    if (!device)
        return;
    const auto formats = device->playbackAudioFormatDescriptions();
    if (!formats.empty()) {
        decklink::AudioFormatDescription chosen = formats.back();
        for (const auto& format : formats)
            if (format.channels >= audiochannels_.load()) {
                chosen = format;
                break;
            }
        device->setPlaybackActiveAudioFormatDescription(chosen, [weak = weak_from_this(), chosen](const std::string& error) {
            auto output = weak.lock();
            if (!output)
                return;
            output->queue->sync([&] { output->outputchannels_.store(chosen.channels); });
            KLOG_INFO("audio {} chs, format set to: {} Hz {} bit", chosen.channels, chosen.sampleRate, chosen.bitsPerSample);
            if (!error.empty())
                KLOG_ERROR("audio error: {}", error);
        });
    }
    framecounter_.store(0);
}

void KavioVideoOutputObject::setDecklinkKeyer(const QString& keyer)
{
    const auto sink = decklinkOutput();
    const auto device = sink ? sink->outputDevice() : nullptr;
    if (!device)
        return;
    const decklink::KeyingMode mode = keyer == "Internal"   ? decklink::KeyingMode::Internal
                                      : keyer == "External" ? decklink::KeyingMode::External
                                                            : decklink::KeyingMode::None;
    device->setPlaybackActiveKeyingMode(mode, 1.0, [weak = weak_from_this(), mode, keyer](const std::string& error) {
        auto output = weak.lock();
        if (!output)
            return;
        if (mode == decklink::KeyingMode::None)
            output->setConvertToYUV(true);  // without a key the card takes YUV, accepted or not
        if (!error.empty()) {
            KLOG_ERROR("could not set keying mode: {}", error);
            return;
        }
        if (mode != decklink::KeyingMode::None)
            output->setConvertToYUV(false);
        output->decklinkkeyer_.store(keyer);
    });
}

void KavioVideoOutputObject::audioChannelsChanged()
{
    auto& defaults = UserDefaults::standardUserDefaults();
    if (defaults.hasKey("audioChannels")) {
        const auto channels = std::int32_t(defaults.integerForKey("audioChannels"));
        queue->sync([&] { audiochannels_.store(channels); });
    }
    setProperDecklinkAudioFormat();
}
