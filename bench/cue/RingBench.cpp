// The cue's frame supply during playback, per render tick (25 a second, as the movie's frames):
// - H.264 1080p25: a playing cue's frame through its read-ahead ring (KavioVideoItem::
//   pixelBufferCopy on the cue's queue) with its planes uploaded, against a bare MediaPlayer's
//   copyFrameForItemTime with the same upload, and against the upload alone of a frame already
//   decoded (the floor: what a tick cannot go below);
// - Hap 1080p25: the cue's hapTextureAtTime (DXT planes uploaded and drawn into its output
//   texture), against a bare replaceRegion of the same DXT plane into a compressed texture.
// Every tick commits its command buffer and waits for the GPU, the same for every path. Reported
// per path: new frames a second (each checked to be later than the one before), the share of
// ticks that showed the frame due and within a frame of it, and the tick's cost (median, p99)
// in microseconds, with the ratios to the reference beside it. (The Hap path also draws the
// planes into the cue's output texture, which its bare reference does not: on a software
// renderer that draw is most of its cost.)
// Needs a display with OpenGL: xvfb-run -a build/bench/cue/cue_ring_bench [seconds]
// The clips (1080p25 under moving noise) are made once per run in a temporary folder.

#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioPlayerItemVideoOutput.h"
#include "Cue/KavioVideoItem.h"
#include "../KavioBenchSupport.h"
#include "DispatchQueue.h"
#include "GpuCommandBuffer.h"
#include "GpuDevice.h"
#include "GpuTexture.h"
#include "MediaPlayer.h"
#include "Rendering/KavioFrameSlots.h"
#include "Rendering/QVTMetalManager.h"
#include "UserDefaults.h"

#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 25;

struct PathFigures {
    int ticks = 0, newFrames = 0, onTime = 0, nearTime = 0;
    bool ordered = true;
    std::vector<double> costs;  // microseconds
    double seconds = 0;

    double fps() const { return seconds > 0 ? newFrames / seconds : 0; }
    double share(int count) const { return ticks ? 100.0 * count / ticks : 0; }
    double cost(double share) const
    {
        if (costs.empty())
            return 0;
        std::vector<double> sorted = costs;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, std::size_t(share * double(sorted.size())))];
    }
};

// What one tick of a path did: the presentation time of the frame it showed (invalid: none).
using Tick = std::function<MediaTime()>;

// Runs `tick` once per frame period for `seconds`, inside a frame's command buffer that is
// committed and waited for; `due` answers the frame number due now.
PathFigures runTicks(QVTMetalManager& gpu, int seconds, const std::function<std::int64_t()>& due, const Tick& tick)
{
    PathFigures figures;
    MediaTime last = MediaTime::invalid();
    const Clock::time_point start = Clock::now();
    for (int n = 1; n <= seconds * kRate; ++n) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(std::int64_t(n) * 1000000 / kRate));
        const std::int64_t dueFrame = due();
        const Clock::time_point begin = Clock::now();
        gpu.createCurrentCommandBuffer();
        const MediaTime shown = tick();
        const auto buffer = gpu.currentCommandBuffer();
        check(buffer != nullptr, "a command buffer");
        buffer->commit();
        buffer->waitUntilCompleted();
        figures.costs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - begin).count());
        ++figures.ticks;
        if (!shown.isValid())
            continue;
        if (!last.isValid() || MediaTime::compare(shown, last) != 0) {
            figures.ordered = figures.ordered && (!last.isValid() || shown > last);
            ++figures.newFrames;
        }
        const std::int64_t off = shown.value * kRate / shown.timescale - dueFrame;
        figures.onTime += off == 0;
        figures.nearTime += off >= -1 && off <= 1;
        last = shown;
    }
    figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return figures;
}

std::int64_t frameNumberAt(const MediaTime& time)
{
    return time.isNumeric() ? time.value * kRate / time.timescale : -1;
}

// A ready cue of the clip, prerolled at its start and playing.
std::shared_ptr<KavioVideoItem> playingCue(const std::shared_ptr<KavioVideoItemManager>& controller,
                                           const std::string& path)
{
    const auto cue = KavioVideoItem::initWithMoviePath(QString::fromStdString(path), controller);
    check(cue && DispatchQueue::runMainUntil([&] { return cue->isReady(); }, 120.0), "cue ready");
    cue->seekToCMTime(MediaTime::zero());
    check(DispatchQueue::runMainUntil([&] { return !cue->isSeeking(); }, 60.0), "seek");
    cue->prerollVideoAtCurrentTimeWithCompletedHandler();
    check(DispatchQueue::runMainUntil([&] { return cue->preloadedTime() == MediaTime::zero(); }, 60.0), "preroll");
    cue->startPlayers();
    check(DispatchQueue::runMainUntil([&] { return cue->videoPlayer()->rate() > 0; }, 60.0), "start");
    return cue;
}

// A bare player of the clip at its start, playing.
std::unique_ptr<MediaPlayer> playingPlayer(const std::string& path)
{
    MediaPlayerOptions options;
    options.pixelFormat = MediaPixelFormat::Native;
    auto player = MediaPlayer::open(path, options);
    check(player != nullptr, "bare player");
    bool prerolled = false;
    player->prerollAtRate(1, DispatchQueue::main(), [&](bool ok) { prerolled = ok; });
    check(DispatchQueue::runMainUntil([&] { return prerolled; }, 60.0), "bare preroll");
    player->setRate(1);
    return player;
}

// A path's row; the ratios to `reference` (fps and median cost) unless it is the reference.
void printRow(const char* clip, const char* path, const PathFigures& f, const PathFigures* reference = nullptr)
{
    check(f.ordered, "frames in order");
    std::printf("%-6s %-26s %7.2f %6.1f %6.1f  %9.0f %9.0f", clip, path, f.fps(), f.share(f.onTime),
                f.share(f.nearTime), f.cost(0.5), f.cost(0.99));
    if (reference)
        // A reference that shows one frame throughout has no frame rate to compare with.
        std::printf("   %6.2f %6.2f\n", reference->newFrames > 1 ? f.fps() / reference->fps() : 0.0,
                    reference->cost(0.5) > 0 ? f.cost(0.5) / reference->cost(0.5) : 0.0);
    else
        std::printf("        -      -\n");
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 6;
    QTemporaryDir folder;
    setenv("XDG_CONFIG_HOME", folder.path().toUtf8().constData(), 1);
    QVTMetalManager gpu(GpuDevice::createSystemDefaultDevice());
    check(gpu.device() != nullptr, "an OpenGL device (run under xvfb-run -a)");
    KavioPlayerItemVideoOutput::setDefaultMetalManager(&gpu);
    UserDefaults defaults(folder.filePath(QStringLiteral("bench.conf")));
    auto controller = KavioVideoItemManager::init(defaults);
    controller->setDelegate(std::make_shared<KavioBenchDelegate>());

    const std::string source = "-f lavfi -i testsrc2=size=1920x1080:rate=25:duration=" + std::to_string(seconds + 4) +
                               ",noise=alls=12:allf=t+u ";
    const auto make = [&](const char* name, const std::string& encode) {
        const std::string path = folder.filePath(QString::fromLatin1(name)).toStdString();
        const std::string command = "ffmpeg -nostdin -v error -y " + source + encode + " '" + path + "'";
        check(std::system(command.c_str()) == 0, "making the clip with ffmpeg");
        return path;
    };
    const std::string h264 = make("h264.mp4", "-c:v libx264 -preset veryfast -g 25 -pix_fmt yuv420p");
    const std::string hap = make("hap.mov", "-c:v hap");

    std::printf("%d s at %d ticks a second; cost = one tick with its upload, commit and GPU wait\n", seconds, kRate);
    std::printf("due %%: ticks that showed the frame due; +-1 %%: within a frame of it\n");
    std::printf("%-6s %-26s %7s %6s %6s  %9s %9s   %6s %6s\n", "clip", "path", "fps", "due %", "+-1 %", "cost us",
                "p99 us", "x fps", "x cost");

    // H.264: the bare upload of one decoded frame first, the floor of a tick.
    KavioFrameSlots frameSlots(gpu);
    VideoFrameRef held;
    {
        const auto player = playingPlayer(h264);
        check(DispatchQueue::runMainUntil([&] { return bool(held = player->copyFrameForItemTime(MediaTime::zero())); }, 30.0),
              "a decoded frame");
    }
    const PathFigures bare = runTicks(gpu, seconds, [] { return std::int64_t(0); }, [&] {
        check(frameSlots.uploadPlanes(held, KavioFrameSlots::A).textures[0] != nullptr, "planes uploaded");
        return held->presentationTime();
    });

    const auto player = playingPlayer(h264);
    const PathFigures direct = runTicks(gpu, seconds, [&] { return frameNumberAt(player->currentTime()); }, [&] {
        MediaTime shown = MediaTime::invalid();
        const VideoFrameRef frame = player->copyFrameForItemTime(player->currentTime(), &shown);
        if (frame)
            check(frameSlots.uploadPlanes(frame, KavioFrameSlots::A).textures[0] != nullptr, "planes uploaded");
        return frame ? shown : MediaTime::invalid();
    });
    player->pause();

    const auto cue = playingCue(controller, h264);
    MediaPlayer* cuePlayer = cue->videoPlayer();
    const PathFigures ring = runTicks(gpu, seconds, [&] { return frameNumberAt(cuePlayer->currentTime()); }, [&] {
        VideoFrameRef frame;
        cue->pixelBufferQueue().sync([&] { frame = cue->pixelBufferCopy(); });
        if (frame)
            check(frameSlots.uploadPlanes(frame, KavioFrameSlots::A).textures[0] != nullptr, "planes uploaded");
        return frame ? frame->presentationTime() : MediaTime::invalid();
    });
    const bool ringOn = cue->videoOutput() && cue->videoOutput()->ringEnabled();
    cue->pausePlayersWithPreroll(false);

    printRow("H.264", "bare plane upload", bare);
    printRow("H.264", "player + upload", direct, &bare);
    printRow("H.264", ringOn ? "cue ring + upload" : "cue (ring off!) + upload", ring, &direct);
    printRow("H.264", "  (cue ring vs bare)", ring, &bare);

    // Hap: the bare reference uploads the same DXT plane into a compressed texture.
    HapFrameRef dxt;
    {
        const auto hapPlayer = playingPlayer(hap);
        check(DispatchQueue::runMainUntil([&] { return bool(dxt = hapPlayer->copyHapFrameForItemTime(MediaTime::zero())); }, 30.0),
              "a Hap frame");
    }
    const HapSize size = dxt->dxtImgSize();
    check(dxt->dxtPlaneCount() == 1 && dxt->dxtDataSize(0) == std::size_t(size.width) * std::size_t(size.height) / 2,
          "one DXT1 plane");
    const auto compressed = gpu.device()->newTexture({GpuPixelFormat::BC1_RGBA, std::uint32_t(size.width), std::uint32_t(size.height)});
    const PathFigures bareHap = runTicks(gpu, seconds, [] { return std::int64_t(0); }, [&] {
        check(compressed->replaceRegion({0, 0, std::uint32_t(size.width), std::uint32_t(size.height)}, dxt->dxtData(0),
                                        GpuPixelFormats::bytesPerRow(GpuPixelFormat::BC1_RGBA, std::uint32_t(size.width))),
              "DXT plane uploaded");
        return MediaTime::zero();
    });
    const auto hapCue = playingCue(controller, hap);
    MediaPlayer* hapCuePlayer = hapCue->videoPlayer();
    const PathFigures hapRing = runTicks(gpu, seconds, [&] { return frameNumberAt(hapCuePlayer->currentTime()); }, [&] {
        const auto texture = hapCue->hapTexture();
        check(texture != nullptr, "Hap output texture");
        return hapCue->videoOutput()->lastHapTime();
    });
    hapCue->pausePlayersWithPreroll(false);
    printRow("Hap", "bare DXT replaceRegion", bareHap);
    printRow("Hap", "cue hapTextureAtTime", hapRing, &bareHap);
    DispatchQueue::drainMain();
    return 0;
}
