#pragma once
// Recording fakes of the cue list controller's neighbours, a cue of fixed length, and a fixture
// that builds a controller on private settings and folders.

#include "Audio/KavioAudioStreamersManagerInterface.h"
#include "Clock/QVTClock.h"
#include "Audio/KavioWaveformManagerInterface.h"
#include "Controller/KavioVideoItemManager.h"
#include "Controller/QVTTimelineMarkerControllerInterface.h"
#include "Cue/KavioVideoItem.h"
#include "Inspector/KavioVideoItemPreferencesControllerInterface.h"
#include "Outputs/KavioNDIManagerInterface.h"
#include "Outputs/KavioVideoOutputManagerInterface.h"
#include "Remote/KavioATEMManagerInterface.h"
#include "Remote/KavioHyperDeckServerInterface.h"
#include "Rendering/QVTMTKViewInterface.h"
#include "Shell/AppDelegateInterface.h"
#include "Support/KavioPlainButton.h"
#include "Views/KavioItemsViewInterface.h"
#include "DispatchQueue.h"
#include "UndoManager.h"
#include "UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <ostream>

// Readable failure messages for lists of uids.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

// Settings, the videos folder and the cue's defaults live in a folder of the test's own.
inline QTemporaryDir& controllerTestHome()
{
    static QTemporaryDir dir;
    static const bool ready = [] {
        setenv("XDG_CONFIG_HOME", dir.path().toUtf8().constData(), 1);
        QFile userDirs(dir.filePath(QStringLiteral("user-dirs.dirs")));
        userDirs.open(QIODevice::WriteOnly);
        userDirs.write(QStringLiteral("XDG_VIDEOS_DIR=\"%1/Videos\"\n").arg(dir.path()).toUtf8());
        return true;
    }();
    (void)ready;
    return dir;
}

// One log shared by all fakes of a fixture, so tests can check the order of calls.
struct CallLog {
    std::mutex mutex;
    QStringList calls;
    void add(const QString& call)
    {
        std::lock_guard lock(mutex);
        calls << call;
    }
    QStringList take()
    {
        std::lock_guard lock(mutex);
        return std::exchange(calls, {});
    }
};

struct FakeAppDelegate : AppDelegateInterface {
    CallLog& log;
    KavioPlainButton loop;
    KavioPlainButton play;
    UndoManager undo;
    bool alt = false;
    int unsavedChanges = 0;
    // The time display's last text and how often it changed; written on the clock thread.
    std::mutex displayMutex;
    QString displayed;
    // What stopClockByManagerIfNeeded stops through, as the application controller does.
    std::weak_ptr<KavioVideoItemManager> controller;
    explicit FakeAppDelegate(CallLog& l) : log(l)
    {
        loop.setButtonType(KavioButtonType::OnOff);
        play.setButtonType(KavioButtonType::OnOff);
        globalTransition.setButtonType(KavioButtonType::OnOff);
    }
    KavioButtonInterface* loopButton() const override { return const_cast<KavioPlainButton*>(&loop); }
    KavioButtonInterface* playButton() const override { return const_cast<KavioPlainButton*>(&play); }
    void setMainUIStateAfterPlaybackChanged() override { log.add(QStringLiteral("app.mainUIState")); }
    void displayTimeIfNeeded(const QString& smpte) override
    {
        std::lock_guard lock(displayMutex);
        displayed = smpte;
    }
    QString displayedTime()
    {
        std::lock_guard lock(displayMutex);
        return displayed;
    }
    void stopClockByManagerIfNeeded() override
    {
        log.add(QStringLiteral("app.stopClockByManagerIfNeeded"));
        const auto manager = controller.lock();
        if (manager && manager->playbackMode() == 0)
            manager->stopClockWithCompletedHandler({});
    }
    void performTogglePlayWithCompletedHandler(std::function<void()> handler) override
    {
        log.add(QStringLiteral("app.togglePlay"));
        if (handler)
            handler();
    }
    void setShouldForceDisplayBecauseOfTRTChange(bool force) override { log.add(QStringLiteral("app.forceTRT(%1)").arg(force)); }
    void setHasUnsavedChanges(bool changed) override
    {
        unsavedChanges += changed ? 1 : 0;
        log.add(QStringLiteral("app.unsaved(%1)").arg(changed));
    }
    bool altPressed() const override { return alt; }
    KavioPlainButton globalTransition;
    bool shift = false;
    KavioButtonInterface* globalTransitionButton() const override { return const_cast<KavioPlainButton*>(&globalTransition); }
    bool shiftPressed() const override { return shift; }
    void toggleSourceMode(std::int64_t mode) override { log.add(QStringLiteral("app.toggleSourceMode(%1)").arg(mode)); }
    bool shouldEnablePauseAtEndBecauseOfOldProject() const override { return false; }
    UndoManager& undoManager() override { return undo; }
    QString project;
    QString projectURL() const override { return project; }
    // The preferences window and the rest of the transport row.
    UndoManager preferencesUndo;
    KavioPlainButton rewind, fastforward, prevItem, nextItem;
    bool timecodeFieldEnabled = true;
    int endedEditing = 0;
    UndoManager* preferencesUndoManager() override { return &preferencesUndo; }
    KavioButtonInterface* rewindButton() const override { return const_cast<KavioPlainButton*>(&rewind); }
    KavioButtonInterface* fastforwardButton() const override { return const_cast<KavioPlainButton*>(&fastforward); }
    KavioButtonInterface* prevItemButton() const override { return const_cast<KavioPlainButton*>(&prevItem); }
    KavioButtonInterface* nextItemButton() const override { return const_cast<KavioPlainButton*>(&nextItem); }
    void setMainTimecodeFieldEnabled(bool enabled) override { timecodeFieldEnabled = enabled; }
    void endPreferencesEditing() override { ++endedEditing; }
};

struct FakeInspector : KavioVideoItemPreferencesControllerInterface {
    CallLog& log;
    KavioVideoItemListSnapshot lastItems;
    explicit FakeInspector(CallLog& l) : log(l) {}
    std::shared_ptr<KavioVideoItem> currentItem() const override { return nullptr; }
    void pullCurrentItemData() override {}
    void videoItemsUpdated(const KavioVideoItemListSnapshot& items) override
    {
        lastItems = items;
        log.add(QStringLiteral("inspector.videoItemsUpdated"));
    }
    void loadPreferenceItems() override { log.add(QStringLiteral("inspector.loadPreferenceItems")); }
    void handlePlayingRelatedOptions() override { log.add(QStringLiteral("inspector.handlePlayingRelatedOptions")); }
    void handlePlayheadChangedRelatedOptions() override { log.add(QStringLiteral("inspector.handlePlayheadChangedRelatedOptions")); }
    void undoChangeGotoItem(const QString& target, const QString& item) override
    {
        log.add(QStringLiteral("inspector.undoChangeGotoItem(%1,%2)").arg(target, item));
    }
    void undoSetInTime(const MediaTime& in, const QString& item) override
    {
        log.add(QStringLiteral("inspector.undoSetInTime(%1,%2)").arg(in.seconds()).arg(item));
    }
    void undoSetOutTime(const MediaTime& out, const QString& item) override
    {
        log.add(QStringLiteral("inspector.undoSetOutTime(%1,%2)").arg(out.seconds()).arg(item));
    }
    void undoSetInTimeAndOutTime(const MediaTime& in, const MediaTime& out, const QString& item) override
    {
        log.add(QStringLiteral("inspector.undoSetInTimeAndOutTime(%1,%2,%3)").arg(in.seconds()).arg(out.seconds()).arg(item));
    }
};

struct FakeHyperDeckServer : KavioHyperDeckServerInterface {
    CallLog& log;
    explicit FakeHyperDeckServer(CallLog& l) : log(l) {}
    void refreshPlaylist() override { log.add(QStringLiteral("hyperdeck.refreshPlaylist")); }
    bool start() override
    {
        log.add(QStringLiteral("hyperdeck.start"));
        return true;
    }
    void stop() override { log.add(QStringLiteral("hyperdeck.stop")); }
};

struct FakeWaveformManager : KavioWaveformManagerInterface {
    CallLog& log;
    DispatchQueue queue{"test.waveform"};
    explicit FakeWaveformManager(CallLog& l) : log(l) {}
    void setCurrentItem(const std::shared_ptr<KavioVideoItem>& item) override
    {
        log.add(QStringLiteral("waveform.setCurrentItem(%1)").arg(item ? item->uid() : QStringLiteral("-")));
    }
    DispatchQueue& waveformQueue() override { return queue; }
    void redrawMinMaxOnWaveformWithMin(double min, double max) override
    {
        log.add(QStringLiteral("waveform.redraw(%1,%2)").arg(min).arg(max));
    }
};

struct FakeAudioStreamers : KavioAudioStreamersManagerInterface {
    mutable std::mutex mutex;
    QList<int> mappingA, mappingB;
    bool mixing = false;
    int switches = 0;
    double volumeA = -1, volumeB = -1;
    std::vector<float> mixProgress;
    void setChannelMappingA(const QList<int>& mapping) override
    {
        std::lock_guard lock(mutex);
        mappingA = mapping;
    }
    void setChannelMappingB(const QList<int>& mapping) override
    {
        std::lock_guard lock(mutex);
        mappingB = mapping;
    }
    void setIsMixing(bool m) override
    {
        std::lock_guard lock(mutex);
        mixing = m;
    }
    bool isMixing() const override
    {
        std::lock_guard lock(mutex);
        return mixing;
    }
    void switchBuffers() override
    {
        std::lock_guard lock(mutex);
        ++switches;
    }
    void setVolumeA(double v) override
    {
        std::lock_guard lock(mutex);
        volumeA = v;
    }
    void setVolumeB(double v) override
    {
        std::lock_guard lock(mutex);
        volumeB = v;
    }
    void setMixProgress(float progress) override { mixProgress.push_back(progress); }
    // The video outputs' streamers: none here.
    void createAudioStreamerWithUUID(const QString&) override {}
    void removeStreamerWithUUID(const QString&) override {}
    std::shared_ptr<QVTAudioStreamer> streamerWithUUID(const QString&) const override { return nullptr; }
};

struct FakeMarkerController : QVTTimelineMarkerControllerInterface {
    CallLog& log;
    bool enabled = true, throttlers = true, mixing = true;
    std::uint64_t fps = 0;
    double compTime = 0;
    std::int64_t inFrames = -1, transitionStart = -1, outFrames = -1, markerFrames = -1;
    bool left = false, right = false, range = false;  // the handle the operator holds
    explicit FakeMarkerController(CallLog& l) : log(l) {}
    void setEnabled(bool e) override
    {
        enabled = e;
        log.add(QStringLiteral("marker.setEnabled(%1)").arg(e));
    }
    void setThrottlersEnabled(bool e) override { throttlers = e; }
    void setIsMixing(bool m) override { mixing = m; }
    void setCompFPS(std::uint64_t f) override { fps = f; }
    void setCompTime(double s) override { compTime = s; }
    void setInTime(std::int64_t f) override { inFrames = f; }
    void setTransitionStartTime(std::int64_t f) override { transitionStart = f; }
    void setOutTime(std::int64_t f) override { outFrames = f; }
    void setMarkerTime(std::int64_t f) override { markerFrames = f; }
    void addMarkerAndThrottler() override { log.add(QStringLiteral("marker.addMarkerAndThrottler")); }
    double inPointForWaveform() const override { return 10; }
    double outPointForWaveform() const override { return 90; }
    void redrawMarkerView() override { log.add(QStringLiteral("marker.redraw")); }
    std::int64_t markerTime() const override { return markerFrames; }
    std::int64_t inTime() const override { return inFrames; }
    std::int64_t outTime() const override { return outFrames; }
    bool throttlerLeftSideSelected() const override { return left; }
    bool throttlerRightSideSelected() const override { return right; }
    bool throttlerSelected() const override { return range; }
};

// Rows 20 points high, stacked from y = 0 in list order.
struct FakeItemsView : KavioItemsViewInterface {
    CallLog& log;
    KavioVideoItemManager* controller = nullptr;
    QSet<KavioVideoItem*> dragMarked;
    QSet<KavioVideoItem*> visible;
    explicit FakeItemsView(CallLog& l) : log(l) {}
    QPointF rearrangeItemsWithAnimation(bool animate) override
    {
        log.add(QStringLiteral("view.rearrange(%1)").arg(animate));
        return {};
    }
    void refreshItemsViewWithScrollOption(int option) override { log.add(QStringLiteral("view.refresh(%1)").arg(option)); }
    void scrollToItem(const std::shared_ptr<KavioVideoItem>& item) override { log.add(QStringLiteral("view.scrollTo(%1)").arg(item->uid())); }
    bool isItemVisible(const std::shared_ptr<KavioVideoItem>& item) const override { return visible.contains(item.get()); }
    void refreshItem(const std::shared_ptr<KavioVideoItem>&) override {}
    void updateHeight() override { log.add(QStringLiteral("view.updateHeight")); }
    void becomeFirstResponder(bool onlyInActiveWindow) override
    {
        log.add(QStringLiteral("view.becomeFirstResponder(%1)").arg(onlyInActiveWindow));
    }
    bool isFirstResponder() const override { return false; }
    bool itemRowContainsPoint(const std::shared_ptr<KavioVideoItem>& item, const QPointF& point) const override
    {
        const double top = double(item->index() - 1) * 20.0;
        return point.y() >= top && point.y() < top + 20.0;
    }
    void moveStateViewToOrigin(const std::shared_ptr<KavioVideoItem>& item) override
    {
        log.add(QStringLiteral("view.stateViewToOrigin(%1)").arg(item->uid()));
    }
    void setStateViewHidden(const std::shared_ptr<KavioVideoItem>& item, bool hidden) override
    {
        log.add(QStringLiteral("view.stateViewHidden(%1,%2)").arg(item->uid()).arg(hidden));
    }
    void setDrawsDraggingLocation(const std::shared_ptr<KavioVideoItem>& item, bool draws) override
    {
        if (draws)
            dragMarked.insert(item.get());
        else
            dragMarked.remove(item.get());
    }
};

struct FakeVideoOutputManager : KavioVideoOutputManagerInterface {
    CallLog& log;
    explicit FakeVideoOutputManager(CallLog& l) : log(l) {}
    void initManager() override { log.add(QStringLiteral("outputs.initManager")); }
    void renderWithTexture(const std::shared_ptr<GpuTexture>&) override {}
    void presentDrawables() override {}
    QSizeF renderSize() const override { return {1280, 720}; }
    bool useHighBitDepthRendering() const override { return false; }
};

struct FakeMTKView : QVTMTKViewInterface {
    std::atomic<int> clears{0}, resizes{0};
    std::uint64_t maxRenderSize() const override { return 8192; }
    void setShouldClear(bool clear) override { clears += clear ? 1 : 0; }
    void viewDidResize() override { ++resizes; }
    bool renderIfCanAtTime(double) override { return false; }
};

template <const char* Name, typename Interface>
struct FakeStartedManager : Interface {
    CallLog& log;
    std::weak_ptr<KavioVideoItemManager> delegate;
    explicit FakeStartedManager(CallLog& l) : log(l) {}
    void setDelegate(std::weak_ptr<KavioVideoItemManager> d) override
    {
        delegate = std::move(d);
        log.add(QStringLiteral("%1.setDelegate").arg(QLatin1String(Name)));
    }
    void startManager() override { log.add(QStringLiteral("%1.startManager").arg(QLatin1String(Name))); }
};
inline constexpr char kAtemName[] = "atem";
inline constexpr char kNdiName[] = "ndi";
struct FakeATEMManager : FakeStartedManager<kAtemName, KavioATEMManagerInterface> {
    using FakeStartedManager::FakeStartedManager;
    void handleCueAtPauseAtEnd() override { log.add(QStringLiteral("atem.handleCueAtPauseAtEnd")); }
};
using FakeNDIManager = FakeStartedManager<kNdiName, KavioNDIManagerInterface>;

// A cue that lasts a fixed number of frames and lays itself on the controller's clock as the
// cue's timing does: start frame S, end S + D − 1.
class FixedLengthCue : public KavioVideoItem {
public:
    // Its feedback goes nowhere unless `sender` says where.
    FixedLengthCue(std::shared_ptr<QVTClock> clock, std::int64_t frames, QString uid,
                   KavioOSCFeedbackSender sender = [](const QVTOSCMessage&) {})
        : KavioVideoItem(std::move(sender)), clock_(std::move(clock)), frames_(frames)
    {
        setUid(uid);
    }
    void setupSMPTEStartAndEndTimes() override
    {
        const std::int64_t start = std::llround(itemStartCMTime().seconds() * clock_->framerate());
        setOriginalItemStartSMPTETime(clock_->smpteRepresentationOfFrames(std::uint64_t(start)));
        setupSMPTEEndTimeWithStartFrames(start);
    }
    void setupSMPTEEndTimeWithStartFrames(std::int64_t start) override
    {
        const int fps = clock_->framerate();
        setItemStartSMPTETime(clock_->smpteRepresentationOfFrames(std::uint64_t(start)));
        setItemStartCMTime(MediaTime::makeWithSeconds(double(start) / fps, MediaTime::kCueTimescale));
        setItemDuration(float(double(frames_) / fps));
        setItemEndSMPTETime(clock_->smpteRepresentationOfFrames(std::uint64_t(std::max<std::int64_t>(start + frames_ - 1, start))));
        ++timeSetups;
    }
    void setupLoopHelper() override { ++loopHelperSetups; }
    bool isProcessingTransition() const override { return inTransition; }
    bool isProcessingTransitionToNextCueAtCurrentTime() const override { return inTransition; }
    void updateAudioMeter() override { ++meterUpdates; }
    void setTransition(double seconds)
    {
        setTransitionTime(seconds);
        setHasTransition(seconds > 0);
        transitionButton().state = seconds > 0 ? 1 : 0;
    }
    void setFrames(std::int64_t frames) { frames_ = frames; }

    int timeSetups = 0;
    int loopHelperSetups = 0;
    bool inTransition = false;
    int meterUpdates = 0;

private:
    std::shared_ptr<QVTClock> clock_;
    std::int64_t frames_;
};

// A controller with every neighbour faked, on a settings file of its own.
struct ControllerFixture {
    QTemporaryDir settingsDir;
    std::unique_ptr<UserDefaults> defaults;
    CallLog log;
    std::shared_ptr<FakeAppDelegate> app = std::make_shared<FakeAppDelegate>(log);
    std::shared_ptr<FakeInspector> inspector = std::make_shared<FakeInspector>(log);
    std::shared_ptr<FakeHyperDeckServer> hyperdeck = std::make_shared<FakeHyperDeckServer>(log);
    std::shared_ptr<FakeWaveformManager> waveform = std::make_shared<FakeWaveformManager>(log);
    std::shared_ptr<FakeAudioStreamers> streamers = std::make_shared<FakeAudioStreamers>();
    std::shared_ptr<FakeMarkerController> marker = std::make_shared<FakeMarkerController>(log);
    std::shared_ptr<FakeItemsView> view = std::make_shared<FakeItemsView>(log);
    std::shared_ptr<FakeVideoOutputManager> outputs = std::make_shared<FakeVideoOutputManager>(log);
    std::shared_ptr<FakeMTKView> mtkView = std::make_shared<FakeMTKView>();
    std::shared_ptr<FakeATEMManager> atem = std::make_shared<FakeATEMManager>(log);
    std::shared_ptr<FakeNDIManager> ndi = std::make_shared<FakeNDIManager>(log);
    KavioPlainButton goto10, goto20, goto30;
    std::shared_ptr<KavioVideoItemManager> controller;

    ControllerFixture()
    {
        controllerTestHome();
        defaults = std::make_unique<UserDefaults>(settingsDir.filePath(QStringLiteral("test.conf")));
    }

    KavioVideoItemManagerOutlets outlets()
    {
        KavioVideoItemManagerOutlets o;
        o.waveformManager = waveform;
        o.mtkView = mtkView;
        o.videoOutputManager = outputs;
        o.atemManager = atem;
        o.ndiManager = ndi;
        o.itemsView = view;
        o.markerController = marker;
        o.itemPreferencesController = inspector;
        o.hyperDeckServer = hyperdeck;
        o.audioStreamersManager = streamers;
        o.goto10Button = &goto10;
        o.goto20Button = &goto20;
        o.goto30Button = &goto30;
        return o;
    }

    // A controller connected to the fakes, without starting its clock thread.
    std::shared_ptr<KavioVideoItemManager> connected()
    {
        controller = KavioVideoItemManager::init(*defaults);
        controller->setOutlets(outlets());
        controller->setDelegate(app);
        return controller;
    }

    // Cues of the given lengths in frames, uids "c1", "c2", ..., added and built.
    template <typename Cue = FixedLengthCue>
    std::vector<std::shared_ptr<Cue>> addCues(const std::vector<std::int64_t>& frames)
    {
        std::vector<std::shared_ptr<Cue>> cues;
        for (const std::int64_t length : frames) {
            auto cue = std::make_shared<Cue>(controller->masterClock(), length, QStringLiteral("c%1").arg(cues.size() + 1));
            cue->setManager(controller);
            controller->insertItem(cue, cues.size() + 1);
            cues.push_back(cue);
        }
        controller->buildItemQueue();
        return cues;
    }

    QStringList uidsInOrder() const
    {
        QStringList uids;
        for (const auto& item : *controller->items())
            uids << item->uid();
        return uids;
    }
};
