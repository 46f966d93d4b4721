// Decode throughput of the frame source against the ffmpeg command on the same clips, and the
// cost of a frame-exact seek far from a key frame. Run on demand: ./MediaBench
// Clips (1080p, 25 fps, 10 s) are made once per run in a temporary folder.

#include "VideoFrameSource.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
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
             run(source + "-c:v prores_ks -profile:v 2 prores.mov");
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

// Decodes the whole clip through the frame source, as playback would ask for it, and the same
// clip with the ffmpeg command in the same run: decoding only ("ratio"), and decoding into the
// same pixel layout as ours ("ratio_same_output"). A ratio of 1.0 is as fast as the command.
void decodeAgainstFFmpeg(benchmark::State& state, const char* clip, MediaPixelFormat format,
                         const char* ffmpegPixelFormat) {
    if (!clips().ok) {
        state.SkipWithError("could not make the clips with ffmpeg");
        return;
    }
    const std::string file = clips().path(clip);
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    double ours = 0, theirs = 0, theirsConverting = 0;
    for (auto _ : state) {
        ours += secondsOf([&] {
            VideoFrameSourceOptions options;
            options.pixelFormat = format;
            auto source = VideoFrameSource::open(file, options);
            for (int k = 0; source && k < kFrames; ++k) {
                const MediaTime t = MediaTime::make(k, 25);
                source->waitForItemTime(t, 30);
                benchmark::DoNotOptimize(source->copyFrameForItemTime(t));
            }
        });
        state.PauseTiming();
        const std::string command = "-threads " + std::to_string(threads) + " -i '" + file + "' ";
        theirs += secondsOf([&] { clips().run(command + "-f null -"); });
        theirsConverting += secondsOf(
            [&] { clips().run(command + "-vf format=" + ffmpegPixelFormat + " -f null -"); });
        state.ResumeTiming();
    }
    const double n = double(state.iterations()) * kFrames;
    state.counters["fps"] = n / ours;
    state.counters["ffmpeg_fps"] = n / theirs;
    state.counters["ratio"] = theirs / ours;
    state.counters["ratio_same_output"] = theirsConverting / ours;
}

void BM_DecodeH264_2vuy(benchmark::State& state) {
    decodeAgainstFFmpeg(state, "h264.mp4", MediaPixelFormat::YUV422_8, "uyvy422");
}
void BM_DecodeH264_BGRA(benchmark::State& state) {
    decodeAgainstFFmpeg(state, "h264.mp4", MediaPixelFormat::BGRA, "bgra");
}
void BM_DecodeProRes_2vuy(benchmark::State& state) {
    decodeAgainstFFmpeg(state, "prores.mov", MediaPixelFormat::YUV422_8, "uyvy422");
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

BENCHMARK(BM_DecodeH264_2vuy)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_DecodeH264_BGRA)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_DecodeProRes_2vuy)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_FrameExactSeekToMiddle)->Unit(benchmark::kMillisecond)->Iterations(6)->UseRealTime();

BENCHMARK_MAIN();
