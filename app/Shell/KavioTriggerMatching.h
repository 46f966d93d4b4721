#pragma once
// The MIDI and DMX triggers' rules, pure: an incoming event and the user's bindings give the
// action to take on the main window's controls. The handlers run this on the delivering thread
// (MIDI's receive thread, the lighting node's queue) over a copy of the bindings, and apply the
// effect on the main thread.

#include <QString>
#include <QVariantMap>

#include <optional>

// The nine binding texts; an empty text binds nothing.
struct KavioTriggerBindings {
    QString midiStart, midiStop, midiPrevious, midiNext, midiMainFader;
    QString dmxStartStop, dmxPrevious, dmxNext, dmxMainFader;
    bool operator==(const KavioTriggerBindings&) const = default;
};

struct KavioTriggerEffect {
    enum Action { None, Play, Stop, Previous, Next, MainFader };
    Action action = None;
    float fader = 0;  // MainFader: 0.0 to 1.0
    bool operator==(const KavioTriggerEffect&) const = default;
};

// A note or control change as the MIDI framework reports it.
struct KavioMIDITriggerEvent {
    long channel = 0;        // 0-based
    bool isControlChange = false;
    long number = 0;         // note or controller number
    long value = 0;          // velocity or controller value
    long type = 0;           // 1 for a note off
};

namespace KavioTriggerMatching {

// From a notification's user info ("CH", "CC" or "NOTE", "VAL", "TYPE"); null without a channel
// or a number.
std::optional<KavioMIDITriggerEvent> midiEvent(const QVariantMap& userInfo);
// "Ch:%ld CC:%ld" or "Ch:%ld Note:%ld", the channel counted from 1.
QString midiKey(const KavioMIDITriggerEvent& event);
// From a "qvt_received_dmx" user info: "updatedChannel" = [channel, value]; null otherwise.
std::optional<std::pair<int, int>> dmxChange(const QVariantMap& userInfo);
// "Channel: %d".
QString dmxKey(int channel);

// While the clock follows MTC or LTC only the main fader acts.
KavioTriggerEffect matchMIDI(const KavioTriggerBindings& bindings, const KavioMIDITriggerEvent& event,
                             bool followsTimecode);
// Previous and Next act on a change to a non-zero value only (a desk button's release would
// otherwise move a second cue); Next also needs `canJump`.
KavioTriggerEffect matchDMX(const KavioTriggerBindings& bindings, int channel, int value, bool followsTimecode,
                            bool canJump);

}  // namespace KavioTriggerMatching
