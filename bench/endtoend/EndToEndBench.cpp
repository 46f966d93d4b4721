// The program end to end, on the suite's harness (in this process: its window, clocks, render
// thread and audio on the test X and PulseAudio servers), driven over OSC on 127.0.0.1.
//
// go [GOs, default 100]: a list of 50 movie cues, A and B by turns, each stopped after its first
// picture, the next one made current (prerolled) and GO sent again. Each GO is timed from the
// datagram's sending to the render step that first shows the new cue's picture, in ms and in
// output frame periods; and to the first render step after the cue's player started (the
// stood-by cue already shows its first frame, so this is when the output begins to follow the
// running cue). Beside it, timed the same way in the same run: a bare libav open of the same
// movie and decode of its first frame. The main thread waits as the program's event loop does,
// waking at once for the work posted to it (a test's wait that sleeps between turns would add
// its sleep to every hop onto the main thread).
//
// soak [seconds, default 600]: A, B and a 2 s still in a looping list. Reported: output frames
// whose movie picture strays by more than one frame from the clock's pace (dropped or
// repeated), the master clock's pace against CLOCK_MONOTONIC and, apart from it, the cue list's
// moves of the clock at hand-overs, and resident memory, file descriptors and threads at the
// start and at the end.

#include "EndToEndShow.h"

#include "Audio/KavioAudioEngine.h"
#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "DispatchQueue.h"
#include "Rendering/KavioRenderClock.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <QApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// Opens the movie and decodes its first picture with nothing but libav; false when it cannot.
bool bareFirstFrame(const std::string& path)
{
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0)
        return false;
    bool decoded = false;
    const AVCodec* codec = nullptr;
    AVCodecContext* context = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const int stream = avformat_find_stream_info(format, nullptr) >= 0
                           ? av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0)
                           : -1;
    if (stream >= 0 && codec && (context = avcodec_alloc_context3(codec)) &&
        avcodec_parameters_to_context(context, format->streams[stream]->codecpar) >= 0 &&
        avcodec_open2(context, codec, nullptr) >= 0) {
        for (bool more = true; more && !decoded;) {
            more = av_read_frame(format, packet) >= 0;
            if (more && packet->stream_index != stream) {
                av_packet_unref(packet);
                continue;
            }
            avcodec_send_packet(context, more ? packet : nullptr);
            av_packet_unref(packet);
            decoded = avcodec_receive_frame(context, frame) >= 0;
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    avformat_close_input(&format);
    return decoded;
}

struct Stats {
    std::vector<double> values;
    double percentile(double p)
    {
        std::sort(values.begin(), values.end());
        return values.empty() ? 0 : values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
    }
    double mean() const
    {
        double sum = 0;
        for (double v : values)
            sum += v;
        return values.empty() ? 0 : sum / double(values.size());
    }
};

// The first frame at or after `from` showing a bar code of [first, first + 50) drawn after
// `sentNs`; its step's start time, or 0 before `deadline`.
std::int64_t firstShown(const OutputRecorder& output, std::size_t& from, int first, std::int64_t sentNs, double deadline)
{
    std::int64_t at = 0;
    DispatchQueue::runMainUntil([&] {
        for (; from < output.count(); ++from) {
            const ShownFrame& frame = output.at(from);
            const int code = frame.code();
            if (frame.hostNs >= sentNs && code >= first && code < first + 50) {
                at = frame.hostNs;
                return true;
            }
        }
        return false;
    }, deadline);
    return at;
}

int runGo(int gos)
{
    EndToEndRun run;
    if (!run.available()) {
        std::fprintf(stderr, "cannot run: %s\n", run.reason().c_str());
        return 1;
    }
    // 50 movie cues, A and B by turns, each pausing at its end.
    QVariantMap playlist;
    const QVariantMap show = showPlaylist(run.media);
    const QVariantMap a = show.value("1").toMap(), b = show.value("2").toMap();
    for (int i = 1; i <= 50; ++i) {
        QVariantMap cue = i % 2 ? a : b;
        cue.insert("index", qulonglong(i));
        cue.insert("uid", QStringLiteral("bench-%1").arg(i));
        cue.insert("transition", false);
        cue.insert("stopatend", true);
        playlist.insert(QString::number(i), cue);
    }
    QVariantMap root = showProject(run.media);
    root.insert("playlistData", playlist);
    const QString project = run.env.dir.filePath("Go.kavio2");
    writeProjectFile(project, root);
    run.launch(project);
    KavioVideoItemManager& controller = run.controller();
    if (controller.items()->size() != 50 || !run.output) {
        std::fprintf(stderr, "the show did not load\n");
        return 1;
    }
    const double period = 1.0 / controller.renderClock()->renderingFPS();
    // Room for every frame of the run: a GO takes about 1.5 s (the stand-by's crossover is 1 s),
    // and a recorder that fills up stops recording, which would read as GOs never shown.
    const std::size_t capacity = std::size_t(gos) * 4 * 70 + 600;
    run.output.reset();  // its tap goes before the larger one takes the render clock
    run.output = std::make_unique<OutputRecorder>(run.program(), capacity);

    Stats go, following, bare;
    std::size_t from = 0;
    int lost = 0;
    for (int i = 0; i < gos; ++i) {
        if (run.output->count() + 600 > capacity) {
            std::fprintf(stderr, "the output recorder is full after %d GOs: the run ends here\n", i);
            break;
        }
        // Stand-by on the next cue, prerolled: stopped, current and ready.
        const auto current = controller.currentItem();
        const int index = current ? int(current->index()) : 1;
        const int first = index % 2 ? 0 : 100;
        from = run.output->count();
        const std::int64_t sent = nowNs();
        run.osc.send("/kavio/togglePlay");
        const std::size_t from0 = from;
        const std::int64_t shown = firstShown(*run.output, from, first, sent, 10);
        if (shown)
            go.values.push_back(double(shown - sent) * 1e-6);
        else
            std::fprintf(stderr, "GO %d: cue %d never showed (playing: %d)\n", i, index, int(controller.isPlaying()));
        // The player's clock tells when it started: its time now less the time it has run.
        std::int64_t startedNs = 0;
        DispatchQueue::runMainUntil([&] {
            const double ran = current ? current->currentCMTime().seconds() : 0;
            if (current && current->isPlaying() && ran > 0 && ran < 1)
                startedNs = nowNs() - std::int64_t(ran * 1e9);
            return startedNs != 0;
        }, 10);
        if (!startedNs)
            std::fprintf(stderr, "GO %d: cue %d never started\n", i, index), ++lost;
        std::size_t after = from0;
        DispatchQueue::runMainUntil([&] {
            for (; startedNs && after < run.output->count(); ++after)
                if (run.output->at(after).hostNs >= startedNs) {
                    following.values.push_back(double(run.output->at(after).hostNs - sent) * 1e-6);
                    return true;
                }
            return !startedNs;
        }, 10);
        run.osc.send("/kavio/stop");
        DispatchQueue::runMainUntil([&] { return !controller.isPlaying(); }, 10);
        if (index == 50)
            controller.jumpToAndPlayItemAtIndex(1), run.osc.send("/kavio/stop");
        else
            controller.jumpToNextItem();
        DispatchQueue::runMainUntil([&] {
            const auto next = controller.currentItem();
            return !controller.isPlaying() && next && next != current && next->isReady();
        }, 10);
        // The next cue's preroll settles as the operator's stand-by would.
        const std::size_t settled = run.output->count() + 10;
        DispatchQueue::runMainUntil([&] { return run.output->count() > settled; }, 10);

        const auto start = Clock::now();
        if (!bareFirstFrame(run.media.movieA)) {
            std::fprintf(stderr, "bare libav could not decode %s\n", run.media.movieA.c_str());
            return 1;
        }
        bare.values.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::printf("GO over OSC to the first output frame of the new cue, %d GOs on 50 cues, %zu shown within 10 s, "
                "%d never started (output period %.2f ms):\n",
                gos, go.values.size(), lost, period * 1e3);
    std::printf("  GO      mean %7.2f ms  median %7.2f ms  p95 %7.2f ms  max %7.2f ms  = median %.2f periods\n",
                go.mean(), go.percentile(0.5), go.percentile(0.95), go.percentile(1.0), go.percentile(0.5) / (period * 1e3));
    std::printf("  started  mean %7.2f ms  median %7.2f ms  p95 %7.2f ms  max %7.2f ms  = median %.2f periods "
                "(to the first render step after the cue's player started; %zu measured)\n",
                following.mean(), following.percentile(0.5), following.percentile(0.95), following.percentile(1.0),
                following.percentile(0.5) / (period * 1e3), following.values.size());
    std::printf("  bare libav open + first frame: mean %7.2f ms  median %7.2f ms  p95 %7.2f ms\n", bare.mean(),
                bare.percentile(0.5), bare.percentile(0.95));
    return lost == 0 && go.values.size() == std::size_t(gos) ? 0 : 1;
}

long statusField(const char* name)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(name, 0) == 0)
            return std::stol(line.substr(std::string(name).size()));
    return -1;
}

long openFiles()
{
    return long(QDir("/proc/self/fd").entryList(QDir::Files | QDir::System).size());
}

// What the clock's pace and the cue list's moves of the clock came to over a run.
struct ClockPace {
    double drift = 0;  // seconds the clock gained on CLOCK_MONOTONIC while left to run
    double measured = 0;  // host seconds over which it was left to run
    long moves = 0;  // hand-overs that set the clock elsewhere than it had run to
    double moved = 0;  // seconds those moves added, together
    long restarts = 0;  // moves back to the start of the looping list
};

// The clock's time and the host's at each frame the clock posts, kept in room reserved up front:
// they are taken on the clock's real-time thread.
class ClockSamples {
public:
    explicit ClockSamples(std::size_t capacity) : samples_(capacity) {}
    void add(const QVTClock& clock)
    {
        const std::size_t n = count_.load(std::memory_order_relaxed);
        if (n < samples_.size()) {
            samples_[n] = {clock.clockTime(), nowNs()};
            count_.store(n + 1, std::memory_order_release);
        }
    }

    // Between two samples the clock advances as the host did, unless the cue list moved it.
    // A move shows in the step it was made in and in the next one (the first read after a move
    // is late by the tick's remaining work, which the next step makes up): both are the move's.
    ClockPace pace() const
    {
        const std::size_t n = count_.load(std::memory_order_acquire);
        const auto deviation = [&](std::size_t i) {
            return (samples_[i].clock - samples_[i - 1].clock) - double(samples_[i].hostNs - samples_[i - 1].hostNs) * 1e-9;
        };
        ClockPace pace;
        for (std::size_t i = 1; i < n; ++i) {
            if (std::abs(deviation(i)) <= kMoveSeconds) {
                pace.drift += deviation(i);
                pace.measured += double(samples_[i].hostNs - samples_[i - 1].hostNs) * 1e-9;
                continue;
            }
            const double move = deviation(i) + (i + 1 < n ? deviation(i + 1) : 0.0);
            if (move < -kRestartSeconds)
                ++pace.restarts;
            else if (std::abs(move) > kMoveSeconds)
                ++pace.moves, pace.moved += move;
            ++i;
        }
        return pace;
    }

private:
    // A step off the host's by more than this was a move: the clock's own cycles are 1.7 ms.
    static constexpr double kMoveSeconds = 0.001;
    static constexpr double kRestartSeconds = 0.5;
    struct Sample {
        double clock = 0;
        std::int64_t hostNs = 0;
    };
    std::vector<Sample> samples_;
    std::atomic<std::size_t> count_{0};
};

int runSoak(int seconds)
{
    EndToEndRun run;
    if (!run.available()) {
        std::fprintf(stderr, "cannot run: %s\n", run.reason().c_str());
        return 1;
    }
    QVariantMap playlist = showPlaylist(run.media);
    QVariantMap still = playlist.value("4").toMap();
    still.insert("index", qulonglong(3));
    still.insert("stopatend", false);
    playlist.remove("3");
    playlist.remove("4");
    playlist.insert("3", still);
    QVariantMap root = showProject(run.media);
    root.insert("playlistData", playlist);
    QVariantMap preferences = root.value("preferences").toMap();
    preferences.insert("loopButton", true);
    root.insert("preferences", preferences);
    const QString project = run.env.dir.filePath("Soak.kavio2");
    writeProjectFile(project, root);
    run.launch(project);
    KavioVideoItemManager& controller = run.controller();
    if (controller.items()->size() != 3 || !run.output) {
        std::fprintf(stderr, "the show did not load\n");
        return 1;
    }
    run.output.reset();  // its tap goes before the larger one takes the render clock
    run.output = std::make_unique<OutputRecorder>(run.program(), std::size_t(seconds + 30) * 70);
    const long rssStart = statusField("VmRSS:"), fdStart = openFiles(), threadsStart = statusField("Threads:");
    KavioAudioEngine& engine = KavioAudioEngine::sharedEngine();
    const std::uint64_t underrunsStart = engine.outputUnderruns();
    run.osc.send("/kavio/togglePlay");
    waitFor([&] { return controller.isPlaying(); }, 10);

    // The clock against CLOCK_MONOTONIC, read on the clock's thread at each frame it posts.
    const auto clock = controller.masterClock();
    ClockSamples samples(std::size_t(seconds + 30) * 40);
    const NotificationCenter::Token sampling = clock->notificationCenter().addObserver(
        nullptr, QVTClockNotification::TimeChanged, clock.get(), [&](const Notification&) { samples.add(*clock); });
    waitFor([] { return false; }, double(seconds));
    const bool playing = controller.isPlaying();
    run.osc.send("/kavio/stop");
    waitFor([&] { return !controller.isPlaying(); }, 10);
    clock->notificationCenter().removeObserver(sampling);
    const ClockPace pace = samples.pace();
    const std::uint64_t underruns = engine.outputUnderruns() - underrunsStart;
    const long rssEnd = statusField("VmRSS:"), fdEnd = openFiles(), threadsEnd = statusField("Threads:");

    // Frames off the pace: within each movie's stretch, a step of the code that the time between
    // the frames does not explain by more than one frame.
    const std::vector<ShownFrame> frames = run.output->frames();
    long off = 0, judged = 0;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        const int a = frames[i - 1].code(), b = frames[i].code();
        const bool sameMovie = (a >= 0 && a < 49 && b >= 0 && b < 49) || (a >= 100 && a < 149 && b >= 100 && b < 149);
        if (!sameMovie || b < a)
            continue;
        ++judged;
        const double expected = 25.0 * double(frames[i].hostNs - frames[i - 1].hostNs) * 1e-9;
        off += std::abs(double(b - a) - expected) > 1.5;
    }
    const double span = frames.size() > 1 ? double(frames.back().hostNs - frames.front().hostNs) * 1e-9 : 0;
    std::printf("Soak of %d s, a three-cue looping show (still playing at the end: %s):\n", seconds, playing ? "yes" : "NO");
    std::printf("  output frames %zu in %.1f s (%.1f a second); frames off the movie's pace %ld of %ld\n", frames.size(),
                span, span > 0 ? double(frames.size()) / span : 0, off, judged);
    const auto perMinute = [&](double drift) { return pace.measured > 0 ? drift * 1e3 * 60 / pace.measured : 0; };
    std::printf("  clock pace against CLOCK_MONOTONIC: %+.3f ms over %.1f s (%+.3f ms a minute)\n", pace.drift * 1e3,
                pace.measured, perMinute(pace.drift));
    std::printf("  clock moved by the cue list at hand-overs: %ld times, together %+.3f ms (%+.3f ms a minute); "
                "restarts by the playlist loop: %ld\n",
                pace.moves, pace.moved * 1e3, perMinute(pace.moved), pace.restarts);
    std::printf("  clock drift, pace and hand-overs together: %+.3f ms a minute\n", perMinute(pace.drift + pace.moved));
    std::printf("  resident memory %ld kB -> %ld kB; file descriptors %ld -> %ld; threads %ld -> %ld\n", rssStart, rssEnd,
                fdStart, fdEnd, threadsStart, threadsEnd);
    std::printf("  audio under-runs of the output (%s): %llu\n", engine.backend()->name().c_str(),
                static_cast<unsigned long long>(underruns));
    return playing ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "go";
    if (mode == "go")
        return runGo(argc > 2 ? std::atoi(argv[2]) : 100);
    if (mode == "soak")
        return runSoak(argc > 2 ? std::atoi(argv[2]) : 600);
    std::fprintf(stderr, "usage: endtoend_bench go [GOs] | soak [seconds]\n");
    return 2;
}
