// The show from GO to its last cue, as the output window showed it and the sink played it.

#include "EndToEndShow.h"
#include "EndToEndSound.h"

#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "DispatchQueue.h"
#include "Rendering/KavioRenderClock.h"

#include <QDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <sstream>

namespace {

using EndToEndSound::Heard;

enum class Shown { A, Mix, B, Still, Black, Other };

Shown kindOf(const ShownFrame& frame)
{
    const int code = frame.code();
    if (code >= 0 && code < 50)
        return Shown::A;
    if (code >= 100 && code < 150)
        return Shown::B;
    // The still is orange all over: its top row is too.
    if (frame.body[0] > 0.8f && frame.body[1] > 0.35f && frame.body[1] < 0.65f && frame.body[2] < 0.25f)
        return Shown::Still;
    if (frame.isBlack())
        return Shown::Black;
    return code < 0 ? Shown::Mix : Shown::Other;
}

// The best explanation of a dissolve frame: A's frame a under B's frame b at B's share t.
struct Mix {
    int a = -1, b = -1;
    double t = 0, error = 1e9;
};

Mix explain(const ShownFrame& frame)
{
    Mix best;
    for (int a = 0; a < 50; ++a)
        for (int b = 100; b < 150; ++b) {
            // Least squares for t over the bits: level = (1 - t) A + t B.
            double num = 0, den = 0;
            for (int bit = 0; bit < 8; ++bit) {
                const double A = (a >> bit) & 1, B = (b >> bit) & 1;
                num += (frame.bits[bit] - A) * (B - A);
                den += (B - A) * (B - A);
            }
            const double t = den > 0 ? std::clamp(num / den, 0.0, 1.0) : 0.5;
            double error = 0;
            for (int bit = 0; bit < 8; ++bit) {
                const double A = (a >> bit) & 1, B = (b >> bit) & 1;
                error = std::max(error, std::abs(frame.bits[bit] - ((1 - t) * A + t * B)));
            }
            if (error < best.error)
                best = {a, b, t, error};
        }
    return best;
}

std::int64_t monotonicNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string describe(const std::vector<ShownFrame>& frames)
{
    std::ostringstream out;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const int code = frames[i].code();
        out << (code >= 0 ? std::to_string(code) : frames[i].isBlack() ? "K" : "?") << ' ';
    }
    return out.str();
}

}  // namespace

TEST(ShowRun, GoPlaysTheShowToItsLastCueOnTheOutputAndTheSink)
{
    EndToEndRun run;
    if (!run.available())
        GTEST_SKIP() << run.reason();
    run.launchShow();
    if (HasFatalFailure())
        return;
    KavioVideoItemManager& controller = run.controller();
    ASSERT_EQ(controller.items()->size(), 4u);
    for (int i = 1; i <= 4; ++i)
        ASSERT_TRUE(run.cue(i)->isReady()) << "cue " << i;

    const std::size_t beforeGo = run.go();
    if (HasFatalFailure())
        return;
    // The main thread runs as the program's event loop does, taking work posted to it at once:
    // a cue's players start there, and a wait that sleeps between its turns would start each
    // follow-on that much late.
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return !controller.isPlaying(); }, 60)) << "the show never ended";
    const std::int64_t stoppedNs = monotonicNanoseconds();
    // A few frames after the end, for what the output shows then.
    const std::size_t atEnd = run.output->count();
    ASSERT_TRUE(waitFor([&] { return run.output->count() > atEnd + 5; }));
    const std::vector<float> sound = run.sound->stop();
    run.output->saveSnapshot(QDir(KAVIO_SCREENSHOT_DIR).filePath("endtoend-end.png"));
    const std::vector<ShownFrame> all = run.output->frames();
    const std::vector<ShownFrame> frames(all.begin() + long(beforeGo), all.end());
    const double period = 1.0 / controller.renderClock()->renderingFPS();

    std::vector<Shown> kinds;
    for (const ShownFrame& frame : frames)
        kinds.push_back(kindOf(frame));
    const auto firstOf = [&](Shown kind, long from = 0) {
        for (long i = from; i < long(kinds.size()); ++i)
            if (kinds[std::size_t(i)] == kind)
                return i;
        return -1L;
    };
    const auto seconds = [&](long from, long to) { return double(frames[std::size_t(to)].hostNs - frames[std::size_t(from)].hostNs) * 1e-9; };
    const long firstA = firstOf(Shown::A), firstMix = firstOf(Shown::Mix), firstB = firstOf(Shown::B);
    ASSERT_GE(firstA, 0) << describe(frames);
    ASSERT_GT(firstMix, firstA) << describe(frames);
    ASSERT_GT(firstB, firstMix) << describe(frames);
    const long firstStill = firstOf(Shown::Still, firstB);
    ASSERT_GT(firstStill, firstB) << describe(frames);
    long lastB = firstB;
    for (long i = firstB; i < firstStill; ++i)
        if (kinds[std::size_t(i)] == Shown::B)
            lastB = i;

    // Between A's first frame and B's last nothing is black, and every frame shows A, B or
    // their mix.
    for (long i = firstA; i <= lastB; ++i) {
        if (kinds[std::size_t(i)] == Shown::Black)
            ADD_FAILURE() << "a black frame at " << i << " between A's first frame and B's last: " << describe(frames);
        if (kinds[std::size_t(i)] == Shown::Mix && explain(frames[std::size_t(i)]).error > 0.12)
            ADD_FAILURE() << "frame " << i << " is neither A, B nor their mix: " << describe(frames);
    }
    EXPECT_LE(frames[std::size_t(firstA)].code(), 1) << "A starts at its start";
    // B's last frame lasts 40 ms, which the drawing of a loaded machine may pass over.
    EXPECT_GE(frames[std::size_t(lastB)].code(), 148) << "B played to its end";

    // Each movie keeps the clock's pace (25 frames a second), however often the loaded machine
    // managed to draw: from its first move to its last frame (the dissolve read from the mix),
    // no frame is held or skipped by more than one beyond the drawing's own jitter.
    struct Pace {
        double earliest = 1e9, latest = -1e9;
        double sum = 0;
        int count = 0;
        std::int64_t originNs = 0;
        void add(int frame, std::int64_t ns)
        {
            const double lag = frame - 25.0 * double(ns - originNs) * 1e-9;
            earliest = std::min(earliest, lag), latest = std::max(latest, lag);
            sum += lag, ++count;
        }
        double spread() const { return latest - earliest; }
        // When the movie's frame 0 was due, in seconds from the origin, by the frames seen.
        double start() const { return -sum / count / 25.0; }
    } paceA, paceB;
    paceA.originNs = paceB.originNs = frames[std::size_t(firstA)].hostNs;
    int offset = 0;  // B's frame number less A's, under the dissolve
    for (long i = firstA; i <= lastB; ++i) {
        const ShownFrame& frame = frames[std::size_t(i)];
        int a = -1, b = -1;
        if (kinds[std::size_t(i)] == Shown::A)
            a = frame.code();
        else if (kinds[std::size_t(i)] == Shown::B)
            b = frame.code() - 100;
        else if (const Mix mix = explain(frame); mix.t > 0.1 && mix.t < 0.9)
            a = mix.a, b = mix.b - 100, offset = b - a;
        if (a > frames[std::size_t(firstA)].code())
            paceA.add(a, frame.hostNs);
        if (b >= 0 && b < 49)
            paceB.add(b, frame.hostNs);
    }
    EXPECT_LE(paceA.spread(), kPaceSpreadFrames) << "A lost the clock's pace: " << describe(frames);
    EXPECT_LE(paceB.spread(), kPaceSpreadFrames) << "B lost the clock's pace: " << describe(frames);
    // B starts as A has 1 s to go: its frame 0 under A's frame 25, give or take the start of its
    // players on a loaded machine.
    EXPECT_NEAR(offset, -25, 3) << "B did not start 1 s before A's end";

    // The dissolve: B's share rises in a straight line over 1 s.
    std::vector<std::pair<double, double>> shares;
    for (long i = firstA; i <= lastB; ++i)
        if (kinds[std::size_t(i)] == Shown::Mix)
            if (const Mix mix = explain(frames[std::size_t(i)]); mix.t > 0.1 && mix.t < 0.9)
                shares.emplace_back(seconds(firstA, i), mix.t);
    ASSERT_GE(shares.size(), 4u) << "too few frames of the dissolve: " << describe(frames);
    double mt = 0, ms = 0, stt = 0, sts = 0;
    for (const auto& [t, share] : shares)
        mt += t / double(shares.size()), ms += share / double(shares.size());
    for (const auto& [t, share] : shares)
        stt += (t - mt) * (t - mt), sts += (t - mt) * (share - ms);
    const double dissolve = stt / sts, halfway = mt + (0.5 - ms) * dissolve;
    EXPECT_NEAR(dissolve, 1.0, 0.1) << "the dissolve's length";

    // After B the audio cue shows no picture, then the still holds for its 2 s, and the show
    // stops where the playlist settings say: at the end of its last cue (the list does not loop),
    // still showing it.
    const double stillHeld = double(stoppedNs - frames[std::size_t(firstStill)].hostNs) * 1e-9;
    EXPECT_NEAR(stillHeld, 2.0, 0.15 + period) << describe(frames);
    EXPECT_NEAR(seconds(lastB, firstStill), 2.0, 0.15 + period) << "the audio cue's length";
    EXPECT_EQ(controller.currentItem(), run.cue(4));
    EXPECT_EQ(kinds.back(), Shown::Still);

    // The sound: A's tone from its picture, into B's with no gap, the counter unbroken.
    using EndToEndSound::Timeline;
    const Timeline heard = EndToEndSound::listen(sound);
    const long soundA = heard.first(Heard::A), soundCounter = heard.first(Heard::Counter);
    ASSERT_GE(soundA, 0) << "A's tone never played";
    const long soundHalfway = heard.crossover(soundA);
    ASSERT_GT(soundHalfway, soundA) << "B's tone never played";
    ASSERT_GT(soundCounter, soundHalfway) << "the counter never played";
    const long counterEnd = heard.last(Heard::Counter);
    long gapAt = -1;
    const long gap = heard.longestSilence(soundA, counterEnd, &gapAt);
    EXPECT_EQ(EndToEndSound::counterBreaks(sound, soundCounter + 1, counterEnd), 0) << "the counter lost samples";
    // Picture and sound keep the same distances from A's start (the sink's latency is one
    // constant): the sound crosses from A to B as the picture does, and the counter starts as
    // B's picture ends.
    // One output frame as the machine drew them (the display's period or the longer mean
    // interval of a loaded machine), and the sound's windows.
    const double drawn = std::max(period, seconds(firstA, lastB) / double(lastB - firstA));
    // A cue's players start from the main queue, which a loaded machine holds up: the follow-on's
    // first samples, and any picture, may come an output frame or two late.
    const double tolerance = 2 * drawn + 0.011;
    // A late start shortens what is heard of the counter by as much; its samples stay unbroken.
    EXPECT_NEAR(Timeline::seconds(counterEnd - soundCounter + 1), 2.0, tolerance) << "the counter's length";
    EXPECT_LE(Timeline::seconds(gap), tolerance) << "the sound broke off at " << Timeline::seconds(gapAt - soundA)
                                                 << " s from A's start";
    const double pictureToB = halfway - paceA.start(), soundToB = Timeline::seconds(soundHalfway - soundA);
    EXPECT_NEAR(soundToB, pictureToB, tolerance) << "B's sound against its picture";
    const double pictureToCounter = paceB.start() + 2.0 - paceA.start(), soundToCounter = Timeline::seconds(soundCounter - soundA);
    EXPECT_NEAR(soundToCounter, pictureToCounter, tolerance) << "the counter against the end of B";
    std::printf("output period %.2f ms, drawn every %.2f ms, %zu frames in %.2f s; pace spread A %.2f B %.2f frames; B under A at %d; "
                "longest gap in the sound %.3f s; dissolve %.3f s; A to B halfway: picture %.3f s, sound %.3f s; A to the counter: picture %.3f s, sound %.3f s\n",
                period * 1e3, drawn * 1e3, frames.size(), seconds(0, long(frames.size()) - 1), paceA.spread(), paceB.spread(), -offset,
                Timeline::seconds(gap), dissolve, pictureToB, soundToB, pictureToCounter, soundToCounter);
}
