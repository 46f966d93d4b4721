#include "Shell/KavioTriggerMatching.h"

#include <QVariantList>

namespace KavioTriggerMatching {

std::optional<KavioMIDITriggerEvent> midiEvent(const QVariantMap& userInfo)
{
    const bool cc = userInfo.contains(QStringLiteral("CC"));
    const QString numberKey = cc ? QStringLiteral("CC") : QStringLiteral("NOTE");
    if (!userInfo.contains(QStringLiteral("CH")) || !userInfo.contains(numberKey))
        return std::nullopt;
    KavioMIDITriggerEvent event;
    event.channel = userInfo.value(QStringLiteral("CH")).toLongLong();
    event.isControlChange = cc;
    event.number = userInfo.value(numberKey).toLongLong();
    event.value = userInfo.value(QStringLiteral("VAL")).toLongLong();
    event.type = userInfo.value(QStringLiteral("TYPE")).toLongLong();
    return event;
}

QString midiKey(const KavioMIDITriggerEvent& event)
{
    return event.isControlChange ? QString::asprintf("Ch:%ld CC:%ld", event.channel + 1, event.number)
                                 : QString::asprintf("Ch:%ld Note:%ld", event.channel + 1, event.number);
}

std::optional<std::pair<int, int>> dmxChange(const QVariantMap& userInfo)
{
    const QVariantList change = userInfo.value(QStringLiteral("updatedChannel")).toList();
    if (change.size() < 2)
        return std::nullopt;
    return std::pair{change[0].toInt(), change[1].toInt()};
}

QString dmxKey(int channel)
{
    return QString::asprintf("Channel: %d", channel);
}

KavioTriggerEffect matchMIDI(const KavioTriggerBindings& b, const KavioMIDITriggerEvent& event, bool followsTimecode)
{
    const QString key = midiKey(event);
    const bool on = event.value >= 1 && event.type != 1;
    if (!followsTimecode && (key == b.midiStart || key == b.midiStop)) {
        if (b.midiStart == b.midiStop)  // one message as a gate
            return {on ? KavioTriggerEffect::Play : KavioTriggerEffect::Stop};
        if (on)
            return {key == b.midiStart ? KavioTriggerEffect::Play : KavioTriggerEffect::Stop};
        return {};
    }
    const bool click = event.type != 1 && event.value != 0;
    if (!followsTimecode && key == b.midiPrevious)
        return {click ? KavioTriggerEffect::Previous : KavioTriggerEffect::None};
    if (!followsTimecode && key == b.midiNext)
        return {click ? KavioTriggerEffect::Next : KavioTriggerEffect::None};
    if (key == b.midiMainFader)
        return {KavioTriggerEffect::MainFader, float(event.value) / 127.0f};
    return {};
}

KavioTriggerEffect matchDMX(const KavioTriggerBindings& b, int channel, int value, bool followsTimecode, bool canJump)
{
    const QString key = dmxKey(channel);
    if (!followsTimecode && key == b.dmxStartStop)
        return {value > 0 ? KavioTriggerEffect::Play : KavioTriggerEffect::Stop};
    if (!followsTimecode && key == b.dmxPrevious)
        return {value != 0 ? KavioTriggerEffect::Previous : KavioTriggerEffect::None};
    if (!followsTimecode && key == b.dmxNext)
        return {value != 0 && canJump ? KavioTriggerEffect::Next : KavioTriggerEffect::None};
    if (key == b.dmxMainFader)
        return {KavioTriggerEffect::MainFader, float(value) / 255.0f};
    return {};
}

}  // namespace KavioTriggerMatching
