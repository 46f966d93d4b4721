#include "VideoFrameSource.h"

#include "FFmpegSupport.h"
#include "FrameQueue.h"
#include "VideoFrameConverter.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

using namespace MediaFFmpeg;

namespace {

struct RawFrame {
    FramePtr picture;
    uint64_t generation;
};

}  // namespace

struct VideoFrameSource::State : FrameQueue<VideoFrameRef> {
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

    // Shared with the converting thread, under `mutex`.
    std::condition_variable converterWake;
    std::deque<RawFrame> raw;  // decoded, waiting for the converting thread
    bool converting = false;
    bool decodeEnded = false;  // the worker has decoded the last picture
    std::atomic<int> unconvertible{0};

    std::thread worker;
    std::thread converterThread;

    void convertLoop();
    FramePtr decodeNext();
    VideoFrameRef convert(VideoFrameConverter& with, const AVFrame* frame);
    MediaTime itemTimeOf(const AVFrame* frame) const {
        return toMediaTime(frame->best_effort_timestamp - track.offset, track.stream->time_base);
    }
    int64_t ticks(const MediaTime& time) const {
        return fromMediaTime(time, track.stream->time_base) + track.offset;
    }

    // Counts the pictures the converting thread holds too, so that decoding stays bounded.
    bool wantsMore() const override {
        return !decodeEnded &&
               queue.size() + raw.size() + (converting ? 1 : 0) < size_t(options.queueCapacity);
    }
    void performSeek(Seek seek, uint64_t gen) override;
    void readAhead(uint64_t gen) override;
    void resetReadAhead(bool trackEnded) override {
        raw.clear();
        decodeEnded = trackEnded;
    }
    int skippedCount() const { return decoder->skippedCount() + unconvertible.load(); }
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
    state->worker = std::thread([raw] { raw->runWorker(); });
    state->converterThread = std::thread([raw] { raw->convertLoop(); });
    return std::unique_ptr<VideoFrameSource>(new VideoFrameSource(std::move(state)));
}

VideoFrameSource::VideoFrameSource(std::unique_ptr<State> state) : state_(std::move(state)) {}

VideoFrameSource::~VideoFrameSource() {
    auto pending = state_->requestStop();
    state_->converterWake.notify_all();
    if (state_->worker.joinable()) state_->worker.join();
    if (state_->converterThread.joinable()) state_->converterThread.join();
    State::complete(pending, false);
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
    state_->requestSeek(time, std::move(completion));
}

void VideoFrameSource::cancelPendingSeeks() {
    state_->cancelPendingSeeks();
}

bool VideoFrameSource::hasNewFrameForItemTime(const MediaTime& time) const {
    return state_->hasNewFrameAt(state_->ticks(time));
}

VideoFrameRef VideoFrameSource::copyFrameForItemTime(const MediaTime& time,
                                                     MediaTime* displayTime) {
    return state_->copyFrameAt(state_->ticks(time), displayTime);
}

bool VideoFrameSource::waitForItemTime(const MediaTime& time, double timeoutSeconds) {
    return state_->waitFor(state_->ticks(time), timeoutSeconds);
}

bool VideoFrameSource::isAtEnd() const {
    return state_->isAtEnd();
}

int VideoFrameSource::skippedFrameCount() const {
    return state_->skippedCount();
}

MediaError VideoFrameSource::error() const {
    return state_->error();
}

// ---- worker ----

void VideoFrameSource::State::performSeek(Seek seek, uint64_t gen) {
    const int64_t target = ticks(seek.time);
    bool fromStart = false;
    decoder->seek(target, false);
    FramePtr candidate, after;
    bool trackEnded = false;
    for (;;) {
        if (!isCurrent(gen)) {
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
    Found shown, next;
    if (candidate)
        shown = {convert(*seekConverter, candidate.get()), candidate->best_effort_timestamp};
    if (after) next = {convert(*seekConverter, after.get()), after->best_effort_timestamp};
    // Only the track's first frame can come without a candidate before it.
    const bool holdsEarlier = !candidate;
    finishSeek(std::move(seek), gen, std::move(shown), std::move(next), holdsEarlier, trackEnded);
}

void VideoFrameSource::State::readAhead(uint64_t gen) {
    FramePtr picture = decodeNext();
    // Native pictures the GPU takes as they are need no conversion: the worker queues them
    // itself, sparing each frame the hop to the converting thread and back.
    VideoFrameRef wrapped;
    if (picture && options.pixelFormat == MediaPixelFormat::Native)
        wrapped = seekConverter->wrap(picture.get(), itemTimeOf(picture.get()));
    std::lock_guard lock(mutex);
    if (generation != gen || !positioned) return;
    if (wrapped && raw.empty() && !converting) {  // else behind the pictures still converting
        appendInOrder(picture->best_effort_timestamp, std::move(wrapped));
        frameReady.notify_all();
        return;
    }
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
                appendInOrder(item.picture->best_effort_timestamp, std::move(converted));
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
    return with.convert(frame, itemTimeOf(frame));
}
