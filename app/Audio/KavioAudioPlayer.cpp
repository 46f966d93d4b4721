#include "Audio/KavioAudioPlayer.h"

#include "Audio/KavioAudioEngine.h"
#include "Audio/KavioAudioPlayerCue.h"
#include "Audio/KavioAudioPlayerNode.h"
#include "Audio/KavioAudioStreamersManager.h"
#include "AudioSampleReader.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "UserDefaults.h"

#include <cmath>

namespace {

constexpr int kMaxDeviceChannels = 256;

QString listText(const std::vector<int>& values) {
    QStringList parts;
    for (int v : values) parts << QString::number(v);
    return QStringLiteral("(%1)").arg(parts.join(QStringLiteral(", ")));
}

std::vector<int> toVector(const QList<int>& list) { return std::vector<int>(list.begin(), list.end()); }

}  // namespace

KavioAudioPlayer::KavioAudioPlayer()
    : engine_(KavioAudioEngine::sharedEngine()), streamers_(KavioAudioStreamersManager::sharedManager()) {}

std::shared_ptr<KavioAudioPlayer> KavioAudioPlayer::initWithFileURL(const QString& path, const QList<int>& mapping,
                                                                   int maxChannels, int delayMs,
                                                                   std::weak_ptr<KavioAudioPlayerCue> cue,
                                                                   double sampleRate) {
    std::shared_ptr<KavioAudioPlayer> player(new KavioAudioPlayer());
    player->isFilePlayer_ = true;
    player->isUsingStereoDownMix_ = true;
    player->path_ = path;
    MediaError error;
    // The track's own description: its channel count and duration.
    auto probe = AudioSampleReader::open(path.toStdString(), AudioReadFormat{}, &error);
    if (!probe) {
        KLOG_VERBOSE("no audio track in {}", path.toStdString());
        return nullptr;
    }
    player->audioChannels_ = probe->sourceChannelCount();
    player->duration_ = std::max(0.0, probe->duration().seconds());
    const double rate = std::isfinite(sampleRate) && sampleRate > 0 ? sampleRate : KavioAudioEngine::kSampleRate;
    player->length_ = int64_t(player->duration_ * rate);
    if (!player->generalInit(mapping, maxChannels, delayMs, std::move(cue), sampleRate)) return nullptr;
    if (auto owner = player->cue()) player->setCurrentTime(owner->currentTimeForAudioWithPlayer(player.get()));
    return player;
}

std::shared_ptr<KavioAudioPlayer> KavioAudioPlayer::initWithDeviceChannels(int channels, const QList<int>& mapping,
                                                                          int maxChannels, int delayMs,
                                                                          std::weak_ptr<KavioAudioPlayerCue> cue,
                                                                          double sampleRate) {
    std::shared_ptr<KavioAudioPlayer> player(new KavioAudioPlayer());
    player->isFilePlayer_ = false;
    player->currentvolume_ = 0;
    player->wasplaying_ = false;
    if (const auto format = player->engine_.processingFormat()) player->localbufferformat_ = *format;
    player->audioChannels_ = std::max(0, channels);
    if (!player->generalInit(mapping, maxChannels, delayMs, std::move(cue), sampleRate)) return nullptr;
    return player;
}

bool KavioAudioPlayer::generalInit(const QList<int>& mapping, int maxChannels, int delayMs,
                                   std::weak_ptr<KavioAudioPlayerCue> cue, double) {
    currenttimeattemptsafterstop_ = 0;
    setDelay(delayMs);
    currenttime_ = -1.0;
    startPosition_ = 0;
    workingrate_ = 1.0f;
    for (auto& meter : channelmeters_) meter.store(0.0);
    isPlaying_ = false;
    queue_ = std::make_unique<DispatchQueue>("com.dalvek.audioconverter");
    playerNode_ = std::make_shared<KavioAudioPlayerNode>();
    parentCue_ = std::move(cue);
    setOutputChannelMapping(mapping.isEmpty() ? QList<int>{0, 1} : mapping, maxChannels);

    mixerbus_ = engine_.nextAvailableMixerInputBus();
    if (mixerbus_ == KavioAudioEngine::kNoBus) {
        KLOG_VERBOSE("no free mixer bus: {} players play already, this one is not made",
                     KavioAudioEngine::kMixerInputBusCount);
        removed_ = true;
        return false;
    }
    KLOG_VERBOSE("player will use Bus #{}", mixerbus_);
    engine_.connectNode(playerNode_, mixerbus_);

    audioEngineDidStart();
    engine_.enableMeteringOnBus(mixerbus_);
    std::weak_ptr<KavioAudioPlayer> weak = weak_from_this();
    auto& center = NotificationCenter::defaultCenter();
    center.addObserver(this, KavioAudioEngine::kWillStopNotification, nullptr, [weak](const Notification&) {
        if (auto self = weak.lock()) self->audioEngineWillStop();
    });
    center.addObserver(this, KavioAudioEngine::kDidStartNotification, nullptr, [weak](const Notification&) {
        if (DispatchQueue::isMainThread()) {
            if (auto self = weak.lock()) self->audioEngineDidStart();
            return;
        }
        DispatchQueue::main().async([weak] {
            if (auto self = weak.lock()) self->audioEngineDidStart();
        });
    });
    return true;
}

KavioAudioPlayer::~KavioAudioPlayer() {
    NotificationCenter::defaultCenter().removeObserver(this);
    removeResources();
}

std::shared_ptr<KavioAudioOutputManagerInterface> KavioAudioPlayer::outputManager() const {
    auto owner = cue();
    return owner ? owner->audioOutputManager() : nullptr;
}

bool KavioAudioPlayer::cueIsCurrent() const {
    auto owner = cue();
    return owner && owner->isCurrent();
}

PcmFormat KavioAudioPlayer::localFormat() const {
    if (!isFilePlayer_) return localbufferformat_;
    return engine_.processingFormat().value_or(PcmFormat(KavioAudioEngine::kSampleRate, 2));
}

void KavioAudioPlayer::toStreamers(const std::shared_ptr<const PcmBuffer>& buffer) const {
    if (cueIsCurrent())
        streamers_.addBufferA(buffer);
    else
        streamers_.addBufferB(buffer);
}

// --- Routing ---------------------------------------------------------------------------------

QList<int> KavioAudioPlayer::channelMapping() const {
    std::lock_guard lock(mapGuard_);
    return QList<int>(channelmap_.begin(), channelmap_.end());
}

void KavioAudioPlayer::setOutputChannelMapping(const QList<int>& mapping, int maxChannels) {
    const std::vector<int> requested = toVector(mapping);
    KLOG_VERBOSE("setOutputChannelMapping: {} maxChannels: {} audioChannels: {}", listText(requested).toStdString(),
                 maxChannels, int(audioChannels_));
    deviceChannels_ = std::clamp(maxChannels, 0, kMaxDeviceChannels);
    const int outputs = deviceChannels_;
    const int real = realChannels();
    std::vector<int> verified(size_t(outputs), 0);
    auto owner = cue();
    const long spread = UserDefaults::standardUserDefaults().integerForKey(QStringLiteral("extendMonoFilesPopup"));
    if (real == 1 && owner && owner->isUsingDefaultAudioChannels() && spread > 0) {
        const int spreadTo = spread == 20 ? outputs : std::min(2, outputs);
        for (int i = 0; i < spreadTo; ++i) verified[size_t(i)] = 1;
    } else {
        for (int i = 0; i < outputs; ++i) {
            if (size_t(i) < requested.size()) {
                const int entry = requested[size_t(i)];
                KLOG_VERBOSE("channel: {} realChannels: {}", entry - 1, real);
                verified[size_t(i)] = entry <= real ? entry : 0;
            } else {
                verified[size_t(i)] = i < real ? i + 1 : 0;
            }
        }
    }
    KLOG_VERBOSE("verifiedchmapping: {}", listText(verified).toStdString());
    {
        std::lock_guard lock(mapGuard_);
        channelmap_ = verified;
    }
    const QList<int> stored(verified.begin(), verified.end());
    if (owner && owner->isCurrent())
        streamers_.setChannelMappingA(stored);
    else
        streamers_.setChannelMappingB(stored);
}

// --- Reading ---------------------------------------------------------------------------------

void KavioAudioPlayer::setupAssetReader() {
    assetReader_.reset();
    auto manager = outputManager();
    const bool downmix = manager ? manager->shouldUseStereoDownMix()
                                 : localFormat().channelLayoutTag() == PcmFormat::kChannelLayoutTagStereo;
    AudioReadFormat format;
    format.sampleRate = int(KavioAudioEngine::kSampleRate);
    format.stereoDownmix = downmix;
    format.channels = downmix ? 2 : int(localFormat().channelCount());
    isUsingStereoDownMix_ = downmix;
    MediaError error;
    std::string path = path_.toStdString();
    auto owner = cue();
    if (owner && !owner->resolvedMediaPath().isEmpty()) path = owner->resolvedMediaPath().toStdString();
    assetReader_ = AudioSampleReader::open(path, format, &error);
    if (!assetReader_) {
        KLOG_VERBOSE("error, assettrack is nil!");
        if (owner && owner->mediaType() == KavioAudioPlayerCue::kMediaTypeAudio) owner->setIsMissing(true);
        return;
    }
    KLOG_VERBOSE("assetTrackOutput is ready!");
    if (!assetReader_->seekToFrame(startPosition_)) KLOG_VERBOSE("error, cannot start reading! {}", "seek refused");
    decoded_.assign(size_t(assetReader_->channelCount()), std::vector<float>(kBufferFrames));
}

void KavioAudioPlayer::scheduleWithRefill(const std::shared_ptr<const PcmBuffer>& buffer) {
    std::weak_ptr<KavioAudioPlayer> weak = weak_from_this();
    playerNode_->scheduleBuffer(buffer, [weak] {
        auto self = weak.lock();
        if (!self || !self->isPlaying()) return;
        self->queue_->async([weak] {
            if (auto player = weak.lock(); player && player->isPlaying()) player->readNextSampleBuffer();
        });
    });
}

void KavioAudioPlayer::readNextSampleBuffer() {
    if (!assetReader_ || readFailures_ >= kMaxConsecutiveReadFailures) return;
    const PcmFormat format = localFormat();
    std::vector<float*> planes;
    for (auto& plane : decoded_) planes.push_back(plane.data());
    const long frames = planes.empty() ? 0 : assetReader_->read(planes.data(), kBufferFrames);
    if (frames <= 0) {
        if (!assetReader_->error()) return;  // the end: the chain of reads ends
        if (++readFailures_ >= kMaxConsecutiveReadFailures) {
            KLOG_VERBOSE("audio: reading stopped after {} failures in a row", readFailures_);
            return;
        }
        KLOG_VERBOSE("audio: error, AVAssetReaderStatusFailed");
        const uint32_t silent = samplesInLastBuffer_ ? samplesInLastBuffer_ : kFailureSilenceFrames;
        startPosition_ += silent;
        // The buffers read before the failure stay queued on the node: the streamers get them too
        // at the start, or they would run ahead of the device.
        setupAssetReader();
        auto silence = std::make_shared<PcmBuffer>(format, silent);
        silence->setFrameLength(silent);
        if (!isPlaying()) preloadedBuffers_.push_back(silence);
        scheduleWithRefill(silence);
        return;
    }
    readFailures_ = 0;
    samplesInLastBuffer_ = uint32_t(frames);
    auto routed = std::make_shared<PcmBuffer>(format, uint32_t(frames));
    routed->setFrameLength(uint32_t(frames));
    const uint32_t decodedChannels = uint32_t(decoded_.size());
    if (isUsingStereoDownMix_) {
        for (uint32_t c = 0; c < std::min(decodedChannels, format.channelCount()); ++c)
            std::copy_n(decoded_[c].data(), frames, routed->floatChannelData(c));
    } else {
        std::lock_guard lock(mapGuard_);
        const int sources = std::min<int>(audioChannels_, int(decodedChannels));
        for (uint32_t i = 0; i < format.channelCount() && i < channelmap_.size(); ++i) {
            const int v = channelmap_[i];
            if (v > 0 && v <= sources) std::copy_n(decoded_[size_t(v - 1)].data(), frames, routed->floatChannelData(i));
        }
    }
    std::shared_ptr<const PcmBuffer> buffer = routed;
    if (workingrate_ != 1.0f) buffer = changePlaybackRateOfBuffer(*routed, workingrate_);
    if (isPlaying())
        toStreamers(buffer);
    else
        preloadedBuffers_.push_back(buffer);
    scheduleWithRefill(buffer);
    startPosition_ += frames;
}

void KavioAudioPlayer::fillBuffers() {
    preloadedSamples_ = 0;
    for (int i = 0; i < kBuffersPerFill; ++i) {
        const size_t before = preloadedBuffers_.size();
        readNextSampleBuffer();
        if (preloadedBuffers_.size() > before) preloadedSamples_ += preloadedBuffers_.back()->frameLength();
    }
}

size_t KavioAudioPlayer::preloadedBufferCount() const {
    size_t count = 0;
    queue_->sync([&] { count = preloadedBuffers_.size(); });
    return count;
}

std::shared_ptr<PcmBuffer> KavioAudioPlayer::changePlaybackRateOfBuffer(const PcmBuffer& buffer, float rate) {
    const uint32_t inFrames = buffer.frameLength();
    const uint32_t outFrames = uint32_t(float(inFrames) / rate);
    auto out = std::make_shared<PcmBuffer>(buffer.format(), outFrames);
    out->setFrameLength(outFrames);
    if (inFrames == 0) return out;
    for (uint32_t c = 0; c < buffer.format().channelCount(); ++c) {
        const float* in = buffer.floatChannelData(c);
        float* dst = out->floatChannelData(c);
        if (rate > 1.0f) {
            for (uint32_t k = 0; k < outFrames; ++k) dst[k] = in[std::min(inFrames - 1, uint32_t(float(k) * rate))];
        } else if (inFrames == 1) {
            std::fill_n(dst, outFrames, in[0]);
        } else {
            const float last = float(inFrames - 2);
            for (uint32_t k = 0; k < outFrames; ++k) {
                float p = float(k) * rate;
                if (std::isnan(p) || p > last) p = last;
                const uint32_t i = uint32_t(p);
                const float fraction = p - float(i);
                dst[k] = in[i] + fraction * (in[i + 1] - in[i]);
            }
        }
    }
    return out;
}

// --- Transport -------------------------------------------------------------------------------

void KavioAudioPlayer::play() {
    if (isPlaying()) {
        if (auto owner = cue()) setCurrentTime(owner->currentTimeForAudioWithPlayer(this));
        return;
    }
    startPlayback();
}

void KavioAudioPlayer::startPlayback() {
    if (isPlaying() || removed_) return;
    if (!engine_.isRunning()) {
        KLOG_VERBOSE("ERROR: engine is not running!");
        return;
    }
    const int64_t delayFrames = int64_t(KavioAudioEngine::kSampleRate * delayinms_ / 1000.0);
    queue_->sync([&] {
        if (delayinms_ > 0) {
            auto silence = std::make_shared<PcmBuffer>(localFormat(), uint32_t(delayFrames));
            silence->setFrameLength(uint32_t(delayFrames));
            toStreamers(silence);
        }
        const bool current = cueIsCurrent();
        for (const auto& buffer : preloadedBuffers_) {
            toStreamers(buffer);
            if (current)
                streamers_.setVolumeA(playerNode_->volume());
            else
                streamers_.setVolumeB(playerNode_->volume());
        }
    });
    if (delayinms_ < 1)
        playerNode_->play();
    else
        playerNode_->play(playerNode_->lastRenderSampleTime() + delayFrames);
    wasplaying_ = true;
    isPlaying_ = true;
    KLOG_VERBOSE("audio playback started, currentime was {}", currenttime_);
    currenttime_ = -1.0;
}

void KavioAudioPlayer::stop() {
    if (!queue_) return;
    queue_->sync([this] { stopOnQueue(); });
}

void KavioAudioPlayer::stopOnQueue() {
    if (!isPlaying()) return;
    isPlaying_ = false;
    resetBuffers();
    wasplaying_ = false;
}

void KavioAudioPlayer::resetBuffers() {
    playerNode_->stop();
    currenttimeattemptsafterstop_ = 0;
    preloadedBuffers_.clear();
    if (cueIsCurrent()) streamers_.clearCurrentBuffer();
}

void KavioAudioPlayer::setCurrentTime(double seconds) {
    if (!isFilePlayer_ || removed_) return;
    auto owner = cue();
    if (!DispatchQueue::isMainThread())
        KLOG_VERBOSE("!!!! setCurrentTime ({}) called from non-main thread!", owner ? owner->index() : 0);
    if (!(seconds >= 0) || !std::isfinite(seconds)) {
        KLOG_VERBOSE("skipping setCurrentTime!");
        return;
    }
    if (std::abs(seconds - currenttime_) <= 0.001) return;
    currenttime_ = seconds;
    ++currenttimeattemptsafterstop_;
    KLOG_VERBOSE("setcurrenttime processed on {} with time: {}", owner ? owner->index() : 0, seconds);
    const float volume = playerNode_->volume();
    const bool wasPlaying = isPlaying();
    if (wasPlaying) stop();
    if (currenttimeattemptsafterstop_ >= 2) playerNode_->stop();
    playerNode_->setVolume(0);
    startPosition_ = duration_ > 0 ? std::min(length_, int64_t(seconds / duration_ * double(length_))) : 0;
    queue_->sync([this] {
        readFailures_ = 0;
        preloadedBuffers_.clear();
        setupAssetReader();
        fillBuffers();
    });
    if (wasPlaying) {
        setVolume(volume);
        play();
    }
}

void KavioAudioPlayer::setRate(float rate) {
    if (!(rate > 0) || !std::isfinite(rate)) {
        KLOG_VERBOSE("audio rate {} refused", rate);
        return;
    }
    if (isPlaying()) KLOG_VERBOSE(":ERROR - setRate: called while playing!");
    if (rate == workingrate_) return;
    KLOG_VERBOSE("audio rate changed to {} from {}", rate, workingrate_);
    queue_->sync([&] {
        workingrate_ = rate;
        resetBuffers();
    });
    currenttime_ = -1.0;
}

float KavioAudioPlayer::volume() const { return playerNode_->volume(); }

void KavioAudioPlayer::checkForAudioKindChanged() {
    auto manager = outputManager();
    const bool muted = manager && (manager->audioOutputKind() == 10 || manager->isDisabled());
    engine_.setOutputVolume(muted ? 0.0f : 1.0f);
}

void KavioAudioPlayer::setVolume(float volume) {
    checkForAudioKindChanged();
    if (std::abs(volume - playerNode_->volume()) <= 0.0001f) return;
    playerNode_->setVolume(volume);
    currentvolume_ = volume;
    if (cueIsCurrent())
        streamers_.setVolumeA(volume);
    else
        streamers_.setVolumeB(volume);
}

void KavioAudioPlayer::setDelay(int delayMs) { delayinms_ = std::clamp(delayMs, 0, kMaxDelayMs); }

// --- Live buffers ----------------------------------------------------------------------------

void KavioAudioPlayer::scheduleBuffer(const std::shared_ptr<const PcmBuffer>& buffer) {
    if (!isPlaying() || !buffer || buffer->frameLength() == 0 || !buffer->format().isValid()) return;
    const PcmFormat& format = buffer->format();
    if (format.channelCount() != localbufferformat_.channelCount() ||
        format.sampleRate() != localbufferformat_.sampleRate()) {
        localbufferformat_ = format;
        playerNode_->stop();
        audioChannels_ = int32_t(format.channelCount());
        if (auto owner = cue()) owner->setPlayersToDefaultChannelMapping();
        playerNode_->scheduleBuffer(buffer);
        playerNode_->play();
    } else {
        playerNode_->scheduleBuffer(buffer);
    }
    toStreamers(buffer);
}

// --- Engine stop and start -------------------------------------------------------------------

void KavioAudioPlayer::audioEngineWillStop() {
    const bool was = isPlaying();
    stop();
    wasplaying_ = was;
    currenttime_ = -1.0;
}

void KavioAudioPlayer::audioEngineDidStart() {
    if (removed_) return;
    if (isFilePlayer_) {
        if (auto owner = cue()) setCurrentTime(owner->currentTimeForAudioWithPlayer(this));
        queue_->sync([this] { fillBuffers(); });
    }
    setVolume(currentvolume_);
    if (wasplaying_) startPlayback();
}

// --- Meters and removal ----------------------------------------------------------------------

void KavioAudioPlayer::updateMeters() {
    const std::vector<double> levels =
        engine_.meteringDataOnBus(mixerbus_, int(std::min<uint32_t>(localFormat().channelCount(), kMeterChannels)));
    for (size_t c = 0; c < levels.size(); ++c) channelmeters_[c].store(levels[c]);
}

std::vector<double> KavioAudioPlayer::meterLevels() const {
    std::vector<double> meters;
    for (const auto& meter : channelmeters_) meters.push_back(meter.load());
    return meters;
}

QList<float> KavioAudioPlayer::channelMeters() {
    updateMeters();
    QList<float> meters;
    for (const auto& meter : channelmeters_) meters.append(float(meter.load()));
    return meters;
}

void KavioAudioPlayer::removeResources() {
    if (removed_ || !queue_) return;
    stop();
    removed_ = true;
    engine_.disconnectBus(mixerbus_);
    queue_->sync([this] {
        assetReader_.reset();
        preloadedBuffers_.clear();
    });
    parentCue_.reset();
}
