#pragma once
// The bare FFmpeg reference of the cue benchmarks: libavformat seeks to the key frame before a
// frame, libavcodec decodes up to it, with as many decoding threads as the player's.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstdint>
#include <string>

// Frames are counted at `rate` frames a second from the stream's start.
class BareDecoder {
public:
    BareDecoder(const std::string& path, int rate) : rate_(rate)
    {
        if (avformat_open_input(&format_, path.c_str(), nullptr, nullptr) < 0 ||
            avformat_find_stream_info(format_, nullptr) < 0)
            return;
        const AVCodec* codec = nullptr;
        stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        if (stream_ < 0 || !codec)
            return;
        context_ = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(context_, format_->streams[stream_]->codecpar);
        context_->thread_count = 0;  // one per core, as the player's decoders
        if (avcodec_open2(context_, codec, nullptr) < 0)
            return;
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        ok_ = true;
    }
    ~BareDecoder()
    {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&context_);
        avformat_close_input(&format_);
    }
    bool ok() const { return ok_; }

    // Decodes frame `number`; answers whether it came.
    bool decodeFrame(int number)
    {
        const AVStream* stream = format_->streams[stream_];
        const std::int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
        const std::int64_t target = start + av_rescale_q(number, AVRational{1, rate_}, stream->time_base);
        const std::int64_t halfFrame = av_rescale_q(1, AVRational{1, 2 * rate_}, stream->time_base);
        if (av_seek_frame(format_, stream_, target, AVSEEK_FLAG_BACKWARD) < 0)
            return false;
        avcodec_flush_buffers(context_);
        // Frame threads hold frames back: at the end of the file the decoder gives out the rest.
        for (bool more = true; more;) {
            more = av_read_frame(format_, packet_) >= 0;
            if (more && packet_->stream_index != stream_) {
                av_packet_unref(packet_);
                continue;
            }
            avcodec_send_packet(context_, more ? packet_ : nullptr);
            av_packet_unref(packet_);
            if (reachedTarget(target - halfFrame))
                return true;
        }
        return false;
    }

private:
    bool reachedTarget(std::int64_t earliest)
    {
        while (avcodec_receive_frame(context_, frame_) == 0) {
            const bool reached = frame_->best_effort_timestamp >= earliest;
            av_frame_unref(frame_);
            if (reached)
                return true;
        }
        return false;
    }

    AVFormatContext* format_ = nullptr;
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    int rate_;
    int stream_ = -1;
    bool ok_ = false;
};
