// How many 1080p25 streams one process keeps at full rate, through the real players and the
// real uploads: H.264 as the decoder's own planes, Hap as its DXT planes, each new frame of
// every stream uploaded into its textures and the GPU waited for once per frame period.
// Reported with the machine's core count, the processor time per stream (in cores) and the
// upload bandwidth at the count found. Also the GO latency of a prerolled player: from "play
// now" to its first frame, median and worst of 100 tries.
// Needs a display with OpenGL: xvfb-run -a build/bench/mediaplayer/MediaPlayerBench
// Clips (1080p, 25 fps, 6 s, a test card under moving noise) are made once per run in a
// temporary folder.

#include "../KavioBenchSupport.h"
#include "DispatchQueue.h"
#include "GpuCommandBuffer.h"
#include "GpuDevice.h"
#include "HAP/HapMetalPixelBufferTexture.h"
#include "MediaPlayer.h"
#include "Rendering/KavioFrameSlots.h"
#include "Rendering/QVTMetalManager.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <map>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 25;
constexpr int kPlaySeconds = 4;

struct Clips {
    std::string folder;
    bool ok = false;
    Clips() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kavio-playerbench-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (!mkdtemp(buffer.data())) return;
        folder = buffer.data();
        // Moving noise keeps the pictures from compressing as well as a flat test card would.
        const std::string source =
            "-f lavfi -i testsrc2=size=1920x1080:rate=25:duration=6,noise=alls=12:allf=t+u ";
        ok = run(source + "-c:v hap hap.mov") &&
             run(source + "-c:v libx264 -preset veryfast -g 25 -pix_fmt yuv420p h264.mp4");
    }
    ~Clips() {
        std::error_code ec;
        if (!folder.empty()) std::filesystem::remove_all(folder, ec);
    }
    bool run(const std::string& arguments) const {
        const std::string command = "cd '" + folder + "' && ffmpeg -nostdin -v error -y " + arguments;
        return std::system(command.c_str()) == 0;
    }
    std::string path(const char* name) const { return folder + "/" + name; }
};

const Clips& clips() {
    static Clips made;
    return made;
}

// Waits on a queue for a player's completions.
struct Waiter {
    std::mutex mutex;
    std::condition_variable done;
    int finished = 0, total = 0;
    DispatchQueue queue{"bench.waiter"};
    MediaPlayer::Completion completion() {
        return [this](bool ok) {
            std::lock_guard lock(mutex);
            ++total;
            finished += ok;
            done.notify_all();
        };
    }
    bool waitFor(int count) {
        std::unique_lock lock(mutex);
        done.wait_for(lock, std::chrono::seconds(30), [&] { return total >= count; });
        return finished == count;
    }
};

bool park(MediaPlayer& player, Waiter& waiter, const MediaTime& at) {
    const int before = waiter.total;
    player.seekToTime(at, MediaTime::zero(), MediaTime::zero(), waiter.queue, waiter.completion());
    player.prerollAtRate(1, waiter.queue, waiter.completion());
    return waiter.waitFor(before + 2);
}

bool frameAt(MediaPlayer& player, const MediaTime& t, MediaTime* shown) {
    return player.isHap() ? player.copyHapFrameForItemTime(t, shown) != nullptr
                          : player.copyFrameForItemTime(t, shown) != nullptr;
}

std::unique_ptr<QVTMetalManager> gManager;

double processSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// One playing stream and the textures its frames go into, as the composition fills them.
struct Stream {
    std::unique_ptr<MediaPlayer> player;
    KavioFrameSlots frameSlots{*gManager};
    HapMetalPixelBufferTexture hap{gManager->device(), *gManager->library()};
    MediaTime lastShown = MediaTime::invalid();

    // Takes the frame showing now and uploads it when it is new. Answers whether it is the
    // frame due now; adds the bytes uploaded.
    bool renderTick(int64_t& uploaded) {
        const MediaTime now = player->currentTime();
        const int64_t due = now.value * kRate / now.timescale;
        MediaTime shown;
        if (player->isHap()) {
            const HapFrameRef frame = player->copyHapFrameForItemTime(now, &shown);
            if (!frame) return false;
            if (MediaTime::compare(shown, lastShown) != 0) {
                hap.setDecodedFrame(frame);
                for (int i = 0; i < frame->dxtPlaneCount(); ++i) uploaded += int64_t(frame->dxtDataSize(i));
            }
        } else {
            const VideoFrameRef frame = player->copyFrameForItemTime(now, &shown);
            if (!frame) return false;
            if (MediaTime::compare(shown, lastShown) != 0) {
                check(frameSlots.uploadPlanes(frame, KavioFrameSlots::A).textures[0] != nullptr,
                      "native planes uploaded");
                const VideoFramePlanes& p = frame->planes();
                for (int i = 0; i < p.count; ++i) {
                    const bool chroma = i == 1 || (i == 2 && !p.interleavedChroma);
                    uploaded += int64_t(p.bytesPerSample) * (chroma ? p.chromaHeight(frame->height()) *
                                                                          p.chromaWidth(frame->width()) *
                                                                          (p.interleavedChroma ? 2 : 1)
                                                                    : frame->height() * frame->width());
                }
            }
        }
        lastShown = shown;
        return shown.value * kRate / shown.timescale == due;
    }
};

struct TryResult {
    double onTimeShare = 0;
    double coresPerStream = 0;
    double uploadMBps = 0;
};

// Plays `count` streams of the clip together and, like the render loop, takes each one's frame
// once per frame period, uploads the new ones, and waits for the GPU before the next period.
TryResult playTogether(const std::string& file, int count) {
    MediaPlayerOptions options;
    options.pixelFormat = MediaPixelFormat::Native;
    std::vector<std::unique_ptr<Stream>> streams;
    Waiter waiter;
    for (int i = 0; i < count; ++i) {
        auto stream = std::make_unique<Stream>();
        stream->player = MediaPlayer::open(file, options);
        if (!stream->player || !park(*stream->player, waiter, MediaTime::zero())) return {};
        streams.push_back(std::move(stream));
    }
    auto queue = gManager->device()->newCommandQueue();
    for (auto& stream : streams) stream->player->setRate(1);
    int asked = 0, onTime = 0;
    int64_t uploaded = 0;
    const double cpuStart = processSeconds();
    const Clock::time_point start = Clock::now();
    for (int tick = 1; tick <= kPlaySeconds * kRate; ++tick) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(tick * 1000 / kRate));
        for (auto& stream : streams) {
            ++asked;
            onTime += stream->renderTick(uploaded);
        }
        auto buffer = queue->commandBuffer();
        buffer->commit();
        buffer->waitUntilCompleted();
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    return {double(onTime) / asked, (processSeconds() - cpuStart) / wall / count,
            double(uploaded) / wall / 1e6};
}

// The most streams that stay at full rate (at least 99 % of the frames on time) in each of
// three tries: counts grow by half until one fails a try, then the gap is halved. Up to
// kMaxStreams.
constexpr int kMaxStreams = 256;
constexpr int kTries = 3;

void streamsAtFullRate(benchmark::State& state, const char* clip) {
    if (!clips().ok) {
        state.SkipWithError("could not make the clips with ffmpeg");
        return;
    }
    if (!gManager->device()) {
        state.SkipWithError("no OpenGL device (run under xvfb-run -a)");
        return;
    }
    std::map<int, TryResult> held;  // the worst of the three tries of each count held
    auto keepsUp = [&](int count) {
        TryResult worst{1.0, 0, 0};
        for (int t = 0; t < kTries; ++t) {
            const TryResult result = playTogether(clips().path(clip), count);
            std::fprintf(stderr, "%s: %d streams, try %d: %.1f %% of frames on time\n", clip, count, t + 1,
                         result.onTimeShare * 100);
            if (result.onTimeShare < 0.99) return false;
            worst = {std::min(worst.onTimeShare, result.onTimeShare),
                     std::max(worst.coresPerStream, result.coresPerStream), result.uploadMBps};
        }
        held[count] = worst;
        return true;
    };
    int best = 0;
    for (auto _ : state) {
        best = 0;
        int failed = kMaxStreams + 1;
        for (int count = 1; count <= kMaxStreams; count = std::max(count + 1, count * 3 / 2)) {
            if (!keepsUp(count)) {
                failed = count;
                break;
            }
            best = count;
        }
        while (failed - best > 1 && best < kMaxStreams) {
            const int middle = (best + failed) / 2;
            (keepsUp(middle) ? best : failed) = middle;
        }
    }
    state.counters["streams"] = best;
    state.counters["cores"] = std::thread::hardware_concurrency();
    state.counters["cores_per_stream"] = held[best].coresPerStream;
    state.counters["upload_MB_per_s"] = held[best].uploadMBps;
}

void BM_Streams1080p25_Hap(benchmark::State& state) { streamsAtFullRate(state, "hap.mov"); }
void BM_Streams1080p25_H264(benchmark::State& state) { streamsAtFullRate(state, "h264.mp4"); }

// From setRate on a prerolled player to the first frame available at its current time.
void goLatency(benchmark::State& state, const char* clip) {
    if (!clips().ok) {
        state.SkipWithError("could not make the clips with ffmpeg");
        return;
    }
    MediaPlayerOptions options;
    options.pixelFormat = MediaPixelFormat::YUV422_8;
    auto player = MediaPlayer::open(clips().path(clip), options);
    if (!player) {
        state.SkipWithError("cannot open the clip");
        return;
    }
    Waiter waiter;
    std::vector<double> latencies;
    int k = 0;
    for (auto _ : state) {
        state.PauseTiming();
        player->pause();
        // Spread over the clip, most of them between key frames.
        if (!park(*player, waiter, MediaTime::make((k++ * 37) % 125, kRate))) {
            state.SkipWithError("park failed");
            return;
        }
        state.ResumeTiming();
        const Clock::time_point start = Clock::now();
        player->setRate(1);
        MediaTime shown;
        while (!frameAt(*player, player->currentTime(), &shown)) std::this_thread::yield();
        latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(latencies.begin(), latencies.end());
    state.counters["median_us"] = latencies[latencies.size() / 2];
    state.counters["worst_us"] = latencies.back();
}

void BM_GoLatency_Hap(benchmark::State& state) { goLatency(state, "hap.mov"); }
void BM_GoLatency_H264(benchmark::State& state) { goLatency(state, "h264.mp4"); }

}  // namespace

BENCHMARK(BM_Streams1080p25_Hap)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Streams1080p25_H264)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_GoLatency_Hap)->Unit(benchmark::kMicrosecond)->Iterations(100)->UseRealTime();
BENCHMARK(BM_GoLatency_H264)->Unit(benchmark::kMicrosecond)->Iterations(100)->UseRealTime();

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    gManager = std::make_unique<QVTMetalManager>(GpuDevice::createSystemDefaultDevice());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gManager.reset();
    return 0;
}
