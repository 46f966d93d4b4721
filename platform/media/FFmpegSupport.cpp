#include "FFmpegSupport.h"

#include "DecoderBufferStore.h"
#include "Log.h"

#include <climits>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <unistd.h>

namespace MediaFFmpeg {

namespace {

// Past this many failures in a row a stream counts as ended: no endless retrying.
constexpr int kMaxConsecutiveFailures = 50;
constexpr int kMaxConsecutiveReadErrors = 8;

// FFmpeg logs from any thread, decoder threads included; its lines go to our debug level so a
// damaged file does not flood standard error.
void logFromFFmpeg(void* avcl, int level, const char* fmt, va_list args) {
    if (level > AV_LOG_WARNING || !KavioLog::logger().should_log(spdlog::level::debug)) return;
    char line[1024];
    int printPrefix = 1;
    av_log_format_line2(avcl, level, fmt, args, line, sizeof line, &printPrefix);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (!text.empty()) KLOG_DEBUG("ffmpeg: {}", text);
}

}  // namespace

std::string errorString(int averror) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return text;
}

void setError(MediaError* error, MediaErrorCode code, std::string message) {
    if (error) {
        error->code = code;
        error->message = std::move(message);
    }
}

FormatPtr openInput(const std::string& path, MediaError* error) {
    static std::once_flag routeLogs;
    std::call_once(routeLogs, [] { av_log_set_callback(logFromFFmpeg); });

    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(path, ec)) {
        setError(error, MediaErrorCode::FileNotFound, "no file at \"" + path + "\"");
        return nullptr;
    }
    if (!std::filesystem::is_regular_file(path, ec) || access(path.c_str(), R_OK) != 0) {
        setError(error, MediaErrorCode::Unreadable, "cannot read \"" + path + "\"");
        return nullptr;
    }
    AVFormatContext* raw = nullptr;
    int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (rc < 0) {
        setError(error,
                 rc == AVERROR(EACCES) || rc == AVERROR(EIO) ? MediaErrorCode::Unreadable
                                                             : MediaErrorCode::NotMedia,
                 "\"" + path + "\" is not a readable media file: " + errorString(rc));
        return nullptr;
    }
    FormatPtr format(raw);
    rc = avformat_find_stream_info(format.get(), nullptr);
    if (rc < 0) {
        setError(error, MediaErrorCode::NotMedia,
                 "\"" + path + "\" has no readable streams: " + errorString(rc));
        return nullptr;
    }
    return format;
}

int firstStream(const AVFormatContext* format, AVMediaType type) {
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        // Cover art is stored as a one-picture video stream; it is not the movie's video.
        if (stream->codecpar->codec_type == type &&
            !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return int(i);
    }
    return -1;
}

CodecPtr openDecoder(const AVStream* stream, int threads, const std::string& path,
                     MediaError* error) {
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) {
        setError(error, MediaErrorCode::NoDecoder,
                 "no decoder for \"" + std::string(avcodec_get_name(stream->codecpar->codec_id)) +
                     "\" in \"" + path + "\"");
        return nullptr;
    }
    CodecPtr context(avcodec_alloc_context3(codec));
    if (!context || avcodec_parameters_to_context(context.get(), stream->codecpar) < 0) {
        setError(error, MediaErrorCode::NoDecoder,
                 "cannot set up the decoder for \"" + path + "\"");
        return nullptr;
    }
    context->pkt_timebase = stream->time_base;
    DecoderBufferStore::attach(context.get());
    context->thread_count = threads;
    context->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    int rc = avcodec_open2(context.get(), codec, nullptr);
    if (rc < 0) {
        setError(error, MediaErrorCode::NoDecoder,
                 "cannot open the " + std::string(codec->name) + " decoder for \"" + path +
                     "\": " + errorString(rc));
        return nullptr;
    }
    return context;
}

bool openTrack(const std::string& path, AVMediaType type, int threads, OpenedTrack& track,
               MediaError* error) {
    track.format = openInput(path, error);
    if (!track.format) return false;
    track.streamIndex = firstStream(track.format.get(), type);
    if (track.streamIndex < 0) {
        setError(error, MediaErrorCode::NoSuchTrack,
                 "\"" + path + "\" has no " + av_get_media_type_string(type) + " track");
        return false;
    }
    track.stream = track.format->streams[track.streamIndex];
    track.codec = openDecoder(track.stream, threads, path, error);
    if (!track.codec) return false;
    for (unsigned i = 0; i < track.format->nb_streams; ++i)
        if (int(i) != track.streamIndex) track.format->streams[i]->discard = AVDISCARD_ALL;
    track.offset = startOffset(track.format.get(), track.stream);
    return true;
}

MediaTime trackEnd(const AVFormatContext* format, const AVStream* stream) {
    if (stream->duration == AV_NOPTS_VALUE || stream->duration <= 0) return MediaTime::invalid();
    const int64_t offset = startOffset(format, stream);
    const int64_t start = stream->start_time == AV_NOPTS_VALUE ? offset : stream->start_time;
    return toMediaTime(start - offset + stream->duration, stream->time_base);
}

int64_t startOffset(const AVFormatContext* format, const AVStream* stream) {
    if (format->start_time == AV_NOPTS_VALUE) return 0;
    return av_rescale_q(format->start_time, AV_TIME_BASE_Q, stream->time_base);
}

MediaTime toMediaTime(int64_t value, AVRational timeBase) {
    if (value == AV_NOPTS_VALUE || timeBase.num <= 0 || timeBase.den <= 0)
        return MediaTime::invalid();
    if (timeBase.num == 1) return MediaTime::make(value, timeBase.den);
    return MediaTime::make(av_rescale_q(value, timeBase, AVRational{1, 1000000}), 1000000);
}

int64_t fromMediaTime(const MediaTime& time, AVRational timeBase) {
    if (!time.isNumeric())
        return time.isPositiveInfinity()   ? INT64_MAX / 2
               : time.isNegativeInfinity() ? INT64_MIN / 2
                                           : 0;
    return av_rescale_q_rnd(time.value, AVRational{1, time.timescale}, timeBase,
                            AVRounding(AV_ROUND_DOWN | AV_ROUND_PASS_MINMAX));
}

StreamDecoder::StreamDecoder(AVFormatContext* format, AVCodecContext* codec, int streamIndex,
                             int64_t ptsStep, std::string path)
    : format_(format),
      codec_(codec),
      streamIndex_(streamIndex),
      ptsStep_(ptsStep),
      path_(std::move(path)),
      packet_(av_packet_alloc()),
      decoded_(av_frame_alloc()) {}

FramePtr StreamDecoder::next() {
    if (!packet_ || !decoded_ || failure_) return nullptr;
    int readErrors = 0;
    for (;;) {
        int rc = avcodec_receive_frame(codec_, decoded_.get());
        if (rc == 0) {
            if (decoded_->decode_error_flags || (decoded_->flags & AV_FRAME_FLAG_CORRUPT)) {
                av_frame_unref(decoded_.get());
                if (noteFailure("damaged picture", 0)) return nullptr;
                continue;
            }
            consecutiveFailures_ = 0;
            FramePtr out(av_frame_alloc());
            if (!out) return nullptr;
            av_frame_move_ref(out.get(), decoded_.get());
            if (out->best_effort_timestamp == AV_NOPTS_VALUE)
                out->best_effort_timestamp = lastPts_ == AV_NOPTS_VALUE ? 0 : lastPts_ + ptsStep_;
            lastPts_ = out->best_effort_timestamp;
            return out;
        }
        if (rc == AVERROR_EOF) return nullptr;
        if (rc != AVERROR(EAGAIN)) {
            if (noteFailure("decoding failed", rc)) return nullptr;
            continue;
        }
        if (draining_) return nullptr;
        rc = av_read_frame(format_, packet_.get());
        if (rc < 0) {
            if (rc != AVERROR_EOF && ++readErrors < kMaxConsecutiveReadErrors) continue;
            if (rc != AVERROR_EOF) KLOG_WARN("reading \"{}\" stopped: {}", path_, errorString(rc));
            draining_ = true;
            avcodec_send_packet(codec_, nullptr);
            continue;
        }
        readErrors = 0;
        bool gaveUp = false;
        if (packet_->stream_index == streamIndex_) {
            rc = avcodec_send_packet(codec_, packet_.get());
            gaveUp = rc < 0 && rc != AVERROR(EAGAIN) && noteFailure("damaged packet", rc);
        }
        av_packet_unref(packet_.get());
        if (gaveUp) return nullptr;
    }
}

bool StreamDecoder::seek(int64_t target, bool toStart) {
    int rc = -1;
    if (!toStart) rc = av_seek_frame(format_, streamIndex_, target, AVSEEK_FLAG_BACKWARD);
    if (rc < 0) {
        const AVStream* stream = format_->streams[streamIndex_];
        const int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
        rc = avformat_seek_file(format_, streamIndex_, INT64_MIN, start, start, 0);
    }
    if (rc < 0) rc = av_seek_frame(format_, -1, 0, AVSEEK_FLAG_BYTE);
    if (rc < 0) KLOG_WARN("cannot seek in \"{}\": {}", path_, errorString(rc));
    avcodec_flush_buffers(codec_);
    draining_ = false;
    consecutiveFailures_ = 0;
    failure_ = {};
    lastPts_ = AV_NOPTS_VALUE;
    return rc >= 0;
}

bool StreamDecoder::noteFailure(const char* what, int rc) {
    ++skipped_;
    if (++consecutiveFailures_ < kMaxConsecutiveFailures) {
        KLOG_DEBUG("skipped data of \"{}\": {} {}", path_, what, rc ? errorString(rc) : "");
        return false;
    }
    failure_ = {MediaErrorCode::DecodeFailed,
                "decoding \"" + path_ + "\" failed " + std::to_string(consecutiveFailures_) +
                    " times in a row; the rest of the track is skipped"};
    KLOG_WARN("{}", failure_.message);
    return true;
}

MediaColorMatrix colorMatrixOf(AVColorSpace space) {
    switch (space) {
    case AVCOL_SPC_BT709: return MediaColorMatrix::ITU_R_709;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M: return MediaColorMatrix::ITU_R_601;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return MediaColorMatrix::ITU_R_2020;
    case AVCOL_SPC_SMPTE240M: return MediaColorMatrix::SMPTE_240M;
    default: return MediaColorMatrix::Unspecified;
    }
}

}  // namespace MediaFFmpeg
