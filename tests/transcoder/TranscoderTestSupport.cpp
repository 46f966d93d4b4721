#include "TranscoderTestSupport.h"

#include "MediaFixtures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <fstream>

namespace TranscoderTestSupport {

namespace {

bool makeShowSource(const std::string& name)
{
    std::ofstream(MediaFixtures::folder() + "/show.srt")
        << "1\n00:00:00,500 --> 00:00:01,500\nFirst line\n\n2\n00:00:02,000 --> 00:00:02,800\nSecond line\n";
    return MediaFixtures::ffmpeg("-f lavfi -i testsrc2=size=1280x720:rate=25:duration=3 "
                                 "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=3 -i show.srt "
                                 "-map 0 -map 1 -map 2 -c:v libx264 -preset ultrafast -pix_fmt yuv420p "
                                 "-c:a aac -ac 2 -c:s mov_text -timecode 01:00:00:00 " +
                                 name);
}

bool makeAlphaSource(const std::string& name)
{
    return MediaFixtures::ffmpeg("-f lavfi -i \"testsrc2=size=128x96:rate=25:duration=1,format=rgba,"
                                 "geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='if(lt(X,64),0,255)'\" -c:v png " +
                                 name);
}

bool makeUndeclaredPrimingSource(const std::string& name)
{
    return MediaFixtures::ffmpeg("-f lavfi -i testsrc2=size=128x96:rate=25:duration=1 "
                                 "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 "
                                 "-c:v libx264 -preset ultrafast -c:a aac -use_editlist 0 " +
                                 name);
}

struct Input {
    AVFormatContext* format = nullptr;
    explicit Input(const std::string& path)
    {
        if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0 ||
            avformat_find_stream_info(format, nullptr) < 0)
            format = nullptr;
    }
    ~Input() { avformat_close_input(&format); }
    int stream(AVMediaType type) const { return format ? av_find_best_stream(format, type, -1, -1, nullptr, 0) : -1; }
};

}  // namespace

std::string showSource() { return MediaFixtures::madePath("transcoder_show.mov", makeShowSource); }
std::string alphaSource() { return MediaFixtures::madePath("transcoder_alpha.mov", makeAlphaSource); }
std::string undeclaredPrimingSource()
{
    return MediaFixtures::madePath("transcoder_noedit.mov", makeUndeclaredPrimingSource);
}

std::vector<Packet> packetsOf(const std::string& path, const std::string& kind)
{
    Input input(path);
    const int index = input.stream(kind == "video" ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO);
    std::vector<Packet> packets;
    if (index < 0)
        return packets;
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(input.format, packet) >= 0) {
        if (packet->stream_index == index)
            packets.push_back({packet->pts, packet->duration, {packet->data, packet->data + packet->size}});
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return packets;
}

int audioTimescale(const std::string& path)
{
    Input input(path);
    const int index = input.stream(AVMEDIA_TYPE_AUDIO);
    return index < 0 ? 0 : input.format->streams[index]->time_base.den;
}

int alphaAt(const std::string& path, int x, int y)
{
    Input input(path);
    const int index = input.stream(AVMEDIA_TYPE_VIDEO);
    if (index < 0)
        return -1;
    const AVCodecParameters* par = input.format->streams[index]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, par);
    int alpha = -1;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (avcodec_open2(decoder, codec, nullptr) >= 0) {
        while (alpha < 0 && av_read_frame(input.format, packet) >= 0) {
            if (packet->stream_index == index && avcodec_send_packet(decoder, packet) >= 0 &&
                avcodec_receive_frame(decoder, frame) >= 0) {
                std::vector<uint8_t> rgba(size_t(frame->width) * frame->height * 4);
                uint8_t* planes[1] = {rgba.data()};
                const int strides[1] = {frame->width * 4};
                SwsContext* sws = sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format),
                                                 frame->width, frame->height, AV_PIX_FMT_RGBA, SWS_POINT, nullptr,
                                                 nullptr, nullptr);
                sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
                sws_freeContext(sws);
                alpha = rgba[(size_t(y) * frame->width + x) * 4 + 3];
            }
            av_packet_unref(packet);
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    return alpha;
}

}  // namespace TranscoderTestSupport
