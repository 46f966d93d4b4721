#include "MediaPlayer.h"

#include "DispatchQueue.h"
#include "HapFrameSource.h"
#include "Log.h"
#include "VideoFrameSource.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <time.h>

namespace {

constexpr int32_t kNanoscale = 1000000000;

int64_t nowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * kNanoscale + now.tv_nsec;
}

int64_t toNs(const MediaTime& t) {
    return int64_t(__int128(t.value) * kNanoscale / t.timescale);
}

struct Pending {
    uint64_t generation = 0;
    DispatchQueue* queue = nullptr;
    MediaPlayer::Completion completion;
};

struct Observer {
    int token;
    DispatchQueue* queue;
    MediaPlayer::EventHandler handler;
    std::shared_ptr<std::atomic<bool>> alive;
};

void deliver(std::optional<Pending> pending, bool finished) {
    if (!pending || !pending->completion) return;
    pending->queue->async([completion = std::move(pending->completion), finished] {
        completion(finished);
    });
}

template <class T>
std::optional<T> take(std::optional<T>& slot) {
    std::optional<T> taken;
    taken.swap(slot);
    return taken;
}

}  // namespace

struct MediaPlayer::State {
    // Fixed after open.
    std::shared_ptr<const MediaAsset> asset;
    MediaTime duration;
    MediaTime frameDuration;
    std::unique_ptr<VideoFrameSource> video;  // exactly one of the two
    std::unique_ptr<HapFrameSource> hap;
    std::unique_ptr<DispatchQueue> worker;  // preroll waits and end checks
    std::weak_ptr<State> self;

    // Serialises the operations that move the frame source, so its seeks keep the order of
    // the player's own. Never taken by a callback.
    std::mutex control;

    mutable std::mutex mutex;
    MediaTime anchorItem = MediaTime::zero();  // the clock read anchorItem at anchorHost
    int64_t anchorHost = 0;
    bool anchorHostFixed = false;  // a start at a given host time: keep it after a seek
    double rate = 0;
    bool seeking = false;  // the clock holds at anchorItem until the frames there are decoded
    uint64_t seekGeneration = 0;
    std::optional<Pending> seekCompletion;
    uint64_t prerollGeneration = 0;
    std::optional<Pending> preroll;
    uint64_t clockGeneration = 0;
    bool endPosted = false;
    bool stopping = false;
    std::vector<Observer> observers;
    int nextToken = 1;

    MediaTime clamp(const MediaTime& t) const {
        if (!t.isNumeric() || t < MediaTime::zero()) return MediaTime::zero();
        return duration.isNumeric() && t > duration ? duration : t;
    }
    MediaTime currentLocked(int64_t now) const {
        if (rate == 0 || seeking) return anchorItem;
        const int64_t elapsed = std::llround(double(now - anchorHost) * rate);
        return clamp(MediaTime::make(toNs(anchorItem) + elapsed, kNanoscale));
    }

    void postEvent(MediaPlayerEvent event);
    // Under `control`: moves the frame source to `target`; the clock holds until it is there.
    void seekFrames(const MediaTime& target, uint64_t generation);
    void frameSeekEnded(uint64_t generation, bool finished);
    void runPreroll(uint64_t generation);
    void scheduleEndCheck();
    void checkEnd(uint64_t generation);
    bool framesReadyAt(const MediaTime& t, double timeoutSeconds) {
        return video ? video->waitForItemTime(t, timeoutSeconds)
                     : hap->waitForItemTime(t, timeoutSeconds);
    }
    bool framesEnded() const {
        return video ? video->isAtEnd() || video->error() : hap->isAtEnd() || hap->error();
    }
};

std::unique_ptr<MediaPlayer> MediaPlayer::open(const std::string& path,
                                               const MediaPlayerOptions& options,
                                               MediaError* error) {
    auto asset = MediaAsset::open(path, error);
    if (!asset) return nullptr;
    auto state = std::make_shared<State>();
    state->self = state;
    state->asset = asset;
    if (asset->isHap()) {
        state->hap = HapFrameSource::open(path, options.queueCapacity, error);
        if (!state->hap) return nullptr;
        state->frameDuration = state->hap->nominalFrameDuration();
    } else {
        VideoFrameSourceOptions frameOptions;
        frameOptions.pixelFormat = options.pixelFormat;
        frameOptions.queueCapacity = options.queueCapacity;
        frameOptions.decoderThreads = options.decoderThreads;
        state->video = VideoFrameSource::open(path, frameOptions, error);
        if (!state->video) return nullptr;
        state->frameDuration = state->video->nominalFrameDuration();
    }
    const MediaTrack* track = asset->firstVideoTrack();
    state->duration = track && track->duration.isNumeric() ? track->duration : asset->duration();
    state->worker = std::make_unique<DispatchQueue>("com.kavio.mediaplayer");
    return std::unique_ptr<MediaPlayer>(new MediaPlayer(std::move(state)));
}

MediaPlayer::MediaPlayer(std::shared_ptr<State> state) : state_(std::move(state)) {}

MediaPlayer::~MediaPlayer() {
    std::optional<Pending> seek, preroll;
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        seek = take(state_->seekCompletion);
        preroll = take(state_->preroll);
        for (Observer& observer : state_->observers) *observer.alive = false;
        state_->observers.clear();
    }
    state_->worker.reset();
    deliver(std::move(seek), false);
    deliver(std::move(preroll), false);
    state_->video.reset();
    state_->hap.reset();
}

MediaTime MediaPlayer::hostTimeNow() {
    return MediaTime::make(nowNs(), kNanoscale);
}

const MediaAsset& MediaPlayer::asset() const { return *state_->asset; }
MediaTime MediaPlayer::duration() const { return state_->duration; }
bool MediaPlayer::isHap() const { return state_->hap != nullptr; }

float MediaPlayer::rate() const {
    std::lock_guard lock(state_->mutex);
    return float(state_->rate);
}

MediaTime MediaPlayer::currentTime() const {
    std::lock_guard lock(state_->mutex);
    return state_->currentLocked(nowNs());
}

void MediaPlayer::setRate(float rate, const MediaTime& itemTime, const MediaTime& hostTime) {
    if (rate < 0 || !std::isfinite(rate)) {
        KLOG_WARN("{}: rate {} not supported, pausing", state_->asset->path(), rate);
        rate = 0;
    }
    std::lock_guard control(state_->control);
    std::optional<Pending> preroll, replacedSeek;
    std::optional<uint64_t> jump;
    MediaTime target;
    {
        std::lock_guard lock(state_->mutex);
        const int64_t now = nowNs();
        const MediaTime current = state_->currentLocked(now);
        target = itemTime.isNumeric() ? state_->clamp(itemTime) : current;
        if (target != current) {
            jump = ++state_->seekGeneration;
            replacedSeek = take(state_->seekCompletion);
            state_->seeking = true;
            state_->endPosted = false;
        }
        if (rate != 0) {
            preroll = take(state_->preroll);
            ++state_->prerollGeneration;
        }
        state_->anchorItem = target;
        state_->anchorHostFixed = hostTime.isNumeric();
        state_->anchorHost = state_->anchorHostFixed ? toNs(hostTime) : now;
        state_->rate = rate;
        ++state_->clockGeneration;
    }
    deliver(std::move(preroll), false);
    deliver(std::move(replacedSeek), false);
    if (jump) {
        state_->postEvent(MediaPlayerEvent::TimeJumped);
        state_->seekFrames(target, *jump);
    }
    state_->scheduleEndCheck();
}

void MediaPlayer::pause() {
    setRate(0);
}

void MediaPlayer::seekToTime(const MediaTime& time, const MediaTime& toleranceBefore,
                             const MediaTime& toleranceAfter, DispatchQueue& queue,
                             Completion completion) {
    std::lock_guard control(state_->control);
    const MediaTime target = state_->clamp(time);
    MediaTime landing = target;
    const bool exact = toleranceBefore == MediaTime::zero() && toleranceAfter == MediaTime::zero();
    if (!exact && state_->frameDuration.isNumeric()) {
        const MediaTime& frame = state_->frameDuration;
        const int64_t index =
            int64_t(__int128(target.value) * frame.timescale / (__int128(target.timescale) * frame.value));
        const MediaTime start = MediaTime::make(index * frame.value, frame.timescale);
        if (target - start <= toleranceBefore) landing = start;
    }
    std::optional<Pending> replaced, preroll;
    uint64_t generation;
    {
        std::lock_guard lock(state_->mutex);
        generation = ++state_->seekGeneration;
        replaced = take(state_->seekCompletion);
        state_->seekCompletion = Pending{generation, &queue, std::move(completion)};
        preroll = take(state_->preroll);
        ++state_->prerollGeneration;
        state_->anchorItem = landing;
        state_->anchorHost = nowNs();
        state_->anchorHostFixed = false;
        state_->seeking = true;
        state_->endPosted = false;
        ++state_->clockGeneration;
    }
    deliver(std::move(replaced), false);
    deliver(std::move(preroll), false);
    state_->postEvent(MediaPlayerEvent::TimeJumped);
    state_->seekFrames(target, generation);
}

void MediaPlayer::cancelPendingSeeks() {
    std::optional<Pending> cancelled;
    {
        std::lock_guard lock(state_->mutex);
        cancelled = take(state_->seekCompletion);
    }
    deliver(std::move(cancelled), false);
}

void MediaPlayer::prerollAtRate(float, DispatchQueue& queue, Completion completion) {
    // Frames decode forward at any rate, so the rate asked for changes nothing here.
    std::optional<Pending> replaced;
    uint64_t generation = 0;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->rate != 0) {
            replaced = Pending{0, &queue, std::move(completion)};  // nothing to preroll: playing
        } else {
            replaced = take(state_->preroll);
            generation = ++state_->prerollGeneration;
            state_->preroll = Pending{generation, &queue, std::move(completion)};
        }
    }
    deliver(std::move(replaced), false);
    if (generation == 0) return;
    std::weak_ptr<State> weak = state_;
    state_->worker->async([weak, generation] {
        if (auto state = weak.lock()) state->runPreroll(generation);
    });
}

void MediaPlayer::cancelPendingPrerolls() {
    std::optional<Pending> cancelled;
    {
        std::lock_guard lock(state_->mutex);
        cancelled = take(state_->preroll);
        ++state_->prerollGeneration;
    }
    deliver(std::move(cancelled), false);
}

int MediaPlayer::addEventObserver(DispatchQueue& queue, EventHandler handler) {
    std::lock_guard lock(state_->mutex);
    const int token = state_->nextToken++;
    state_->observers.push_back(
        {token, &queue, std::move(handler), std::make_shared<std::atomic<bool>>(true)});
    return token;
}

void MediaPlayer::removeEventObserver(int token) {
    std::lock_guard lock(state_->mutex);
    auto& list = state_->observers;
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->token != token) continue;
        *it->alive = false;
        list.erase(it);
        return;
    }
}

bool MediaPlayer::hasNewFrameForItemTime(const MediaTime& time) const {
    return state_->video ? state_->video->hasNewFrameForItemTime(time)
                         : state_->hap->hasNewFrameForItemTime(time);
}

VideoFrameRef MediaPlayer::copyFrameForItemTime(const MediaTime& time, MediaTime* displayTime) {
    return state_->video ? state_->video->copyFrameForItemTime(time, displayTime) : nullptr;
}

HapFrameRef MediaPlayer::copyHapFrameForItemTime(const MediaTime& time, MediaTime* displayTime) {
    return state_->hap ? state_->hap->copyFrameForItemTime(time, displayTime) : nullptr;
}

// ---- inside ----

void MediaPlayer::State::postEvent(MediaPlayerEvent event) {
    std::vector<Observer> targets;
    {
        std::lock_guard lock(mutex);
        targets = observers;
    }
    for (Observer& observer : targets)
        observer.queue->async([handler = std::move(observer.handler), alive = observer.alive, event] {
            if (*alive) handler(event);
        });
}

void MediaPlayer::State::seekFrames(const MediaTime& target, uint64_t generation) {
    std::weak_ptr<State> weak = self;
    auto ended = [weak, generation](bool finished) {
        if (auto state = weak.lock()) state->frameSeekEnded(generation, finished);
    };
    if (video)
        video->seekToTime(target, ended);
    else
        hap->seekToTime(target, ended);
}

void MediaPlayer::State::frameSeekEnded(uint64_t generation, bool finished) {
    std::optional<Pending> done;
    {
        std::lock_guard lock(mutex);
        // A replaced seek's completion already ran when it was replaced.
        if (stopping || generation != seekGeneration) return;
        seeking = false;
        if (!anchorHostFixed) anchorHost = nowNs();
        ++clockGeneration;
        if (seekCompletion && seekCompletion->generation == generation) done = take(seekCompletion);
    }
    deliver(std::move(done), finished);
    scheduleEndCheck();
}

void MediaPlayer::State::runPreroll(uint64_t generation) {
    const int64_t deadline = nowNs() + int64_t(kPrerollTimeoutSeconds * kNanoscale);
    bool ready = false;
    for (;;) {
        MediaTime t;
        bool held;
        {
            std::lock_guard lock(mutex);
            if (stopping || generation != prerollGeneration) return;
            t = currentLocked(nowNs());
            held = seeking;
        }
        if (framesReadyAt(t, 0.02)) {
            if (!held) {
                ready = true;
                break;
            }
            // The frames are there but the seek's completion is still on its way: let it
            // report first, as the seek came first.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if (!held && framesEnded()) break;  // nothing decodable at this time
        if (nowNs() > deadline) {
            KLOG_WARN("{}: preroll gave up: no frame decoded at {}", asset->path(), t.seconds());
            break;
        }
    }
    std::optional<Pending> done;
    {
        std::lock_guard lock(mutex);
        if (generation == prerollGeneration) done = take(preroll);
    }
    deliver(std::move(done), ready);
}

void MediaPlayer::State::scheduleEndCheck() {
    // Under the lock, so the destructor's `stopping` is seen before the worker goes away.
    std::lock_guard lock(mutex);
    if (stopping || rate <= 0 || seeking || endPosted || !duration.isNumeric()) return;
    const int64_t left = toNs(duration) - toNs(currentLocked(nowNs()));
    const auto wait = std::chrono::nanoseconds(std::max<int64_t>(0, std::llround(double(left) / rate)));
    std::weak_ptr<State> weak = self;
    worker->asyncAfter(wait, [weak, generation = clockGeneration] {
        if (auto state = weak.lock()) state->checkEnd(generation);
    });
}

void MediaPlayer::State::checkEnd(uint64_t generation) {
    bool reached;
    {
        std::lock_guard lock(mutex);
        if (stopping || generation != clockGeneration || endPosted) return;
        reached = endPosted = currentLocked(nowNs()) >= duration;
    }
    if (reached)
        postEvent(MediaPlayerEvent::EndReached);
    else
        scheduleEndCheck();  // host-time rounding: not quite there yet
}
