// How long the sink still sounds after a stop or a panic, measured from the moment the program
// reports the show stopped.

#include "EndToEndShow.h"
#include "EndToEndSound.h"

#include "Controller/KavioVideoItemManager.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

// Seconds of sound after `command` took A off, half a second into the show.
void measureTail(const char* command)
{
    EndToEndRun run;
    if (!run.available())
        GTEST_SKIP() << run.reason();
    {
        run.launchShow();
        if (::testing::Test::HasFatalFailure())
            return;
        KavioVideoItemManager& controller = run.controller();
        const std::size_t beforeGo = run.go();
        if (::testing::Test::HasFatalFailure())
            return;
        // Half a second into A, then the command.
        ASSERT_TRUE(waitFor([&] {
            for (std::size_t i = beforeGo; i < run.output->count(); ++i)
                if (run.output->at(i).code() >= 12 && run.output->at(i).code() < 50)
                    return true;
            return false;
        }));
        run.osc.send(command);
        ASSERT_TRUE(waitFor([&] { return !controller.isPlaying(); }));
        const auto stopped = std::chrono::steady_clock::now();
        // The sink drains for a while; the recording covers it.
        waitFor([&] { return std::chrono::steady_clock::now() - stopped > std::chrono::milliseconds(800); }, 5);
        const std::vector<float> sound = run.sound->stop();
        run.sound.reset();
        const std::vector<ShownFrame> all = run.output->frames();
        std::int64_t frameZeroNs = 0;
        paceSpread({all.begin() + long(beforeGo), all.end()}, 0, &frameZeroNs);
        ASSERT_NE(frameZeroNs, 0);

        // The sound's length from A's start against the picture's (the sink's latency is one
        // constant): what is longer sounded after the stop.
        const EndToEndSound::Timeline heard = EndToEndSound::listen(sound);
        const long first = heard.first(EndToEndSound::Heard::A);
        long last = first;
        for (long i = first; i < long(heard.windows.size()); ++i)
            if (heard.windows[std::size_t(i)] != EndToEndSound::Heard::Silence)
                last = i;
        ASSERT_GE(first, 0);
        const double played = EndToEndSound::Timeline::seconds(last - first + 1);
        const double shown = std::chrono::duration<double>(stopped.time_since_epoch()).count() - double(frameZeroNs) * 1e-9;
        const double tail = played - shown;
        std::printf("%s: sound %.3f s, picture until the stop %.3f s, tail %.3f s\n", command, played, shown, tail);
        // The stop drops what the output stream held ahead of the device (about 0.1 s); what is
        // left is the sink's own part of the latency, the step to the main thread that drops it,
        // and this measure's spread on a loaded machine (about 0.1 s either way).
        EXPECT_LT(tail, 0.3) << "the sink kept sounding after the stop";
    }
}

}  // namespace

TEST(ShowStop, StopLeavesNoMoreThanTheSinksLatency)
{
    measureTail("/kavio/stop");
}

TEST(ShowStop, PanicLeavesNoMoreThanTheSinksLatency)
{
    measureTail("/kavio/panic");
}
