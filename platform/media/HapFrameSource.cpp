#include "HapFrameSource.h"

#include "FFmpegSupport.h"
#include "Log.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

using namespace MediaFFmpeg;

namespace {

struct Queued {
    int64_t pts;  // stream time base, file offset included
    uint64_t serial;
    HapFrameRef frame;
};

struct Seek {
    MediaTime time;
    std::function<void(bool)> completion;
};

// Read errors in a row after which the demuxer counts as failed for good.
constexpr int kMaxReadFailures = 32;

}  // namespace

struct HapFrameSource::State {
    // Fixed after open.
    std::string path;
    size_t capacity = 4;
    FormatPtr format;
    AVStream* stream = nullptr;
    int streamIndex = -1;
    int64_t offset = 0;
    int64_t ptsStep = 1;
    uint32_t subType = 0;
    int width = 0, height = 0;
    MediaTime frameDuration;

    // Worker only.
    PacketPtr packet{av_packet_alloc()};
    int64_t lastPts = AV_NOPTS_VALUE;

    mutable std::mutex mutex;
    std::condition_variable workerWake;
    std::condition_variable frameReady;
    std::deque<Queued> queue;
    bool frontHoldsEarlier = true;  // the queue's first frame also shows before its own time
    bool positioned = true;         // the queue follows a finished seek (or the start)
    bool ended = false;
    bool stop = false;
    bool seekActive = false;
    uint64_t generation = 0;
    std::optional<Seek> pendingSeek;
    uint64_t nextSerial = 1;
    uint64_t lastHandedSerial = 0;
    MediaError fatal;
    int skipped = 0;

    std::thread worker;

    void run();
    void performSeek(Seek seek, uint64_t gen);
    bool readPacket();  // the next packet of the track into `packet`; false at the end
    HapFrameRef parsePacket();
    int64_t ticks(const MediaTime& t) const { return fromMediaTime(t, stream->time_base) + offset; }

    // Under `mutex`.
    long indexFor(int64_t t) const {
        if (!positioned || queue.empty()) return -1;
        long found = -1;
        for (size_t i = 0; i < queue.size() && queue[i].pts <= t; ++i) found = long(i);
        return found < 0 && frontHoldsEarlier ? 0 : found;
    }
    bool isExact(long index, int64_t t) const {
        return index >= 0 && (size_t(index) + 1 < queue.size() || ended || t < queue[size_t(index)].pts);
    }
    void releaseBefore(long index) {
        if (index <= 0) return;
        queue.erase(queue.begin(), queue.begin() + index);
        frontHoldsEarlier = false;
    }
};

std::unique_ptr<HapFrameSource> HapFrameSource::open(const std::string& path, int queueCapacity,
                                                     MediaError* error) {
    auto state = std::make_unique<State>();
    state->path = path;
    state->capacity = size_t(std::max(2, queueCapacity));
    state->format = openInput(path, error);
    if (!state->format) return nullptr;
    state->streamIndex = firstStream(state->format.get(), AVMEDIA_TYPE_VIDEO);
    if (state->streamIndex < 0) {
        setError(error, MediaErrorCode::NoSuchTrack, path + ": no video track");
        return nullptr;
    }
    AVStream* stream = state->stream = state->format->streams[state->streamIndex];
    if (stream->codecpar->codec_id != AV_CODEC_ID_HAP) {
        setError(error, MediaErrorCode::NoDecoder, path + ": the video track is not Hap");
        return nullptr;
    }
    for (unsigned i = 0; i < state->format->nb_streams; ++i)
        if (int(i) != state->streamIndex) state->format->streams[i]->discard = AVDISCARD_ALL;
    const uint32_t tag = stream->codecpar->codec_tag;  // little-endian in FFmpeg
    state->subType = (tag & 0xff) << 24 | (tag >> 8 & 0xff) << 16 | (tag >> 16 & 0xff) << 8 | tag >> 24;
    state->width = stream->codecpar->width;
    state->height = stream->codecpar->height;
    state->offset = startOffset(state->format.get(), stream);
    const AVRational rate = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) {
        state->frameDuration = MediaTime::make(rate.den, rate.num);
        state->ptsStep = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), stream->time_base));
    }
    State* raw = state.get();
    state->worker = std::thread([raw] { raw->run(); });
    return std::unique_ptr<HapFrameSource>(new HapFrameSource(std::move(state)));
}

HapFrameSource::HapFrameSource(std::unique_ptr<State> state) : state_(std::move(state)) {}

HapFrameSource::~HapFrameSource() {
    std::optional<Seek> pending;
    {
        std::lock_guard lock(state_->mutex);
        state_->stop = true;
        ++state_->generation;
        pending.swap(state_->pendingSeek);
    }
    state_->workerWake.notify_all();
    state_->frameReady.notify_all();
    if (state_->worker.joinable()) state_->worker.join();
    if (pending && pending->completion) pending->completion(false);
}

uint32_t HapFrameSource::codecSubType() const { return state_->subType; }
int HapFrameSource::width() const { return state_->width; }
int HapFrameSource::height() const { return state_->height; }
MediaTime HapFrameSource::nominalFrameDuration() const { return state_->frameDuration; }

void HapFrameSource::seekToTime(const MediaTime& time, std::function<void(bool)> completion) {
    std::optional<Seek> replaced;
    {
        std::lock_guard lock(state_->mutex);
        ++state_->generation;
        replaced.swap(state_->pendingSeek);
        state_->pendingSeek = Seek{time, std::move(completion)};
        state_->seekActive = true;
        state_->positioned = false;
        state_->queue.clear();
        state_->ended = false;
        state_->lastHandedSerial = 0;
    }
    state_->workerWake.notify_all();
    state_->frameReady.notify_all();
    if (replaced && replaced->completion) replaced->completion(false);
}

void HapFrameSource::cancelPendingSeeks() {
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

bool HapFrameSource::hasNewFrameForItemTime(const MediaTime& time) const {
    std::lock_guard lock(state_->mutex);
    const long index = state_->indexFor(state_->ticks(time));
    return index >= 0 && state_->queue[size_t(index)].serial != state_->lastHandedSerial;
}

HapFrameRef HapFrameSource::copyFrameForItemTime(const MediaTime& time, MediaTime* displayTime) {
    HapFrameRef frame;
    {
        std::lock_guard lock(state_->mutex);
        const long index = state_->indexFor(state_->ticks(time));
        if (index < 0) return nullptr;
        state_->releaseBefore(index);
        state_->lastHandedSerial = state_->queue.front().serial;
        frame = state_->queue.front().frame;
    }
    state_->workerWake.notify_all();
    if (displayTime) *displayTime = frame->presentationTime();
    return frame;
}

bool HapFrameSource::waitForItemTime(const MediaTime& time, double timeoutSeconds) {
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
            return false;
        }
        if (state_->frameReady.wait_until(lock, deadline) == std::cv_status::timeout)
            return state_->positioned && state_->isExact(state_->indexFor(t), t);
    }
}

bool HapFrameSource::isAtEnd() const {
    std::lock_guard lock(state_->mutex);
    return state_->positioned && state_->ended;
}

int HapFrameSource::skippedFrameCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->skipped;
}

MediaError HapFrameSource::error() const {
    std::lock_guard lock(state_->mutex);
    return state_->fatal;
}

// ---- worker ----

void HapFrameSource::State::run() {
    for (;;) {
        std::optional<Seek> seek;
        uint64_t gen;
        {
            std::unique_lock lock(mutex);
            workerWake.wait(lock, [this] {
                return stop || pendingSeek || (positioned && !ended && queue.size() < capacity);
            });
            if (stop) return;
            seek.swap(pendingSeek);
            gen = generation;
        }
        if (seek) {
            performSeek(std::move(*seek), gen);
            continue;
        }
        HapFrameRef frame;
        const bool more = readPacket();
        if (more) frame = parsePacket();
        std::lock_guard lock(mutex);
        if (generation != gen || !positioned) continue;
        if (!more) {
            ended = true;
        } else if (frame && (queue.empty() || packet->pts > queue.back().pts)) {
            queue.push_back({packet->pts, nextSerial++, std::move(frame)});
        }
        frameReady.notify_all();
    }
}

void HapFrameSource::State::performSeek(Seek seek, uint64_t gen) {
    auto stillCurrent = [&] {
        std::lock_guard lock(mutex);
        return generation == gen && !stop;
    };
    const int64_t target = ticks(seek.time);
    if (av_seek_frame(format.get(), streamIndex, target, AVSEEK_FLAG_BACKWARD) < 0)
        av_seek_frame(format.get(), streamIndex, offset, AVSEEK_FLAG_BACKWARD);
    lastPts = AV_NOPTS_VALUE;
    bool fromStart = false;
    PacketPtr candidate{av_packet_alloc()};
    bool haveCandidate = false, trackEnded = false;
    HapFrameRef shown, next;
    int64_t shownPts = 0, nextPts = 0;
    for (;;) {
        if (!stillCurrent()) {
            if (seek.completion) seek.completion(false);
            return;
        }
        if (!readPacket()) {
            trackEnded = true;
            break;
        }
        if (packet->pts <= target) {
            av_packet_unref(candidate.get());
            av_packet_move_ref(candidate.get(), packet.get());
            haveCandidate = true;
            continue;
        }
        if (!haveCandidate && !fromStart) {
            // The index put us past the target: read from the very start instead.
            fromStart = true;
            av_seek_frame(format.get(), streamIndex, offset, AVSEEK_FLAG_BACKWARD);
            lastPts = AV_NOPTS_VALUE;
            continue;
        }
        next = parsePacket();
        nextPts = packet->pts;
        break;
    }
    if (haveCandidate) {
        av_packet_unref(packet.get());
        av_packet_move_ref(packet.get(), candidate.get());
        shown = parsePacket();
        shownPts = packet->pts;
    }
    bool finished = false;
    {
        std::lock_guard lock(mutex);
        if (generation == gen && !stop) {
            queue.clear();
            if (shown) queue.push_back({shownPts, nextSerial++, shown});
            if (next) queue.push_back({nextPts, nextSerial++, next});
            frontHoldsEarlier = !shown;  // a damaged frame at the target: the next one stands in
            ended = trackEnded;
            positioned = true;
            seekActive = false;
            frameReady.notify_all();
            finished = true;
        }
    }
    workerWake.notify_all();
    if (seek.completion) seek.completion(finished);
}

bool HapFrameSource::State::readPacket() {
    int failures = 0;
    for (;;) {
        av_packet_unref(packet.get());
        const int rc = av_read_frame(format.get(), packet.get());
        if (rc == AVERROR_EOF) return false;
        if (rc < 0) {
            if (++failures < kMaxReadFailures) continue;
            std::lock_guard lock(mutex);
            fatal = {MediaErrorCode::DecodeFailed, path + ": reading failed: " + errorString(rc)};
            return false;
        }
        if (packet->stream_index != streamIndex) continue;
        if (packet->pts == AV_NOPTS_VALUE) packet->pts = packet->dts;
        if (packet->pts == AV_NOPTS_VALUE)
            packet->pts = lastPts == AV_NOPTS_VALUE ? offset : lastPts + ptsStep;
        lastPts = packet->pts;
        return true;
    }
}

HapFrameRef HapFrameSource::State::parsePacket() {
    HapFrameRef frame = HapDecoderFrame::decode(packet->data, size_t(packet->size), subType, width,
                                                height, toMediaTime(packet->pts - offset, stream->time_base));
    if (frame->isValid()) return frame;
    int count;
    {
        std::lock_guard lock(mutex);
        count = ++skipped;
    }
    if (count <= 3) KLOG_WARN("{}: skipped a Hap frame: {}", path, frame->error());
    return nullptr;
}
