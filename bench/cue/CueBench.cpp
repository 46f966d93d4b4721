// How fast a cue gets to a frame and starts from it, per codec (1080p25 H.264 with a key frame
// every 250 frames, ProRes 422, Hap), over random target frames:
// - preroll to first frame: the cue seeks to the target and prerolls there, until the target
//   frame is available to the render loop;
// - GO latency: startPlayers() called from a worker thread (as the clock thread does) on the
//   prerolled cue, until the player runs with the target frame available.
// Each as median, 99th percentile and worst, beside bare FFmpeg timed the same way in the same
// run (libavformat seek to the preceding key frame, libavcodec decoding up to the same frame,
// as many decoding threads as the player's), and as ratios to it. A Hap cue hands its frames on
// compressed, while libavcodec decompresses them: its ratios read low.
//
// Usage: cue_bench [targets] [clip seconds] (default 100 and 12). The clips are made once per
// run with ffmpeg in a temporary folder.

#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "../KavioBenchSupport.h"
#include "BareDecoder.h"
#include "DispatchQueue.h"
#include "MediaPlayer.h"
#include "UserDefaults.h"

#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 25;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Figures {
    double median = 0, p99 = 0, worst = 0;
};

Figures figuresOf(std::vector<double> samples)
{
    if (samples.empty())
        return {};
    std::sort(samples.begin(), samples.end());
    const std::size_t p99 = std::min(samples.size() - 1, (samples.size() * 99 + 99) / 100 - 1);
    return {samples[samples.size() / 2], samples[p99], samples.back()};
}

MediaTime frameTime(int number)
{
    return MediaTime::make(std::int64_t(number) * (MediaTime::kCueTimescale / kRate), MediaTime::kCueTimescale);
}

struct CueFigures {
    std::vector<double> preroll, go;
};

// Seeks and prerolls the cue at each target, then starts it from a worker thread.
CueFigures measureCue(const std::shared_ptr<KavioVideoItemManager>& controller, const std::string& path,
                      const std::vector<int>& targets)
{
    CueFigures figures;
    const auto cue = KavioVideoItem::initWithMoviePath(QString::fromStdString(path), controller);
    check(cue && DispatchQueue::runMainUntil([&] { return cue->isReady(); }, 120.0), "cue ready");
    MediaPlayer* player = cue->videoPlayer();
    for (const int number : targets) {
        const MediaTime target = frameTime(number);
        const Clock::time_point start = Clock::now();
        cue->seekToCMTime(target);
        check(DispatchQueue::runMainUntil([&] { return !cue->isSeeking(); }, 60.0), "seek");
        cue->prerollVideoAtCurrentTimeWithCompletedHandler();
        check(DispatchQueue::runMainUntil(
                  [&] { return cue->preloadedTime() == target && player->hasNewFrameForItemTime(target); }, 60.0),
              "preroll");
        figures.preroll.push_back(msSince(start));

        std::atomic<bool> running{false};
        double latency = 0;
        std::thread worker([&] {
            const Clock::time_point go = Clock::now();
            cue->startPlayers();
            while (!(player->rate() > 0 && player->hasNewFrameForItemTime(player->currentTime())))
                std::this_thread::yield();
            latency = msSince(go);
            running = true;
        });
        check(DispatchQueue::runMainUntil([&] { return running.load(); }, 60.0), "start");
        worker.join();
        figures.go.push_back(latency);
        cue->pausePlayersWithPreroll(false);
        DispatchQueue::drainMain();
    }
    return figures;
}

void printRow(const char* codec, const char* measure, const Figures& cue, const Figures& bare)
{
    std::printf("%-10s %-16s %9.2f %9.2f %9.2f   %9.2f %9.2f %9.2f   %6.2f %6.2f %6.2f\n", codec, measure, cue.median,
                cue.p99, cue.worst, bare.median, bare.p99, bare.worst, cue.median / bare.median, cue.p99 / bare.p99,
                cue.worst / bare.worst);
}

}  // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const int seconds = argc > 2 ? std::max(2, std::atoi(argv[2])) : 12;
    QTemporaryDir folder;
    setenv("XDG_CONFIG_HOME", folder.path().toUtf8().constData(), 1);
    UserDefaults defaults(folder.filePath(QStringLiteral("bench.conf")));
    auto controller = KavioVideoItemManager::init(defaults);
    controller->setDelegate(std::make_shared<KavioBenchDelegate>());

    // Moving noise keeps the pictures from compressing as well as a flat test card would.
    const std::string source = "-f lavfi -i testsrc2=size=1920x1080:rate=25:duration=" + std::to_string(seconds) +
                               ",noise=alls=12:allf=t+u ";
    const struct {
        const char* codec;
        const char* file;
        std::string encode;
    } clips[] = {
        {"H.264", "h264.mp4", "-c:v libx264 -preset veryfast -g 250 -keyint_min 250 -sc_threshold 0 -pix_fmt yuv420p"},
        {"ProRes422", "prores.mov", "-c:v prores_ks -profile:v 2 -pix_fmt yuv422p10le"},
        {"Hap", "hap.mov", "-c:v hap"},
    };

    std::mt19937 random(20261210);
    std::uniform_int_distribution<int> anyFrame(0, seconds * kRate - 1);
    std::vector<int> targets;
    for (int i = 0; i < count; ++i)
        targets.push_back(anyFrame(random));

    std::printf("%d random target frames of %d s clips, milliseconds; ratios cue / bare FFmpeg\n", count, seconds);
    std::printf("%-10s %-16s %9s %9s %9s   %9s %9s %9s   %6s %6s %6s\n", "codec", "measure", "median", "p99", "worst",
                "bare med", "bare p99", "bare max", "x med", "x p99", "x max");
    for (const auto& clip : clips) {
        const std::string path = folder.filePath(QString::fromLatin1(clip.file)).toStdString();
        const std::string command = "ffmpeg -nostdin -v error -y " + source + clip.encode + " '" + path + "'";
        check(std::system(command.c_str()) == 0, "making the clip with ffmpeg");

        BareDecoder bare(path, kRate);
        check(bare.ok(), "opening the clip with FFmpeg");
        std::vector<double> bareTimes;
        for (const int number : targets) {
            const Clock::time_point start = Clock::now();
            check(bare.decodeFrame(number), "bare decoding");
            bareTimes.push_back(msSince(start));
        }
        const Figures reference = figuresOf(bareTimes);
        const CueFigures cue = measureCue(controller, path, targets);
        printRow(clip.codec, "preroll->frame", figuresOf(cue.preroll), reference);
        printRow(clip.codec, "GO latency", figuresOf(cue.go), reference);
    }
    return 0;
}
