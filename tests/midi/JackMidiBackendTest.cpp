// End to end through a real JACK server: the test process's `jackd -d dummy` (JackTestServer).
// A second JACK client (the peer) plays the other program: it sends to the manager's sources and to "To Kavio", and receives what we send.

#include "AlsaMidiBackend.h"
#include "JackTestPeers.h"
#include "JackTestServer.h"
#include "MidiTestSupport.h"

#include <gtest/gtest.h>

#include <jack/jack.h>

using namespace TonarilNotifications;
using namespace JackTestPeers;

namespace {

class JackMidiTest : public testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        if (!JackTestServer::ensureRunning(&reason)) GTEST_SKIP() << reason;
        peer = std::make_unique<Peer>();
        ASSERT_TRUE(peer->ok());
        started = std::make_unique<StartedManager>(makeJackMidiBackend());
        ASSERT_TRUE(started->manager);
        manager = started->manager.get();
        recorder = started->recorder.get();
    }
    void TearDown() override {
        started.reset();
        peer.reset();
    }

    std::unique_ptr<Peer> peer;
    std::unique_ptr<StartedManager> started;
    QVTMIDIManager* manager = nullptr;
    PostedRecorder* recorder = nullptr;
};

TEST_F(JackMidiTest, MessagesFromAJackClientArriveAsNotifications) {
    auto source = manager->sourceNodeNamed("peer:out");
    ASSERT_TRUE(source) << manager->midiSourceNames().join(", ").toStdString();
    auto virtualReceiver = manager->virtualReceiver();
    ASSERT_EQ(virtualReceiver->nodeName(), "To Kavio");
    // The peer's port is one of our sources, and the peer also sends to "To Kavio": every
    // message arrives once on each node.
    ASSERT_EQ(jack_connect(peer->client(), "peer:out", "midiClient:To Kavio"), 0);
    // Connections reach the server's process graph some cycles after they are made, later still
    // on a busy machine: probe with quarter frames until both nodes hear them, then start clean.
    const auto heardOnBoth = [&] {
        return recorder->count(kMTCQuarterFrameReceived, source.get()) > 0 &&
               recorder->count(kMTCQuarterFrameReceived, virtualReceiver.get()) > 0;
    };
    for (int probe = 0; probe < 20 && !heardOnBoth(); ++probe) {
        peer->send({0xF1, 0x00});
        PostedRecorder::waitFor(heardOnBoth, 1.0);
    }
    ASSERT_TRUE(heardOnBoth()) << "the peer's port never reached both nodes";
    PostedRecorder::waitFor([] { return false; }, 0.3);  // a late probe lands before the clear
    recorder->clear();

    peer->send({0x93, 0x3C, 0x64});
    peer->send({0xB5, 0x07, 0x7F});
    peer->send({0xF1, 0x25});
    peer->send({0xF0, 0x7F, 0x7F, 0x06, 0x02, 0xF7});
    peer->send({0xF0, 0x7F, 0x01, 0x02, 0x01, 0x01, 0x31, 0x32, 0x00, 0xF7});
    for (void* object : {static_cast<void*>(source.get()), static_cast<void*>(virtualReceiver.get())}) {
        ASSERT_TRUE(PostedRecorder::waitFor([&] { return recorder->count(kMSCGo, object) == 1; }, 20.0));
        const auto note = recorder->named(kNoteReceived, object);
        ASSERT_EQ(note.size(), 1u);
        EXPECT_EQ(note[0].userInfo, (QVariantMap{{"CH", 3}, {"NOTE", 60}, {"VAL", 100}, {"TYPE", 0}}));
        EXPECT_NE(note[0].thread, std::this_thread::get_id());  // the MIDI input thread
        ASSERT_EQ(recorder->count(kCCReceived, object), 1u);
        EXPECT_EQ(recorder->named(kCCReceived, object)[0].userInfo.value("CC").toInt(), 7);
        const auto quarter = recorder->named(kMTCQuarterFrameReceived, object);
        ASSERT_EQ(quarter.size(), 1u);
        EXPECT_EQ(quarter[0].userInfo.value("PACKETDATA").toInt(), 0x25);
        EXPECT_GT(quarter[0].userInfo.value("TIMESTAMPT").toULongLong(), 0u);
        ASSERT_EQ(recorder->count(kMMCPlay, object), 1u);
        EXPECT_EQ(recorder->named(kMMCPlay, object)[0].userInfo.value("deviceID").toInt(), 127);
        EXPECT_EQ(recorder->named(kMSCGo, object)[0].userInfo.value("cueNum").toLongLong(), 12);
    }
}

TEST_F(JackMidiTest, SourcesThatAppearOrVanishPostSetupChanged) {
    const std::size_t before = recorder->count(kSetupChanged);
    jack_port_t* extra = jack_port_register(peer->client(), "extra", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    ASSERT_TRUE(extra);
    ASSERT_TRUE(PostedRecorder::waitFor([&] { return manager->sourceNodeNamed("peer:extra") != nullptr; }));
    EXPECT_GT(recorder->count(kSetupChanged), before);

    const std::size_t appeared = recorder->count(kSetupChanged);
    jack_port_unregister(peer->client(), extra);
    ASSERT_TRUE(PostedRecorder::waitFor([&] { return manager->sourceNodeNamed("peer:extra") == nullptr; }));
    EXPECT_GT(recorder->count(kSetupChanged), appeared);
    EXPECT_TRUE(manager->sourceNodeNamed("peer:out"));
}

TEST_F(JackMidiTest, TimeCodeAndTransportReachAJackClientInOrder) {
    auto destination = manager->destinationNodeNamed("peer:in");
    ASSERT_TRUE(destination) << manager->midiDestNames().join(", ").toStdString();
    manager->sendMMCLocateWithSMTPETime("01:02:03:04", destination.get());
    manager->sendMTCQuarterWithSMTPETime("01:02:03:04", destination.get());
    manager->sendMMCPlayWithDeviceID(0x7F, destination.get());

    ASSERT_TRUE(PostedRecorder::waitFor([&] { return peer->received().size() >= 10; }));
    const auto got = peer->received();
    ASSERT_EQ(got.size(), 10u);
    EXPECT_EQ(got[0], (Bytes{0xF0, 0x7F, 0x7F, 0x06, 0x44, 0x06, 0x01, 0x61, 0x02, 0x03, 0x04, 0x00, 0xF7}));
    const Bytes pieces = {0x04, 0x10, 0x23, 0x30, 0x42, 0x50, 0x61, 0x76};
    for (std::size_t k = 0; k < 8; ++k) EXPECT_EQ(got[1 + k], (Bytes{0xF1, pieces[k]})) << k;
    EXPECT_EQ(got[9], (Bytes{0xF0, 0x7F, 0x7F, 0x06, 0x02, 0xF7}));
}

TEST_F(JackMidiTest, TheDefaultBackendIsJackWhereThereIsNoSequencer) {
    if (alsaSequencerAvailable()) GTEST_SKIP() << "this machine has an ALSA sequencer";
    EXPECT_EQ(MidiBackend::chooseDefault()->name(), "JACK");
}

}  // namespace
