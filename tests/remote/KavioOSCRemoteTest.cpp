// OSC remote control through the real kit on 127.0.0.1: messages from a liblo client to the
// program's input on UDP 51000, feedback to a liblo server set as the Custom target, the query
// tree over HTTP on TCP 51000. The cue list controller is real; its neighbours are fakes.

#include "../controller/ControllerFakes.h"
#include "../support/FakeZeroconf.h"

#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "DispatchQueue.h"
#include "QVTOSCManager.h"
#include "Remote/KavioOSCQueryServer.h"
#include "Shell/AppDelegate.h"
#include "Support/KavioAlert.h"
#include "Support/KavioPlainPopUpButton.h"
#include "Support/KavioPlainSlider.h"
#include "Support/KavioPlainTextField.h"
#include "UndoManager.h"

#include <httplib.h>
#include <lo/lo.h>
#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>

namespace {

constexpr double kWait = 30.0;

struct SizedOutputs : FakeVideoOutputManager {
    using FakeVideoOutputManager::FakeVideoOutputManager;
    QSizeF renderSize() const override { return {width.load(), height.load()}; }
    std::atomic<double> width{1920}, height{1080};
};

// Counts the controller operations the global commands end in.
class RecordingController : public KavioVideoItemManager {
public:
    RecordingController(UserDefaults& defaults, std::shared_ptr<QVTClockTimeSource> source)
        : KavioVideoItemManager(defaults, std::move(source))
    {
    }
    void performGoto10() override { ++goto10; }
    void rewindCurrentItem() override { ++rewinds; }
    std::atomic<int> goto10{0}, rewinds{0};
};

// A cue whose value feedback goes out through the kit.
class KitCue : public FixedLengthCue {
public:
    KitCue(std::shared_ptr<QVTClock> clock, std::int64_t frames, QString uid)
        : FixedLengthCue(std::move(clock), frames, std::move(uid),
                         [](const QVTOSCMessage& m) { QVTOSCManager::sharedManager().sendOSCMessage(m); })
    {
    }
};

// The feedback target: a bare liblo server that keeps every message's address and first value.
class FeedbackListener {
public:
    FeedbackListener()
    {
        thread_ = lo_server_thread_new(nullptr, nullptr);
        lo_server_thread_add_method(thread_, nullptr, nullptr, &FeedbackListener::handle, this);
        lo_server_thread_start(thread_);
    }
    ~FeedbackListener() { lo_server_thread_free(thread_); }
    int port() const { return lo_server_thread_get_port(thread_); }

    using Message = std::pair<QString, QVariant>;
    std::vector<Message> messages()
    {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        messages_.clear();
    }
    // Waits (pumping the main queue) until a message with that address came; its value.
    std::optional<QVariant> waitFor(const QString& address)
    {
        std::optional<QVariant> found;
        DispatchQueue::runMainUntil([&] {
            for (const auto& [a, v] : messages())
                if (a == address)
                    found = v;
            return found.has_value();
        }, kWait);
        return found;
    }
    QStringList addresses()
    {
        QStringList list;
        for (const auto& message : messages())
            list << message.first;
        return list;
    }

private:
    static int handle(const char* path, const char* types, lo_arg** argv, int argc, lo_message, void* self)
    {
        QVariant value;
        if (argc > 0) {
            switch (types[0]) {
            case 'i': value = argv[0]->i; break;
            case 'f': value = double(argv[0]->f); break;
            case 's': value = QString::fromUtf8(&argv[0]->s); break;
            default: break;
            }
        }
        auto* listener = static_cast<FeedbackListener*>(self);
        std::lock_guard lock(listener->mutex_);
        listener->messages_.emplace_back(QString::fromUtf8(path), value);
        return 0;
    }
    lo_server_thread thread_ = nullptr;
    std::mutex mutex_;
    std::vector<Message> messages_;
};

struct RemoteFixture : ControllerFixture {
    std::shared_ptr<SizedOutputs> sized = std::make_shared<SizedOutputs>(log);
    std::shared_ptr<RecordingController> recording;
    UndoManager undo;
    KavioPlainButton play, loop, transition, oscEnable;
    KavioPlainPopUpButton target;
    KavioPlainTextField host, port;
    KavioPlainSlider fader;
    std::shared_ptr<AppDelegate> shell;
    std::vector<std::shared_ptr<KitCue>> cues;
    lo_address to = lo_address_new("127.0.0.1", "51000");
    QStringList alerts;

    explicit RemoteFixture(int cueCount = 3, bool enable = true, QVTOSCManager* kit = nullptr)
    {
        recording = KavioVideoItemManager::init<RecordingController>(*defaults);
        controller = recording;
        KavioVideoItemManagerOutlets o = outlets();
        o.videoOutputManager = sized;
        o.masterSlider = &fader;
        controller->setOutlets(o);
        controller->setOSCQueryServer(&KavioOSCQueryServer::sharedServer());
        shell = std::make_shared<AppDelegate>(*defaults, undo);
        AppDelegateOutlets s;
        s.controller = controller;
        s.playButton = &play;
        s.loopButton = &loop;
        s.globalTransitionButton = &transition;
        s.oscEnableButton = &oscEnable;
        s.oscFeedbackTargetPopup = &target;
        s.oscFeedbackTargetIP = &host;
        s.oscFeedbackTargetPort = &port;
        s.oscKit = kit;
        shell->setOutlets(s);
        controller->setDelegate(shell);
        for (KavioPlainButton* button : {&play, &loop, &transition, &oscEnable})
            button->setButtonType(KavioButtonType::OnOff);
        target.addItem(QStringLiteral("Disabled"), 0);
        target.addItem(QStringLiteral("Custom"), 1);
        target.addItem(QStringLiteral("-"), 2);
        KavioAlert::setAnswerer([this](const KavioAlertSpec& spec) {
            alerts << spec.messageText << spec.informativeText;
            return KavioAlertAnswer{};
        });
        if (cueCount > 0)
            cues = addCues<KitCue>(std::vector<std::int64_t>(size_t(cueCount), 50));
        for (const auto& cue : cues)
            cue->setIsReady(true);
        if (enable) {
            oscEnable.setState(1);
            shell->oscSettingsChanged();
        }
        settle();
    }
    ~RemoteFixture()
    {
        oscEnable.setState(0);
        shell->oscSettingsChanged();
        QVTOSCManager::sharedManager().removeOutputWithName(QStringLiteral("Kavio"));
        for (const auto& cue : cues)
            cue->removeResources();
        KavioAlert::setAnswerer({});
        lo_address_free(to);
        settle();
    }

    void settle() { DispatchQueue::runMainUntil([] { return DispatchQueue::drainMain() == 0; }, 10); }
    void sendFloat(const char* path, float v) { lo_send(to, path, "f", v); }
    void sendInt(const char* path, int v) { lo_send(to, path, "i", v); }
    void sendString(const char* path, const char* v) { lo_send(to, path, "s", v); }
    void sendNothing(const char* path) { lo_send(to, path, ""); }
    bool waitUntil(const std::function<bool()>& condition) { return DispatchQueue::runMainUntil(condition, kWait); }
    // Messages from one client are handled in order: once this one took effect, every message
    // sent before it has been handled too.
    void flush(KitCue& cue)
    {
        static float marker = 0.0f;
        marker += 0.125f;
        const float expected = marker - std::floor(marker);
        sendFloat(QStringLiteral("/kavio/%1/saturation").arg(cue.index()).toUtf8().constData(), expected);
        EXPECT_TRUE(waitUntil([&] { return cue.saturation() == expected; }));
        settle();
    }
    void targetListener(FeedbackListener& listener)
    {
        target.selectItemWithTitle(QStringLiteral("Custom"));
        host.setStringValue(QStringLiteral("127.0.0.1"));
        port.setStringValue(QString::number(listener.port()));
        shell->oscFeedbackTargetSelected();
    }
    void makeCurrent(const std::shared_ptr<KitCue>& cue)
    {
        controller->setCurrentItem(cue);
        cue->markAsCurrent(true);
        settle();
    }
};

TEST(KavioOSCRemote, RolePrefixesReachTheCuesTheyName)
{
    RemoteFixture f(5);
    f.cues[4]->setCueID(QStringLiteral("a1"));  // stored upper-cased
    f.makeCurrent(f.cues[2]);

    f.sendFloat("/kavio/current/opacity", 0.5f);
    ASSERT_TRUE(f.waitUntil([&] { return f.cues[2]->opacity() == 0.5f; }));
    f.sendFloat("/kavio/all/brightness", 0.25f);
    ASSERT_TRUE(f.waitUntil([&] { return f.cues[4]->brightness() == 0.25f; }));
    for (const auto& cue : f.cues)
        EXPECT_EQ(cue->brightness(), 0.25f);
    f.sendFloat("/kavio/next/contrast", 0.5f);
    ASSERT_TRUE(f.waitUntil([&] { return f.cues[3]->contrast() == 0.5f; }));

    // The cue ID form exactly, and the index form of a cue that has a cue ID.
    f.sendFloat("/kavio/a1/hue", 0.5f);
    f.sendFloat("/kavio/A1/vibrance", 0.5f);
    ASSERT_TRUE(f.waitUntil([&] { return f.cues[4]->vibrance() == 0.5f; }));
    f.makeCurrent(f.cues[4]);
    f.sendFloat("/kavio/current/opacity", 0.25f);
    ASSERT_TRUE(f.waitUntil([&] { return f.cues[4]->opacity() == 0.25f; }));
    f.flush(*f.cues[4]);
    EXPECT_EQ(f.cues[4]->hue(), 0.0f);
    EXPECT_EQ(f.cues[0]->opacity(), 1.0f);
    EXPECT_TRUE(f.cues[4]->canHandleOSCAddress(QStringLiteral("/kavio/A1/hue"), QStringLiteral("hue")));
    EXPECT_TRUE(f.cues[4]->canHandleOSCAddress(QStringLiteral("/kavio/5/hue"), QStringLiteral("hue")));
    EXPECT_FALSE(f.cues[4]->canHandleOSCAddress(QStringLiteral("/kavio/a1/hue"), QStringLiteral("hue")));
    EXPECT_FALSE(f.cues[4]->canHandleOSCAddress(QStringLiteral("/kavio/05/hue"), QStringLiteral("hue")));
}

TEST(KavioOSCRemote, CueValuesConvertFromTheirNetworkForms)
{
    RemoteFixture f(3);
    KitCue& cue = *f.cues[2];
    struct Case {
        const char* tail;
        char type;
        double value;
        std::function<float()> read;
        float expected;
    };
    const Case cases[] = {
        {"opacityAsPercent", 'i', 50, [&] { return cue.opacity(); }, 0.5f},
        {"contrastAsPercent", 'i', 50, [&] { return cue.contrast(); }, 0.5f},
        {"hueAsDegrees", 'i', 90, [&] { return cue.hue(); }, 0.5f},
        {"scaleAsPercent", 'i', 150, [&] { return cue.geometryScaleV(); }, 0.5f},
        {"scaleHAsPercent", 'i', 100, [&] { return cue.geometryScaleH(); }, 0.0f},
        {"posXAsPixels", 'i', 960, [&] { return cue.geometryPosX(); }, 0.5f},
        {"cropTopAsPixels", 'i', 810, [&] { return cue.geometryCrop().top; }, 0.5f},
        {"cropBottomAsPixels", 'i', 270, [&] { return cue.geometryCrop().bottom; }, 0.5f},
        {"cropRightAsPixels", 'i', 1920, [&] { return cue.geometryCrop().right; }, 0.0f},
        {"cropLeftAsPixels", 'i', 960, [&] { return cue.geometryCrop().left; }, 1.0f},
        {"rotate", 'f', 45.5, [&] { return cue.geometryRotate(); }, 45.5f},
        {"saturationAsPercent", 'f', 12.5, [&] { return cue.saturation(); }, 0.125f},
    };
    for (const Case& c : cases) {
        const QByteArray path = QByteArray("/kavio/3/") + c.tail;
        if (c.type == 'i')
            f.sendInt(path.constData(), int(c.value));
        else
            f.sendFloat(path.constData(), float(c.value));
        EXPECT_TRUE(f.waitUntil([&] { return std::abs(c.read() - c.expected) < 1e-6f; }))
            << c.tail << " gave " << c.read();
    }
    EXPECT_TRUE(cue.geometryScaleLink() == false);  // scaleHAsPercent unlinked the scales

    // Unreadable, missing or non-finite values change nothing.
    const float opacity = cue.opacity();
    f.sendString("/kavio/3/opacity", "abc");
    f.sendNothing("/kavio/3/opacity");
    f.sendFloat("/kavio/3/opacity", std::numeric_limits<float>::quiet_NaN());
    f.sendInt("/kavio/3/unknownCommand", 1);
    f.sendString("/kavio/3/contrast", "0.25");  // a text that reads as a number counts
    ASSERT_TRUE(f.waitUntil([&] { return cue.contrast() == 0.25f; }));
    f.flush(cue);
    EXPECT_EQ(cue.opacity(), opacity);
    EXPECT_TRUE(f.shell->hasUnsavedChanges());
}

TEST(KavioOSCRemote, PixelFormsWaitForARenderSize)
{
    RemoteFixture f(1);
    f.sized->width = 0;
    f.sendInt("/kavio/1/posXAsPixels", 960);
    f.flush(*f.cues[0]);
    EXPECT_EQ(f.cues[0]->geometryPosX(), 0.0f);
}

TEST(KavioOSCRemote, TogglesFollowTheirArgumentWhileEnabled)
{
    RemoteFixture f(2);
    KitCue& cue = *f.cues[1];
    const auto fadeIn = [&] { return int(cue.fadeInButton().state); };
    f.sendNothing("/kavio/2/fadeInOn");
    ASSERT_TRUE(f.waitUntil([&] { return fadeIn() == 1; }));
    f.sendInt("/kavio/2/toggleFadeIn", 0);
    ASSERT_TRUE(f.waitUntil([&] { return fadeIn() == 0; }));
    f.sendNothing("/kavio/2/toggleFadeIn");
    ASSERT_TRUE(f.waitUntil([&] { return fadeIn() == 1; }));

    // A disabled toggle ignores its argument and flips, which its own operation then refuses.
    cue.fadeInButton().enabled = false;
    f.sendInt("/kavio/2/toggleFadeIn", 1);
    f.sendNothing("/kavio/2/fadeInOff");
    f.flush(cue);
    EXPECT_EQ(fadeIn(), 1);
}

TEST(KavioOSCRemote, SetGotoToCueIDNamesAnotherCueOnly)
{
    RemoteFixture f(3);
    f.cues[0]->setCueID(QStringLiteral("INTRO"));
    f.cues[2]->setCueID(QStringLiteral("END"));
    f.sendString("/kavio/INTRO/setGotoToCueID", "INTRO");
    f.sendString("/kavio/INTRO/setGotoToCueID", "NOPE");
    f.flush(*f.cues[0]);
    EXPECT_TRUE(f.cues[0]->gotoItemUID().isEmpty());
    f.sendString("/kavio/INTRO/setGotoToCueID", "END");
    EXPECT_TRUE(f.waitUntil([&] { return f.cues[0]->gotoItemUID() == f.cues[2]->uid(); }));
}

TEST(KavioOSCRemote, GlobalCommandsTestTheirGateAndButtons)
{
    RemoteFixture f(2);
    f.sendNothing("/kavio/goto10");
    f.sendInt("/kavio/goto10", 1);
    f.sendInt("/kavio/goto10", 0);
    f.sendNothing("/kavio/rewind");
    ASSERT_TRUE(f.waitUntil([&] { return f.recording->rewinds == 1; }));
    EXPECT_EQ(f.recording->goto10, 2);
    f.goto10.setEnabled(false);
    f.sendNothing("/kavio/goto10");
    f.sendNothing("/kavio/rewind");
    ASSERT_TRUE(f.waitUntil([&] { return f.recording->rewinds == 2; }));
    EXPECT_EQ(f.recording->goto10, 2);

    // The fader takes the value within 0..1 and marks the project changed.
    f.sendFloat("/kavio/mainFader", 0.5f);
    ASSERT_TRUE(f.waitUntil([&] { return f.fader.doubleValue() == 0.5; }));
    EXPECT_TRUE(f.shell->hasUnsavedChanges());
    f.sendFloat("/kavio/mainFader", 7.0f);
    EXPECT_TRUE(f.waitUntil([&] { return f.fader.doubleValue() == 1.0; }));

    // Transition on play: on/off follow the button's state; the toggle flips without argument.
    f.sendNothing("/kavio/transitionOnPlayOn");
    ASSERT_TRUE(f.waitUntil([&] { return f.transition.state() == 1; }));
    f.sendInt("/kavio/toggleTransitionOnPlay", 1);
    f.sendNothing("/kavio/toggleTransitionOnPlay");
    EXPECT_TRUE(f.waitUntil([&] { return f.transition.state() == 0; }));
}

// The transport commands act only where they ask for a change; a cue by index plays only for a
// whole number naming a cue, through the jump and its completion.
TEST(KavioOSCRemote, TransportCommandsChangeOnlyWhatTheyAskFor)
{
    RemoteFixture f(3);
    f.makeCurrent(f.cues[0]);
    const auto clock = f.controller->masterClock();
    clock->runClockRenderer();  // the clock's own thread, which carries out starts and stops
    // Jumps open once set-up has ended; the end of a temporary stop opens them the same way.
    f.controller->handleEndOfTemporaryPlaybackStopWithCompletedHandler({});
    f.sendNothing("/kavio/stop");
    f.flush(*f.cues[0]);
    EXPECT_EQ(f.play.state(), 0);
    EXPECT_FALSE(clock->isRunning());

    f.sendNothing("/kavio/play");
    ASSERT_TRUE(f.waitUntil([&] { return clock->isRunning(); }));
    EXPECT_EQ(f.play.state(), 1);
    f.sendNothing("/kavio/play");
    f.sendInt("/kavio/togglePlay", 1);
    f.flush(*f.cues[0]);
    EXPECT_TRUE(clock->isRunning());
    EXPECT_EQ(f.play.state(), 1);

    // Without an argument the toggle flips even a disabled button.
    f.play.setEnabled(false);
    f.sendNothing("/kavio/togglePlay");
    // The controller takes the stop in after the clock's thread has carried it out.
    ASSERT_TRUE(f.waitUntil([&] { return !clock->isRunning() && !f.controller->isPlaying() && f.controller->canJump(); }));
    EXPECT_EQ(f.play.state(), 0);
    f.play.setEnabled(true);

    f.sendInt("/kavio/playCueAtIndex", 0);
    f.sendFloat("/kavio/playCueAtIndex", 3.0f);
    f.sendString("/kavio/playCueAtIndex", "3");
    f.flush(*f.cues[0]);
    EXPECT_EQ(f.controller->currentItem(), f.cues[0]);
    EXPECT_FALSE(clock->isRunning());
    f.sendInt("/kavio/playCueAtIndex", 3);
    ASSERT_TRUE(f.waitUntil([&] { return f.controller->currentItem() == f.cues[2] && clock->isRunning(); }));
    EXPECT_EQ(f.play.state(), 1);
}

TEST(KavioOSCRemote, FollowingTimecodeRefusesCueCommandsButNotTheRest)
{
    RemoteFixture f(2);
    for (const bool mtc : {true, false}) {
        f.controller->masterClock()->setIsMTCSlave(mtc);
        f.controller->masterClock()->setIsLTCSlave(!mtc);
        const int rewinds = f.recording->rewinds;
        f.sendNothing("/kavio/goto10");
        f.sendNothing("/kavio/rewind");
        ASSERT_TRUE(f.waitUntil([&] { return f.recording->rewinds == rewinds + 1; }));
        EXPECT_EQ(f.recording->goto10, 0);
    }
    f.controller->masterClock()->setIsLTCSlave(false);
    f.sendNothing("/kavio/goto10");
    EXPECT_TRUE(f.waitUntil([&] { return f.recording->goto10 == 1; }));
}

TEST(KavioOSCRemote, FeedbackReachesTheCustomTarget)
{
    RemoteFixture f(3);
    FeedbackListener listener;
    f.targetListener(listener);
    EXPECT_EQ(f.port.stringValue().toInt(), listener.port());

    f.sendNothing("/kavio/ping");
    EXPECT_EQ(listener.waitFor(QStringLiteral("/kavio/pong")), QVariant(1));

    // A value echoed by its setter comes back; opacity does not echo.
    f.sendInt("/kavio/2/contrastAsPercent", 50);
    EXPECT_EQ(listener.waitFor(QStringLiteral("/kavio/2/contrast")), QVariant(0.5));
    f.sendInt("/kavio/2/opacityAsPercent", 50);
    f.flush(*f.cues[1]);
    ASSERT_TRUE(listener.waitFor(QStringLiteral("/kavio/2/saturation")));
    EXPECT_FALSE(listener.addresses().contains(QStringLiteral("/kavio/2/opacity")));

    // Without a current cue: three names, 24 zeroed toggles, no ID and no running time.
    listener.clear();
    f.controller->sendCurrentCueOSCFeedback();
    ASSERT_TRUE(f.waitUntil([&] { return listener.messages().size() >= 27; }));
    const QStringList sent = listener.addresses();
    EXPECT_EQ(sent.size(), 27);
    EXPECT_EQ(sent.mid(0, 3), QStringList({"/kavio/currentCueName", "/kavio/nextCueName", "/kavio/previousCueName"}));
    EXPECT_EQ(sent.at(3), QStringLiteral("/kavio/previous/toggleVideoFx"));
    EXPECT_EQ(sent.at(11), QStringLiteral("/kavio/next/toggleVideoFx"));
    EXPECT_EQ(sent.at(26), QStringLiteral("/kavio/current/toggleTransition"));
    EXPECT_FALSE(sent.contains(QStringLiteral("/kavio/currentCueID")));

    // The first cue current: its name and ID, the next cue's name, then the previous toggles
    // zeroed before previousCueName "-".
    f.cues[0]->setCueName(QStringLiteral("Opening"));
    f.cues[1]->setCueName(QStringLiteral("Second"));
    listener.clear();
    f.controller->setCurrentItem(f.cues[0]);
    ASSERT_TRUE(listener.waitFor(QStringLiteral("/kavio/previousCueName")));
    const auto messages = listener.messages();
    const auto valueOf = [&](const char* address) {
        for (const auto& [a, v] : messages)
            if (a == QLatin1String(address))
                return v;
        return QVariant();
    };
    EXPECT_EQ(valueOf("/kavio/currentCueName"), QVariant(QStringLiteral("Opening")));
    EXPECT_EQ(valueOf("/kavio/currentCueID"), QVariant(QStringLiteral("1")));
    EXPECT_EQ(valueOf("/kavio/nextCueName"), QVariant(QStringLiteral("Second")));
    EXPECT_EQ(valueOf("/kavio/previousCueName"), QVariant(QStringLiteral("-")));
    const QStringList order = listener.addresses();
    EXPECT_LT(order.indexOf(QStringLiteral("/kavio/previous/toggleTransition")),
              order.indexOf(QStringLiteral("/kavio/previousCueName")));

    // One selected cue with a cue ID names it; none gives "-".
    f.cues[1]->setCueID(QStringLiteral("A"));
    f.controller->selectItem(f.cues[1]);
    f.settle();
    listener.clear();
    f.controller->sendSelectedCueOSCFeedback();
    EXPECT_EQ(listener.waitFor(QStringLiteral("/kavio/selectedCueID")), QVariant(QStringLiteral("A")));
    EXPECT_EQ(listener.waitFor(QStringLiteral("/kavio/selectedCueName")), QVariant(QStringLiteral("Second")));
}

TEST(KavioOSCRemote, TargetChoiceFillsTheFieldsAndAvoidsTheOwnInput)
{
    RemoteFixture f(0);
    f.target.selectItemWithTitle(QStringLiteral("Custom"));
    f.shell->oscFeedbackTargetSelected();
    EXPECT_EQ(f.host.stringValue(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(f.port.stringValue(), QStringLiteral("1234"));

    f.port.setStringValue(QStringLiteral("51000"));
    f.shell->oscFeedbackTargetSettingsChanged(&f.port);
    EXPECT_EQ(f.port.stringValue(), QStringLiteral("51001"));

    f.target.selectItemWithTitle(QStringLiteral("Disabled"));
    f.shell->oscFeedbackTargetSelected();
    EXPECT_EQ(f.host.stringValue(), QStringLiteral("-"));
    EXPECT_FALSE(f.host.isEnabled());
}

// Clients found by zeroconf become target items: this program's own input left out, a name
// once with its last record, a client reachable over IPv6 only left out.
TEST(KavioOSCRemote, DetectedClientsBecomeTargetsOnceEachWithoutThisProgram)
{
    const auto zeroconf = std::make_shared<FakeZeroconf>();
    QVTOSCManager kit(zeroconf);
    RemoteFixture f(0, false, &kit);
    f.shell->oscSettingsChanged();  // at launch: the client list is followed even with OSC off
    const auto titles = [&] {
        QStringList list;
        for (int i = 0; i < f.target.numberOfItems(); ++i)
            list << f.target.itemText(i);
        return list;
    };
    zeroconf->announce({{QStringLiteral("Kavio"), QStringLiteral("127.0.0.1"), 51000},
                        {QStringLiteral("Pad"), QStringLiteral("192.168.1.5"), 9000},
                        {QStringLiteral("Pad"), QStringLiteral("192.168.1.6"), 9000},
                        {QStringLiteral("Desk"), QString(), 8000}});
    ASSERT_TRUE(f.waitUntil([&] { return f.target.numberOfItems() == 4; })) << titles().join(", ").toStdString();
    f.settle();
    EXPECT_EQ(titles(), (QStringList{"Disabled", "Custom", "-", "Pad:9000"}));

    f.target.selectItemWithTitle(QStringLiteral("Pad:9000"));
    f.shell->oscFeedbackTargetSelected();
    EXPECT_EQ(f.host.stringValue(), QStringLiteral("192.168.1.6"));
    EXPECT_EQ(f.port.stringValue(), QStringLiteral("9000"));
    EXPECT_FALSE(f.host.isEnabled());

    // The chosen client goes away: the menu falls back to "Custom".
    zeroconf->announce({{QStringLiteral("Desk"), QStringLiteral("192.168.1.7"), 8000}});
    ASSERT_TRUE(f.waitUntil([&] { return titles().contains(QStringLiteral("Desk:8000")); }));
    f.settle();
    EXPECT_EQ(titles(), (QStringList{"Disabled", "Custom", "-", "Desk:8000"}));
    EXPECT_EQ(f.target.titleOfSelectedItem(), QStringLiteral("Custom"));
}

TEST(KavioOSCRemote, ATakenPortShowsTheInputAlert)
{
    const int blocker = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(51000);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    {
        RemoteFixture f(0);
        ASSERT_EQ(f.alerts.size(), 2);
        EXPECT_EQ(f.alerts[0], QStringLiteral("Cannot create OSC Input port :("));
        EXPECT_EQ(f.alerts[1], QStringLiteral("Kavio was not able to open UDP port 51000 for listening OSC messages. "
                                              "\r\nProbably an other application already using that port, or your "
                                              "firewall might blocking it."));
    }
    ::close(blocker);
}

TEST(KavioOSCRemote, TheQueryTreeListsGlobalAndCueAddresses)
{
    RemoteFixture f(3);
    KavioOSCQueryServer& server = KavioOSCQueryServer::sharedServer();
    // Another program may hold the port for a moment.
    ASSERT_TRUE(f.waitUntil([&] {
        server.restart();
        return server.isRunning();
    }));
    httplib::Client http("127.0.0.1", 51000);
    const auto get = [&](const std::string& path) {
        auto result = http.Get(path);
        return result ? std::make_pair(result->status, result->body) : std::make_pair(0, std::string());
    };
    const auto root = nlohmann::json::parse(get("/kavio").second);
    int registered = 0;
    for (const auto& [name, node] : root["CONTENTS"].items())
        registered += node.contains("TYPE") && name.find_first_not_of("0123456789") != std::string::npos ? 1 : 0;
    EXPECT_EQ(registered, 36);
    EXPECT_EQ(nlohmann::json::parse(get("/kavio/mainFader?RANGE").second)["RANGE"][0]["MAX"], 1.0);
    // Clients are told the OSC input's port.
    EXPECT_EQ(nlohmann::json::parse(get("/?HOST_INFO").second)["OSC_PORT"],
              QVTOSCManager::sharedManager().portOfInputWithName(QStringLiteral("Kavio")));

    const auto range = [&](const std::string& path) {
        const auto node = nlohmann::json::parse(get(path + "?RANGE").second);
        return std::make_pair(node["RANGE"][0]["MIN"].get<int>(), node["RANGE"][0]["MAX"].get<int>());
    };
    EXPECT_EQ(range("/kavio/3/posXAsPixels"), std::make_pair(-1920, 1920));
    EXPECT_EQ(range("/kavio/3/cropTopAsPixels"), std::make_pair(540, 1080));
    EXPECT_EQ(range("/kavio/3/cropRightAsPixels"), std::make_pair(960, 1920));
    EXPECT_EQ(nlohmann::json::parse(get("/kavio/3/togglePauseAtEnd?TYPE").second)["TYPE"], "i");
    EXPECT_EQ(nlohmann::json::parse(get("/kavio/3/hue?DESCRIPTION").second)["DESCRIPTION"], "Changes the hue  of the Cue.");
    EXPECT_EQ(nlohmann::json::parse(get("/kavio/3").second)["CONTENTS"].size(), 63u);

    // An odd height halves down.
    f.sized->height = 1081;
    f.cues[1]->setCueID(QStringLiteral("intro"));
    EXPECT_EQ(range("/kavio/INTRO/cropBottomAsPixels"), std::make_pair(0, 540));
    EXPECT_EQ(get("/kavio/2").first, 404);
    EXPECT_EQ(f.cues[1]->soundButton().oscAddress, QStringLiteral("/kavio/INTRO/toggleAudio"));

    // Moving a cue without cue ID moves its space; deleting a cue removes it.
    f.cues[2]->setIndex(5);
    EXPECT_EQ(get("/kavio/3").first, 404);
    EXPECT_EQ(get("/kavio/5/play").first, 200);
    f.cues[2]->removeResources();
    EXPECT_EQ(get("/kavio/5").first, 404);
    f.sendFloat("/kavio/5/opacity", 0.5f);
    f.flush(*f.cues[0]);
    EXPECT_EQ(f.cues[2]->opacity(), 1.0f);
}

}  // namespace
