// Decode throughput of the frame source, to the decoder's own planes (Native) and to BGRA,
// against a bare libav decode loop in the same process: same file, same decoder thread count,
// each run's frames counted and checked to be the clip's frames in order and each a new
// picture. Every iteration is one round of the three runs, their order turning from round to
// round, so load that comes and goes hits them alike; a round's ratio is the bare loop's time
// over ours (1.0: as fast) and "native_ratio" and "bgra_ratio" are the medians over the rounds,
// with the lowest and highest beside them, so that one disturbed round does not decide.
// Native with one decoding thread per core is how a movie cue's player decodes.
// Also the cost of a frame-exact seek far from a key frame. Run on demand: ./MediaBench
// Clips (1080p, 25 fps, 10 s) are made once per run in a temporary folder.

#include "VideoFrameSource.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kFrames = 250;

struct Clips {
    std::string folder;
    bool ok = false;
    Clips() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kavio-bench-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (!mkdtemp(buffer.data())) return;
        folder = buffer.data();
        const std::string source = "-f lavfi -i testsrc2=size=1920x1080:rate=25:duration=10 ";
        ok = run(source + "-c:v libx264 -preset veryfast -g 250 -pix_fmt yuv420p h264.mp4") &&
             run(source + "-c:v prores_ks -profile:v 2 -pix_fmt yuv422p10le prores422.mov") &&
             run(source + "-c:v prores_ks -profile:v 4 -pix_fmt yuv444p10le prores4444.mov");
    }
    ~Clips() {
        std::error_code ec;
        if (!folder.empty()) std::filesystem::remove_all(folder, ec);
    }
    bool run(const std::string& arguments) const {
        return std::system(
                   ("cd '" + folder + "' && ffmpeg -nostdin -v error -y " + arguments).c_str()) ==
               0;
    }
    std::string path(const char* name) const { return folder + "/" + name; }
};

const Clips& clips() {
    static Clips made;
    return made;
}

double secondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Checks that the frames of one run are the clip's frames in order, each a new picture: the
// timestamps rise and the luma (or BGRA) of every 16th row differs from the previous frame's
// (testsrc2 moves every frame).
struct FrameCheck {
    int count = 0;
    int64_t lastTime = INT64_MIN;
    uint64_t lastPicture = 0;
    bool ok = true;
    void add(int64_t time, const uint8_t* data, int bytesPerRow, int rowBytes, int rows) {
        uint64_t hash = 1469598103934665603ull;
        for (int y = 0; y < rows; y += 16) {
            const uint8_t* row = data + int64_t(y) * bytesPerRow;
            for (int i = 0; i + 8 <= rowBytes; i += 8) {
                uint64_t word;
                std::memcpy(&word, row + i, 8);
                hash = (hash ^ word) * 1099511628211ull;
            }
        }
        ok = ok && time > lastTime && (count == 0 || hash != lastPicture);
        lastTime = time;
        lastPicture = hash;
        ++count;
    }
    void require(const char* what) const {
        if (!ok || count != kFrames) {
            std::fprintf(stderr, "%s: %d frames, %s\n", what, count,
                         ok ? "all new" : "some repeated or out of order");
            std::exit(1);
        }
    }
};

// The reference: demux, decode, count. No conversion, no queue, no second thread of ours.
void bareDecode(const std::string& file, int threads) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(format, nullptr) < 0) {
        std::fprintf(stderr, "cannot open %s\n", file.c_str());
        std::exit(1);
    }
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec* codec = avcodec_find_decoder(format->streams[index]->codecpar->codec_id);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(context, format->streams[index]->codecpar);
    context->thread_count = threads;
    avcodec_open2(context, codec, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    FrameCheck check;
    auto receive = [&] {
        while (avcodec_receive_frame(context, frame) == 0) {
            check.add(frame->best_effort_timestamp, frame->data[0], frame->linesize[0],
                      frame->width, frame->height);
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(context, packet) >= 0) receive();
        av_packet_unref(packet);
    }
    avcodec_send_packet(context, nullptr);
    receive();
    check.require("bare libav loop");
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    avformat_close_input(&format);
}

// The frame source as playback asks it: the frame of each nominal time in turn.
void sourceDecode(const std::string& file, int threads, MediaPixelFormat format) {
    VideoFrameSourceOptions options;
    options.pixelFormat = format;
    options.decoderThreads = threads;
    auto source = VideoFrameSource::open(file, options);
    FrameCheck check;
    for (int k = 0; source && k < kFrames; ++k) {
        const MediaTime t = MediaTime::make(k, 25);
        source->waitForItemTime(t, 30);
        MediaTime shown;
        const VideoFrameRef frame = source->copyFrameForItemTime(t, &shown);
        if (!frame) break;
        check.add(shown.value * 25 / shown.timescale, frame->data(), frame->bytesPerRow(),
                  frame->width(), frame->height());
    }
    check.require(format == MediaPixelFormat::Native ? "frame source, native" : "frame source, BGRA");
}

double medianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void decodeAgainstBareLoop(benchmark::State& state, const char* clip) {
    if (!clips().ok) {
        state.SkipWithError("could not make the clips with ffmpeg");
        return;
    }
    const std::string file = clips().path(clip);
    const int threads = int(std::max(1u, std::thread::hardware_concurrency()));
    const std::function<void()> runs[3] = {
        [&] { bareDecode(file, threads); },
        [&] { sourceDecode(file, threads, MediaPixelFormat::Native); },
        [&] { sourceDecode(file, threads, MediaPixelFormat::BGRA); },
    };
    double total[3] = {};
    std::vector<double> nativeRatios, bgraRatios;
    int round = 0;
    for (auto _ : state) {
        double seconds[3];
        for (int i = 0; i < 3; ++i) {
            const int which = (i + round) % 3;
            seconds[which] = secondsOf(runs[which]);
        }
        ++round;
        for (int i = 0; i < 3; ++i) total[i] += seconds[i];
        nativeRatios.push_back(seconds[0] / seconds[1]);
        bgraRatios.push_back(seconds[0] / seconds[2]);
    }
    const double n = double(state.iterations()) * kFrames;
    state.counters["bare_fps"] = n / total[0];
    state.counters["native_fps"] = n / total[1];
    state.counters["bgra_fps"] = n / total[2];
    state.counters["native_ratio"] = medianOf(nativeRatios);
    state.counters["native_min"] = *std::min_element(nativeRatios.begin(), nativeRatios.end());
    state.counters["native_max"] = *std::max_element(nativeRatios.begin(), nativeRatios.end());
    state.counters["bgra_ratio"] = medianOf(bgraRatios);
    state.counters["threads"] = threads;
}

void BM_Decode1080p_H264(benchmark::State& state) { decodeAgainstBareLoop(state, "h264.mp4"); }
void BM_Decode1080p_ProRes422(benchmark::State& state) {
    decodeAgainstBareLoop(state, "prores422.mov");
}
void BM_Decode1080p_ProRes4444(benchmark::State& state) {
    decodeAgainstBareLoop(state, "prores4444.mov");
}

// One key frame at the start and the target 125 frames after it.
void BM_FrameExactSeekToMiddle(benchmark::State& state) {
    if (!clips().ok) {
        state.SkipWithError("could not make the clips with ffmpeg");
        return;
    }
    auto source = VideoFrameSource::open(clips().path("h264.mp4"));
    if (!source) {
        state.SkipWithError("cannot open the clip");
        return;
    }
    int k = 0;
    for (auto _ : state) {
        const MediaTime t = MediaTime::make(125 + (k++ % 2), 25);
        std::promise<bool> done;
        source->seekToTime(t, [&done](bool finished) { done.set_value(finished); });
        if (!done.get_future().get()) state.SkipWithError("seek failed");
        benchmark::DoNotOptimize(source->copyFrameForItemTime(t));
    }
}

}  // namespace

BENCHMARK(BM_Decode1080p_H264)->Unit(benchmark::kMillisecond)->Iterations(9)->UseRealTime();
BENCHMARK(BM_Decode1080p_ProRes422)->Unit(benchmark::kMillisecond)->Iterations(9)->UseRealTime();
BENCHMARK(BM_Decode1080p_ProRes4444)->Unit(benchmark::kMillisecond)->Iterations(9)->UseRealTime();
BENCHMARK(BM_FrameExactSeekToMiddle)->Unit(benchmark::kMillisecond)->Iterations(6)->UseRealTime();

BENCHMARK_MAIN();
