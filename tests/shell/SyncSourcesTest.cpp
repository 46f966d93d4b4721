// The MIDI source pop-ups of the preferences in the whole program, as the sources of the test's
// own JACK server come and go: a port of a second client unregistered and registered again.

#include "ShellTestSupport.h"

#include "../midi/JackTestPeers.h"
#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "DispatchQueue.h"
#include "JackTestServer.h"
#include "QVTMIDIManager.h"
#include "Views/KavioPopUpButton.h"

#include <QAction>

#include <jack/jack.h>

#include <gtest/gtest.h>

TEST(SyncSources, MIDISourcesFollowThePortsThatComeAndGo)
{
    std::string reason;
    if (!JackTestServer::ensureRunning(&reason))
        GTEST_SKIP() << reason;
    JackTestPeers::Peer peer;
    ASSERT_TRUE(peer.ok());
    jack_port_t* b = jack_port_register(peer.client(), "port-b", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    ASSERT_TRUE(b);
    std::unique_ptr<QVTMIDIManager> midi = QVTMIDIManager::createWithBackend(makeJackMidiBackend());
    ASSERT_TRUE(midi);
    midi->startManagerWithName(QStringLiteral("Kavio"));
    const QString portB = QStringLiteral("peer:port-b");
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return midi->midiSourceNames().contains(portB); }, 30));
    const QString first = midi->midiSourceNames().value(0);
    {
        ShellTestEnvironment env;
        ShellTestProgram program(env);
        program.launch();
        AppDelegate& app = program.app();
        const AppDelegateOutlets& o = program.app().outlets();
        const std::shared_ptr<QVTClock> clock = program.ui->controller()->masterClock();
        app.setMIDIManager(midi.get());
        // First start: every function takes the first source.
        for (const KavioMIDISourceKind kind : {KavioMIDISourceKind::MTC, KavioMIDISourceKind::MMC,
                                               KavioMIDISourceKind::MSC, KavioMIDISourceKind::MIDI})
            EXPECT_EQ(app.selectedSource(kind), first);
        EXPECT_EQ(o.mtcSourcePopup->titleOfSelectedItem(), first);

        chooseItemWithTitle(o.mtcSourcePopup, portB);
        chooseItemWithTitle(o.mmcSourcePopup, portB);
        chooseItemWithTitle(o.mscSourcePopup, QStringLiteral("Disabled"));
        EXPECT_EQ(clock->mtcSourceNode(), midi->sourceNodeNamed(portB));
        EXPECT_EQ(clock->mscSourceNode(), nullptr);
        EXPECT_TRUE(o.mtcSource->isEnabled());

        // B unplugged: shown with the marker, nothing followed, the MTC item disabled.
        const QString missing = portB + QStringLiteral(" - DISCONNECTED");
        ASSERT_EQ(jack_port_unregister(peer.client(), b), 0);
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return o.mtcSourcePopup->titleOfSelectedItem() == missing; }, 30));
        EXPECT_EQ(o.mmcSourcePopup->titleOfSelectedItem(), missing);
        EXPECT_EQ(clock->mtcSourceNode(), nullptr);
        EXPECT_EQ(clock->mmcSourceNode(), nullptr);
        EXPECT_FALSE(o.mtcSource->isEnabled());
        // "Disabled" forgets: the returning port is not chosen for MMC again.
        chooseItemWithTitle(o.mmcSourcePopup, QStringLiteral("Disabled"));

        // B back: chosen again and handed to the clock.
        b = jack_port_register(peer.client(), "port-b", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        ASSERT_TRUE(b);
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return o.mtcSourcePopup->titleOfSelectedItem() == portB; }, 30));
        EXPECT_EQ(clock->mtcSourceNode(), midi->sourceNodeNamed(portB));
        EXPECT_TRUE(o.mtcSource->isEnabled());
        EXPECT_EQ(o.mmcSourcePopup->titleOfSelectedItem(), QStringLiteral("Disabled"));
        EXPECT_EQ(o.mscSourcePopup->titleOfSelectedItem(), QStringLiteral("Disabled"));
        EXPECT_EQ(clock->mmcSourceNode(), nullptr);
        EXPECT_EQ(dynamic_cast<KavioPopUpButton*>(o.mtcSourcePopup)->indexOfItemWithTitle(missing), -1);
        EXPECT_EQ(o.midiSourcePopup->titleOfSelectedItem(), first) << "the triggers' source stayed";
        EXPECT_EQ(app.selectedSource(KavioMIDISourceKind::MIDI), first);
        app.setMIDIManager(nullptr);
    }
}
