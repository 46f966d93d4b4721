#pragma once
// Shared plumbing over FFmpeg for the media layer's own .cpp files; not part of its interface.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include "MediaAsset.h"
#include "MediaError.h"
#include "MediaTime.h"

#include <atomic>
#include <memory>
#include <string>

namespace MediaFFmpeg {

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecCloser {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecCloser>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

std::string errorString(int averror);

// Opens the container and reads its stream information. Tells a missing file, an unreadable
// one and one that is not media apart. Also routes FFmpeg's own log lines into ours, once.
FormatPtr openInput(const std::string& path, MediaError* error);

// The first stream of a media type that has a decoder-usable description; -1 when none.
int firstStream(const AVFormatContext* format, AVMediaType type);

// A decoder for the stream; threads 0 lets FFmpeg pick (frame and slice threading).
CodecPtr openDecoder(const AVStream* stream, int threads, const std::string& path,
                     MediaError* error);

// Where the file's time line starts, in the stream's time base: item time 0 is this timestamp.
int64_t startOffset(const AVFormatContext* format, const AVStream* stream);

// One decodable track of an opened file, alone: the file's other tracks are not demuxed.
struct OpenedTrack {
    FormatPtr format;
    CodecPtr codec;
    int streamIndex = -1;
    AVStream* stream = nullptr;
    int64_t offset = 0;  // startOffset() of the track
};
// Opens the file and the decoder of its first track of `type`; false with *error set (see
// openInput, plus NoSuchTrack and NoDecoder).
bool openTrack(const std::string& path, AVMediaType type, int threads, OpenedTrack& track,
               MediaError* error);

// Where the stream ends, from the file's start; invalid when the file does not say.
MediaTime trackEnd(const AVFormatContext* format, const AVStream* stream);

// A timestamp in a time base as a media time, exact whenever the time base is 1/N.
MediaTime toMediaTime(int64_t value, AVRational timeBase);
// A media time in a time base, rounded down to a whole tick (a time between two ticks belongs
// to the earlier). Infinities map far out; invalid and indefinite times to 0.
int64_t fromMediaTime(const MediaTime& time, AVRational timeBase);

void setError(MediaError* error, MediaErrorCode code, std::string message);

// The YCbCr matrix FFmpeg's colour-space tag names; Unspecified for untagged and other ones.
MediaColorMatrix colorMatrixOf(AVColorSpace space);

// Pulls decoded frames of one stream: reads packets, feeds the decoder, skips damaged packets
// and pictures, and gives up (failure() set) after too many failures in a row instead of
// retrying forever. Frames come with best_effort_timestamp filled in (synthesised from the
// previous one plus `ptsStep` where the file has none). One thread at a time.
class StreamDecoder {
public:
    StreamDecoder(AVFormatContext* format, AVCodecContext* codec, int streamIndex, int64_t ptsStep,
                  std::string path);

    // The next frame in presentation order; nullptr at the end of the stream or on giving up.
    FramePtr next();
    // Moves the demuxer to the key frame at or before `target` (stream time base), or to the
    // stream's start when `toStart` or when that fails, and empties the decoder. False when the
    // demuxer could not be moved at all.
    bool seek(int64_t target, bool toStart);

    const MediaError& failure() const { return failure_; }
    int skippedCount() const { return skipped_.load(); }

private:
    bool noteFailure(const char* what, int rc);

    AVFormatContext* format_;
    AVCodecContext* codec_;
    int streamIndex_;
    int64_t ptsStep_;
    std::string path_;
    PacketPtr packet_;
    FramePtr decoded_;
    bool draining_ = false;
    int consecutiveFailures_ = 0;
    int64_t lastPts_ = AV_NOPTS_VALUE;
    MediaError failure_;
    std::atomic<int> skipped_{0};
};

}  // namespace MediaFFmpeg
