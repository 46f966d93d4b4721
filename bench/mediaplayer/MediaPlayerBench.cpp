// How many 1080p25 streams one process keeps at full rate (Hap and H.264), beside the
// machine's core count; and the GO latency of a prerolled player: from "play now" to its first
// frame, median and worst of 100 tries. Run on demand: ./MediaPlayerBench
// Clips (1080p, 25 fps, 6 s, a test card under moving noise) are made once per run in a
// temporary folder.

#include "DispatchQueue.h"
#include "MediaPlayer.h"

#include <benchmark/benchmark.h>

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

// Plays `count` players of the clip together and, like the render loop, asks each for its
// frame once per frame period. Answers the share of those asks that found the right frame.
double onTimeShare(const std::string& file, int count) {
    MediaPlayerOptions options;
    options.pixelFormat = MediaPixelFormat::YUV422_8;
    std::vector<std::unique_ptr<MediaPlayer>> players;
    Waiter waiter;
    for (int i = 0; i < count; ++i) {
        players.push_back(MediaPlayer::open(file, options));
        if (!players.back() || !park(*players.back(), waiter, MediaTime::zero())) return 0;
    }
    for (auto& player : players) player->setRate(1);
    int asked = 0, onTime = 0;
    const Clock::time_point start = Clock::now();
    for (int tick = 1; tick <= kPlaySeconds * kRate; ++tick) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(tick * 1000 / kRate));
        for (auto& player : players) {
            const MediaTime now = player->currentTime();
            const int64_t due = now.value * kRate / now.timescale;  // the frame that should show
            MediaTime shown;
            ++asked;
            if (frameAt(*player, now, &shown) && shown.value * kRate / shown.timescale == due) ++onTime;
        }
    }
    return double(onTime) / asked;
}

// The most streams that stay at full rate (at least 99 % of the frames on time): counts grow
// by half until one fails, then the gap is halved. Up to kMaxStreams.
constexpr int kMaxStreams = 256;

void streamsAtFullRate(benchmark::State& state, const char* clip) {
    if (!clips().ok) {
        state.SkipWithError("could not make the clips with ffmpeg");
        return;
    }
    auto keepsUp = [&](int count) { return onTimeShare(clips().path(clip), count) >= 0.99; };
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

BENCHMARK_MAIN();
