#include "MIDIMessageCodec.h"
#include "TonarilNotifications.h"

#include <gtest/gtest.h>

#include <QMetaType>

using namespace MIDIMessageCodec;
using namespace TonarilNotifications;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Expected {
    QString name;
    QVariantMap info;
};

struct DecodeCase {
    const char* what;
    std::vector<Bytes> packets;
    std::vector<Expected> messages;     // in order, over all packets
    Problem lastProblem = Problem::None;  // of the last packet
    std::size_t bufferLeft = 0;          // SysEx bytes pending afterwards
};

QVariantMap note(int ch, int noteNumber, int val, int type) {
    return {{"CH", ch}, {"NOTE", noteNumber}, {"VAL", val}, {"TYPE", type}};
}
QVariantMap device(int id) { return {{"deviceID", id}}; }
QVariantMap timeInfo(int hh, int mm, int ss, int ff, int fm) {
    return {{"HH", hh}, {"mm", mm}, {"ss", ss}, {"ff", ff}, {"fm", fm}};
}
QVariantMap locate(int hh, int mm, int ss, int ff, int fm, int id) {
    QVariantMap info = timeInfo(hh, mm, ss, ff, fm);
    info.insert("deviceID", id);
    return info;
}
QVariantMap go(int id, qlonglong cue) { return {{"deviceID", id}, {"cueNum", cue}}; }

Bytes sysexOfLength(std::size_t length) {
    Bytes bytes(length, 0x01);
    bytes.front() = 0xF0;
    return bytes;
}

const std::vector<DecodeCase> kCases = {
    {"note on, channel 3", {{0x93, 0x3C, 0x64}}, {{kNoteReceived, note(3, 60, 100, 0)}}},
    {"note off", {{0x80, 0x3C, 0x40}}, {{kNoteReceived, note(0, 60, 64, 1)}}},
    {"note on with velocity 0 is a note off", {{0x90, 0x3C, 0x00}, {0x9F, 0x00, 0x00}},
     {{kNoteReceived, note(0, 60, 0, 1)}, {kNoteReceived, note(15, 0, 0, 1)}}},
    {"note on with velocity 1 is a note on", {{0x90, 0x3C, 0x01}}, {{kNoteReceived, note(0, 60, 1, 0)}}},
    {"one message per packet", {{0x90, 0x3C, 0x64, 0x90, 0x3E, 0x64}}, {{kNoteReceived, note(0, 60, 100, 0)}}},
    {"running status is not a channel message", {{0x3E, 0x64}}, {}},
    {"control change", {{0xB5, 0x07, 0x7F}}, {{kCCReceived, {{"CH", 5}, {"CC", 7}, {"VAL", 127}}}}},
    {"quarter frame",
     {{0xF1, 0x25}},
     {{kMTCQuarterFrameReceived, {{"TIMESTAMPT", qulonglong(123456789)}, {"PNUM", 2}, {"PACKETDATA", 37}}}}},
    {"real-time Stop", {{0xFC}}, {{kClockStop, {}}}},
    {"clock, start and continue say nothing", {{0xF8}, {0xFA}, {0xFB}}, {}},
    {"other channel messages say nothing", {{0xA0, 1, 2}, {0xC0, 5}, {0xD0, 5}, {0xE0, 0, 64}, {0xF2, 0, 0}}, {}},
    {"MMC play", {{0xF0, 0x7F, 0x7F, 0x06, 0x02, 0xF7}}, {{kMMCPlay, device(127)}}},
    {"MMC play split over two packets", {{0xF0, 0x7F, 0x7F, 0x06}, {0x02, 0xF7}}, {{kMMCPlay, device(127)}}},
    {"MMC stop and rewind",
     {{0xF0, 0x7F, 0x10, 0x06, 0x01, 0xF7}, {0xF0, 0x7F, 0x7F, 0x06, 0x05, 0xF7}},
     {{kMMCStop, device(16)}, {kMMCRewind, device(127)}}},
    {"MMC deferred play is dropped", {{0xF0, 0x7F, 0x7F, 0x06, 0x03, 0xF7}}, {}},
    {"MMC locate",
     {{0xF0, 0x7F, 0x7F, 0x06, 0x44, 0x06, 0x01, 0x21, 0x02, 0x03, 0x04, 0x00, 0xF7}},
     {{kMMCLocate, locate(1, 2, 3, 4, 1, 127)}}},
    {"MMC locate at 30 frames per second",
     {{0xF0, 0x7F, 0x7F, 0x06, 0x44, 0x06, 0x01, 0x61, 0x02, 0x03, 0x04, 0x00, 0xF7}},
     {{kMMCLocate, locate(1, 2, 3, 4, 3, 127)}}},
    {"MTC full frame",
     {{0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x61, 0x02, 0x03, 0x04, 0xF7}},
     {{kMTCFullFrameReceived, timeInfo(1, 2, 3, 4, 3)}}},
    {"MTC full frame with device id 0 is dropped", {{0xF0, 0x7F, 0x00, 0x01, 0x01, 0x61, 0x02, 0x03, 0x04, 0xF7}}, {}},
    {"MSC GO cue 12.0 and 12. are cue 12",
     {{0xF0, 0x7F, 0x01, 0x02, 0x01, 0x01, 0x31, 0x32, 0x2E, 0x30, 0x00, 0x35, 0xF7},
      {0xF0, 0x7F, 0x01, 0x02, 0x01, 0x01, 0x31, 0x32, 0x2E, 0xF7}},
     {{kMSCGo, go(1, 12)}, {kMSCGo, go(1, 12)}}},
    {"MSC GO without cue", {{0xF0, 0x7F, 0x01, 0x02, 0x01, 0x01, 0xF7}}, {{kMSCGo, go(1, -1)}}},
    {"MSC GO with an empty cue field", {{0xF0, 0x7F, 0x01, 0x02, 0x01, 0x01, 0x00, 0xF7}}, {{kMSCGo, go(1, 0)}}},
    {"MSC TIMED_GO is dropped", {{0xF0, 0x7F, 0x01, 0x02, 0x01, 0x04, 0xF7}}, {}},
    {"MSC STOP, RESUME, ALL_OFF, RESTORE, RESET",
     {{0xF0, 0x7F, 0x02, 0x02, 0x01, 0x02, 0xF7},
      {0xF0, 0x7F, 0x02, 0x02, 0x01, 0x03, 0xF7},
      {0xF0, 0x7F, 0x02, 0x02, 0x01, 0x08, 0xF7},
      {0xF0, 0x7F, 0x02, 0x02, 0x01, 0x09, 0xF7},
      {0xF0, 0x7F, 0x02, 0x02, 0x01, 0x0A, 0xF7}},
     {{kMSCStop, device(2)}, {kMSCResume, device(2)}, {kMSCAllOff, device(2)}, {kMSCRestore, device(2)},
      {kMSCReset, device(2)}}},
    {"MSC wins over the full-frame and locate lengths",
     {{0xF0, 0x7F, 0x7F, 0x02, 0x01, 0x02, 0x00, 0x00, 0x00, 0xF7}},
     {{kMSCStop, device(127)}}},
    {"unfinished SysEx swallows a clock byte and is dropped", {{0xF0, 0x7F, 0x7F, 0x06}, {0xF8}, {0x02, 0xF7}}, {}},
    {"unfinished SysEx joined with a complete one is dropped",
     {{0xF0, 0x7F, 0x7F, 0x06}, {0xF0, 0x7F, 0x7F, 0x06, 0x02, 0xF7}},
     {}},
    {"SysEx still gathering", {{0xF0, 0x7F, 0x7F}}, {}, Problem::None, 3},
    {"continuation without a pending SysEx", {{0x10, 0x20, 0xF7}}, {}},
    // Bad input: nothing is read past a packet, and nothing grows without end.
    {"packets too short for their message", {{}, {0x90}, {0x90, 0x3C}, {0xB0, 0x07}, {0xF1}}, {}},
    {"SysEx past the cap is dropped", {sysexOfLength(kMaxSysexLength + 1)}, {}, Problem::SysexTooLong},
    {"SysEx growing past the cap is dropped, then decoding recovers",
     {{0xF0, 0x7F}, Bytes(kMaxSysexLength - 1, 0x01), {0x01, 0xF7}, {0xF0, 0x7F, 0x7F, 0x06, 0x02, 0xF7}},
     {{kMMCPlay, device(127)}}},
    {"MSC cue number with a letter is refused",
     {{0xF0, 0x7F, 0x01, 0x02, 0x01, 0x01, 0x31, 0x41, 0xF7}},
     {},
     Problem::CueNumberNotNumeric},
    {"MSC cue number with a fraction is refused",
     {{0xF0, 0x7F, 0x01, 0x02, 0x01, 0x01, 0x31, 0x32, 0x2E, 0x35, 0x00, 0xF7}},
     {},
     Problem::CueNumberNotNumeric},
    {"MSC cue number with a fraction after zeros is refused",
     {{0xF0, 0x7F, 0x01, 0x02, 0x01, 0x01, 0x31, 0x2E, 0x30, 0x35, 0xF7}},
     {},
     Problem::CueNumberNotNumeric},
    {"MSC cue number with two decimal points is refused",
     {{0xF0, 0x7F, 0x01, 0x02, 0x01, 0x01, 0x31, 0x2E, 0x2E, 0xF7}},
     {},
     Problem::CueNumberNotNumeric},
    {"MSC cue number with a slash is refused",
     {{0xF0, 0x7F, 0x01, 0x02, 0x01, 0x01, 0x2F, 0x31, 0xF7}},
     {},
     Problem::CueNumberNotNumeric},
    {"MSC cue number too large for 64 bits is refused",
     {{0xF0, 0x7F, 0x01, 0x02, 0x01, 0x01, 0x39, 0x39, 0x39, 0x39, 0x39, 0x39, 0x39, 0x39, 0x39, 0x39, 0x39, 0x39,
       0x39, 0x39, 0x39, 0x39, 0x39, 0x39, 0x39, 0x39, 0xF7}},
     {},
     Problem::CueNumberNotNumeric},
};

class DecodeTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, PostsExactlyWhatThePacketsMean) {
    const DecodeCase& c = GetParam();
    std::vector<std::uint8_t> sysex;
    std::vector<Message> got;
    Problem problem = Problem::None;
    for (const Bytes& packet : c.packets) {
        Result result = decodePacket(packet, 123456789, sysex);
        problem = result.problem;
        if (result.message) got.push_back(*result.message);
    }
    EXPECT_EQ(problem, c.lastProblem);
    EXPECT_EQ(sysex.size(), c.bufferLeft);
    ASSERT_EQ(got.size(), c.messages.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].name, c.messages[i].name);
        EXPECT_EQ(got[i].userInfo.keys(), c.messages[i].info.keys()) << got[i].name.toStdString();
        for (auto it = c.messages[i].info.cbegin(); it != c.messages[i].info.cend(); ++it) {
            const QVariant value = got[i].userInfo.value(it.key());
            EXPECT_EQ(value.metaType(), it.value().metaType()) << it.key().toStdString();
            EXPECT_EQ(value, it.value()) << it.key().toStdString();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Packets, DecodeTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<DecodeCase>& info) {
                             std::string name;
                             for (const char* p = info.param.what; *p; ++p)
                                 if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                             return name;
                         });

TEST(SMPTEText, AcceptsOnlyFourFieldsOfDigitsWithinADay) {
    const auto t = parseSMPTEText("23:59:59:29");
    ASSERT_TRUE(t);
    EXPECT_EQ(frameCount(*t), 23 * 108000 + 59 * 1800 + 59 * 30 + 29);
    EXPECT_EQ(frameCount(*parseSMPTEText("00:00:10:00")), 300);
    for (const char* bad : {"", "1:2:3", "00:00:10:00:00", "aa:bb:cc:dd", "00:00:1x:00", "-1:00:00:00",
                            "24:00:00:00", "00:60:00:00", "00:00:60:00", "00:00:00:30", "00::10:00", "000:00:00:00"})
        EXPECT_FALSE(parseSMPTEText(bad)) << bad;
}

TEST(OutgoingMessages, QuarterFramesAndLocateCarryTheTimeAt30FramesPerSecond) {
    using Block = std::array<std::uint8_t, 8>;
    EXPECT_EQ(mtcQuarterFrameData(*parseSMPTEText("00:00:10:00")),
              (Block{0x00, 0x10, 0x2A, 0x30, 0x40, 0x50, 0x60, 0x76}));
    EXPECT_EQ(mtcQuarterFrameData(*parseSMPTEText("23:59:59:29")),
              (Block{0x0D, 0x11, 0x2B, 0x33, 0x4B, 0x53, 0x67, 0x77}));
    EXPECT_EQ(mmcLocateMessage(*parseSMPTEText("01:02:03:04")),
              (std::array<std::uint8_t, 13>{0xF0, 0x7F, 0x7F, 0x06, 0x44, 0x06, 0x01, 0x61, 0x02, 0x03, 0x04, 0x00,
                                            0xF7}));
}

TEST(OutgoingMessages, WhatWeSendDecodesBackToTheSameMeaning) {
    std::vector<std::uint8_t> sysex;
    const auto locateBytes = mmcLocateMessage(*parseSMPTEText("01:02:03:04"));
    const Result locateBack = decodePacket(locateBytes, 0, sysex);
    ASSERT_TRUE(locateBack.message);
    EXPECT_EQ(locateBack.message->userInfo, locate(1, 2, 3, 4, 3, 127));
    EXPECT_EQ(decodePacket(kMMCPlayMessage, 0, sysex).message->name, kMMCPlay);
    EXPECT_EQ(decodePacket(kMMCStopMessage, 0, sysex).message->name, kMMCStop);
}

}  // namespace
