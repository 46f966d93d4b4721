#include "VideoFrameSource.h"

#include "FFmpegSupport.h"
#include "VideoFrameConverter.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

using namespace MediaFFmpeg;

namespace {

struct QueuedFrame {
    int64_t pts;  // stream time base, file offset included
    uint64_t serial;
    VideoFrameRef frame;
};

struct Seek {
    MediaTime time;
    std::function<void(bool)> completion;
};

struct RawFrame {
    FramePtr picture;
    uint64_t generation;
};

}  // namespace

struct VideoFrameSource::State {
    // Fixed after open.
    std::string path;
    VideoFrameSourceOptions options;
    OpenedTrack track;
    int64_t ptsStep = 1;  // one nominal frame in the time base, for frames without a timestamp
    MediaTime frameDuration;
    int width = 0, height = 0;

    // Decoding and converting overlap: the worker decodes and hands pictures to the converting
    // thread; only the two pictures a seek ends on are converted by the worker itself.
    std::unique_ptr<StreamDecoder> decoder;              // worker only
    std::unique_ptr<VideoFrameConverter> seekConverter;  // worker only
    std::unique_ptr<VideoFrameConverter> converter;      // converting thread only

    // Shared, under `mutex`.
    mutable std::mutex mutex;
    std::condition_variable workerWake;
    std::condition_variable converterWake;
    std::condition_variable frameReady;
    std::deque<QueuedFrame> queue;
    std::deque<RawFrame> raw;  // decoded, waiting for the converting thread
    bool converting = false;
    bool decodeEnded = false;       // the worker has decoded the last picture
    bool frontHoldsEarlier = true;  // the queue's first frame is the track's first frame
    bool positioned = true;         // the queue follows a finished seek (or the start)
    bool ended = false;
    bool stop = false;
    uint64_t generation = 0;  // changes with every seek and cancel
    std::optional<Seek> pendingSeek;
    bool seekActive = false;  // pending or being carried out
    uint64_t nextSerial = 1;
    uint64_t lastHandedSerial = 0;
    MediaError fatal;
    std::atomic<int> unconvertible{0};

    std::thread worker;
    std::thread converterThread;

    void run();
    void convertLoop();
    void performSeek(Seek seek, uint64_t gen);
    void decodeAndQueueOne(uint64_t gen);
    FramePtr decodeNext();
    VideoFrameRef convert(VideoFrameConverter& with, const AVFrame* frame);
    size_t framesInFlight() const { return queue.size() + raw.size() + (converting ? 1 : 0); }

    // Under `mutex`.
    long indexFor(int64_t t) const;
    bool isExact(long index, int64_t t) const;
    void releaseBefore(long index);
    int64_t ticks(const MediaTime& time) const {
        return fromMediaTime(time, track.stream->time_base) + track.offset;
    }
};

std::unique_ptr<VideoFrameSource> VideoFrameSource::open(const std::string& path,
                                                         const VideoFrameSourceOptions& options,
                                                         MediaError* error) {
    auto state = std::make_unique<State>();
    state->path = path;
    state->options = options;
    state->options.queueCapacity = std::max(2, options.queueCapacity);
    OpenedTrack& track = state->track;
    if (!openTrack(path, AVMEDIA_TYPE_VIDEO, options.decoderThreads, track, error)) return nullptr;
    AVStream* stream = track.stream;
    AVRational rate =
        stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) {
        state->frameDuration = MediaTime::make(rate.den, rate.num);
        state->ptsStep = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), stream->time_base));
    }
    state->width = stream->codecpar->width;
    state->height = stream->codecpar->height;
    state->converter =
        std::make_unique<VideoFrameConverter>(options.pixelFormat, options.decoderThreads);
    state->seekConverter =
        std::make_unique<VideoFrameConverter>(options.pixelFormat, options.decoderThreads);
    state->decoder = std::make_unique<StreamDecoder>(track.format.get(), track.codec.get(),
                                                     track.streamIndex, state->ptsStep, path);

    State* raw = state.get();
    state->worker = std::thread([raw] { raw->run(); });
    state->converterThread = std::thread([raw] { raw->convertLoop(); });
    return std::unique_ptr<VideoFrameSource>(new VideoFrameSource(std::move(state)));
}

VideoFrameSource::VideoFrameSource(std::unique_ptr<State> state) : state_(std::move(state)) {}

VideoFrameSource::~VideoFrameSource() {
    std::optional<Seek> pending;
    {
        std::lock_guard lock(state_->mutex);
        state_->stop = true;
        ++state_->generation;
        pending.swap(state_->pendingSeek);
    }
    state_->workerWake.notify_all();
    state_->converterWake.notify_all();
    state_->frameReady.notify_all();
    if (state_->worker.joinable()) state_->worker.join();
    if (state_->converterThread.joinable()) state_->converterThread.join();
    if (pending && pending->completion) pending->completion(false);
}

MediaPixelFormat VideoFrameSource::pixelFormat() const {
    return state_->options.pixelFormat;
}
int VideoFrameSource::width() const {
    return state_->width;
}
int VideoFrameSource::height() const {
    return state_->height;
}
MediaTime VideoFrameSource::nominalFrameDuration() const {
    return state_->frameDuration;
}

void VideoFrameSource::seekToTime(const MediaTime& time, std::function<void(bool)> completion) {
    std::optional<Seek> replaced;
    {
        std::lock_guard lock(state_->mutex);
        ++state_->generation;
        replaced.swap(state_->pendingSeek);
        state_->pendingSeek = Seek{time, std::move(completion)};
        state_->seekActive = true;
        state_->positioned = false;
        state_->queue.clear();
        state_->raw.clear();
        state_->ended = false;
        state_->decodeEnded = false;
        state_->lastHandedSerial = 0;
    }
    state_->workerWake.notify_all();
    state_->frameReady.notify_all();
    if (replaced && replaced->completion) replaced->completion(false);
}

void VideoFrameSource::cancelPendingSeeks() {
    std::optional<Seek> cancelled;
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->seekActive) return;
        ++state_->generation;
        state_->seekActive = false;
        cancelled.swap(state_->pendingSeek);
    }
    state_->frameReady.notify_all();
    if (cancelled && cancelled->completion) cancelled->completion(false);
}

bool VideoFrameSource::hasNewFrameForItemTime(const MediaTime& time) const {
    std::lock_guard lock(state_->mutex);
    const long index = state_->indexFor(state_->ticks(time));
    return index >= 0 && state_->queue[size_t(index)].serial != state_->lastHandedSerial;
}

VideoFrameRef VideoFrameSource::copyFrameForItemTime(const MediaTime& time,
                                                     MediaTime* displayTime) {
    VideoFrameRef frame;
    {
        std::lock_guard lock(state_->mutex);
        const long index = state_->indexFor(state_->ticks(time));
        if (index < 0) return nullptr;
        state_->releaseBefore(index);
        const QueuedFrame& shown = state_->queue.front();
        state_->lastHandedSerial = shown.serial;
        frame = shown.frame;
    }
    state_->workerWake.notify_all();
    if (displayTime) *displayTime = frame->presentationTime();
    return frame;
}

bool VideoFrameSource::waitForItemTime(const MediaTime& time, double timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(timeoutSeconds));
    std::unique_lock lock(state_->mutex);
    const int64_t t = state_->ticks(time);
    for (;;) {
        if (state_->stop) return false;
        if (state_->positioned) {
            long index = state_->indexFor(t);
            if (index > 0) {
                state_->releaseBefore(index);
                state_->workerWake.notify_all();
                index = 0;
            }
            if (state_->isExact(index, t)) return true;
            if (state_->ended) return false;
        } else if (!state_->seekActive) {
            return false;  // a cancelled seek: nothing comes until the next one
        }
        if (state_->frameReady.wait_until(lock, deadline) == std::cv_status::timeout)
            return state_->positioned && state_->isExact(state_->indexFor(t), t);
    }
}

bool VideoFrameSource::isAtEnd() const {
    std::lock_guard lock(state_->mutex);
    return state_->positioned && state_->ended;
}

int VideoFrameSource::skippedFrameCount() const {
    return state_->decoder->skippedCount() + state_->unconvertible.load();
}

MediaError VideoFrameSource::error() const {
    std::lock_guard lock(state_->mutex);
    return state_->fatal;
}

// ---- queue bookkeeping (under the lock) ----

long VideoFrameSource::State::indexFor(int64_t t) const {
    if (!positioned || queue.empty()) return -1;
    long found = -1;
    for (size_t i = 0; i < queue.size() && queue[i].pts <= t; ++i)
        found = long(i);
    if (found < 0 && frontHoldsEarlier) found = 0;
    return found;
}

bool VideoFrameSource::State::isExact(long index, int64_t t) const {
    if (index < 0) return false;
    return size_t(index) + 1 < queue.size() || ended || t < queue[size_t(index)].pts;
}

void VideoFrameSource::State::releaseBefore(long index) {
    if (index > 0) {
        queue.erase(queue.begin(), queue.begin() + index);
        frontHoldsEarlier = false;
    }
}

// ---- worker ----

void VideoFrameSource::State::run() {
    for (;;) {
        std::optional<Seek> seek;
        uint64_t gen;
        {
            std::unique_lock lock(mutex);
            workerWake.wait(lock, [this] {
                return stop || pendingSeek ||
                       (positioned && !decodeEnded &&
                        framesInFlight() < size_t(options.queueCapacity));
            });
            if (stop) return;
            seek.swap(pendingSeek);
            gen = generation;
        }
        if (seek)
            performSeek(std::move(*seek), gen);
        else
            decodeAndQueueOne(gen);
    }
}

void VideoFrameSource::State::performSeek(Seek seek, uint64_t gen) {
    auto stillCurrent = [&] {
        std::lock_guard lock(mutex);
        return generation == gen && !stop;
    };
    const int64_t target = ticks(seek.time);
    bool fromStart = false;
    decoder->seek(target, false);
    FramePtr candidate, after;
    bool trackEnded = false;
    for (;;) {
        if (!stillCurrent()) {
            if (seek.completion) seek.completion(false);
            return;
        }
        FramePtr frame = decodeNext();
        const bool overshot = !frame || frame->best_effort_timestamp > target;
        if (overshot && !candidate && !fromStart) {
            // The demuxer's index put us past the target: decode from the very start instead.
            fromStart = true;
            decoder->seek(target, true);
            continue;
        }
        if (!frame) {
            trackEnded = true;
            break;
        }
        if (!overshot) {
            candidate = std::move(frame);
            continue;
        }
        after = std::move(frame);
        break;
    }
    VideoFrameRef shown = candidate ? convert(*seekConverter, candidate.get()) : nullptr;
    VideoFrameRef next = after ? convert(*seekConverter, after.get()) : nullptr;
    bool finished = false;
    {
        std::lock_guard lock(mutex);
        // Replaced while converting: the newer seek owns the queue then.
        if (generation == gen && !stop) {
            queue.clear();
            raw.clear();
            if (shown) queue.push_back({candidate->best_effort_timestamp, nextSerial++, shown});
            if (next) queue.push_back({after->best_effort_timestamp, nextSerial++, next});
            frontHoldsEarlier = !candidate;  // only the track's first frame can come without one
            ended = decodeEnded = trackEnded;
            positioned = true;
            seekActive = false;
            frameReady.notify_all();
            finished = true;
        }
    }
    if (seek.completion) seek.completion(finished);
}

void VideoFrameSource::State::decodeAndQueueOne(uint64_t gen) {
    FramePtr picture = decodeNext();
    std::lock_guard lock(mutex);
    if (generation != gen || !positioned) return;
    if (picture) {
        raw.push_back({std::move(picture), gen});
        converterWake.notify_one();
        return;
    }
    decodeEnded = true;
    if (raw.empty() && !converting) {
        ended = true;
        frameReady.notify_all();
    }
}

void VideoFrameSource::State::convertLoop() {
    for (;;) {
        RawFrame item;
        {
            std::unique_lock lock(mutex);
            converterWake.wait(lock, [this] { return stop || !raw.empty(); });
            if (stop) return;
            item = std::move(raw.front());
            raw.pop_front();
            converting = true;
        }
        VideoFrameRef converted = convert(*converter, item.picture.get());
        if (!converted) ++unconvertible;
        {
            std::lock_guard lock(mutex);
            converting = false;
            if (item.generation == generation && positioned) {
                const int64_t pts = item.picture->best_effort_timestamp;
                if (converted && (queue.empty() || pts > queue.back().pts))
                    queue.push_back({pts, nextSerial++, converted});
                if (decodeEnded && raw.empty()) ended = true;
            }
            frameReady.notify_all();
        }
        workerWake.notify_all();
    }
}

FramePtr VideoFrameSource::State::decodeNext() {
    FramePtr frame = decoder->next();
    if (!frame && decoder->failure()) {
        std::lock_guard lock(mutex);
        fatal = decoder->failure();
    }
    return frame;
}

VideoFrameRef VideoFrameSource::State::convert(VideoFrameConverter& with, const AVFrame* frame) {
    return with.convert(
        frame, toMediaTime(frame->best_effort_timestamp - track.offset, track.stream->time_base));
}
