#include "Shell/KavioTriggerMatching.h"

#include <gtest/gtest.h>

using namespace KavioTriggerMatching;
using E = KavioTriggerEffect;

namespace {

KavioMIDITriggerEvent note(long channel, long number, long velocity, bool off = false)
{
    return {channel, false, number, velocity, off ? 1 : 0};
}

KavioMIDITriggerEvent cc(long channel, long number, long value)
{
    return {channel, true, number, value, 0};
}

}  // namespace

TEST(KavioTriggerMatching, KeysFromTheFrameworksUserInfo)
{
    EXPECT_EQ(midiKey(*midiEvent({{"CH", 9}, {"NOTE", 60}, {"VAL", 100}, {"TYPE", 0}})), "Ch:10 Note:60");
    EXPECT_EQ(midiKey(*midiEvent({{"CH", 0}, {"CC", 7}, {"VAL", 3}})), "Ch:1 CC:7");
    const auto off = midiEvent({{"CH", 0}, {"NOTE", 60}, {"VAL", 64}, {"TYPE", 1}});
    EXPECT_EQ(off->type, 1);
    // Events lacking their keys are ignored.
    EXPECT_FALSE(midiEvent({}));
    EXPECT_FALSE(midiEvent({{"NOTE", 60}}));
    EXPECT_FALSE(midiEvent({{"CH", 0}, {"VAL", 1}}));
    EXPECT_EQ(dmxChange({{"updatedChannel", QVariantList{12, 255}}}), (std::pair{12, 255}));
    EXPECT_FALSE(dmxChange({}));
    EXPECT_FALSE(dmxChange({{"updatedChannel", QVariantList{12}}}));
    EXPECT_EQ(dmxKey(512), "Channel: 512");
}

TEST(KavioTriggerMatching, MIDIBindings)
{
    KavioTriggerBindings gate;
    gate.midiStart = gate.midiStop = "Ch:1 Note:60";
    gate.midiMainFader = "Ch:1 CC:7";
    KavioTriggerBindings apart;
    apart.midiStart = "Ch:1 Note:60";
    apart.midiStop = "Ch:1 Note:61";
    apart.midiPrevious = "Ch:10 Note:1";
    apart.midiNext = "Ch:10 Note:2";
    KavioTriggerBindings ccGate;
    ccGate.midiStart = ccGate.midiStop = "Ch:1 CC:20";
    KavioTriggerBindings startAndFader;
    startAndFader.midiStart = startAndFader.midiMainFader = "Ch:1 CC:7";
    const struct {
        const char* what;
        const KavioTriggerBindings& bindings;
        KavioMIDITriggerEvent event;
        bool followsTimecode;
        E expected;
    } cases[] = {
        {"gate: note on starts", gate, note(0, 60, 100), false, {E::Play}},
        {"gate: note off stops", gate, note(0, 60, 64, true), false, {E::Stop}},
        {"gate: velocity 0 stops", gate, note(0, 60, 0), false, {E::Stop}},
        {"gate: other channel", gate, note(1, 60, 100), false, {}},
        {"apart: start", apart, note(0, 60, 100), false, {E::Play}},
        {"apart: start's note off does nothing", apart, note(0, 60, 0, true), false, {}},
        {"apart: stop", apart, note(0, 61, 100), false, {E::Stop}},
        {"cc gate: 0 stops", ccGate, cc(0, 20, 0), false, {E::Stop}},
        {"cc gate: 1 starts", ccGate, cc(0, 20, 1), false, {E::Play}},
        {"previous on channel 10", apart, note(9, 1, 90), false, {E::Previous}},
        {"previous's note off", apart, note(9, 1, 90, true), false, {}},
        {"next", apart, note(9, 2, 1), false, {E::Next}},
        {"next with velocity 0", apart, note(9, 2, 0), false, {}},
        {"following time code: no start", apart, note(0, 60, 100), true, {}},
        {"following time code: no next", apart, note(9, 2, 100), true, {}},
        {"fader 127", gate, cc(0, 7, 127), false, {E::MainFader, 1.0f}},
        {"fader 64", gate, cc(0, 7, 64), false, {E::MainFader, 64.0f / 127.0f}},
        {"start and fader, following MTC: fader only", startAndFader, cc(0, 7, 64), true, {E::MainFader, 64.0f / 127.0f}},
        {"start and fader, standalone: start", startAndFader, cc(0, 7, 64), false, {E::Play}},
        {"an empty binding never matches", KavioTriggerBindings{}, note(0, 60, 100), false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(matchMIDI(c.bindings, c.event, c.followsTimecode), c.expected);
    }
    EXPECT_NEAR(matchMIDI(gate, cc(0, 7, 64), false).fader, 0.504, 0.001);
}

TEST(KavioTriggerMatching, DMXBindings)
{
    KavioTriggerBindings b;
    b.dmxStartStop = "Channel: 1";
    b.dmxPrevious = "Channel: 2";
    b.dmxNext = "Channel: 3";
    b.dmxMainFader = "Channel: 4";
    const struct {
        const char* what;
        int channel, value;
        bool followsTimecode, canJump;
        E expected;
    } cases[] = {
        {"start", 1, 1, false, true, {E::Play}},
        {"stop", 1, 0, false, true, {E::Stop}},
        {"previous on a press", 2, 255, false, true, {E::Previous}},
        {"previous on a fader move", 2, 17, false, true, {E::Previous}},
        {"previous: the release does not click again", 2, 0, false, true, {}},
        {"next", 3, 255, false, true, {E::Next}},
        {"next while the list cannot jump", 3, 255, false, false, {}},
        {"following time code: no start", 1, 255, true, true, {}},
        {"fader 255", 4, 255, true, true, {E::MainFader, 1.0f}},
        {"fader 128", 4, 128, false, true, {E::MainFader, 128.0f / 255.0f}},
        {"unbound channel", 5, 255, false, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(matchDMX(b, c.channel, c.value, c.followsTimecode, c.canJump), c.expected);
    }
    EXPECT_NEAR(matchDMX(b, 4, 128, false, true).fader, 0.502, 0.001);
}
