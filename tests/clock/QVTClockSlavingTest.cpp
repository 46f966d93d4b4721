#include "QVTClockTestSupport.h"

#include "Audio/QVTAudioInput.h"
#include "InProcessMidiBackend.h"
#include "LtcTestSignal.h"
#include "NullAudioBackend.h"
#include "Remote/KavioNMCManager.h"
#include "QVTMIDIManager.h"

#include <ltc.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const QString kRewinded = QVTClockNotification::Rewinded;
const QString kFramerateChanged = QVTClockNotification::MTCFramerateChanged;

// A notification as "name" or, when its value says more than its name, "name=value".
QString describe(const Posted& p)
{
    const QVariant value = p.userInfo.value(p.name);
    if (!value.isValid() || value.toString() == p.name) {
        return p.name;
    }
    if (value.typeId() == QMetaType::QVariantList) {
        return p.name + "=[" + value.toStringList().join(',') + ']';
    }
    return p.name + '=' + value.toString();
}

// What the clock posted, without the internal clock's own ticks.
QStringList events(Recorder& recorder)
{
    QStringList list;
    for (const Posted& p : recorder.take()) {
        if (p.name != kTimeChanged) {
            list << describe(p);
        }
    }
    return list;
}

// A MIDI source played by the test, read by a manager of the test's own whose node posts on the
// program's MIDI centre, where the clock listens: notifications come from the real parser.
class MIDIRig {
public:
    MIDIRig()
    {
        source = backend->addSource("Timecode");
        other = backend->addSource("Other");
        QVTMIDIManager* shared = QVTMIDIManager::sharedManager();
        manager = QVTMIDIManager::createWithBackend(backend);
        if (!shared || !manager) {
            return;
        }
        manager->setMidiKitNotificationCenter(shared->midiKitNotificationCenter());
        manager->startManagerWithName("Kavio");
        node = manager->sourceNodeNamed("Timecode");
    }
    bool ready() const { return node != nullptr; }

    void send(const Bytes& bytes, MidiEndpointRef from = 0)
    {
        const MidiPacket packet{0, bytes};
        backend->deliver(from ? from : source, {packet});
    }
    // The eight quarter frames of a time, `rate` the MIDI time code rate code; pieces [first, last].
    void quarterFrames(int h, int m, int s, int f, int rate, int first = 0, int last = 7, MidiEndpointRef from = 0)
    {
        const int nibbles[8] = {f & 0xF, f >> 4, s & 0xF, s >> 4, m & 0xF, m >> 4, h & 0xF, (h >> 4) | (rate << 1)};
        for (int piece = first; piece <= last; ++piece) {
            send({0xF1, uint8_t(piece << 4 | nibbles[piece])}, from);
        }
    }
    void fullFrame(int h, int m, int s, int f, int rate)
    {
        send({0xF0, 0x7F, 0x7F, 0x01, 0x01, uint8_t(rate << 5 | h), uint8_t(m), uint8_t(s), uint8_t(f), 0xF7});
    }

    std::shared_ptr<InProcessMidiBackend> backend = std::make_shared<InProcessMidiBackend>();
    std::unique_ptr<QVTMIDIManager> manager;
    std::shared_ptr<QVTMIDIReceiverNode> node;
    MidiEndpointRef source = 0;
    MidiEndpointRef other = 0;
};

class QVTClockSlaving : public QVTClockCycles {
protected:
    void SetUp() override
    {
        QVTClockCycles::SetUp();
        if (!midi.ready()) {
            GTEST_SKIP() << "no MIDI manager";
        }
    }
    // Reads the clock's time as the string the current rate shows.
    QString time() const { return clock->clockSMPTETime(); }

    MIDIRig midi;
};

}  // namespace

// --- MIDI time code -----------------------------------------------------------------------------

TEST_F(QVTClockSlaving, QuarterFramesLockStartAtPieceSevenAndFollowOnlyTheirSource)
{
    clock->setClockOffset(3590.0);  // the playlist starts at 00:59:50:00
    clock->setMaxClockSMPTETime("02:00:00:00");
    clock->setMtcSourceNode(midi.node);
    EXPECT_EQ(clock->mtcSourceNode(), midi.node);

    midi.quarterFrames(1, 0, 0, 0, 1);  // not an MTC slave yet: dropped
    EXPECT_FALSE(clock->isConnectedToSlave());
    EXPECT_TRUE(recorder->take().empty());

    clock->setIsMTCSlave(true);
    midi.quarterFrames(1, 0, 0, 0, 1, 0, 6);
    EXPECT_TRUE(clock->isConnectedToSlave());
    EXPECT_FALSE(clock->isRunning());
    EXPECT_EQ(events(*recorder), QStringList{kSlaveStateChanged});

    midi.quarterFrames(1, 0, 0, 0, 1, 7, 7);  // two frames have passed since piece 0
    EXPECT_TRUE(clock->isRunning());
    EXPECT_EQ(time(), "01:00:00:02");
    EXPECT_EQ(recorder->takeNames(), (QStringList{kExtStartTimeSet, kStarted, kTimeChanged}));

    // Another source's time code is not followed.
    midi.quarterFrames(0, 20, 0, 0, 1, 0, 7, midi.other);
    EXPECT_EQ(time(), "01:00:00:02");

    const struct {
        int piece;
        const char* time;
    } steps[] = {{3, "01:00:00:03"}, {7, "01:00:00:04"}};
    for (int sequence = 0; sequence < 3; ++sequence) {
        const int f = 2 + 2 * sequence;
        int first = 0;
        for (const auto& step : steps) {
            midi.quarterFrames(1, 0, 0, f, 1, first, step.piece);
            first = step.piece + 1;
            cycles(3);
            EXPECT_EQ(clock->frameCountSMPTEString(time()), clock->frameCountSMPTEString(step.time) + 2 * sequence);
        }
    }
    EXPECT_TRUE(clock->isRunning());
    EXPECT_EQ(recorder->takeNames().count(kTimeChanged), 6);

    clock->setMtcSourceNode(nullptr);
    midi.quarterFrames(1, 0, 0, 8, 1);
    EXPECT_EQ(time(), "01:00:00:08");  // unchanged since the last followed frame
}

TEST_F(QVTClockSlaving, MinuteAndHourRollOverAtPieceThree)
{
    const struct {
        int rate;
        int before[4];  // the sequence that starts the clock
        int after[4];   // the next one, of which pieces 0-3 arrive
        const char* expected;
        bool running;
    } cases[] = {
        {1, {0, 0, 59, 23}, {0, 1, 0, 0}, "00:01:00:01", true},
        {1, {0, 0, 59, 24}, {0, 1, 0, 1}, "00:01:00:02", true},  // 25 fps: a minute may begin on frame 1
        {3, {0, 59, 59, 28}, {1, 0, 0, 0}, "01:00:00:01", true},
        // Hours wrap: 00:00:00:01 is a jump from 24:00:00:00, so the clock stops a frame later.
        {3, {23, 59, 59, 28}, {0, 0, 0, 0}, "00:00:00:02", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        const auto slave = clockAt(c.rate, source);
        slave->setMaxClockSMPTETime("25:00:00:00");
        slave->setIsMTCSlave(true);
        slave->setMtcSourceNode(midi.node);
        midi.quarterFrames(c.before[0], c.before[1], c.before[2], c.before[3], c.rate);
        ASSERT_TRUE(slave->isRunning());
        midi.quarterFrames(c.after[0], c.after[1], c.after[2], c.after[3], c.rate, 0, 3);
        slave->runCycle(source->now.load());
        EXPECT_EQ(slave->clockSMPTETime(), c.expected);
        EXPECT_EQ(slave->isRunning(), c.running);
    }
}

TEST_F(QVTClockSlaving, RateChangeDelayAndJump)
{
    clock->setIsMTCSlave(true);
    clock->setMtcSourceNode(midi.node);
    midi.quarterFrames(0, 0, 10, 0, 3);  // 30 fps while the clock counts 25
    EXPECT_EQ(clock->smpteFormat(), QVTClockSMPTEFormat30);
    EXPECT_EQ(time(), "00:00:10:02");
    midi.quarterFrames(0, 0, 10, 2, 3);
    EXPECT_EQ(recorder->takeNames().count(kFramerateChanged), 1);

    // A jump in the code stops the clock at the new time plus one frame; the next sequence's
    // piece 7 starts it again.
    midi.quarterFrames(0, 0, 20, 0, 3, 0, 3);
    EXPECT_TRUE(clock->isRunning());
    cycles(1);
    EXPECT_FALSE(clock->isRunning());
    EXPECT_EQ(time(), "00:00:20:02");
    EXPECT_EQ(events(*recorder), (QStringList{kStopped, kExtStartTimeSet + "=00:00:20:02"}));

    // The input delay (here 3 frames) is added to each time handed on.
    clock->setDelay(100);
    midi.quarterFrames(0, 0, 20, 0, 3, 4, 7);
    EXPECT_TRUE(clock->isRunning());
    EXPECT_EQ(time(), "00:00:20:05");
}

TEST_F(QVTClockSlaving, FullFrameDropsTheLockAndLocatesWithinThePlaylist)
{
    clock->setIsMTCSlave(true);
    clock->setMtcSourceNode(midi.node);
    clock->setClockOffset(5.0);
    midi.quarterFrames(0, 0, 10, 0, 1);
    ASSERT_TRUE(clock->isRunning());
    recorder->take();

    midi.fullFrame(0, 0, 30, 10, 1);
    EXPECT_TRUE(clock->isConnectedToSlave());  // the rest waits for the stop
    cycles(1);
    EXPECT_FALSE(clock->isRunning());
    EXPECT_FALSE(clock->isConnectedToSlave());
    EXPECT_EQ(events(*recorder), (QStringList{kStopped, kSlaveStateChanged, kExtStartTimeSet + "=00:00:30:10"}));

    const struct {
        int h, m, s, f, rate;
        const char* expected;
    } stopped[] = {
        {0, 0, 2, 0, 1, "00:00:05:00"},   // before the playlist: its start
        {1, 30, 0, 0, 1, "01:00:00:00"},  // at or past the maximum: the maximum
        {0, 0, 40, 20, 0, "00:00:40:20"},  // a new rate
    };
    for (const auto& c : stopped) {
        midi.fullFrame(c.h, c.m, c.s, c.f, c.rate);
        EXPECT_EQ(time(), c.expected);
    }
    EXPECT_EQ(clock->smpteFormat(), QVTClockSMPTEFormat24);
    EXPECT_EQ(events(*recorder), (QStringList{kExtStartTimeSet + "=00:00:05:00", kExtStartTimeSet + "=01:00:00:00",
                                              kFramerateChanged, kExtStartTimeSet + "=00:00:40:20"}));
}

// --- MIDI Machine Control and MIDI Show Control ---------------------------------------------------

TEST_F(QVTClockSlaving, MachineAndShowControlCommands)
{
    enum Mode { Internal, MTC, LTC };
    const Bytes mmcPlay3{0xF0, 0x7F, 0x03, 0x06, 0x02, 0xF7};
    const Bytes mmcPlayAll{0xF0, 0x7F, 0x7F, 0x06, 0x02, 0xF7};
    const Bytes mmcStop{0xF0, 0x7F, 0x7F, 0x06, 0x01, 0xF7};
    const Bytes mmcRewind{0xF0, 0x7F, 0x7F, 0x06, 0x05, 0xF7};
    const auto mmcLocate = [](uint8_t device, uint8_t h, uint8_t m, uint8_t s, uint8_t f) {
        return Bytes{0xF0, 0x7F, device, 0x06, 0x44, 0x06, 0x01, uint8_t(0x20 | h), m, s, f, 0x00, 0xF7};
    };
    const auto msc = [](uint8_t command, Bytes cue = {}) {
        Bytes bytes{0xF0, 0x7F, 0x01, 0x02, 0x01, command};
        for (const uint8_t b : cue) {
            bytes.push_back(b);
        }
        bytes.push_back(0xF7);
        return bytes;
    };
    const struct {
        const char* what;
        Mode mode;
        bool running;
        Bytes message;
        QStringList expected;
        bool runningAfter;
    } cases[] = {
        {"MMC play, all devices, stopped", Internal, false, mmcPlayAll, {kStarted}, true},
        {"MMC play, all devices, running", Internal, true, mmcPlayAll, {}, true},
        {"MMC play, device 3, stopped", Internal, false, mmcPlay3, {"jumpToItem=2", kStarted}, true},
        {"MMC play, device 3, running", Internal, true, mmcPlay3, {kStopped, "jumpToItem=2", kStarted}, true},
        {"MMC play following MTC", MTC, false, mmcPlayAll, {}, false},
        {"MMC stop", Internal, true, mmcStop, {kStopped}, false},
        {"MMC stop following LTC", LTC, true, mmcStop, {}, true},
        {"MMC rewind following MTC", MTC, true, mmcRewind, {kRewinded}, true},
        {"MMC locate, stopped", Internal, false, mmcLocate(0x7F, 0, 0, 10, 5), {kExtStartTimeSet + "=00:00:10:05"}, false},
        {"MMC locate, running", Internal, true, mmcLocate(0x7F, 0, 0, 10, 5),
         {kStopped, kExtStartTimeSet + "=00:00:10:05", kStarted}, true},
        {"MMC locate to one device", Internal, false, mmcLocate(5, 0, 0, 10, 5), {}, false},
        {"MMC locate past the maximum", Internal, false, mmcLocate(0x7F, 2, 0, 0, 0), {}, false},
        {"MMC locate where the clock stands", Internal, false, mmcLocate(0x7F, 0, 0, 0, 0), {}, false},
        {"MMC locate where a running MTC slave stands", MTC, true, mmcLocate(0x7F, 0, 0, 0, 0),
         {kStopped, kExtStartTimeSet + "=00:00:00:00", kStarted}, true},
        {"MSC GO cue 2, running", Internal, true, msc(0x01, {'2'}), {kStopped, "jumpToItem=2", kStarted}, true},
        {"MSC GO cue 12, stopped", Internal, false, msc(0x01, {'1', '2'}), {"jumpToItem=12", kStarted}, true},
        // Cue 12.5 is not cue 12: the command is refused.
        {"MSC GO cue 12.5, stopped", Internal, false, msc(0x01, {'1', '2', '.', '5'}), {}, false},
        {"MSC GO without cue, stopped", Internal, false, msc(0x01), {kStarted}, true},
        {"MSC GO without cue, running", Internal, true, msc(0x01), {}, true},
        {"MSC GO following MTC", MTC, false, msc(0x01, {'2'}), {}, false},
        {"MSC STOP", Internal, true, msc(0x02), {kStopped}, false},
        {"MSC STOP following LTC", LTC, true, msc(0x02), {}, true},
        {"MSC RESUME", Internal, false, msc(0x03), {kStarted}, true},
        {"MSC RESET, running", Internal, true, msc(0x0A), {kStopped, kRewinded}, false},
        {"MSC RESET following MTC", MTC, true, msc(0x0A), {kRewinded}, true},
        {"MSC ALL_OFF", Internal, true, msc(0x08), {}, true},
        {"MSC RESTORE", Internal, true, msc(0x09), {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto target = clockAt(QVTClockSMPTEFormat25, source);
        target->setMaxClockSMPTETime("01:00:00:00");
        target->setMmcSourceNode(midi.node);
        target->setMscSourceNode(midi.node);
        target->setIsMTCSlave(c.mode == MTC);
        target->setIsLTCSlave(c.mode == LTC);
        if (c.running) {
            target->startClock();
        }
        Recorder posted(*target);
        midi.send(c.message);
        target->runCycle(source->now.load());
        EXPECT_EQ(events(posted), c.expected);
        EXPECT_EQ(target->isRunning(), c.runningAfter);
    }
}

// --- The network link ---------------------------------------------------------------------------

namespace {

Bytes nmc(uint8_t command, uint8_t h, uint8_t m, uint8_t s, uint8_t f, uint8_t fps, uint8_t cue = 0)
{
    return {'K', 'N', 'M', 'C', command, h, m, s, f, fps, cue, 0};
}

// Makes this copy a backup for as long as it lives.
struct BackupMode {
    explicit BackupMode(bool on) { KavioNMCManager::sharedManager().setIsKavioBackup(on); }
    ~BackupMode() { KavioNMCManager::sharedManager().setIsKavioBackup(false); }
};

}  // namespace

TEST(NMCPacket, ReadsTheTwelveByteLayout)
{
    Bytes bytes = nmc(110, 1, 2, 3, 4, 25, 9);
    bytes.push_back(0xEE);  // bytes past the twelfth are not read
    const auto packet = NMC_Packet::fromBytes(bytes);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->command, KavioNetworkLinkCommandGoto);
    EXPECT_EQ(packet->fps, 25);
    EXPECT_EQ(packet->cue, 9);
    EXPECT_EQ(packet->timeString(), "01:02:03:04");

    const Bytes locate = nmc(10, 0, 0, 0, 0, 30);
    const Bytes refused[] = {
        Bytes(locate.begin(), locate.end() - 1),
        {},
        nmc(10, 0, 0, 0, 0, 29),
        nmc(10, 0, 0, 0, 0, 0),
        nmc(10, 0, 60, 0, 0, 30),
        nmc(10, 0, 0, 0, 30, 30),
        nmc(10, 0, 0, 0, 24, 24),
    };
    for (const Bytes& b : refused) {
        std::string error;
        EXPECT_FALSE(NMC_Packet::fromBytes(b, &error));
        EXPECT_FALSE(error.empty());
    }
}

class QVTClockNetworkLink : public QVTClockCycles {};

TEST_F(QVTClockNetworkLink, PlainSlaveBackupAndMalformedPackets)
{
    enum Mode { Plain, Backup, FollowingMTC };
    const struct {
        const char* what;
        Mode mode;
        bool running;
        double at;
        Bytes packet;
        QStringList expected;
        bool runningAfter;
        const char* timeAfter;
    } cases[] = {
        {"locate, running", Plain, true, 0, nmc(10, 0, 0, 10, 15, 30),
         {kStopped, kExtStartTimeSet + "=00:00:10:15", kStarted}, true, "00:00:10:15"},
        {"locate, stopped", Plain, false, 0, nmc(10, 0, 0, 10, 15, 30), {kExtStartTimeSet + "=00:00:10:15"}, false,
         "00:00:10:15"},
        {"locate where the clock stands", Plain, false, 10.5, nmc(10, 0, 0, 10, 15, 30), {}, false, "00:00:10:15"},
        {"locate past the maximum", Plain, false, 0, nmc(10, 1, 0, 0, 1, 30), {}, false, "00:00:00:00"},
        {"locate at another rate", Plain, false, 0, nmc(10, 0, 0, 10, 20, 25),
         {kFramerateChanged, kExtStartTimeSet + "=00:00:10:20"}, false, "00:00:10:20"},
        {"stop, running", Plain, true, 0, nmc(1, 0, 0, 20, 0, 30), {kStopped, kExtStartTimeSet + "=00:00:20:00"}, false,
         "00:00:20:00"},
        {"stop, stopped", Plain, false, 0, nmc(1, 0, 0, 20, 0, 30), {kExtStartTimeSet + "=00:00:20:00"}, false,
         "00:00:20:00"},
        {"play, stopped: from where it stands", Plain, false, 5, nmc(2, 0, 0, 40, 0, 30), {kStarted}, true, "00:00:05:00"},
        {"play, running", Plain, true, 0, nmc(2, 0, 0, 40, 0, 30), {}, true, "00:00:00:00"},
        {"unknown command", Plain, false, 0, nmc(7, 0, 0, 40, 0, 30), {}, false, "00:00:00:00"},
        {"backup command on a plain slave", Plain, false, 0, nmc(160, 0, 0, 0, 0, 30), {}, false, "00:00:00:00"},
        {"following MTC", FollowingMTC, false, 0, nmc(10, 0, 0, 10, 15, 30), {}, false, "00:00:00:00"},
        {"rate 29", Plain, true, 0, nmc(10, 0, 0, 10, 15, 29), {}, true, "00:00:00:00"},
        {"11 bytes", Plain, false, 0, Bytes(11, 10), {}, false, "00:00:00:00"},
        {"minutes 60", Plain, false, 0, nmc(10, 0, 60, 0, 0, 30), {}, false, "00:00:00:00"},
        {"frame 30 at 30 fps", Plain, false, 0, nmc(10, 0, 0, 1, 30, 30), {}, false, "00:00:00:00"},
        {"backup: goto", Backup, false, 0, nmc(110, 0, 0, 20, 0, 30, 4), {"KavioGotoNMCCommand=[4,20]"}, false,
         "00:00:00:00"},
        {"backup: seek", Backup, false, 0, nmc(100, 0, 1, 2, 3, 30, 3), {"KavioSeekNMCCommand=[3,00:01:02:03]"}, false,
         "00:00:00:00"},
        {"backup: rewind", Backup, false, 0, nmc(105, 0, 0, 0, 0, 30, 7), {"KavioRewindNMCCommand=7"}, false,
         "00:00:00:00"},
        {"backup: jump", Backup, false, 0, nmc(120, 0, 0, 0, 0, 30, 8), {"KavioJumpNMCCommand=8"}, false, "00:00:00:00"},
        {"backup: jump and play", Backup, false, 0, nmc(130, 0, 0, 0, 0, 30, 9), {"KavioJumpAndPlayNMCCommand=9"}, false,
         "00:00:00:00"},
        {"backup: stop", Backup, true, 0, nmc(140, 0, 0, 3, 4, 30, 1), {"KavioStopNMCCommand=[1,00:00:03:04]"}, true,
         "00:00:00:00"},
        {"backup: play", Backup, false, 0, nmc(150, 0, 0, 3, 4, 30, 2), {"KavioPlayNMCCommand=[2,00:00:03:04]"}, false,
         "00:00:00:00"},
        {"backup: panic", Backup, false, 0, nmc(160, 0, 0, 0, 0, 30), {"KavioPanicNMCCommand=0"}, false, "00:00:00:00"},
        {"backup: unknown command", Backup, false, 0, nmc(170, 0, 0, 0, 0, 30), {}, false, "00:00:00:00"},
        {"backup: transport command", Backup, true, 0, nmc(1, 0, 0, 20, 0, 30), {}, true, "00:00:00:00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto slave = clockAt(QVTClockSMPTEFormat30, source);
        slave->setMaxClockSMPTETime("01:00:00:00");
        slave->setIsMTCSlave(c.mode == FollowingMTC);
        slave->setClockStartTimeWithoutOffset(c.at);
        if (c.running) {
            slave->startClock();
        }
        BackupMode backup(c.mode == Backup);
        KavioNMCManager::sharedManager().setDelegate(slave);
        Recorder posted(*slave);
        KavioNMCManager::sharedManager().handleNMCData(c.packet);
        slave->runCycle(source->now.load());
        EXPECT_EQ(events(posted), c.expected);
        EXPECT_EQ(slave->isRunning(), c.runningAfter);
        EXPECT_EQ(slave->clockSMPTETime().left(11), c.timeAfter);  // a running clock may be a cycle on
    }
    KavioNMCManager::sharedManager().setDelegate({});

    // A backup takes the packet's rate without announcing it.
    BackupMode backup(true);
    clock->receivedNMCMessage(nmc(120, 0, 0, 0, 0, 30, 1));
    EXPECT_EQ(clock->smpteFormat(), QVTClockSMPTEFormat30);
    EXPECT_EQ(recorder->takeNames(), QStringList{"KavioJumpNMCCommand"});
}

// --- LTC ---------------------------------------------------------------------------------------

namespace {

constexpr double kSampleRate = 48000;

}  // namespace

class QVTClockLTC : public QVTClockCycles {
protected:
    // A new clock following LTC at that rate, from a 48 kHz input.
    void slaveAt(int32_t format)
    {
        recorder.reset();
        clock = clockAt(format, source);
        clock->setMaxClockSMPTETime("01:00:00:00");
        clock->setIsLTCSlave(true);
        recorder = std::make_unique<Recorder>(*clock);
        ASSERT_TRUE(clock->setLtcInputSampleRate(kSampleRate));
    }
    // Feeds the samples block by block, running the clock's cycles for the time each block lasts.
    void feed(const std::vector<float>& samples)
    {
        for (size_t i = 0; i < samples.size(); i += QVTClock::kLTCBlockSamples) {
            clock->handleLTCData(&samples[i]);
            silence(QVTClock::kLTCBlockSamples);
        }
    }
    // Runs the clock's cycles for the time the samples last, measured from the end of the
    // previous call, so that host time keeps pace with the signal.
    void silence(size_t samples)
    {
        if (signalTime_ == 0) {
            signalTime_ = source->now.load();
        }
        signalTime_ += uint64_t(double(samples) * 1e9 / kSampleRate);
        while (source->now.load() < signalTime_) {
            cycles(1);
        }
    }

private:
    uint64_t signalTime_ = 0;
};

TEST_F(QVTClockLTC, LocksFollowsEveryFrameAndRollsOverTheMinute)
{
    for (const int32_t format : {QVTClockSMPTEFormat25, QVTClockSMPTEFormat30}) {
        slaveAt(format);
        const int fps = clock->framerate();
        SCOPED_TRACE(fps);
        const int frames = 3 * fps;
        const int64_t first = clock->frameCountSMPTEString("00:00:58:00");
        QStringList encoded;
        for (int i = 0; i < frames; ++i) {
            encoded << clock->smpteRepresentationOfFrames(uint64_t(first + i));
        }
        ASSERT_TRUE(encoded.contains("00:01:00:00"));

        feed(encodeLTC(fps, 0, 0, 58, 0, frames));
        EXPECT_TRUE(clock->isConnectedToSlave());
        EXPECT_TRUE(clock->isRunning());

        QStringList followed;
        QStringList others;
        for (const Posted& p : recorder->take()) {
            (p.name == kTimeChanged ? followed : others) << p.userInfo.value(p.name).toString();
        }
        ASSERT_FALSE(followed.isEmpty());
        const qsizetype lockedAt = encoded.indexOf(followed.front());
        ASSERT_GE(lockedAt, 0) << followed.front().toStdString();
        EXPECT_LE(lockedAt, 2);  // the decoder needs a frame or two to find the signal
        EXPECT_GE(followed.size(), frames - lockedAt - 1);  // the last frame may wait for more signal
        EXPECT_EQ(followed, encoded.mid(lockedAt, followed.size()));
        EXPECT_EQ(others.size(), 3);  // the lock, the start time, the start
        EXPECT_EQ(clock->clockSMPTETime(), followed.back());
        EXPECT_DOUBLE_EQ(clock->clockTime(), clock->secondsForSMPTEString(followed.back()));
    }
}

TEST_F(QVTClockLTC, CutSignalFreeWheelsThenStopsOrJamSyncs)
{
    slaveAt(QVTClockSMPTEFormat25);
    feed(encodeLTC(25, 0, 0, 10, 0, 25));
    ASSERT_TRUE(clock->isRunning());
    const QString last = clock->clockSMPTETime();
    recorder->take();

    // 10 free-wheel frames: the clock holds its time for 0.4 s, then gives up and stops. (The
    // last frame decoded may be one before the end of the signal.)
    silence(size_t(0.3 * kSampleRate));
    EXPECT_TRUE(clock->isConnectedToSlave());
    EXPECT_EQ(clock->clockSMPTETime(), last);
    silence(size_t(0.15 * kSampleRate));
    EXPECT_FALSE(clock->isConnectedToSlave());
    EXPECT_FALSE(clock->isRunning());
    EXPECT_EQ(clock->clockSMPTETime(), last);
    EXPECT_EQ(recorder->takeNames(), (QStringList{kSlaveStateChanged, kStopped}));

    // Endless free-wheel: the clock runs on by itself and leaves jam sync with the next frame.
    clock->setFreeWheelFrames(QVTClock::kEndlessFreeWheel);
    feed(encodeLTC(25, 0, 0, 20, 0, 25));
    ASSERT_TRUE(clock->isRunning());
    recorder->take();
    silence(size_t(1.0 * kSampleRate));
    EXPECT_TRUE(clock->isInJamSync());
    EXPECT_TRUE(clock->isRunning());
    EXPECT_GE(clock->frameCountSMPTEString(clock->clockSMPTETime()), clock->frameCountSMPTEString("00:00:21:20"));
    const QStringList names = recorder->takeNames();
    EXPECT_EQ(names.count(kSlaveStateChanged), 1);
    EXPECT_GE(names.count(kTimeChanged), 20);

    feed(encodeLTC(25, 0, 0, 22, 0, 50));
    EXPECT_FALSE(clock->isInJamSync());
    EXPECT_TRUE(clock->isRunning());
    EXPECT_GE(clock->frameCountSMPTEString(clock->clockSMPTETime()), clock->frameCountSMPTEString("00:00:23:20"));
    EXPECT_LE(clock->frameCountSMPTEString(clock->clockSMPTETime()), clock->frameCountSMPTEString("00:00:23:24"));

    // Not an LTC slave: the samples are not even decoded.
    clock->setIsLTCSlave(false);
    recorder->take();
    feed(encodeLTC(25, 0, 0, 40, 0, 10));
    EXPECT_TRUE(recorder->takeNames().filter(kExtStartTimeSet).isEmpty());
    EXPECT_FALSE(clock->setLtcInputSampleRate(0));
}

TEST_F(QVTClockLTC, AudioInputFeedsTheDecoderAcrossTheMinuteInCyclesOfAnySize)
{
    slaveAt(QVTClockSMPTEFormat25);
    auto backend = std::make_shared<NullAudioBackend>();
    const AudioDeviceID device = backend->addDevice("ltc-in", "LTC In", 2, 0, kSampleRate);
    auto input = std::make_shared<QVTAudioInput>("ltc-in", backend);
    input->setInputChannel(1);
    clock->setLtcInputNode(input);
    EXPECT_EQ(clock->ltcInputNode(), input);

    // LTC on the second of two interleaved channels, in cycles of 300 frames.
    const std::vector<float> ltc = encodeLTC(25, 0, 0, 59, 0, 50);
    constexpr uint32_t kCycle = 300;
    std::vector<float> interleaved(kCycle * 2);
    for (size_t start = 0; start + kCycle <= ltc.size(); start += kCycle) {
        for (uint32_t f = 0; f < kCycle; ++f) {
            interleaved[f * 2] = 0.9f;
            interleaved[f * 2 + 1] = ltc[start + f];
        }
        const AudioCaptureBuffer buffer{interleaved.data(), 2, kCycle};
        ASSERT_TRUE(backend->captureCycle(device, std::span(&buffer, 1)));
        silence(kCycle);
    }
    EXPECT_TRUE(clock->isConnectedToSlave());
    EXPECT_GE(clock->frameCountSMPTEString(clock->clockSMPTETime()), clock->frameCountSMPTEString("00:01:00:20"));

    // Without an input nothing reaches the decoder any more.
    clock->setLtcInputNode(nullptr);
    recorder->take();
    const AudioCaptureBuffer buffer{interleaved.data(), 2, kCycle};
    for (int i = 0; i < 40; ++i) backend->captureCycle(device, std::span(&buffer, 1));
    EXPECT_TRUE(recorder->takeNames().filter(kTimeChanged).isEmpty());
}
