// The backends through our interface: the null backend's hand-run cycles and device ids, and a
// real PulseAudio server (the test process's own) playing into its null sinks, recorded from
// their monitors.

#include "AudioWait.h"
#include "NullAudioBackend.h"
#include "PulseAudioTestServer.h"
#include "PulseRecorder.h"
#include "UnderrunCheck.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

TEST(NullAudioBackend, IdsStayWithTheirNameAndAreNeverReused) {
    NullAudioBackend backend;
    std::vector<AudioBackendEvent> events;
    backend.setEventHandler([&](AudioBackendEvent e) { events.push_back(e); });
    const AudioDeviceID a = backend.addDevice("card-a", "Card A", 0, 2);
    const AudioDeviceID b = backend.addDevice("card-b", "", 2, 0);
    EXPECT_NE(a, 0u);
    EXPECT_NE(a, b);
    backend.removeDevice("card-a");
    EXPECT_FALSE(backend.deviceInfo(a, nullptr));
    const AudioDeviceID c = backend.addDevice("card-c", "Card C", 0, 8);
    EXPECT_NE(c, a);
    EXPECT_EQ(backend.addDevice("card-a", "Card A", 0, 2), a);
    backend.setDefaultOutputDevice(c);
    backend.setDefaultOutputDevice(c);
    EXPECT_EQ(std::count(events.begin(), events.end(), AudioBackendEvent::DefaultOutputChanged), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), AudioBackendEvent::DevicesChanged), 5);
}

TEST(NullAudioBackend, RendersAndCapturesByHand) {
    NullAudioBackend backend;
    const AudioDeviceID in = backend.addDevice("in", "In", 2, 0, 44100);
    EXPECT_EQ(backend.openOutput(in + 100, 2, [](float* const*, uint32_t, uint32_t) {}), nullptr);
    auto output = backend.openOutput(0, 3, [](float* const* planes, uint32_t channels, uint32_t frames) {
        for (uint32_t c = 0; c < channels; ++c)
            for (uint32_t f = 0; f < frames; ++f) planes[c][f] = float(c + 1);
    });
    ASSERT_TRUE(output);
    std::vector<std::vector<float>> planes;
    EXPECT_FALSE(backend.renderCycle(64, planes));
    backend.failNextStart();
    EXPECT_FALSE(output->start());
    ASSERT_TRUE(output->start());
    ASSERT_TRUE(backend.renderCycle(37, planes));
    ASSERT_EQ(planes.size(), 3u);
    EXPECT_EQ(planes[2].size(), 37u);
    EXPECT_EQ(planes[2][36], 3.0f);
    output.reset();
    EXPECT_FALSE(backend.renderCycle(64, planes));

    double rate = 0;
    uint32_t channels = 0;
    int cycles = 0;
    auto capture = backend.openCapture(0, [&](std::span<const AudioCaptureBuffer>) { ++cycles; }, &rate, &channels);
    EXPECT_EQ(capture, nullptr);  // no default input yet
    backend.setDefaultInputDevice(in);
    capture = backend.openCapture(0, [&](std::span<const AudioCaptureBuffer>) { ++cycles; }, &rate, &channels);
    ASSERT_TRUE(capture && capture->start());
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(channels, 2u);
    const float samples[4] = {};
    const AudioCaptureBuffer buffer{samples, 2, 2};
    EXPECT_TRUE(backend.captureCycle(in, std::span(&buffer, 1)));
    EXPECT_EQ(cycles, 1);
}

class PulseAudioBackendTest : public testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        if (!PulseAudioTestServer::ensureRunning(&reason)) GTEST_SKIP() << reason;
        backend = AudioBackend::make("pulse");
        ASSERT_TRUE(backend) << "the test server does not answer";
    }
    AudioDeviceID idOf(const std::string& uid) {
        for (const AudioDeviceInfo& d : backend->devices())
            if (d.uid == uid) return d.id;
        return 0;
    }
    std::shared_ptr<AudioBackend> backend;
};

TEST_F(PulseAudioBackendTest, ListsSinksAndMonitorsWithTheirChannels) {
    AudioDeviceInfo multi, monitor;
    ASSERT_TRUE(backend->deviceInfo(idOf("multi"), &multi));
    EXPECT_EQ(multi.outputChannels, 8);
    EXPECT_EQ(multi.inputChannels, 0);
    EXPECT_EQ(multi.sampleRate, 48000);
    ASSERT_TRUE(backend->deviceInfo(idOf("multi.monitor"), &monitor));
    EXPECT_EQ(monitor.inputChannels, 8);
    EXPECT_NE(backend->defaultOutputDevice(), 0u);
}

TEST_F(PulseAudioBackendTest, NamedDeviceGetsEachChannelUnmixed) {
    auto output = backend->openOutput(idOf("multi"), 8, [](float* const* planes, uint32_t channels, uint32_t frames) {
        for (uint32_t c = 0; c < channels; ++c)
            for (uint32_t f = 0; f < frames; ++f) planes[c][f] = 0.1f * float(c + 1);
    });
    ASSERT_TRUE(output);
    ASSERT_TRUE(output->start());
    PulseRecorder recorder("multi", 8);
    ASSERT_TRUE(recorder.start());
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_GT(output->latency(), 0.0);
    EXPECT_LT(output->latency(), 0.5);
    output->stop();
    const std::vector<float> recorded = recorder.stop();
    size_t matching = 0;
    for (size_t f = 0; f + 8 <= recorded.size(); f += 8) {
        bool all = true;
        for (int c = 0; c < 8; ++c) all = all && std::abs(recorded[f + c] - 0.1f * float(c + 1)) < 1e-6f;
        matching += all;
    }
    EXPECT_GT(matching, 4800u) << recorded.size() / 8 << " frames recorded";
}

TEST_F(PulseAudioBackendTest, HotPlugPostsEventsAndKeepsIds) {
    std::atomic<int> devicesChanged{0};
    backend->setEventHandler([&](AudioBackendEvent e) {
        if (e == AudioBackendEvent::DevicesChanged) ++devicesChanged;
    });
    std::string module;
    ASSERT_TRUE(PulseAudioTestServer::pactl(
        "load-module module-null-sink sink_name=plug channels=2 rate=48000 format=float32le", &module));
    ASSERT_TRUE(waitUntil([&] { return idOf("plug") != 0; }));
    const AudioDeviceID plug = idOf("plug");
    EXPECT_GT(devicesChanged.load(), 0);
    ASSERT_TRUE(PulseAudioTestServer::pactl("unload-module " + module));
    ASSERT_TRUE(waitUntil([&] { return idOf("plug") == 0; }));
    ASSERT_TRUE(PulseAudioTestServer::pactl(
        "load-module module-null-sink sink_name=plug channels=2 rate=48000 format=float32le", &module));
    ASSERT_TRUE(waitUntil([&] { return idOf("plug") != 0; }));
    EXPECT_EQ(idOf("plug"), plug);
    PulseAudioTestServer::pactl("unload-module " + module);
}

TEST_F(PulseAudioBackendTest, DefaultOutputChangeIsAnnounced) {
    std::atomic<int> changed{0};
    backend->setEventHandler([&](AudioBackendEvent e) {
        if (e == AudioBackendEvent::DefaultOutputChanged) ++changed;
    });
    const AudioDeviceID before = backend->defaultOutputDevice();
    const std::string other = before == idOf("multi") ? "stereo" : "multi";
    ASSERT_TRUE(PulseAudioTestServer::pactl("set-default-sink " + other));
    ASSERT_TRUE(waitUntil([&] { return changed.load() > 0; }));
    EXPECT_EQ(backend->defaultOutputDevice(), idOf(other));
}

// An output whose samples come too late makes the device run dry: the server reports it, and
// the stream counts every such report. Here the render callback stalls the loop thread well past
// the server's buffer, twice.
TEST_F(PulseAudioBackendTest, StarvedOutputCountsItsUnderruns) {
    expectEachStallCountedAsAnUnderrun(*backend, idOf("stereo"), std::chrono::milliseconds(600));
}

// A flush drops what the stream holds ahead of the device: of a tone stopped and flushed, less
// reaches the sink than was rendered. What comes after (a second level) arrives as rendered, and
// its arrival shows that everything before it has been recorded.
TEST_F(PulseAudioBackendTest, FlushDropsWhatTheStreamHoldsAheadOfTheDevice) {
    constexpr float kTone = 0.5f, kAfter = 0.25f;
    struct Heard {
        uint64_t rendered = 0, recorded = 0, after = 0;
        bool underran = false;  // the stream may then hold nothing to drop: measured again
    };
    const auto measure = [&] {
        std::atomic<float> level{kTone};
        std::atomic<uint64_t> toneFrames{0}, afterFrames{0};
        auto output = backend->openOutput(idOf("stereo"), 2, [&](float* const* planes, uint32_t channels, uint32_t frames) {
            const float value = level.load();
            for (uint32_t c = 0; c < channels; ++c) std::fill_n(planes[c], frames, value);
            (value == kTone ? toneFrames : afterFrames) += frames;
        });
        Heard heard;
        PulseRecorder recorder("stereo", 2);
        EXPECT_TRUE(output && recorder.start() && output->start());
        if (!output || !output->isRunning()) return heard;
        EXPECT_TRUE(waitUntil([&] { return toneFrames.load() > 24000; }));
        level.store(kAfter);
        output->flush();
        EXPECT_TRUE(waitUntil([&] { return afterFrames.load() > 48000; }, 30));
        output->stop();
        heard.rendered = toneFrames.load();
        heard.underran = output->underruns() > 0;
        const std::vector<float> recorded = recorder.stop();
        for (size_t i = 0; i < recorded.size(); i += 2) {
            heard.recorded += std::abs(recorded[i] - kTone) < 1e-6f;
            heard.after += std::abs(recorded[i] - kAfter) < 1e-6f;
        }
        return heard;
    };
    Heard heard = measure();
    for (int again = 0; heard.underran && again < 3 && !HasFailure(); ++again) heard = measure();
    ASSERT_FALSE(HasFailure());
    ASSERT_GT(heard.after, 0u) << "the recording ends before the flush";
    // The stream keeps about 100 ms ahead; 20 ms is well clear of what a start and the change of
    // level may lose without a flush.
    EXPECT_LT(heard.recorded + 960, heard.rendered) << "the flush dropped less than 20 ms";
}

// A device read the server never answers, because it died meanwhile, must not keep every later
// read from running. The loop thread is held inside an event while a new sink is announced and
// the server killed: let go, it reads the announcement first and asks a dead server for the list.
TEST_F(PulseAudioBackendTest, ReadCutOffByALostServerLeavesTheListToTheNextServer) {
    std::mutex gate;
    std::condition_variable changed;
    bool held = false, released = false;
    std::atomic<bool> holdNext{true};
    backend->setEventHandler([&](AudioBackendEvent e) {
        if (e != AudioBackendEvent::DevicesChanged || !holdNext.exchange(false)) return;
        std::unique_lock lock(gate);
        held = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
    });
    const auto release = [&] {
        std::lock_guard lock(gate);
        released = true;
        changed.notify_all();
    };
    struct Releaser {
        std::function<void()> release;
        ~Releaser() { release(); }
    } releaser{release};

    const std::string sink = "load-module module-null-sink channels=2 rate=48000 format=float32le sink_name=";
    ASSERT_TRUE(PulseAudioTestServer::pactl(sink + "held"));
    {
        std::unique_lock lock(gate);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return held; }));
    }
    ASSERT_TRUE(PulseAudioTestServer::pactl(sink + "late"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the announcement reaches our socket
    PulseAudioTestServer::kill();
    release();
    ASSERT_TRUE(waitUntil([&] { return backend->devices().empty(); }));
    std::string reason;
    ASSERT_TRUE(PulseAudioTestServer::restart(&reason)) << reason;
    EXPECT_TRUE(waitUntil([&] { return idOf("multi") != 0; }));
}

}  // namespace
