// The transport on the real cue list controller and master clock: the test owns the clock's time
// and runs its cycles on a thread of its own; the network link is read at its recording hook.

#include "../clock/SteppedClockTime.h"
#include "../controller/ControllerFakes.h"

#include "QVTOSCManager.h"
#include "Remote/KavioNMCManager.h"
#include "Shell/AppDelegate.h"
#include "Shell/KavioWindow.h"
#include "Support/KavioPlainPopUpButton.h"
#include "Views/KavioTimecodeTextField.h"
#include "../osc/OSCTestReceiver.h"

#include <QAction>

#include <gtest/gtest.h>

#include <thread>
#include <tuple>

namespace {

using Sent = std::tuple<int, QString, int, int>;  // command, time, fps byte, cue byte

// A controller whose playhead drag the test sets.
class DraggableController : public KavioVideoItemManager {
public:
    DraggableController(UserDefaults& defaults, std::shared_ptr<QVTClockTimeSource> source)
        : KavioVideoItemManager(defaults, std::move(source))
    {
    }
    bool isPlayheadMarkerDragging() const override { return dragging; }
    std::atomic<bool> dragging{false};
};

struct TransportFixture : ControllerFixture {
    std::shared_ptr<SteppedClockTime> time = std::make_shared<SteppedClockTime>();
    std::shared_ptr<DraggableController> draggable;
    std::shared_ptr<QVTClock> clock;
    DispatchQueue clockThread{"test.clockthread"};
    UndoManager undo;
    KavioWindow window{undo};
    KavioPlainButton play, loop, transition, next, previous, rewind, forward;
    KavioTimecodeTextField field;
    KavioPlainPopUpButton framerate;
    QAction standalone{QStringLiteral("Standalone")}, mtc{QStringLiteral("MTC")}, ltc{QStringLiteral("LTC")};
    std::shared_ptr<AppDelegate> shell;
    std::vector<std::shared_ptr<FixedLengthCue>> cues;
    std::mutex sentMutex;
    std::vector<Sent> sentCommands;

    explicit TransportFixture(const std::vector<std::int64_t>& frames = {50, 50})
    {
        draggable = KavioVideoItemManager::init<DraggableController>(*defaults, time);
        controller = draggable;
        KavioVideoItemManagerOutlets o = outlets();
        o.frameratePopup = &framerate;
        controller->setOutlets(o);
        clock = controller->masterClock();
        clock->setSmpteFormat(QVTClockSMPTEFormat25);
        shell = std::make_shared<AppDelegate>(*defaults, undo);
        AppDelegateOutlets s;
        s.window = &window;
        s.controller = controller;
        s.playButton = &play;
        s.loopButton = &loop;
        s.globalTransitionButton = &transition;
        s.nextItemButton = &next;
        s.prevItemButton = &previous;
        s.rewindButton = &rewind;
        s.fastforwardButton = &forward;
        s.mainTimecodeField = &field;
        s.standaloneSource = &standalone;
        s.mtcSource = &mtc;
        s.ltcSource = &ltc;
        shell->setOutlets(s);
        for (KavioPlainButton* button : {&play, &loop, &transition})
            button->setButtonType(KavioButtonType::OnOff);
        for (QAction* item : {&standalone, &mtc, &ltc})
            item->setCheckable(true);
        play.setAction([this] { shell->togglePlay(); });
        controller->setDelegate(shell);
        if (!frames.empty()) {
            cues = addCues(frames);
            for (const auto& cue : cues)
                cue->setIsReady(true);
            controller->setCurrentItem(cues[0]);
            cues[0]->markAsCurrent(true);
        }
        KavioNMCManager::sharedManager().setCueCommandObserver([this](const KavioNMCCueCommand& c) {
            std::lock_guard lock(sentMutex);
            sentCommands.emplace_back(int(c.command), c.smpteTime, c.fps, uint8_t(c.cue));
        });
        settle();
    }
    ~TransportFixture()
    {
        KavioNMCManager::sharedManager().setCueCommandObserver({});
        KavioNMCManager::sharedManager().setIsKavioBackup(false);
    }

    void settle() { DispatchQueue::runMainUntil([] { return DispatchQueue::drainMain() == 0; }, 10); }
    std::vector<Sent> sent()
    {
        std::lock_guard lock(sentMutex);
        return std::exchange(sentCommands, {});
    }
    // Clock cycles on the clock thread until `frames` frames passed or the clock stopped.
    void runFrames(int frames)
    {
        std::atomic<bool> done{false};
        clockThread.async([&] {
            const int cycles = frames * 24;  // 600 cycles a second at 25 frames
            for (int cycle = 0; cycle < cycles && clock->isRunning(); ++cycle)
                clock->runCycle(time->now.load());
            done = true;
        });
        DispatchQueue::runMainUntil([&] { return done.load(); }, 30);
        settle();
    }
    // Runs cycles until a requested stop has completed, then the main queue.
    void completeStop()
    {
        std::atomic<bool> done{false};
        clockThread.async([&] {
            for (int cycle = 0; cycle < 100 && clock->isRunning(); ++cycle)
                clock->runCycle(time->now.load());
            done = true;
        });
        DispatchQueue::runMainUntil([&] { return done.load(); }, 30);
        settle();
    }
    // A click on the play button.
    void clickPlay()
    {
        play.click();
        settle();
    }
};

TEST(AppDelegateTransport, PlayWithoutCurrentCueSpringsBackAndDoesNothing)
{
    TransportFixture f(std::vector<std::int64_t>{});
    bool handled = false;
    f.play.setState(1);
    f.shell->performTogglePlayWithCompletedHandler([&] { handled = true; });
    f.settle();
    EXPECT_EQ(f.play.state(), 0);
    EXPECT_TRUE(handled);
    EXPECT_FALSE(f.clock->isRunning());
    EXPECT_TRUE(f.sent().empty());
}

TEST(AppDelegateTransport, StandalonePlayAndStopStartTheClockAndTellTheLink)
{
    TransportFixture f;
    // Only the low byte of the cue number travels.
    f.cues[0]->setIndex(258);
    f.clickPlay();
    EXPECT_TRUE(f.clock->isRunning());
    EXPECT_EQ(f.play.state(), 1);
    std::vector<Sent> sent = f.sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], Sent(KavioNetworkLinkCommandBackupPlay, QStringLiteral("00:00:00:00"), 25, 2));

    f.runFrames(5);
    bool handled = false;
    f.play.setState(0);
    f.shell->performTogglePlayWithCompletedHandler([&] { handled = true; });
    f.settle();
    // The stop's continuation waits for the clock.
    EXPECT_FALSE(handled);
    EXPECT_TRUE(f.sent().empty());
    f.completeStop();
    EXPECT_TRUE(handled);
    EXPECT_FALSE(f.clock->isRunning());
    sent = f.sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(std::get<0>(sent[0]), KavioNetworkLinkCommandBackupStop);
    EXPECT_EQ(std::get<1>(sent[0]), f.cues[0]->currentTimeSMPTE());
    EXPECT_NE(std::get<1>(sent[0]), QStringLiteral("00:00:00:00"));
    EXPECT_EQ(std::get<2>(sent[0]), 25);
    EXPECT_EQ(std::get<3>(sent[0]), 2);

    // Playing again starts from the elapsed time.
    f.clickPlay();
    sent = f.sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(std::get<1>(sent[0]), f.cues[0]->currentTimeSMPTE());
}

TEST(AppDelegateTransport, TheControllersOwnPressStartsTheClockOnce)
{
    TransportFixture f;
    int starts = 0;
    f.clock->notificationCenter().addObserver(&starts, QString::fromLatin1(QVTClockNotification::Started), f.clock.get(),
                                              [&starts](const Notification&) { ++starts; });
    // As the controller presses play after a locate: the state without a click, then the toggle.
    f.play.setStateByOSC(1);
    f.shell->performTogglePlayWithCompletedHandler({});
    f.settle();
    f.clock->notificationCenter().removeObserver(&starts);
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(f.sent().size(), 1u);
}

TEST(AppDelegateTransport, StopSendsNothingToTheLinkAsBackupOrWithAPanicPending)
{
    for (const bool backup : {true, false}) {
        TransportFixture f;
        f.clickPlay();
        f.sent();
        KavioNMCManager::sharedManager().setIsKavioBackup(backup);
        f.controller->setShouldProcessPanicBehaviour(!backup);
        f.clickPlay();
        f.completeStop();
        EXPECT_FALSE(f.clock->isRunning());
        EXPECT_TRUE(f.sent().empty()) << "backup " << backup;
    }
}

TEST(AppDelegateTransport, FollowingTimecodePlayArmsAndStopIsRefused)
{
    TransportFixture f;
    f.clock->setIsMTCSlave(true);
    f.controller->setPlaybackMode(1);
    f.clickPlay();
    EXPECT_EQ(f.play.state(), 1);
    EXPECT_FALSE(f.clock->isRunning());
    EXPECT_TRUE(f.sent().empty());

    bool handled = false;
    f.play.setState(0);
    f.shell->performTogglePlayWithCompletedHandler([&] { handled = true; });
    f.settle();
    EXPECT_TRUE(handled);
    EXPECT_EQ(f.play.state(), 1);
    EXPECT_TRUE(f.sent().empty());
}

TEST(AppDelegateTransport, TogglePlayFromAWorkerThreadRunsOnTheMainQueue)
{
    TransportFixture f;
    f.play.setState(1);
    std::thread worker([&] { f.shell->togglePlay(); });
    worker.join();
    EXPECT_FALSE(f.clock->isRunning());
    f.settle();
    EXPECT_TRUE(f.clock->isRunning());
}

TEST(AppDelegateTransport, SwitchingToMTCWhilePlayingStopsFirstAndArms)
{
    TransportFixture f;
    f.loop.setState(1);
    f.clickPlay();
    f.sent();
    ASSERT_TRUE(f.controller->isPlaying());

    f.shell->toggleSourceMode(&f.mtc);
    f.completeStop();
    EXPECT_FALSE(f.clock->isRunning());
    const std::vector<Sent> sent = f.sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(std::get<0>(sent[0]), KavioNetworkLinkCommandBackupStop);
    EXPECT_EQ(f.controller->playbackMode(), 1);
    EXPECT_TRUE(f.clock->isMTCSlave());
    EXPECT_FALSE(f.clock->isLTCSlave());
    EXPECT_EQ(f.loop.state(), 0);
    EXPECT_FALSE(f.loop.isEnabled());
    EXPECT_EQ(f.play.toolTip(), QStringLiteral("Armed"));
    EXPECT_EQ(f.play.imageName(), QStringLiteral("kavio_wait"));
    EXPECT_EQ(f.play.state(), 1);
    EXPECT_FALSE(f.framerate.isEnabled());
    EXPECT_TRUE(f.mtc.isChecked());
    EXPECT_FALSE(f.standalone.isChecked());

    f.shell->toggleSourceMode(&f.standalone);
    f.settle();
    EXPECT_EQ(f.controller->playbackMode(), 0);
    EXPECT_FALSE(f.clock->isMTCSlave());
    EXPECT_EQ(f.loop.state(), 1);
    EXPECT_TRUE(f.loop.isEnabled());
    EXPECT_EQ(f.play.toolTip(), QStringLiteral("Play"));
    EXPECT_EQ(f.play.imageName(), QStringLiteral("kavio_play"));
    EXPECT_EQ(f.play.state(), 0);
    EXPECT_TRUE(f.framerate.isEnabled());
    EXPECT_TRUE(f.standalone.isChecked());
    EXPECT_FALSE(f.mtc.isChecked());
}

TEST(AppDelegateTransport, FollowingLTCTheOperatorCannotStop)
{
    TransportFixture f;
    f.shell->toggleSourceMode(&f.ltc);
    f.settle();
    EXPECT_TRUE(f.clock->isLTCSlave());
    EXPECT_EQ(f.controller->playbackMode(), 2);
    ASSERT_EQ(f.play.state(), 1);
    f.clickPlay();
    EXPECT_EQ(f.play.state(), 1);
    EXPECT_FALSE(f.clock->isRunning());
    EXPECT_TRUE(f.sent().empty());
}

TEST(AppDelegateTransport, ControlStatesFollowCueCountModeAndDrag)
{
    struct Case {
        int cues;
        bool playing;
        int mode;
        bool dragging;
        // next, previous, rewind, forward; field editable (-1 unchanged); undo disabled
        std::array<bool, 4> steps;
        int editable;
        bool undoDisabled;
    };
    const Case cases[] = {
        {0, false, 0, false, {false, false, false, false}, 0, false},
        {1, false, 0, false, {false, true, true, true}, 1, false},
        {2, false, 0, false, {true, true, true, true}, 1, false},
        {1, true, 0, false, {false, true, true, true}, 0, true},
        {2, true, 0, false, {true, true, true, true}, 0, true},
        {2, true, 2, false, {false, false, false, false}, 0, true},
        {2, false, 0, true, {false, false, false, false}, -1, false},
    };
    for (const Case& c : cases) {
        std::vector<std::int64_t> frames(std::size_t(c.cues), 50);
        TransportFixture f(frames);
        f.field.setEditable(true);
        f.draggable->dragging = c.dragging;
        f.play.setState(c.playing ? 1 : 0);
        f.controller->setPlaybackMode(c.mode);
        f.shell->setMainUIStateAfterPlaybackChanged();
        const std::array<bool, 4> steps{f.next.isEnabled(), f.previous.isEnabled(), f.rewind.isEnabled(),
                                        f.forward.isEnabled()};
        const std::string label = "cues " + std::to_string(c.cues) + " playing " + std::to_string(c.playing) +
                                  " mode " + std::to_string(c.mode) + " dragging " + std::to_string(c.dragging);
        EXPECT_EQ(steps, c.steps) << label;
        EXPECT_EQ(f.field.isEditable(), c.editable != 0) << label;
        EXPECT_EQ(f.window.undoIsDisabled(), c.undoDisabled) << label;
    }
}

// An OSC input on 127.0.0.1 that the shared manager's output "test" sends to.
struct FeedbackListener {
    QVTOSCManager listener{nullptr};
    bool ready = listener.createInputWithName(QStringLiteral("listener"), 0);
    OSCTestReceiver receiver{listener};
    QVTOSCManager& osc = QVTOSCManager::sharedManager();
    bool sending = ready && osc.createOutputWithName(QStringLiteral("test"), QStringLiteral("127.0.0.1"),
                                                     listener.portOfInputWithName(QStringLiteral("listener")));
    ~FeedbackListener() { osc.removeOutputWithName(QStringLiteral("test")); }
};

TEST(AppDelegateTransport, EqualTimeStringsSendTimeFeedbackOnce)
{
    TransportFixture f;
    FeedbackListener feedback;
    ASSERT_TRUE(feedback.sending);
    OSCTestReceiver& receiver = feedback.receiver;
    QVTOSCManager& osc = feedback.osc;

    f.shell->displayTimeIfNeeded(QString());
    f.shell->displayTimeIfNeeded(QStringLiteral("00:00:01:00"));
    EXPECT_EQ(receiver.waitFor(3).size(), 3u);
    f.shell->displayTimeIfNeeded(QStringLiteral("00:00:01:00"));
    EXPECT_EQ(f.field.threadsafeTimecode(), QStringLiteral("00:00:01:00"));
    // A last message marks the end of what was sent.
    QVTOSCMessage end(QStringLiteral("/test/end"));
    osc.sendOSCMessage(end);
    ASSERT_FALSE(receiver.waitForAddress(QStringLiteral("/test/end")).isEmpty());
    osc.removeOutputWithName(QStringLiteral("test"));

    QStringList addresses;
    for (const QVariantMap& message : receiver.received())
        addresses << message.value(kQVTOSCAddressKey).toString();
    EXPECT_EQ(addresses, (QStringList{QStringLiteral("/kavio/time"), QStringLiteral("/kavio/cueTimeLeft"),
                                      QStringLiteral("/kavio/cueTimeElapsed"), QStringLiteral("/test/end")}));
}

TEST(AppDelegateTransport, TimeLeftFeedbackIsTheArmedNextCuesWhileAFollowOnIsPending)
{
    TransportFixture f({250, 100});
    FeedbackListener feedback;
    ASSERT_TRUE(feedback.sending);
    OSCTestReceiver& receiver = feedback.receiver;
    const QString current = f.cues[0]->timeLeftSMPTE();
    const QString next = f.cues[1]->timeLeftSMPTE();
    ASSERT_NE(current, next);
    const auto timeLeftSent = [&](const QString& time) {
        receiver.clear();
        f.shell->displayTimeIfNeeded(time);
        return receiver.waitForAddress(QStringLiteral("/kavio/cueTimeLeft")).value("0").toMap().value(kQVTOSCValKey).toString();
    };
    EXPECT_EQ(timeLeftSent(QStringLiteral("00:00:01:00")), current);
    f.controller->setShouldTriggerNextItem(true);
    EXPECT_EQ(timeLeftSent(QStringLiteral("00:00:02:00")), next);
}

}  // namespace
