// LTC through real servers into the master clock: libltc's 25 fps code on the second of two
// channels, played by pacat into a PulseAudio null sink and read from its monitor, and played by
// a JACK peer's port; the clock locks and follows across a minute roll-over.

#include "Audio/QVTAudioInput.h"
#include "AudioWait.h"
#include "Clock/QVTClock.h"
#include "DispatchQueue.h"
#include "JackTestServer.h"
#include "LtcTestSignal.h"
#include "PulseAudioTestServer.h"

#include <jack/jack.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>

namespace {

constexpr int kFrames = 25 * 4;  // 00:00:58:00 .. 00:01:01:24

// A clock following LTC from `input` until it shows a time past the minute.
void expectClockFollows(const std::shared_ptr<QVTAudioInput>& input, const std::function<void()>& play) {
    auto clock = QVTClock::initClock();
    clock->setSmpteFormat(QVTClockSMPTEFormat25);
    clock->setMaxClockSMPTETime("01:00:00:00");
    clock->setIsLTCSlave(true);
    clock->runClockRenderer();
    clock->setLtcInputNode(input);
    ASSERT_EQ(clock->ltcInputNode(), input);
    play();
    const int64_t pastTheMinute = clock->frameCountSMPTEString("00:01:00:10");
    // The clock hands its times to the main queue.
    EXPECT_TRUE(DispatchQueue::runMainUntil(
        [&] { return clock->frameCountSMPTEString(clock->clockSMPTETime()) >= pastTheMinute; }, 15))
        << clock->clockSMPTETime().toStdString();
    EXPECT_TRUE(clock->isConnectedToSlave() || clock->isInJamSync());
    clock->setLtcInputNode(nullptr);
}

TEST(LtcInputServers, PulseAudioMonitor) {
    std::string reason;
    if (!PulseAudioTestServer::ensureRunning(&reason)) GTEST_SKIP() << reason;
    auto backend = AudioBackend::make("pulse");
    ASSERT_TRUE(backend);
    auto input = std::make_shared<QVTAudioInput>("stereo.monitor", backend);
    ASSERT_NE(input->device(), 0u);
    EXPECT_EQ(input->deviceChannelCount(), 2u);
    EXPECT_EQ(input->deviceSampleRate(), 48000.0);
    input->setInputChannel(1);

    const std::vector<float> ltc = encodeLTC(25, 0, 0, 58, 0, kFrames);
    const std::string file = PulseAudioTestServer::folder() + "/ltc.raw";
    {
        std::ofstream out(file, std::ios::binary);
        for (float sample : ltc) {
            const float frame[2] = {0.0f, sample};
            out.write(reinterpret_cast<const char*>(frame), sizeof frame);
        }
    }
    expectClockFollows(input, [&] {
        std::system(("pacat --device=stereo --format=float32le --rate=48000 --channels=2 --raw " + file + " &").c_str());
    });
}

// A JACK client playing LTC on the second of its two output ports.
class LtcPeer {
public:
    explicit LtcPeer(std::vector<float> samples) : samples_(std::move(samples)) {
        jack_status_t status{};
        client_ = jack_client_open("ltcpeer", JackNoStartServer, &status);
        if (!client_) return;
        quiet_ = jack_port_register(client_, "quiet", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        ltc_ = jack_port_register(client_, "ltc", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client_, &LtcPeer::process, this);
        jack_activate(client_);  // ports of an inactive client cannot be connected
    }
    ~LtcPeer() {
        if (!client_) return;
        jack_deactivate(client_);
        jack_client_close(client_);
    }
    bool ok() const { return client_ && ltc_; }
    void play() { playing_ = true; }

private:
    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<LtcPeer*>(arg);
        auto* quiet = static_cast<float*>(jack_port_get_buffer(self->quiet_, frames));
        auto* ltc = static_cast<float*>(jack_port_get_buffer(self->ltc_, frames));
        for (jack_nframes_t f = 0; f < frames; ++f) {
            quiet[f] = 0;
            const bool sounding = self->playing_.load() && self->position_ < self->samples_.size();
            ltc[f] = sounding ? self->samples_[self->position_++] : 0.0f;
        }
        return 0;
    }
    std::vector<float> samples_;
    size_t position_ = 0;
    std::atomic<bool> playing_{false};
    jack_client_t* client_ = nullptr;
    jack_port_t* quiet_ = nullptr;
    jack_port_t* ltc_ = nullptr;
};

TEST(LtcInputServers, JackPeerPort) {
    std::string reason;
    if (!JackTestServer::ensureRunning(&reason)) GTEST_SKIP() << reason;
    auto backend = AudioBackend::make("jack");
    ASSERT_TRUE(backend);
    LtcPeer peer(encodeLTC(25, 0, 0, 58, 0, kFrames));
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(waitUntil([&] {
        for (const AudioDeviceInfo& d : backend->devices())
            if (d.uid == "jack:ltcpeer" && d.inputChannels == 2) return true;
        return false;
    }));
    auto input = std::make_shared<QVTAudioInput>("jack:ltcpeer", backend);
    EXPECT_EQ(input->deviceChannelCount(), 2u);
    input->setInputChannel(1);
    expectClockFollows(input, [&] { peer.play(); });
}

}  // namespace
