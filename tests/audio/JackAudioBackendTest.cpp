// The JACK backend against the test process's own `jackd -d dummy`: a peer client stands for a
// device, recording what reaches its input ports and playing a ramp on its output port.

#include "AudioBackend.h"
#include "AudioWait.h"
#include "JackPeer.h"
#include "JackTestServer.h"
#include "UnderrunCheck.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

namespace {

class JackAudioBackendTest : public testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        if (!JackTestServer::ensureRunning(&reason)) GTEST_SKIP() << reason;
        backend = AudioBackend::make("jack");
        ASSERT_TRUE(backend);
    }
    AudioDeviceID idOf(const std::string& uid) {
        for (const AudioDeviceInfo& d : backend->devices())
            if (d.uid == uid) return d.id;
        return 0;
    }
    std::shared_ptr<AudioBackend> backend;
};

TEST_F(JackAudioBackendTest, ClientsWithPortsAreDevicesThatComeAndGo) {
    AudioDeviceInfo system;
    ASSERT_TRUE(backend->deviceInfo(idOf("jack:system"), &system));
    EXPECT_EQ(system.outputChannels, 8);
    EXPECT_EQ(system.inputChannels, 8);
    EXPECT_EQ(backend->defaultOutputDevice(), system.id);
    std::atomic<int> changes{0};
    backend->setEventHandler([&](AudioBackendEvent e) { changes += e == AudioBackendEvent::DevicesChanged; });
    AudioDeviceID peerId = 0;
    {
        JackPeer peer;
        ASSERT_TRUE(peer.ok());
        ASSERT_TRUE(waitUntil([&] { return (peerId = idOf("jack:peer")) != 0; }));
        AudioDeviceInfo info;
        ASSERT_TRUE(waitUntil([&] { return backend->deviceInfo(peerId, &info) && info.inputChannels == 1; }));
        EXPECT_EQ(info.outputChannels, JackPeer::kInputs);
    }
    ASSERT_TRUE(waitUntil([&] { return idOf("jack:peer") == 0; }));
    EXPECT_GE(changes.load(), 2);
    JackPeer again;
    ASSERT_TRUE(waitUntil([&] { return idOf("jack:peer") != 0; }));
    EXPECT_EQ(idOf("jack:peer"), peerId);
}

TEST_F(JackAudioBackendTest, EachChannelReachesItsPortAndCaptureArrives) {
    JackPeer peer;
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(waitUntil([&] {
        AudioDeviceInfo info;
        return backend->deviceInfo(idOf("jack:peer"), &info) && info.outputChannels == JackPeer::kInputs && info.inputChannels == 1;
    }));
    auto output = backend->openOutput(idOf("jack:peer"), 8, [](float* const* planes, uint32_t channels, uint32_t frames) {
        for (uint32_t c = 0; c < channels; ++c)
            for (uint32_t f = 0; f < frames; ++f) planes[c][f] = 0.1f * float(c + 1);
    });
    ASSERT_TRUE(output && output->start());
    EXPECT_GT(output->latency(), 0.0);
    ASSERT_TRUE(waitUntil([&] { return peer.lastIn(7) != 0.0f; }));
    for (int c = 0; c < 8; ++c) EXPECT_FLOAT_EQ(peer.lastIn(c), 0.1f * float(c + 1)) << c;

    std::atomic<uint32_t> frames{0};
    std::atomic<bool> ramp{true};
    double rate = 0;
    uint32_t channels = 0;
    std::vector<float> last;
    auto capture = backend->openCapture(
        idOf("jack:peer"),
        [&](std::span<const AudioCaptureBuffer> buffers) {
            for (const AudioCaptureBuffer& b : buffers) {
                for (uint32_t f = 1; f < b.frames; ++f) {
                    const float step = b.samples[f] - b.samples[f - 1];
                    if (std::abs(step - 0.001f) > 1e-5f && b.samples[f] != 0.0f) ramp = false;
                }
                frames += b.frames;
            }
        },
        &rate, &channels);
    ASSERT_TRUE(capture && capture->start());
    EXPECT_EQ(rate, 48000.0);
    EXPECT_EQ(channels, 1u);
    ASSERT_TRUE(waitUntil([&] { return frames.load() > 4800; }));
    capture.reset();
    EXPECT_TRUE(ramp.load());
}

// A render callback that stalls a cycle well past its period makes the server report an xrun,
// and the output stream counts it.
TEST_F(JackAudioBackendTest, StalledOutputCountsTheServersXruns) {
    expectEachStallCountedAsAnUnderrun(*backend, idOf("jack:system"), std::chrono::milliseconds(60));
}

}  // namespace
