#include "FFmpegCaptureStream.h"

#include "FFmpegSupport.h"
#include "Log.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <chrono>
#include <vector>

namespace {

std::string errorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// One picture converted to '2vuy'; the bytes live as long as the frame.
VideoFrameRef convertTo2vuy(SwsContext*& scaler, const AVFrame& picture, const MediaTime& time)
{
    const int width = picture.width, height = picture.height;
    scaler = sws_getCachedContext(scaler, width, height, AVPixelFormat(picture.format), width, height,
                                  AV_PIX_FMT_UYVY422, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler)
        return nullptr;
    const int bytesPerRow = bytesPerRowFor(MediaPixelFormat::YUV422_8, width);
    auto bytes = std::make_shared<std::vector<uint8_t>>(size_t(bytesPerRow) * size_t(height));
    uint8_t* planes[4] = {bytes->data(), nullptr, nullptr, nullptr};
    int strides[4] = {bytesPerRow, 0, 0, 0};
    if (sws_scale(scaler, picture.data, picture.linesize, 0, height, planes, strides) != height)
        return nullptr;
    return std::make_shared<VideoFrame>(MediaPixelFormat::YUV422_8, width, height, bytesPerRow, bytes->data(),
                                        time, bytes);
}

}  // namespace

FFmpegCaptureStream::FFmpegCaptureStream(std::string inputFormat, std::string url,
                                         std::map<std::string, std::string> options, bool paced,
                                         std::shared_ptr<std::atomic<bool>> present,
                                         CaptureBackend::FrameHandler onFrame)
    : inputFormat_(std::move(inputFormat)),
      url_(std::move(url)),
      options_(std::move(options)),
      paced_(paced),
      present_(std::move(present)),
      onFrame_(std::move(onFrame))
{
    thread_ = std::thread([this] { run(); });
}

FFmpegCaptureStream::~FFmpegCaptureStream()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

CaptureFormat FFmpegCaptureStream::format() const
{
    std::lock_guard lock(mutex_);
    return format_;
}

bool FFmpegCaptureStream::waitUntil(double seconds)
{
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return stopping_; });
}

void FFmpegCaptureStream::run()
{
    static const bool registered = [] {
        avdevice_register_all();
        return true;
    }();
    (void)registered;
    const auto stopped = [this] {
        std::lock_guard lock(mutex_);
        return stopping_ || !present_->load();
    };

    const AVInputFormat* input = av_find_input_format(inputFormat_.c_str());
    AVDictionary* dictionary = nullptr;
    for (const auto& [key, value] : options_)
        av_dict_set(&dictionary, key.c_str(), value.c_str(), 0);
    AVFormatContext* rawContext = nullptr;
    const int opened = input ? avformat_open_input(&rawContext, url_.c_str(), input, &dictionary) : AVERROR_DEMUXER_NOT_FOUND;
    av_dict_free(&dictionary);
    if (opened < 0) {
        KLOG_WARN("capture device {} refused to open: {}", url_, errorText(opened));
        return;
    }
    MediaFFmpeg::FormatPtr context(rawContext);
    avformat_find_stream_info(context.get(), nullptr);
    const int streamIndex = av_find_best_stream(context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (streamIndex < 0) {
        KLOG_WARN("capture device {} gives no pictures", url_);
        return;
    }
    const AVStream* stream = context->streams[streamIndex];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    std::unique_ptr<AVCodecContext, MediaFFmpeg::CodecCloser> decoder(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0 ||
        avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        KLOG_WARN("capture device {}: format refused ({})", url_, avcodec_get_name(stream->codecpar->codec_id));
        return;
    }
    {
        std::lock_guard lock(mutex_);
        const AVRational rate = stream->avg_frame_rate.num ? stream->avg_frame_rate : stream->r_frame_rate;
        format_ = {stream->codecpar->width, stream->codecpar->height, rate.den ? av_q2d(rate) : 0.0,
                   MediaPixelFormat::YUV422_8};
    }

    std::unique_ptr<AVPacket, MediaFFmpeg::PacketFree> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, MediaFFmpeg::FrameFree> picture(av_frame_alloc());
    SwsContext* scaler = nullptr;
    const auto started = std::chrono::steady_clock::now();
    int64_t firstPts = AV_NOPTS_VALUE;
    while (!stopped()) {
        const int read = av_read_frame(context.get(), packet.get());
        if (read == AVERROR(EAGAIN)) {
            if (!waitUntil(0.005))
                break;
            continue;
        }
        if (read < 0) {
            // Unplugged mid-stream, or the end of a finite graph: the last frame stays with the
            // consumer.
            KLOG_WARN("capture device {} stopped: {}", url_, errorText(read));
            break;
        }
        if (packet->stream_index == streamIndex && avcodec_send_packet(decoder.get(), packet.get()) >= 0) {
            while (avcodec_receive_frame(decoder.get(), picture.get()) >= 0) {
                const int64_t pts = picture->best_effort_timestamp;
                const MediaTime time = pts == AV_NOPTS_VALUE ? MediaTime::zero()
                    : MediaTime::make(pts * stream->time_base.num, stream->time_base.den);
                if (paced_ && pts != AV_NOPTS_VALUE) {
                    if (firstPts == AV_NOPTS_VALUE)
                        firstPts = pts;
                    const double due = double(pts - firstPts) * av_q2d(stream->time_base);
                    const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
                    if (due > now && !waitUntil(due - now))
                        break;
                }
                if (stopped())
                    break;
                if (auto frame = convertTo2vuy(scaler, *picture, time))
                    onFrame_(std::move(frame));
                av_frame_unref(picture.get());
            }
        }
        av_packet_unref(packet.get());
    }
    sws_freeContext(scaler);
}
