// End to end through the ALSA sequencer, where this machine has one: a second sequencer client
// plays the other program.

#include "AlsaMidiBackend.h"
#include "MidiTestSupport.h"

#include <gtest/gtest.h>

#include <alsa/asoundlib.h>

using namespace TonarilNotifications;

namespace {

class AlsaMidiTest : public testing::Test {
protected:
    void SetUp() override {
        if (!alsaSequencerAvailable()) GTEST_SKIP() << "no ALSA sequencer (/dev/snd/seq) on this machine";
        ASSERT_GE(snd_seq_open(&peer, "default", SND_SEQ_OPEN_DUPLEX, 0), 0);
        snd_seq_set_client_name(peer, "kavio-test-peer");
        peerPort = snd_seq_create_simple_port(peer, "out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                              SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        ASSERT_GE(peerPort, 0);
        started = std::make_unique<StartedManager>(makeAlsaMidiBackend());
        ASSERT_TRUE(started->manager);
        manager = started->manager.get();
        recorder = started->recorder.get();
    }
    void TearDown() override {
        started.reset();
        if (peer) snd_seq_close(peer);
    }

    void sendNote(int note) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        snd_seq_ev_set_source(&event, peerPort);
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        snd_seq_ev_set_noteon(&event, 3, note, 100);
        snd_seq_event_output(peer, &event);
        snd_seq_drain_output(peer);
    }

    snd_seq_t* peer = nullptr;
    int peerPort = -1;
    std::unique_ptr<StartedManager> started;
    QVTMIDIManager* manager = nullptr;
    PostedRecorder* recorder = nullptr;
};

TEST_F(AlsaMidiTest, ANoteFromAnotherSequencerClientArrivesOnItsNode) {
    auto source = manager->sourceNodeNamed("kavio-test-peer:out");
    ASSERT_TRUE(source) << manager->midiSourceNames().join(", ").toStdString();
    sendNote(60);
    void* object = source.get();
    ASSERT_TRUE(PostedRecorder::waitFor([&] { return recorder->count(kNoteReceived, object) == 1; }));
    EXPECT_EQ(recorder->named(kNoteReceived, object)[0].userInfo,
              (QVariantMap{{"CH", 3}, {"NOTE", 60}, {"VAL", 100}, {"TYPE", 0}}));
}

TEST_F(AlsaMidiTest, APortThatVanishesLosesItsNode) {
    ASSERT_TRUE(manager->sourceNodeNamed("kavio-test-peer:out"));
    const std::size_t before = recorder->count(kSetupChanged);
    snd_seq_delete_simple_port(peer, peerPort);
    ASSERT_TRUE(PostedRecorder::waitFor([&] { return !manager->sourceNodeNamed("kavio-test-peer:out"); }));
    EXPECT_GT(recorder->count(kSetupChanged), before);
}

}  // namespace
