// Loudness analysis of a 60-minute stereo 48 kHz file (the whole read and the level of every
// channel) against a bare libav loop doing the same work in the same process and run (read,
// decode, samples to float, the level of both channels), as a ratio, with the peak memory of
// each. The two levels must agree, so both really read the whole file.
// Run: audio_analysis_bench [minutes]

#include "Audio/AudioAnalyzer.h"
#include "DispatchQueue.h"

#include <QTemporaryDir>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <string>

namespace {

double secondsOf(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long peakKilobytes(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss;
}

// The bare reference: every sample of the first audio stream as float, the louder of channels
// 1 and 2 in dBFS on the sine scale (RMS + 3 dB, as the analyser measures); NaN when the file
// cannot be read.
double bareLevel(const std::string& path)
{
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0)
        return NAN;
    const AVCodec* codec = nullptr;
    const int stream = avformat_find_stream_info(format, nullptr) < 0
                           ? -1
                           : av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    AVCodecContext* context = stream >= 0 && codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!context || avcodec_parameters_to_context(context, format->streams[stream]->codecpar) < 0 ||
        avcodec_open2(context, codec, nullptr) < 0 || context->sample_fmt != AV_SAMPLE_FMT_S16) {
        avcodec_free_context(&context);
        avformat_close_input(&format);
        return NAN;
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const int channels = context->ch_layout.nb_channels;
    double sums[2] = {0.0, 0.0};
    long long count = 0;
    const auto drain = [&] {
        while (avcodec_receive_frame(context, frame) == 0) {
            const auto* samples = reinterpret_cast<const std::int16_t*>(frame->data[0]);
            for (long n = 0; n < frame->nb_samples; ++n)
                for (int c = 0; c < std::min(channels, 2); ++c) {
                    const double value = samples[n * channels + c] / 32768.0;
                    sums[c] += value * value;
                }
            count += frame->nb_samples;
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream && avcodec_send_packet(context, packet) == 0)
            drain();
        av_packet_unref(packet);
    }
    avcodec_send_packet(context, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    avformat_close_input(&format);
    if (count == 0)
        return NAN;
    const double louder = std::max(sums[0], channels > 1 ? sums[1] : 0.0);
    return 20.0 * std::log10(std::sqrt(louder / double(count))) + 3.0;
}

}  // namespace

int main(int argc, char** argv)
{
    const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    QTemporaryDir dir;
    const std::string file = dir.filePath(QStringLiteral("long.wav")).toStdString();
    const std::string make = "ffmpeg -nostdin -v error -y -f lavfi -i \"sine=f=440:sample_rate=48000\" -t " +
                             std::to_string(minutes * 60) + " -ac 2 -c:a pcm_s16le '" + file + "'";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "ffmpeg could not make the file\n");
        return 1;
    }

    double bare = NAN;
    const double bareSeconds = secondsOf([&] { bare = bareLevel(file); });
    const long barePeak = peakKilobytes(RUSAGE_SELF);

    float level = 0;
    const long before = peakKilobytes(RUSAGE_SELF);
    const double ourSeconds = secondsOf([&] {
        DispatchQueue queue("analysis bench");
        std::promise<void> done;
        const auto analyzer = AudioAnalyzer::initWithFile(QString::fromStdString(file), false, queue,
                                                          [&](AudioAnalyzer&) { done.set_value(); });
        done.get_future().wait();
        level = analyzer->rmsOnChannels({1, 2});
    });
    const long ourPeak = peakKilobytes(RUSAGE_SELF);

    std::printf("file: %d min stereo 48 kHz 16-bit WAV; level %.2f dBFS\n", minutes, double(level));
    std::printf("AudioAnalyzer (read + levels): %.2f s, peak memory %.0f MiB (%.0f MiB before)\n", ourSeconds,
                double(ourPeak) / 1024.0, double(before) / 1024.0);
    std::printf("bare libav decode + level:      %.2f s, peak memory %.0f MiB; level %.2f dBFS\n", bareSeconds,
                double(barePeak) / 1024.0, bare);
    std::printf("ratio (ours / bare libav): %.2f\n", ourSeconds / bareSeconds);
    // Both must have read the whole file to the same level.
    if (!(std::fabs(double(level) - bare) < 0.1)) {
        std::fprintf(stderr, "the levels differ: the work was not the same\n");
        return 1;
    }
    return 0;
}
