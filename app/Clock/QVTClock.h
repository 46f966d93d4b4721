#pragma once
// The show's master clock: the show time in seconds on the single timecode line, advanced by a
// real-time thread of its own, with the SMPTE arithmetic (HH:MM:SS:FF at 24, 25 or 30 frames a
// second) that the whole program uses.
//
// Ownership: the cue list controller creates the one clock (initClock) and owns it; the clock owns
// its private notification centre and its thread. Every notification below is posted on that
// centre with the clock as object and delivered synchronously on the posting thread, so an
// observer of "CLOCK_TIME_CHANGED" runs on the clock thread while the clock runs on its own.
//
// Threads: every operation may be called from any thread unless it says otherwise. Stop and
// restart requests are completed by the clock thread at the end of its current cycle; their
// completions, "QVTCLOCK_STOPPED" and the network stop run there.
//
// Slaving: the clock can follow MIDI time code, MMC and MSC from chosen MIDI sources (through the
// MIDI manager's notifications, handled on the MIDI input thread), LTC decoded from audio blocks
// (on the audio input's thread) and the network link's packets (on the link's thread). Every
// input ends in the transport operations below; times read from timecode reach the clock through
// handleNewTimeInSlaveMode, on the main thread. Work that must follow a stop (a locate, a jump, a
// rewind) runs in that stop's completion, on the clock thread.

#include "Remote/KavioNMCManager.h"
#include "NotificationCenter.h"

#include <QString>
#include <QVariantMap>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

class QVTMIDINode;
typedef struct LTCDecoder LTCDecoder;
class QVTAudioInput;

// The show's frame rate, as the rate codes of MIDI time code. Frames are never dropped: the
// drop-frame code counts 30 whole frames a second like code 3; any other code counts as 30 too.
enum QVTClockSMPTEFormat : int32_t {
    QVTClockSMPTEFormat24 = 0,
    QVTClockSMPTEFormat25 = 1,
    QVTClockSMPTEFormat30DropFrame = 2,
    QVTClockSMPTEFormat30 = 3,
};

// Notification names on the clock's centre; each user-info dictionary (where there is one) has a
// single entry whose key is the notification's name.
namespace QVTClockNotification {
// Value: the clock time as SMPTE. Posted once per frame by the running internal clock.
inline constexpr char TimeChanged[] = "CLOCK_TIME_CHANGED";
inline constexpr char Started[] = "QVTCLOCK_STARTED";  // value: the name itself
inline constexpr char Stopped[] = "QVTCLOCK_STOPPED";  // value: the name itself
inline constexpr char Rewinded[] = "QVTCLOCK_REWINDED";  // value: the name itself
// Value: the clock time as SMPTE after a locate, a slave start or a clamp to the maximum.
inline constexpr char ExtStartTimeSet[] = "QVTCLOCK_EXT_START_TIME_SET";
inline constexpr char MTCFramerateChanged[] = "QVTCLOCK_MTC_FRAMERATE_CHANGED";  // value: the name
inline constexpr char SlaveStateChanged[] = "QVTCLOCK_SLAVE_STATE_CHANGED";  // no user info
inline constexpr char JumpToItem[] = "jumpToItem";  // value: the 0-based cue index

// The network link's backup commands, posted as received for the cue list controller to carry
// out. "cue" is the packet's cue byte, "time" its time as "HH:MM:SS:FF", "seconds" its seconds
// byte; every number is an int.
inline constexpr char SeekNMCCommand[] = "KavioSeekNMCCommand";  // value: [cue, time]
inline constexpr char RewindNMCCommand[] = "KavioRewindNMCCommand";  // value: cue
inline constexpr char GotoNMCCommand[] = "KavioGotoNMCCommand";  // value: [cue, seconds]
inline constexpr char JumpNMCCommand[] = "KavioJumpNMCCommand";  // value: cue
inline constexpr char JumpAndPlayNMCCommand[] = "KavioJumpAndPlayNMCCommand";  // value: cue
inline constexpr char StopNMCCommand[] = "KavioStopNMCCommand";  // value: [cue, time]
inline constexpr char PlayNMCCommand[] = "KavioPlayNMCCommand";  // value: [cue, time]
inline constexpr char PanicNMCCommand[] = "KavioPanicNMCCommand";  // value: cue
}  // namespace QVTClockNotification

// Where the clock reads the host's monotonic time and waits for its deadlines. The host source
// is CLOCK_MONOTONIC with absolute-deadline sleeps; tests give the clock a source of their own so
// that cycles run without sleeping.
class QVTClockTimeSource {
public:
    virtual ~QVTClockTimeSource() = default;
    // Monotonic nanoseconds. Any thread.
    virtual uint64_t monotonicNanoseconds() = 0;
    // Returns once the monotonic time has reached the deadline (at once when it has passed).
    // Called by the clock thread only.
    virtual void sleepUntil(uint64_t deadlineNanoseconds) = 0;

    static std::shared_ptr<QVTClockTimeSource> host();
};

class QVTClock : public std::enable_shared_from_this<QVTClock> {
public:
    using Callback = std::function<void()>;

    // Cycles of the clock thread: 600 a second, each ending at an absolute deadline.
    static constexpr uint64_t kCyclePeriodNanoseconds = 1'666'666;
    // freeWheelFrames value meaning "never give up the lock": the clock jam-syncs instead.
    static constexpr int32_t kEndlessFreeWheel = 2147483647;

    // A stopped internal clock at 0 s and 30 frames a second, 10 free-wheel frames, no offset,
    // maximum "00:00:00:00", no delay. Without a time source the host's monotonic clock is used.
    static std::shared_ptr<QVTClock> initClock(std::shared_ptr<QVTClockTimeSource> timeSource = nullptr);
    // Ends the clock thread (waiting for its current cycle, unless called on that thread) and
    // drops the notification centre. Pending completions never run.
    ~QVTClock();
    QVTClock(const QVTClock&) = delete;
    QVTClock& operator=(const QVTClock&) = delete;

    // --- The clock thread -------------------------------------------------------------------

    // Starts the clock thread, named "com.dalvek.kavio-clockrenderer" (the kernel keeps its first
    // 15 characters). It asks for SCHED_FIFO; when the system refuses, it logs one warning and
    // runs at normal priority. Later calls do nothing: there is one thread per clock.
    void runClockRenderer();

    // One cycle of the clock thread at host time `now` (monotonic nanoseconds): a running
    // internal clock adds the step since the last cycle to the clock time (the step rounded to
    // single precision) and posts "CLOCK_TIME_CHANGED" when its SMPTE string changed; a clock
    // following timecode free-wheels, drops a lost lock or jam-syncs. Then it waits through the
    // time source until now + kCyclePeriodNanoseconds and completes a requested stop, running its
    // completion on this thread. Called by the clock thread; tests call it with their own time
    // source instead of starting the thread. Never call it while the thread runs.
    void runCycle(uint64_t now);

    // --- Transport ----------------------------------------------------------------------------

    // Starts the clock from its current time, cancelling a stop that is pending (its completion
    // never runs). Sends the network play, posts "QVTCLOCK_STARTED" and, on the internal clock,
    // "CLOCK_TIME_CHANGED" on the calling thread. Starting a running clock repeats all of this.
    void startClock();
    // Requests a stop. A running clock stops at the end of the current cycle; then, on the clock
    // thread, the network stop is sent, "QVTCLOCK_STOPPED" is posted and the handler runs. With a
    // stop already pending, or on a stopped clock, the handler runs at once on the calling thread
    // and nothing else happens. The handler may be empty.
    void stopClockWithCompletedHandler(Callback handler);
    // On a running clock with no stop pending: at the end of the current cycle the clock thread
    // moves the clock to `seconds` (no offset; the network locate is sent), lets it run on in the
    // same cycle and runs the handler. No started or stopped notification, no network stop or play.
    // Otherwise only logs: the handler is not called.
    void restartClockFromTimeWithoutNotifyingManager(double seconds, Callback handler);
    // Stores the handler as the pending completion of the next stop, replacing an earlier one.
    void addStopCompletedHandler(Callback handler);
    // Runs the pending completion, if any, on the calling thread and clears it.
    void doStopCompletedHandlerIfNeeded();

    // Sets the clock time (plus clockOffset when asked) and sends the network locate; a running
    // clock runs on from there. Posts nothing.
    void setClockStartTime(double seconds, bool useOffset);
    void setClockStartTime(double seconds);  // with the offset
    void setClockStartTimeWithoutOffset(double seconds);
    // setClockStartTimeWithoutOffset, then "QVTCLOCK_EXT_START_TIME_SET".
    void locateClockToTime(double seconds);
    // A time read from outside timecode. Re-issued on the main thread when called elsewhere. On
    // the main thread: a time at or past maxClockSMPTETime clamps the clock there; a running
    // clock follows a time equal to its own or one frame later and stops at the time plus one
    // frame when the timecode jumped; a stopped clock starts from a time at or after the
    // playlist start (earlier times are ignored).
    void handleNewTimeInSlaveMode(double seconds);
    // Moves the clock to maxClockSMPTETime when it is elsewhere, posting
    // "QVTCLOCK_EXT_START_TIME_SET" and "CLOCK_TIME_CHANGED". A running clock is stopped first and
    // clamped in the stop's completion, on the clock thread.
    void handleOverMaxClockSMPTETime();

    // --- Conversions, at the current smpteFormat ----------------------------------------------

    double frameTimeOfCurrentSMPTEFormat() const;  // 1/24, 0.04 or 1/30 s
    int framerate() const;  // 24, 25 or 30
    QString clockSMPTETime() const;
    // A fraction of a frame below 0.94 is dropped (the string names the frame being shown); at
    // 0.94 or more the frame rounds up, carrying into seconds, minutes and hours. Hours are not
    // wrapped. NaN gives "00:00:00:00".
    QString smpteRepresentationOfTime(double seconds) const;
    QString smpteRepresentationOfFrames(uint64_t frames) const;
    // Dashes at both ends are ignored (so a minus sign is); missing leading fields count as 0
    // ("05:10" is 5 s and 10 frames); a null string is 0.0.
    double secondsForSMPTEString(const QString& smpte) const;
    // One to four fields: frames; seconds and frames; and so on up to hours. Empty or more than
    // four fields: 0.
    int64_t frameCountSMPTEString(const QString& smpte) const;
    // Field-wise comparisons through 32-bit frame numbers compared unsigned. Strings of fewer
    // than four fields count their missing leading fields as 0; fields past the fourth are ignored.
    bool smpteTimeIsConsecutiveToSMPTETime(const QString& a, const QString& b) const;  // a == b or b + 1 frame
    bool smpteTimeIsEqualOrGreatThanSMPTETime(const QString& a, const QString& b) const;
    bool smpteTimeIsLowerThanSMPTETime(const QString& a, const QString& b) const;
    bool smpteTimeIsEqualOrLowerThanSMPTETime(const QString& a, const QString& b) const;
    // The timecode input delay in seconds, worked out in single precision.
    double delayInMs() const;

    // --- Properties ----------------------------------------------------------------------------

    double clockTime() const;
    void setClockTime(double seconds);
    double clockOffset() const;  // the playlist start on the timecode line
    void setClockOffset(double seconds);
    bool isRunning() const;
    void setIsRunning(bool running);
    bool isMTCSlave() const;
    void setIsMTCSlave(bool slave);
    bool isLTCSlave() const;
    void setIsLTCSlave(bool slave);
    bool isConnectedToSlave() const;  // timecode lock
    void setIsConnectedToSlave(bool connected);
    bool isInJamSync() const;
    void setIsInJamSync(bool jamSync);
    int32_t freeWheelFrames() const;
    void setFreeWheelFrames(int32_t frames);
    int32_t smpteFormat() const;  // a QVTClockSMPTEFormat code
    void setSmpteFormat(int32_t format);
    QString maxClockSMPTETime() const;  // the end of the last cue; the clock never runs past it
    void setMaxClockSMPTETime(const QString& smpte);
    int64_t delay() const;  // milliseconds
    void setDelay(int64_t milliseconds);
    // The clock's private centre; it lives as long as the clock.
    NotificationCenter& notificationCenter() const;

    // --- Slaving ------------------------------------------------------------------------------
    //
    // Lock: the first MTC quarter frame or LTC frame sets isConnectedToSlave and ends a jam sync,
    // each change posting "QVTCLOCK_SLAVE_STATE_CHANGED"; an MTC full frame or, on the clock
    // thread, more than freeWheelFrames frame times of silence drop the lock (and stop the clock);
    // with kEndlessFreeWheel the clock jam-syncs instead after three frame times of silence.

    // The MIDI sources followed, observed on the MIDI manager's centre (the process's shared
    // manager) with the node as object. The clock holds each node weakly; null stops following.
    // A new MTC source restarts the quarter-frame assembly. Any thread but the MIDI input
    // thread; without a MIDI manager the node is kept but nothing is observed.
    //
    // MTC (only while isMTCSlave): quarter frames assemble the time; piece 3 hands the time plus
    // one frame to a running clock, piece 7 the time plus two frames in any case (this starts a
    // stopped clock), each with the input delay added; a rate code that differs from smpteFormat
    // replaces it and posts "QVTCLOCK_MTC_FRAMERATE_CHANGED". A full frame drops the lock, stops a
    // running clock and locates it there (clamped to the playlist and the maximum), posting
    // "QVTCLOCK_EXT_START_TIME_SET".
    void setMtcSourceNode(const std::shared_ptr<QVTMIDINode>& node);
    std::shared_ptr<QVTMIDINode> mtcSourceNode() const;
    // MMC: play (not while following timecode) with a device ID of 1 to 126 stops the clock and
    // then posts "jumpToItem" with the ID minus one and starts it; any other play starts a
    // stopped clock. Stop stops an internal running clock. Rewind posts "QVTCLOCK_REWINDED".
    // Locate (device ID 0, 127 or none) moves the clock to the time when it is within the
    // maximum, stopping and restarting a running clock around the move.
    void setMmcSourceNode(const std::shared_ptr<QVTMIDINode>& node);
    std::shared_ptr<QVTMIDINode> mmcSourceNode() const;
    // MSC: GO, STOP and RESUME are ignored while following timecode. GO with a cue number stops
    // the clock, then posts "jumpToItem" with that number and starts it; GO without one starts a
    // stopped clock. STOP stops, RESUME starts. RESET posts "QVTCLOCK_REWINDED" (after stopping
    // an internal running clock). ALL_OFF and RESTORE do nothing.
    void setMscSourceNode(const std::shared_ptr<QVTMIDINode>& node);
    std::shared_ptr<QVTMIDINode> mscSourceNode() const;

    // LTC blocks: this many mono samples each.
    static constexpr size_t kLTCBlockSamples = 512;
    // A new LTC input running at that sample rate (0 or less: no input). Frees the previous
    // decoder, restarts the sample count and makes a decoder for rate / framerate samples a
    // frame (at the frame rate of this call; a later rate change keeps the decoder). Answers
    // whether the decoder exists: only then may the input feed handleLTCData.
    // Any thread but the input's; it waits for a block being decoded.
    bool setLtcInputSampleRate(double deviceSampleRate);
    // --- LTC audio input ---
    // Takes the input (nullptr: none): sizes the decoder from its device sample rate and, only
    // when a decoder exists, becomes its delegate. A previous input no longer reaches the
    // clock once this returns. Main thread.
    void setLtcInputNode(std::shared_ptr<QVTAudioInput> input);
    std::shared_ptr<QVTAudioInput> ltcInputNode() const { return ltcInput_; }
    // One block of kLTCBlockSamples samples from the LTC input (only read). Only while
    // isLTCSlave: every frame decoded from it takes the lock and hands its time to
    // handleNewTimeInSlaveMode. Called by the input's thread only; it never waits: a block that
    // arrives while the input is being replaced is dropped.
    void handleLTCData(const float* samples);

    // A packet of the network link, handed over by the link manager on its thread. Ignored while
    // following MTC or LTC. A packet shorter than 12 bytes, with a frame rate other than 24, 25
    // or 30, minutes above 59 or frames not below the rate is logged and dropped. A backup posts
    // the notification of each backup command (codes 100 and above; the frame rate becomes the
    // packet's, without notification); a plain slave obeys stop (a stop, then a locate to the
    // packet's time), play (starts a stopped clock where it stands) and locate (as an MMC
    // locate; a rate that differs from the clock's replaces it and posts
    // "QVTCLOCK_MTC_FRAMERATE_CHANGED").
    void receivedNMCMessage(std::span<const uint8_t> packet);
    // The network link this clock and its cue list send through and whose backup mode it
    // reads: the shared manager unless a test gives another (one process then holds a master
    // and a backup). Any thread.
    KavioNMCManager& networkLink() const;
    void setNetworkLink(KavioNMCManager* link);

private:
    // Serialises the timing fields (lasttime, clockTime_, freewheeltimer, shouldstop, the pending
    // completion and maxClockSMPTETime_) between threads. It is held only for a few loads and
    // stores. Ordinary callers wait for it; the clock thread's cycle only tries it and, when
    // another thread keeps holding it, leaves the step to the next cycle, which counts from the
    // last time it counted or from the time that thread set (its value wins). So the clock thread
    // never waits on the main thread, and no cycle's time is lost.
    class StateGuard {
    public:
        bool tryEnter();
        void enter();
        void leave();

    private:
        std::atomic<bool> busy_{false};
    };

    explicit QVTClock(std::shared_ptr<QVTClockTimeSource> timeSource);

    // The body of the clock thread. It reads `end` before every cycle and touches the clock only
    // while `end` is clear: the clock may be destroyed by a completion running on this thread.
    static void render(QVTClock* clock, std::shared_ptr<std::atomic<bool>> end);
    void advanceInternalClock(uint64_t now);
    void followTimecode(uint64_t now);
    // Runs the stop's completion last: nothing of the clock is touched after it.
    void completeRequestedStop();
    // A running clock with no stop pending takes `completion` (owned) as its stop's completion
    // and stops at the end of the current cycle; otherwise `completion` is deleted unrun.
    struct StopRequest {
        bool running;
        bool pending;  // a stop was already requested
        bool accepted() const { return running && !pending; }
    };
    StopRequest requestStop(Callback* completion);
    // Posts "CLOCK_TIME_CHANGED" when the two times differ in their SMPTE strings.
    void postIfFrameChanged(double before, double after);
    void post(const char* name, const QVariantMap& userInfo = {});
    void postWithClockSMPTETime(const char* name);

    // Slaving. The handlers run on their input's thread.
    using MIDIHandler = void (QVTClock::*)(const QVariantMap& userInfo);
    struct MIDISource {
        std::weak_ptr<QVTMIDINode> node;
        std::shared_ptr<NotificationCenter> center;  // where the tokens were registered
        std::vector<NotificationCenter::Token> tokens;
    };
    void followMIDISource(MIDISource& source, const std::shared_ptr<QVTMIDINode>& node,
                          std::initializer_list<std::pair<QString, MIDIHandler>> handlers);
    std::shared_ptr<QVTMIDINode> nodeOf(const MIDISource& source) const;
    // A timecode frame arrived: resets the free-wheel timer, ends a jam sync, takes the lock.
    void timecodeFrameArrived();
    bool followsTimecode() const;
    // Sets the time without offset and posts "QVTCLOCK_EXT_START_TIME_SET"; a running clock is
    // stopped first, moved in the stop's completion and started again.
    void locateStoppingIfRunning(double seconds);
    // Stops the clock (a stopped one at once), then posts "jumpToItem" with the index and starts.
    void jumpToItemAndStart(qlonglong index);
    void setSmpteFormatFromInput(int32_t format);
    void receivedMTC(const QVariantMap& userInfo);
    void receivedMTCFullframe(const QVariantMap& userInfo);
    void handleMMCPlay(const QVariantMap& userInfo);
    void handleMMCStop(const QVariantMap& userInfo);
    void handleMMCRewind(const QVariantMap& userInfo);
    void handleMMCLocate(const QVariantMap& userInfo);
    void handleMSCGo(const QVariantMap& userInfo);
    void handleMSCStop(const QVariantMap& userInfo);
    void handleMSCResume(const QVariantMap& userInfo);
    void handleMSCReset(const QVariantMap& userInfo);
    void handleNMCLocate(const NMC_Packet& packet);
    void handleKavioBackupCommand(const NMC_Packet& packet);

    const std::shared_ptr<QVTClockTimeSource> timeSource_;
    std::unique_ptr<NotificationCenter> notificationCenter_;
    mutable StateGuard clockStateGuard;

    uint64_t lasttime = 0;  // host time at which clockTime_ was last brought up to date
    std::atomic<double> clockTime_{0.0};
    double freewheeltimer = 0.0;  // seconds since the last timecode frame arrived
    std::atomic<bool> shouldstop{false};
    std::atomic<Callback*> completedHandler_{nullptr};  // owned; at most one pending completion
    QString maxClockSMPTETime_ = QStringLiteral("00:00:00:00");

    std::atomic<bool> isRunning_{false};
    std::atomic<KavioNMCManager*> networkLink_{nullptr};
    std::atomic<bool> isMTCSlave_{false};
    std::atomic<bool> isLTCSlave_{false};
    std::atomic<bool> isConnectedToSlave_{false};
    std::atomic<bool> isInJamSync_{false};
    std::atomic<int32_t> freeWheelFrames_{10};
    std::atomic<int32_t> smpteFormat_{QVTClockSMPTEFormat30};
    std::atomic<double> clockOffset_{0.0};
    std::atomic<int64_t> delay_{0};

    // MIDI sources: set by the setters, read by the getters.
    mutable std::mutex sourcesMutex_;
    MIDISource mtcSource_;
    MIDISource mmcSource_;
    MIDISource mscSource_;
    // MTC quarter-frame assembly, touched by the MIDI input thread (_lastsec also by the MTC
    // source's setter).
    int32_t _h = 0;
    int32_t _m = 0;
    int32_t _s = 0;
    int32_t _f = 0;
    std::atomic<int32_t> _lastsec{0};

    // LTC: the input's thread only tries ltcMutex_, so it never waits for a replacement.
    std::mutex ltcMutex_;
    LTCDecoder* ltcDecoder = nullptr;
    uint64_t ltcFrameCount = 0;  // samples written to the decoder
    std::shared_ptr<QVTAudioInput> ltcInput_;  // main thread

    std::thread thread_;
    std::shared_ptr<std::atomic<bool>> threadShouldEnd_;  // shared with the thread
};
