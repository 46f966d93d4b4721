// The show chasing LTC as an operator sets it up: libltc's 25 fps code from a time inside movie
// A, played into the test PulseAudio server's "multi" sink, whose monitor is chosen in the
// preferences as the LTC source; the sync-source menu switches to LTC. The output must show
// movie A's frame for the time the LTC carries, and the show stops once the code has been
// silent for the free-wheel time.

#include "EndToEndShow.h"

#include "AudioBackend.h"
#include "Audio/QVTAudioInput.h"
#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "LtcTestSignal.h"
#include "PulseAudioTestServer.h"
#include "Shell/KavioSyncSourceLists.h"
#include "Views/KavioPopUpButton.h"

#include <QAction>
#include <QDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

constexpr int kFps = 25;
constexpr int kFirstFrame = 5;    // the code starts at 00:00:00:05, movie A's frame 5
constexpr int kLtcFrames = 25;    // and runs to 00:00:01:04, well before A's end (frame 49)
constexpr int kFreeWheel = 10;    // the pane's title "10"

std::int64_t monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Sits between the LTC input and the clock while it lives: decodes the same blocks with a
// decoder of its own and notes when each frame came out, then hands the block on. Entries are
// sized in advance (the input's thread never allocates).
class LtcTap {
public:
    struct Decoded {
        std::int64_t ns = 0;
        int frame = 0;  // frames since 00:00:00:00
    };

    LtcTap(std::shared_ptr<QVTAudioInput> input, std::shared_ptr<QVTClock> clock)
        : input_(std::move(input))
        , clock_(std::move(clock))
        , decoder_(ltc_decoder_create(int(input_->deviceSampleRate() / kFps), 16))
        , decoded_(4096)
    {
        input_->setDelegate([this](const float* samples) {
            write(samples);
            clock_->handleLTCData(samples);
        });
    }
    ~LtcTap()
    {
        input_->setDelegate([clock = clock_](const float* samples) { clock->handleLTCData(samples); });
        ltc_decoder_free(decoder_);
    }

    void write(const float* samples)
    {
        ltc_decoder_write_float(decoder_, const_cast<float*>(samples), QVTAudioInput::kBlockSamples, position_);
        position_ += QVTAudioInput::kBlockSamples;
        LTCFrameExt frame;
        while (ltc_decoder_read(decoder_, &frame)) {
            SMPTETimecode time;
            ltc_frame_to_time(&time, &frame.ltc, LTC_USE_DATE);
            const std::size_t n = count_.load(std::memory_order_relaxed);
            if (n >= decoded_.size())
                continue;
            decoded_[n] = {monotonicNs(), ((time.hours * 60 + time.mins) * 60 + time.secs) * kFps + time.frame};
            count_.store(n + 1, std::memory_order_release);
        }
    }

    std::vector<Decoded> decoded() const
    {
        return {decoded_.begin(), decoded_.begin() + long(count_.load(std::memory_order_acquire))};
    }

private:
    std::shared_ptr<QVTAudioInput> input_;
    std::shared_ptr<QVTClock> clock_;
    LTCDecoder* decoder_;
    ltc_off_t position_ = 0;
    std::vector<Decoded> decoded_;
    std::atomic<std::size_t> count_{0};
};

std::string describe(const std::vector<ShownFrame>& frames, const std::vector<int>& expected)
{
    std::ostringstream out;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        out << frames[i].code();
        if (expected[i] >= 0)
            out << '(' << expected[i] << ')';
        out << ' ';
    }
    return out.str();
}

}  // namespace

TEST(LtcChase, TheOutputShowsTheChasedFrameAndTheShowStopsAfterTheFreeWheel)
{
    EndToEndRun run;
    if (!run.available())
        GTEST_SKIP() << run.reason();
    // Movie A at the start of the timeline, without its dissolve (every frame of it shows a clean
    // bar code); the show's clock runs at the code's 25 frames a second.
    QVariantMap project = showProject(run.media);
    QVariantMap playlist = project.value("playlistData").toMap();
    QVariantMap a = playlist.value("1").toMap();
    a.insert("transition", false);
    playlist.insert("1", a);
    project.insert("playlistData", playlist);
    const QString file = run.env.dir.filePath("Chase.kavio2");
    writeProjectFile(file, project);
    run.launch(file);
    if (HasFatalFailure())
        return;
    AppDelegate& app = run.app();
    const AppDelegateOutlets& o = app.outlets();
    const std::shared_ptr<QVTClock> clock = run.controller().masterClock();

    // The operator's steps: the monitor as LTC source, its second channel, the free-wheel time,
    // then LTC in the sync-source menu.
    QString monitor;
    for (const auto& [title, uid] : KavioSyncSourceLists::ltcDevices(AudioBackend::shared()->devices()))
        if (uid == QStringLiteral("multi.monitor"))
            monitor = title;
    ASSERT_FALSE(monitor.isEmpty()) << "the multi sink's monitor is not offered";
    chooseItemWithTitle(o.ltcSourcePopup, monitor);
    chooseItemWithTitle(o.ltcSourceChannelPopup, QStringLiteral("2"));
    chooseItemWithTitle(o.freeWheelTimePopup, QString::number(kFreeWheel));
    o.ltcSource->trigger();
    const std::shared_ptr<QVTAudioInput> input = app.ltcInput();
    ASSERT_TRUE(input);
    ASSERT_EQ(clock->ltcInputNode(), input);
    ASSERT_TRUE(clock->isLTCSlave());
    ASSERT_EQ(clock->freeWheelFrames(), kFreeWheel);
    ASSERT_EQ(clock->framerate(), kFps);
    ASSERT_FALSE(run.controller().isPlaying());

    LtcTap tap(input, clock);

    const std::vector<float> ltc = encodeLTC(kFps, 0, 0, 0, kFirstFrame, kLtcFrames);
    const std::string raw = PulseAudioTestServer::folder() + "/chase-ltc.raw";
    {
        std::ofstream out(raw, std::ios::binary);
        float frame[8] = {};
        for (float sample : ltc) {
            frame[1] = sample;
            out.write(reinterpret_cast<const char*>(frame), sizeof frame);
        }
    }
    const std::size_t beforeLtc = run.output->count();
    ASSERT_EQ(std::system(("pacat --device=multi --format=float32le --rate=48000 --channels=8 --raw " + raw + " &")
                              .c_str()),
              0);
    ASSERT_TRUE(waitFor([&] { return run.controller().isPlaying(); }, 30)) << "the LTC never started the show";
    EXPECT_TRUE(clock->isConnectedToSlave() || clock->isInJamSync());
    ASSERT_TRUE(waitFor([&] { return !run.controller().isPlaying() && !clock->isRunning(); }, 30))
        << "the show went on after the LTC stopped";
    const std::int64_t stoppedAt = clock->frameCountSMPTEString(clock->clockSMPTETime());
    // A few frames more, to see the output after the stop.
    const std::size_t atStop = run.output->count();
    ASSERT_TRUE(waitFor([&] { return run.output->count() > atStop + 5; }));
    run.output->saveSnapshot(QDir(KAVIO_SCREENSHOT_DIR).filePath("endtoend-ltc-chase.png"));

    // The code as decoded beside the clock: in order, without gaps (a decoder may miss the
    // first frame or two while it finds the signal's level and the last one's end).
    const std::vector<LtcTap::Decoded> decoded = tap.decoded();
    ASSERT_GE(decoded.size(), std::size_t(kLtcFrames - 3));
    ASSERT_GE(decoded.front().frame, kFirstFrame);
    ASSERT_LT(decoded.back().frame, kFirstFrame + kLtcFrames);
    for (std::size_t i = 1; i < decoded.size(); ++i)
        ASSERT_EQ(decoded[i].frame, decoded[i - 1].frame + 1) << "the test's own decoding";

    // Once locked (from the code's fourth frame, which leaves the movie time to seek and start)
    // until the code's last frame has had its frame time, each drawn frame shows A's frame for
    // the LTC time last decoded before it was drawn, within one frame: judged against the code
    // as it came, so a loaded machine that draws or decodes late is held to the same mark.
    const std::vector<ShownFrame> all = run.output->frames();
    const std::vector<ShownFrame> frames(all.begin() + long(beforeLtc), all.end());
    const std::int64_t from = decoded[3].ns, until = decoded.back().ns + 1'000'000'000 / kFps;
    std::vector<int> expected(frames.size(), -1);
    int judged = 0, off = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const ShownFrame& shown = frames[i];
        if (shown.hostNs < from || shown.hostNs >= until)
            continue;
        std::size_t last = 0;
        while (last + 1 < decoded.size() && decoded[last + 1].ns <= shown.hostNs)
            ++last;
        expected[i] = decoded[last].frame;
        ++judged;
        if (std::abs(shown.code() - expected[i]) > 1)
            ++off;
    }
    EXPECT_EQ(off, 0) << "frames shown (LTC frame decoded then): " << describe(frames, expected);
    EXPECT_GE(judged, 10) << describe(frames, expected);

    // Silence: the clock holds the last time the code gave, the picture runs on for the
    // free-wheel frames, then the lock is given up and the show stops there.
    EXPECT_NEAR(double(stoppedAt), double(decoded.back().frame), 1.0) << clock->clockSMPTETime().toStdString();
    EXPECT_FALSE(clock->isConnectedToSlave());
    const int runOn = frames.back().code() - decoded.back().frame;
    EXPECT_GE(runOn, kFreeWheel - 3) << describe(frames, expected);
    EXPECT_LE(runOn, kFreeWheel + 6) << describe(frames, expected);
    o.standaloneSource->trigger();
}
