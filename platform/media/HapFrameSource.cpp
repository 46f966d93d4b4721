#include "HapFrameSource.h"

#include "FFmpegSupport.h"
#include "FrameQueue.h"
#include "Log.h"

#include <mutex>
#include <thread>

using namespace MediaFFmpeg;

namespace {

// Read errors in a row after which the demuxer counts as failed for good.
constexpr int kMaxReadFailures = 32;

}  // namespace

struct HapFrameSource::State : FrameQueue<HapFrameRef> {
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

    int skipped = 0;  // under `mutex`

    std::thread worker;

    bool readPacket();  // the next packet of the track into `packet`; false at the end
    HapFrameRef parsePacket();
    int64_t ticks(const MediaTime& t) const { return fromMediaTime(t, stream->time_base) + offset; }
    int skippedCount() const {
        std::lock_guard lock(mutex);
        return skipped;
    }

    bool wantsMore() const override { return !ended && queue.size() < capacity; }
    void performSeek(Seek seek, uint64_t gen) override;
    void readAhead(uint64_t gen) override;
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
    state->worker = std::thread([raw] { raw->runWorker(); });
    return std::unique_ptr<HapFrameSource>(new HapFrameSource(std::move(state)));
}

HapFrameSource::HapFrameSource(std::unique_ptr<State> state) : state_(std::move(state)) {}

HapFrameSource::~HapFrameSource() {
    auto pending = state_->requestStop();
    if (state_->worker.joinable()) state_->worker.join();
    State::complete(pending, false);
}

uint32_t HapFrameSource::codecSubType() const { return state_->subType; }
int HapFrameSource::width() const { return state_->width; }
int HapFrameSource::height() const { return state_->height; }
MediaTime HapFrameSource::nominalFrameDuration() const { return state_->frameDuration; }

void HapFrameSource::seekToTime(const MediaTime& time, std::function<void(bool)> completion) {
    state_->requestSeek(time, std::move(completion));
}

void HapFrameSource::cancelPendingSeeks() { state_->cancelPendingSeeks(); }

bool HapFrameSource::hasNewFrameForItemTime(const MediaTime& time) const {
    return state_->hasNewFrameAt(state_->ticks(time));
}

HapFrameRef HapFrameSource::copyFrameForItemTime(const MediaTime& time, MediaTime* displayTime) {
    return state_->copyFrameAt(state_->ticks(time), displayTime);
}

bool HapFrameSource::waitForItemTime(const MediaTime& time, double timeoutSeconds) {
    return state_->waitFor(state_->ticks(time), timeoutSeconds);
}

bool HapFrameSource::isAtEnd() const { return state_->isAtEnd(); }
int HapFrameSource::skippedFrameCount() const { return state_->skippedCount(); }
MediaError HapFrameSource::error() const { return state_->error(); }

// ---- worker ----

void HapFrameSource::State::readAhead(uint64_t gen) {
    HapFrameRef frame;
    const bool more = readPacket();
    if (more) frame = parsePacket();
    std::lock_guard lock(mutex);
    if (generation != gen || !positioned) return;
    if (!more)
        ended = true;
    else
        appendInOrder(packet->pts, std::move(frame));
    frameReady.notify_all();
}

void HapFrameSource::State::performSeek(Seek seek, uint64_t gen) {
    const int64_t target = ticks(seek.time);
    if (av_seek_frame(format.get(), streamIndex, target, AVSEEK_FLAG_BACKWARD) < 0)
        av_seek_frame(format.get(), streamIndex, offset, AVSEEK_FLAG_BACKWARD);
    lastPts = AV_NOPTS_VALUE;
    bool fromStart = false;
    PacketPtr candidate{av_packet_alloc()};
    bool haveCandidate = false, trackEnded = false;
    Found shown, next;
    for (;;) {
        if (!isCurrent(gen)) {
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
        next = {parsePacket(), packet->pts};
        break;
    }
    if (haveCandidate) {
        av_packet_unref(packet.get());
        av_packet_move_ref(packet.get(), candidate.get());
        shown = {parsePacket(), packet->pts};
    }
    // A damaged frame at the target: the next one stands in.
    const bool holdsEarlier = !shown.frame;
    finishSeek(std::move(seek), gen, std::move(shown), std::move(next), holdsEarlier, trackEnded);
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
