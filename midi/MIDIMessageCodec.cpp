#include "MIDIMessageCodec.h"

#include "TonarilNotifications.h"

#include <QStringList>

#include <limits>

namespace MIDIMessageCodec {

namespace {

using namespace TonarilNotifications;

Result message(const QString& name, QVariantMap userInfo = {}) { return Result{Message{name, std::move(userInfo)}}; }

Result withDevice(const QString& name, std::uint8_t deviceID) {
    return message(name, {{QStringLiteral("deviceID"), int(deviceID)}});
}

// MSC cue number: the digits up to the first 0xF7 or field separator 0x00; -1 when the GO
// carries no cue data at all. A decimal point may only be followed by zeros: cue numbers are
// whole here, and "12.5" read as 12 would play another cue.
Result mscGo(std::span<const std::uint8_t> m) {
    std::int64_t cue = 0;
    if (m[6] == 0xF7) {
        cue = -1;
    } else {
        bool fraction = false;
        for (std::size_t i = 6; i < m.size(); ++i) {
            const std::uint8_t b = m[i];
            if (b == 0xF7 || b == 0x00) break;
            if (b == 0x2E && !fraction) {
                fraction = true;
                continue;
            }
            const int digit = int(b) - '0';
            if (digit < 0 || digit > 9 || (fraction && digit != 0) ||
                cue > (std::numeric_limits<std::int64_t>::max() - digit) / 10)
                return Result{std::nullopt, Problem::CueNumberNotNumeric};
            if (!fraction) cue = cue * 10 + digit;
        }
    }
    return message(kMSCGo, {{QStringLiteral("deviceID"), int(m[2])}, {QStringLiteral("cueNum"), qlonglong(cue)}});
}

QVariantMap timeInfo(std::uint8_t rateAndHours, std::uint8_t minutes, std::uint8_t seconds, std::uint8_t frames) {
    return {{QStringLiteral("HH"), int(rateAndHours & 0x1F)},
            {QStringLiteral("mm"), int(minutes)},
            {QStringLiteral("ss"), int(seconds)},
            {QStringLiteral("ff"), int(frames)},
            {QStringLiteral("fm"), int((rateAndHours >> 5) & 3)}};
}

}  // namespace

Result decodeSysex(std::span<const std::uint8_t> m) {
    const std::size_t n = m.size();
    if (n < 6 || m[0] != 0xF0 || m[1] != 0x7F) return {};
    if (n == 6) {
        if (m[3] != 0x06 || m[5] != 0xF7) return {};
        switch (m[4]) {
        case 0x01: return withDevice(kMMCStop, m[2]);
        case 0x02: return withDevice(kMMCPlay, m[2]);
        case 0x05: return withDevice(kMMCRewind, m[2]);
        default: return {};
        }
    }
    if (m[3] == 0x02) {
        switch (m[5]) {
        case 0x01: return mscGo(m);
        case 0x02: return withDevice(kMSCStop, m[2]);
        case 0x03: return withDevice(kMSCResume, m[2]);
        case 0x08: return withDevice(kMSCAllOff, m[2]);
        case 0x09: return withDevice(kMSCRestore, m[2]);
        case 0x0A: return withDevice(kMSCReset, m[2]);
        default: return {};
        }
    }
    if (n == 10 && m[2] != 0 && m[3] == 0x01 && m[4] == 0x01 && m[9] == 0xF7)
        return message(kMTCFullFrameReceived, timeInfo(m[5], m[6], m[7], m[8]));
    if (n == 13 && m[3] == 0x06 && m[4] == 0x44 && m[12] == 0xF7) {
        QVariantMap info = timeInfo(m[7], m[8], m[9], m[10]);
        info.insert(QStringLiteral("deviceID"), int(m[2]));
        return message(kMMCLocate, info);
    }
    return {};
}

Result decodePacket(std::span<const std::uint8_t> p, std::uint64_t timeStamp, std::vector<std::uint8_t>& sysex) {
    if (p.empty()) return {};
    const std::uint8_t status = p[0];
    const std::uint8_t kind = status & 0xF0;
    if (status == 0xFC) return message(kClockStop);
    if (kind == 0x80 || kind == 0x90) {
        if (p.size() < 3) return {};
        // A note on with velocity 0 is a note off (MIDI 1.0): keyboards release keys so.
        const bool off = kind == 0x80 || p[2] == 0;
        return message(kNoteReceived, {{QStringLiteral("CH"), int(status & 0x0F)},
                                       {QStringLiteral("NOTE"), int(p[1])},
                                       {QStringLiteral("VAL"), int(p[2])},
                                       {QStringLiteral("TYPE"), off ? 1 : 0}});
    }
    if (kind == 0xB0) {
        if (p.size() < 3) return {};
        return message(kCCReceived, {{QStringLiteral("CH"), int(status & 0x0F)},
                                     {QStringLiteral("CC"), int(p[1])},
                                     {QStringLiteral("VAL"), int(p[2])}});
    }
    if (status == 0xF1) {
        if (p.size() < 2) return {};
        return message(kMTCQuarterFrameReceived, {{QStringLiteral("TIMESTAMPT"), qulonglong(timeStamp)},
                                                  {QStringLiteral("PNUM"), int(p[1] >> 4)},
                                                  {QStringLiteral("PACKETDATA"), int(p[1])}});
    }
    if (status != 0xF0 && sysex.empty()) return {};
    if (sysex.size() + p.size() > kMaxSysexLength) {
        sysex.clear();
        return Result{std::nullopt, Problem::SysexTooLong};
    }
    sysex.insert(sysex.end(), p.begin(), p.end());
    if (p.back() != 0xF7) return {};
    Result result = decodeSysex(sysex);
    sysex.clear();
    return result;
}

std::optional<SMPTEFields> parseSMPTEText(const QString& text) {
    const QStringList fields = text.split(QLatin1Char(':'));
    if (fields.size() != 4) return std::nullopt;
    int values[4];
    const int limits[4] = {23, 59, 59, 29};
    for (int i = 0; i < 4; ++i) {
        const QString& field = fields[i];
        if (field.isEmpty() || field.size() > 2) return std::nullopt;
        for (QChar c : field)
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
        values[i] = field.toInt();
        if (values[i] > limits[i]) return std::nullopt;
    }
    return SMPTEFields{values[0], values[1], values[2], values[3]};
}

std::int64_t frameCount(const SMPTEFields& t) {
    return std::int64_t(t.hours) * 108000 + t.minutes * 1800 + t.seconds * 30 + t.frames;
}

std::array<std::uint8_t, 8> mtcQuarterFrameData(const SMPTEFields& t) {
    return {std::uint8_t(0x00 + t.frames % 16),  std::uint8_t(0x10 + t.frames / 16),
            std::uint8_t(0x20 + t.seconds % 16), std::uint8_t(0x30 + t.seconds / 16),
            std::uint8_t(0x40 + t.minutes % 16), std::uint8_t(0x50 + t.minutes / 16),
            std::uint8_t(0x60 + t.hours % 16),   std::uint8_t(0x76 + t.hours / 16)};
}

std::array<std::uint8_t, 13> mmcLocateMessage(const SMPTEFields& t) {
    return {0xF0, 0x7F, 0x7F, 0x06, 0x44, 0x06, 0x01, std::uint8_t(0x60 + t.hours), std::uint8_t(t.minutes),
            std::uint8_t(t.seconds), std::uint8_t(t.frames), 0x00, 0xF7};
}

}  // namespace MIDIMessageCodec
