// End to end through a real JACK server: the test process's `jackd -d dummy` (JackTestServer).
// A second JACK client (the peer) plays the other program: it sends to the manager's sources and to "To Kavio", and receives what we send.
// JACK's own example programs play others: jack_midiseq plays notes, jack_midi_dump is an
// ordinary destination; and a second manager plays a second copy of the program.

#include "AlsaMidiBackend.h"
#include "JackTestPeers.h"
#include "JackTestServer.h"
#include "MidiTestSupport.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>

#include <jack/jack.h>

#include <csignal>

using namespace TonarilNotifications;
using namespace JackTestPeers;

namespace {

// A JACK example program run for the length of a test.
class JackProgram {
public:
    JackProgram(const QString& program, const QStringList& arguments) {
        if (QStandardPaths::findExecutable(program).isEmpty()) return;
        process_.start(program, arguments);
        started_ = process_.waitForStarted(30000);
    }
    // Interrupted, the program closes its JACK client (jack_midi_dump ends without closing it on
    // SIGTERM, and the server then holds the other clients up for half a minute).
    ~JackProgram() {
        if (!started_) return;
        ::kill(pid_t(process_.processId()), SIGINT);
        if (!process_.waitForFinished(30000)) {
            process_.kill();
            process_.waitForFinished(30000);
        }
    }
    bool started() const { return started_; }

private:
    QProcess process_;
    bool started_ = false;
};

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

TEST_F(JackMidiTest, KeyReleasesArriveAsNoteOffs) {
    // A 0.25 s loop: note 60 on at its start, off 4000 frames later.
    JackProgram sequencer(QStringLiteral("jack_midiseq"), {QStringLiteral("seq"), QStringLiteral("12000"),
                                                           QStringLiteral("0"), QStringLiteral("60"), QStringLiteral("4000")});
    if (!sequencer.started()) GTEST_SKIP() << "jack_midiseq (package jackd2) cannot be run";
    std::shared_ptr<QVTMIDIReceiverNode> fromSequencer;
    ASSERT_TRUE(PostedRecorder::waitFor([&] { return (fromSequencer = manager->sourceNodeNamed("seq:out")) != nullptr; }, 30.0))
        << manager->midiSourceNames().join(", ").toStdString();
    const auto notesFromSequencer = [&] { return recorder->named(kNoteReceived, fromSequencer.get()); };
    ASSERT_TRUE(PostedRecorder::waitFor([&] { return notesFromSequencer().size() >= 6; }, 30.0));
    // Presses and releases alternate (the first one heard may be either).
    const auto notes = notesFromSequencer();
    const int first = notes[0].userInfo.value("TYPE").toInt();
    for (std::size_t i = 0; i < notes.size(); ++i) {
        EXPECT_EQ(notes[i].userInfo.value("NOTE").toInt(), 60) << i;
        EXPECT_EQ(notes[i].userInfo.value("TYPE").toInt(), (first + int(i)) % 2) << i;
    }

    // A keyboard releasing a key with a note on of velocity 0.
    auto fromPeer = manager->sourceNodeNamed("peer:out");
    ASSERT_TRUE(fromPeer);
    const auto heard = [&] { return recorder->count(kNoteReceived, fromPeer.get()) >= 2; };
    // Connections reach the server's process graph some cycles after they are made: repeat the
    // press and release until they are heard.
    for (int attempt = 0; attempt < 20 && !heard(); ++attempt) {
        peer->send({0x90, 0x40, 0x64});
        peer->send({0x90, 0x40, 0x00});
        PostedRecorder::waitFor(heard, 1.0);
    }
    ASSERT_TRUE(heard());
    const auto fromKeyboard = recorder->named(kNoteReceived, fromPeer.get());
    EXPECT_EQ(fromKeyboard[0].userInfo, (QVariantMap{{"CH", 0}, {"NOTE", 0x40}, {"VAL", 0x64}, {"TYPE", 0}}));
    EXPECT_EQ(fromKeyboard[1].userInfo, (QVariantMap{{"CH", 0}, {"NOTE", 0x40}, {"VAL", 0}, {"TYPE", 1}}));
}

// Every MIDI port on the server whose full name starts with `client` and a colon.
QStringList portsOfClient(jack_client_t* jack, const QString& client) {
    QStringList names;
    const char** ports = jack_get_ports(jack, nullptr, JACK_DEFAULT_MIDI_TYPE, 0);
    for (const char** name = ports; name && *name; ++name)
        if (QString::fromUtf8(*name).startsWith(client + QLatin1Char(':'))) names.append(QString::fromUtf8(*name));
    jack_free(ports);
    return names;
}

TEST_F(JackMidiTest, TwoCopiesListNoneOfEachOthersOwnPorts) {
    JackProgram dump(QStringLiteral("jack_midi_dump"), {QStringLiteral("dump")});
    if (!dump.started()) GTEST_SKIP() << "jack_midi_dump (package jackd2) cannot be run";
    StartedManager second(makeJackMidiBackend());
    ASSERT_TRUE(second.manager);
    const StartedManager& first = *started;

    // Each copy opens its own ports to the peer's and the dump's ports; its destination
    // "To Kavio" is the one port meant for others.
    const auto settled = [&](const StartedManager& copy) {
        return copy.manager->midiSourceNames().contains("peer:out") && copy.manager->midiDestNames().contains("peer:in") &&
               copy.manager->midiDestNames().contains("dump:input");
    };
    ASSERT_TRUE(PostedRecorder::waitFor([&] { return settled(first) && settled(second); }, 30.0))
        << first.manager->midiDestNames().join(", ").toStdString();
    QStringList clients;
    for (const QString& name : first.manager->midiDestNames() + second.manager->midiDestNames())
        if (name.endsWith(":To Kavio")) clients.append(name.section(QLatin1Char(':'), 0, 0));
    clients.removeDuplicates();
    ASSERT_EQ(clients.size(), 2) << "each copy sees the other's destination";

    for (const StartedManager* copy : {&first, static_cast<const StartedManager*>(&second)}) {
        QStringList privatePorts;
        for (const QString& client : clients)
            for (const QString& port : portsOfClient(peer->client(), client))
                if (!port.endsWith(":To Kavio")) privatePorts.append(port);
        ASSERT_FALSE(privatePorts.isEmpty()) << "the copies have opened their own ports";
        for (const QString& port : privatePorts) {
            EXPECT_FALSE(copy->manager->midiSourceNames().contains(port)) << port.toStdString();
            EXPECT_FALSE(copy->manager->midiDestNames().contains(port)) << port.toStdString();
        }
    }
}

}  // namespace
