// The MIDI and DMX triggers in the whole program, on a show of three movies: MIDI from a second
// client of the test's own JACK server, chosen as the trigger source in the preferences, and
// ArtDmx datagrams to the Art-Net receiver on the loopback interface. Effects are waited for;
// an event that must do nothing is followed by a fader message whose effect shows it has been
// handled (the effects apply in arrival order).

#include "MovieShow.h"

#include "../artnet/UdpTestPeer.h"
#include "../midi/JackTestPeers.h"
#include "Clock/QVTClock.h"
#include "JackTestServer.h"
#include "QVTLightingManager.h"
#include "QVTMIDIManager.h"
#include "Support/KavioSliderInterface.h"
#include "Support/KavioTextFieldInterface.h"
#include "Views/KavioPopUpButton.h"

#include <jack/jack.h>

#include <cmath>

namespace {

using Bytes = JackTestPeers::Bytes;

struct TriggerShow : MovieShow {
    TriggerShow() : MovieShow(3) {}

    AppDelegate& app() { return program.app(); }
    const AppDelegateOutlets& o() { return program.app().outlets(); }
    void bind(KavioTextFieldInterface* field, const QString& key)
    {
        field->setStringValue(key);
        app().triggerFieldsChanged();
    }
    double fader() const { return controller->outlets().masterSlider->doubleValue(); }
    bool playing() { return o().playButton->state() == 1 && controller->isPlaying(); }
    bool stopped() { return o().playButton->state() == 0 && !controller->isPlaying(); }
    bool waitFor(const std::function<bool()>& condition) { return DispatchQueue::runMainUntil(condition, 30); }
    bool faderIs(double value)
    {
        return waitFor([&] { return std::abs(fader() - value) < 1e-3; });
    }
    std::size_t currentIndex() const
    {
        const auto current = controller->currentItem();
        return std::size_t(std::find(cues->begin(), cues->end(), current) - cues->begin());
    }
    // Chooses the pop-up's entry as the operator does, running its action.
    static bool choose(KavioPopUpButtonInterface* control, const QString& title)
    {
        auto* popup = dynamic_cast<KavioPopUpButton*>(control);
        const int index = popup ? popup->indexOfItemWithTitle(title) : -1;
        if (index < 0)
            return false;
        popup->chooseItemAtIndex(index);
        return popup->titleOfSelectedItem() == title;
    }
};

QByteArray artDmx(const std::vector<int>& values)
{
    QByteArray d("Art-Net", 8);
    const int length = int(values.size());
    for (int b : {0x00, 0x50, 0, 14, 0, 0, 0, 0, length >> 8, length & 0xFF})
        d.append(char(b));
    for (int v : values)
        d.append(char(v));
    return d;
}

}  // namespace

TEST(Triggers, MIDIFromTheChosenSourceDrivesTheShow)
{
    std::string reason;
    if (!JackTestServer::ensureRunning(&reason))
        GTEST_SKIP() << reason;
    JackTestPeers::Peer peer;
    ASSERT_TRUE(peer.ok());
    std::unique_ptr<QVTMIDIManager> midi = QVTMIDIManager::createWithBackend(makeJackMidiBackend());
    ASSERT_TRUE(midi);
    midi->startManagerWithName(QStringLiteral("Kavio"));
    {
        TriggerShow show;
        ASSERT_FALSE(::testing::Test::HasFailure());
        AppDelegate& app = show.app();
        const AppDelegateOutlets& o = show.o();
        app.setMIDIManager(midi.get());
        // First start: the first source is every function's choice.
        for (KavioPopUpButtonInterface* popup : {o.mtcSourcePopup, o.mmcSourcePopup, o.mscSourcePopup, o.midiSourcePopup})
            EXPECT_EQ(popup->titleOfSelectedItem(), midi->midiSourceNames().value(0));
        ASSERT_TRUE(TriggerShow::choose(o.midiSourcePopup, QStringLiteral("peer:out")));
        ASSERT_TRUE(app.currentMIDISource());
        EXPECT_TRUE(o.learnTriggerButtons[0]->isEnabled());

        // The barrier: channel 16's CC 7 drives the fader. The port's connection reaches the
        // server's graph some cycles after it is made: probe until the fader moves.
        show.bind(o.midiMainFaderField, QStringLiteral("Ch:16 CC:7"));
        int barrier = 0;
        const auto handled = [&] {
            barrier = barrier == 100 ? 101 : 100;
            peer.send({0xBF, 0x07, Bytes::value_type(barrier)});
            return show.faderIs(barrier / 127.0);
        };
        for (int probe = 0; probe < 20 && std::abs(show.fader() - 100 / 127.0) > 1e-3; ++probe) {
            peer.send({0xBF, 0x07, 100});
            DispatchQueue::runMainUntil([&] { return std::abs(show.fader() - 100 / 127.0) < 1e-3; }, 1.0);
        }
        barrier = 100;
        ASSERT_TRUE(show.faderIs(100 / 127.0)) << "the peer's port never reached the triggers";

        // A gate: one note on starts, its note off stops, and so does a note on of velocity 0.
        show.bind(o.midiStartField, QStringLiteral("Ch:1 Note:60"));
        show.bind(o.midiStopField, QStringLiteral("Ch:1 Note:60"));
        peer.send({0x90, 60, 100});
        EXPECT_TRUE(show.waitFor([&] { return show.playing(); }));
        peer.send({0x80, 60, 0});
        EXPECT_TRUE(show.waitFor([&] { return show.stopped(); }));
        peer.send({0x90, 60, 100});
        EXPECT_TRUE(show.waitFor([&] { return show.playing(); }));
        peer.send({0x90, 60, 0});
        EXPECT_TRUE(show.waitFor([&] { return show.stopped(); }));

        // Separate start and stop: a note off does nothing, a second start while playing neither.
        show.bind(o.midiStopField, QStringLiteral("Ch:1 Note:61"));
        peer.send({0x90, 60, 100});
        EXPECT_TRUE(show.waitFor([&] { return show.playing(); }));
        peer.send({0x80, 60, 0});
        peer.send({0x90, 60, 90});
        EXPECT_TRUE(handled());
        EXPECT_TRUE(show.playing());
        peer.send({0x90, 61, 100});
        EXPECT_TRUE(show.waitFor([&] { return show.stopped(); }));

        // A control change as a gate: any value from 1 starts, 0 stops.
        show.bind(o.midiStartField, QStringLiteral("Ch:1 CC:20"));
        show.bind(o.midiStopField, QStringLiteral("Ch:1 CC:20"));
        peer.send({0xB0, 20, 1});
        EXPECT_TRUE(show.waitFor([&] { return show.playing(); }));
        peer.send({0xB0, 20, 0});
        EXPECT_TRUE(show.waitFor([&] { return show.stopped(); }));

        // Channel 10 (status nibble 9) is "Ch:10"; Next does not ask canJump.
        show.bind(o.midiNextField, QStringLiteral("Ch:10 Note:36"));
        show.bind(o.midiPreviousField, QStringLiteral("Ch:10 Note:35"));
        peer.send({0x99, 36, 127});
        EXPECT_TRUE(show.waitFor([&] { return show.currentIndex() == 1 && show.controller->canJump(); }));
        peer.send({0x89, 36, 0});  // its note off clicks nothing
        EXPECT_TRUE(handled());
        EXPECT_EQ(show.currentIndex(), 1u);
        peer.send({0x99, 35, 127});
        EXPECT_TRUE(show.waitFor([&] { return show.currentIndex() == 0 && show.controller->canJump(); }));

        // The fader from MIDI values.
        show.bind(o.midiMainFaderField, QStringLiteral("Ch:1 CC:7"));
        for (const auto& [value, level] : {std::pair{127, 1.0}, {64, 64 / 127.0}, {0, 0.0}}) {
            peer.send({0xB0, 7, Bytes::value_type(value)});
            EXPECT_TRUE(show.faderIs(level)) << value << " gave " << show.fader();
        }
        EXPECT_NEAR(64 / 127.0, 0.504, 1e-3);

        // While the clock follows MTC a message bound to Start and the fader moves the fader only.
        show.bind(o.midiStartField, QStringLiteral("Ch:1 CC:7"));
        show.controller->masterClock()->setIsMTCSlave(true);
        peer.send({0xB0, 7, 127});
        EXPECT_TRUE(show.faderIs(1.0));
        EXPECT_TRUE(show.stopped());
        show.controller->masterClock()->setIsMTCSlave(false);

        // Learning keeps the key: a note on and its note off, a control change sweeping values.
        KavioButtonInterface* learn = o.learnTriggerButtons[size_t(KavioTriggerField::MidiPrevious)];
        learn->performClick();
        ASSERT_EQ(app.learnDestination(), KavioTriggerField::MidiPrevious);
        peer.send({0x92, 62, 80});
        peer.send({0x82, 62, 0});
        EXPECT_TRUE(show.waitFor([&] { return o.midiPreviousField->stringValue() == QStringLiteral("Ch:3 Note:62"); }));
        for (int value = 0; value < 128; value += 9)
            peer.send({0xB0, 21, Bytes::value_type(value)});
        EXPECT_TRUE(show.waitFor([&] { return o.midiPreviousField->stringValue() == QStringLiteral("Ch:1 CC:21"); }));
        EXPECT_TRUE(app.hasUnsavedChanges());
        // A second Learn button takes over; clicking it again ends learning.
        KavioButtonInterface* learnNext = o.learnTriggerButtons[size_t(KavioTriggerField::MidiNext)];
        learnNext->performClick();
        EXPECT_EQ(learn->state(), 0);
        EXPECT_EQ(app.learnDestination(), KavioTriggerField::MidiNext);
        learnNext->performClick();
        EXPECT_EQ(app.learnDestination(), std::nullopt);
        o.clearTriggerButtons[size_t(KavioTriggerField::MidiPrevious)]->performClick();
        EXPECT_TRUE(o.midiPreviousField->stringValue().isEmpty());

        // The source gone: the triggers are detached and the Learn buttons disabled.
        ASSERT_TRUE(TriggerShow::choose(o.midiSourcePopup, QStringLiteral("Disabled")));
        EXPECT_FALSE(app.currentMIDISource());
        EXPECT_FALSE(o.learnTriggerButtons[0]->isEnabled());
        app.setMIDIManager(nullptr);
    }
}

TEST(Triggers, ArtDmxOnTheLoopbackInterfaceDrivesTheShow)
{
    UdpTestPeer desk;
    QVTLightingManager& lighting = QVTLightingManager::sharedManager();
    const std::uint16_t port = UdpTestPeer::freePort();
    lighting.setPortsForTesting({port, desk.port()});
    TriggerShow show;
    ASSERT_FALSE(::testing::Test::HasFailure());
    AppDelegate& app = show.app();
    const AppDelegateOutlets& o = show.o();
    EXPECT_FALSE(o.learnTriggerButtons[size_t(KavioTriggerField::DmxNext)]->isEnabled());
    ASSERT_TRUE(TriggerShow::choose(o.dmxSourcePopup, QStringLiteral("(Loopback Interface) - 127.0.0.1")));
    EXPECT_TRUE(o.learnTriggerButtons[size_t(KavioTriggerField::DmxNext)]->isEnabled());
    ASSERT_EQ(lighting.inputPortInterface(), QStringLiteral("127.0.0.1"));

    show.bind(o.dmxStartStopField, QStringLiteral("Channel: 1"));
    show.bind(o.dmxPreviousField, QStringLiteral("Channel: 2"));
    show.bind(o.dmxNextField, QStringLiteral("Channel: 3"));
    show.bind(o.dmxMainFaderField, QStringLiteral("Channel: 4"));
    const struct {
        std::vector<int> values;
        std::function<bool()> effect;
        const char* what;
    } steps[] = {
        {{0, 0, 0, 255}, [&] { return std::abs(show.fader() - 1.0) < 1e-3; }, "fader 255 is 1.0"},
        {{0, 0, 0, 128}, [&] { return std::abs(show.fader() - 128 / 255.0) < 1e-3; }, "fader 128 is about 0.502"},
        {{255, 0, 0, 128}, [&] { return show.playing(); }, "a value above 0 starts"},
        {{0, 0, 0, 128}, [&] { return show.stopped(); }, "0 stops"},
        {{0, 0, 255, 128}, [&] { return show.currentIndex() == 1 && show.controller->canJump(); }, "Next"},
        // A desk button's release clicks nothing: the fader shows the step was handled.
        {{0, 0, 0, 100}, [&] { return std::abs(show.fader() - 100 / 255.0) < 1e-3 && show.currentIndex() == 1; },
         "Next released"},
        {{0, 200, 0, 100}, [&] { return show.currentIndex() == 0 && show.controller->canJump(); }, "Previous"},
        {{0, 0, 0, 90}, [&] { return std::abs(show.fader() - 90 / 255.0) < 1e-3 && show.currentIndex() == 0; },
         "Previous released"},
    };
    for (const auto& step : steps) {
        desk.sendTo(port, artDmx(step.values));
        EXPECT_TRUE(show.waitFor(step.effect)) << step.what;
    }
    EXPECT_NEAR(128 / 255.0, 0.502, 1e-3);

    // Learning a channel; "Disable" ends learning and reception.
    o.learnTriggerButtons[size_t(KavioTriggerField::DmxNext)]->performClick();
    desk.sendTo(port, artDmx({0, 0, 0, 90, 0, 7}));
    EXPECT_TRUE(show.waitFor([&] { return o.dmxNextField->stringValue() == QStringLiteral("Channel: 6"); }));
    ASSERT_TRUE(TriggerShow::choose(o.dmxSourcePopup, QStringLiteral("Disable")));
    EXPECT_EQ(app.learnDestination(), std::nullopt);
    EXPECT_FALSE(lighting.receiverNode());
    EXPECT_FALSE(o.learnTriggerButtons[size_t(KavioTriggerField::DmxNext)]->isEnabled());
    EXPECT_FALSE(o.dmxSubNetPopup->isEnabled());
    lighting.setPortsForTesting({});
}
