// Against JACK's own example programs on the test process's `jackd -d dummy`: jack_midiseq plays
// notes into the manager, jack_midi_dump is an ordinary destination, and a second manager (a
// second copy of the program) shares the server.

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

class JackPeerProgramsTest : public testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        if (!JackTestServer::ensureRunning(&reason)) GTEST_SKIP() << reason;
        peer = std::make_unique<Peer>();
        ASSERT_TRUE(peer->ok());
    }
    std::unique_ptr<Peer> peer;
};

TEST_F(JackPeerProgramsTest, KeyReleasesArriveAsNoteOffs) {
    StartedManager started(makeJackMidiBackend());
    ASSERT_TRUE(started.manager);
    // A 0.25 s loop: note 60 on at its start, off 4000 frames later.
    JackProgram sequencer(QStringLiteral("jack_midiseq"), {QStringLiteral("seq"), QStringLiteral("12000"),
                                                           QStringLiteral("0"), QStringLiteral("60"), QStringLiteral("4000")});
    if (!sequencer.started()) GTEST_SKIP() << "jack_midiseq (package jackd2) cannot be run";
    std::shared_ptr<QVTMIDIReceiverNode> fromSequencer;
    ASSERT_TRUE(PostedRecorder::waitFor([&] { return (fromSequencer = started.manager->sourceNodeNamed("seq:out")) != nullptr; }, 30.0))
        << started.manager->midiSourceNames().join(", ").toStdString();
    const auto notesFromSequencer = [&] { return started.recorder->named(kNoteReceived, fromSequencer.get()); };
    ASSERT_TRUE(PostedRecorder::waitFor([&] { return notesFromSequencer().size() >= 6; }, 30.0));
    // Presses and releases alternate (the first one heard may be either).
    const auto notes = notesFromSequencer();
    const int first = notes[0].userInfo.value("TYPE").toInt();
    for (std::size_t i = 0; i < notes.size(); ++i) {
        EXPECT_EQ(notes[i].userInfo.value("NOTE").toInt(), 60) << i;
        EXPECT_EQ(notes[i].userInfo.value("TYPE").toInt(), (first + int(i)) % 2) << i;
    }

    // A keyboard releasing a key with a note on of velocity 0.
    auto fromPeer = started.manager->sourceNodeNamed("peer:out");
    ASSERT_TRUE(fromPeer);
    const auto heard = [&] { return started.recorder->count(kNoteReceived, fromPeer.get()) >= 2; };
    // Connections reach the server's process graph some cycles after they are made: repeat the
    // press and release until they are heard.
    for (int attempt = 0; attempt < 20 && !heard(); ++attempt) {
        peer->send({0x90, 0x40, 0x64});
        peer->send({0x90, 0x40, 0x00});
        PostedRecorder::waitFor(heard, 1.0);
    }
    ASSERT_TRUE(heard());
    const auto fromKeyboard = started.recorder->named(kNoteReceived, fromPeer.get());
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

TEST_F(JackPeerProgramsTest, TwoCopiesListNoneOfEachOthersOwnPorts) {
    JackProgram dump(QStringLiteral("jack_midi_dump"), {QStringLiteral("dump")});
    if (!dump.started()) GTEST_SKIP() << "jack_midi_dump (package jackd2) cannot be run";
    StartedManager first(makeJackMidiBackend());
    StartedManager second(makeJackMidiBackend());
    ASSERT_TRUE(first.manager && second.manager);

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

    for (const StartedManager* copy : {&first, &second}) {
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
