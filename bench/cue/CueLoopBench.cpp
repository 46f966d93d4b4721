// Loop-point latency: from handleLooping() on a worker thread (the clock thread's place) until
// the next pass's first frame is available from the cue's frame source, over 1000 loops, beside
// the same work done with bare FFmpeg, timed the same way in the same run: a libavformat seek to
// the loop point and libavcodec decoding up to its frame. Each frame the cue hands over is
// checked to be the loop point's; a wrong one fails the run.

#include "BareDecoder.h"
#include "Cue/KavioVideoItem.h"
#include "IdleVideoManager.h"
#include "DispatchQueue.h"
#include "MediaPlayer.h"
#include "VideoFrame.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLoops = 1000;
constexpr int kRate = 25;

struct BenchController : IdleVideoManager {
    QSizeF renderSize() const override { return {1920, 1080}; }
    double defaultNonMovieCueDuration() const override { return 5.0; }
    void stopPlaybackWithCompletedHandler(std::function<void()> handler) override
    {
        if (handler)
            handler();
    }
};

void report(const char* what, std::vector<double>& us)
{
    std::sort(us.begin(), us.end());
    std::printf("%-28s median %9.1f us  p99 %9.1f us  worst %9.1f us\n", what, us[us.size() / 2],
                us[us.size() * 99 / 100], us.back());
}

// Runs `work` on a worker thread while the main thread serves the main queue.
void onWorker(const std::function<void()>& work)
{
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
    });
    DispatchQueue::runMainUntil([&] { return done.load(); }, 3600.0);
    worker.join();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString movie = dir.filePath("loop.mp4");
    const std::string command = "ffmpeg -loglevel error -f lavfi -i testsrc=size=320x240:rate=" + std::to_string(kRate) + ":duration=4 "
                                "-c:v libx264 -g 12 -bf 2 " + movie.toStdString();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "ffmpeg failed\n");
        return 1;
    }
    auto controller = std::make_shared<BenchController>();
    auto cue = std::make_shared<KavioVideoItem>([](const QVTOSCMessage&) {});
    QVariantMap record;
    record.insert("isLooping", true);
    if (!cue->initMovieCue(movie, controller, record) ||
        !DispatchQueue::runMainUntil([&] { return cue->isReady() && cue->canLoop(); }, 60.0)) {
        std::fprintf(stderr, "the cue did not become ready to loop\n");
        return 1;
    }
    cue->setLoopCount(KavioLoopCountEndless);
    cue->startPlayers();
    BareDecoder bare(movie.toStdString(), kRate);
    if (!bare.ok()) {
        std::fprintf(stderr, "FFmpeg cannot open the movie\n");
        return 1;
    }
    const double inPoint = cue->inTime().seconds();
    const int inFrame = int(std::lround(inPoint * kRate));

    const auto idleParked = [&] {
        MediaPlayer* idle = cue->videoPlayer() == cue->normalVideoPlayer() ? cue->loopHelperVideoPlayer()
                                                                            : cue->normalVideoPlayer();
        return idle && idle->currentTime() == cue->inTime() && !cue->isSeeking();
    };
    std::vector<double> loop, reference;
    int wrongFrames = 0, bareMisses = 0;
    for (int i = 0; i < kLoops; ++i) {
        // Untimed: the idle set parks at the in point, as during a pass.
        DispatchQueue::runMainUntil(idleParked, 30.0);
        DispatchQueue::runMainUntil([] { return false; }, 0.002);
        onWorker([&] {
            const auto start = Clock::now();
            cue->handleLooping();
            std::shared_ptr<const VideoFrame> frame;
            while (!frame)
                cue->pixelBufferQueue().sync([&] { frame = cue->pixelBufferCopy(); });
            loop.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
            // The next pass starts on the in point's frame, not on one read ahead of the swap.
            wrongFrames += std::abs(frame->presentationTime().seconds() - inPoint) >= 0.5 / kRate;
            const auto bareStart = Clock::now();
            bareMisses += !bare.decodeFrame(inFrame);
            reference.push_back(std::chrono::duration<double, std::micro>(Clock::now() - bareStart).count());
        });
    }
    cue->pausePlayersWithPreroll(false);
    report("handleLooping to frame", loop);
    report("bare FFmpeg seek+decode", reference);
    std::printf("ratio (median)              %.1f\n", loop[loop.size() / 2] / reference[reference.size() / 2]);
    std::printf("wrong frames handed over    %d of %d\n", wrongFrames, kLoops);
    if (wrongFrames || bareMisses) {
        std::fprintf(stderr, "FAILED: %d wrong frames at the loop point, %d bare decodes missed it\n", wrongFrames,
                     bareMisses);
        return 1;
    }
    return 0;
}
