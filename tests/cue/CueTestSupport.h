#pragma once
// Fakes for cue tests: a recording OSC output, a recording controller, a cue that records its
// OSC address-space rebuilds and the steps it hands to other concerns, an audio player and a
// recorded source.

#include "Clock/QVTClock.h"
#include "Cue/KavioVideoItem.h"
#include "Inspector/KavioVideoItemPreferencesControllerInterface.h"
#include "Log.h"

#include <spdlog/sinks/ostream_sink.h>

#include <QFile>
#include <QImage>
#include <QMap>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <vector>

// The cue reads the user defaults when it is made: keep the tests off the real settings file.
inline const bool kCueTestsUsePrivateConfigHome = [] {
    static QTemporaryDir dir;
    setenv("XDG_CONFIG_HOME", dir.path().toUtf8().constData(), 1);
    return true;
}();

// Makes an empty file `name` in `dir` and answers its path.
inline QString makeEmptyFile(const QTemporaryDir& dir, const QString& name)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    return path;
}

// Saves an image of `size` filled with one colour as `name` in `dir` and answers its path.
inline QString savedImage(const QTemporaryDir& dir, const QString& name, const QSize& size,
                          QImage::Format format = QImage::Format_RGB32)
{
    QImage image(size, format);
    image.fill(QColor(20, 120, 220, 128));
    const QString path = dir.filePath(name);
    image.save(path);
    return path;
}

// Keeps the program's log entries, verbose ones too, while it lives; any thread may log.
struct CueLogCapture {
    std::ostringstream text;
    bool wasVerbose = KavioLog::isVerbose();
    CueLogCapture()
    {
        KavioLog::setVerbose(true);
        KavioLog::logger().sinks().push_back(std::make_shared<spdlog::sinks::ostream_sink_mt>(text));
    }
    ~CueLogCapture()
    {
        KavioLog::logger().sinks().pop_back();
        KavioLog::setVerbose(wasVerbose);
    }
    bool contains(const std::string& entry) const { return text.str().find(entry) != std::string::npos; }
};

// Keeps what each send carried at the moment it was sent.
struct RecordingOSCOutput {
    std::vector<QVTOSCMessage::Snapshot> sent;

    KavioOSCFeedbackSender sender()
    {
        return [this](const QVTOSCMessage& message) { sent.push_back(message.snapshot()); };
    }
    QStringList addresses() const
    {
        QStringList list;
        for (const auto& s : sent)
            list << s.address;
        return list;
    }
    void clear() { sent.clear(); }
};

class FakeKavioVideoItemManager : public KavioVideoItemManagerInterface {
public:
    bool loadingProject = false;
    bool pauseAtEndBecauseOfOldProject = false;
    QSizeF size{1920, 1080};
    int unsavedChangesCount = 0;
    std::vector<std::shared_ptr<KavioVideoItem>> items;
    QMap<QString, double> clockSeconds;  // SMPTE text -> seconds
    QStringList selectedCueIDs;

    bool isLoadingProject() const override { return loadingProject; }
    bool shouldEnablePauseAtEndBecauseOfOldProject() const override { return pauseAtEndBecauseOfOldProject; }
    std::shared_ptr<KavioVideoItem> itemWithUID(const QString& uid) const override
    {
        for (const auto& item : items)
            if (item->uid() == uid)
                return item;
        return nullptr;
    }
    double secondsForSMPTEString(const QString& smpte) const override { return clockSeconds.value(smpte); }
    void selectAndScrollToItemAtCueID(const QString& cueID) override { selectedCueIDs << cueID; }
    void setHasUnsavedChanges(bool hasUnsavedChanges) override
    {
        if (hasUnsavedChanges)
            ++unsavedChangesCount;
    }
    QSizeF renderSize() const override { return size; }

    // Cue loading, media facts and timing
    std::shared_ptr<QVTClock> clock;
    float nonMovieDuration = 2.0f;
    bool highBitDepth = false;
    long deinterlace = 0;
    std::shared_ptr<KavioVideoItem> current;
    int stopPlaybackCount = 0;
    KavioVideoItemPreferencesControllerInterface* inspector = nullptr;
    QList<KavioVideoItem*> replaced;

    std::shared_ptr<QVTClock> masterClock() const override { return clock; }
    double defaultNonMovieCueDuration() const override { return nonMovieDuration; }
    bool useHighBitDepthRendering() const override { return highBitDepth; }
    long deinterlaceMode() const override { return deinterlace; }
    std::shared_ptr<KavioVideoItem> currentItem() const override { return current; }
    void stopPlaybackWithCompletedHandler(std::function<void()> handler) override
    {
        ++stopPlaybackCount;
        if (handler)
            handler();
    }
    KavioVideoItemPreferencesControllerInterface* itemPreferencesController() const override { return inspector; }
    void replaceItem(const std::shared_ptr<KavioVideoItem>& item) override { replaced << item.get(); }

    // Cue position, preroll and start
    std::int64_t mode = 0;
    bool markerDragging = false;
    bool globalTransition = false;
    QList<KavioVideoItem*> timeJumps;
    std::int64_t playbackMode() const override { return mode; }
    bool isPlayheadMarkerDragging() const override { return markerDragging; }
    bool isProcessingGlobalTransition() const override { return globalTransition; }
    void timeJumpedOnItem(const std::shared_ptr<KavioVideoItem>& item) override { timeJumps << item.get(); }

    // Transitions, toggles and frames: "rebuild", "transitionChanged", "loopOn", "loopOff",
    // "select", "toggle <code> <state>", each with the cue's index, in call order. The toggle
    // call applies the state to the selected cues of `items` as the controller does.
    QStringList calls;
    float masterFader = 1.0f;
    QVTOSCQueryServer* queryServer = nullptr;
    void record(const char* what, const std::shared_ptr<KavioVideoItem>& item)
    {
        calls << QStringLiteral("%1 %2").arg(QLatin1String(what)).arg(item->index());
    }
    void rebuildItemTimesByTransitioningItem(const std::shared_ptr<KavioVideoItem>& item) override { record("rebuild", item); }
    void handleTransitionTimeChangeOnItem(const std::shared_ptr<KavioVideoItem>& item) override
    {
        record("transitionChanged", item);
    }
    void loopingTurnedOnOnItem(const std::shared_ptr<KavioVideoItem>& item) override { record("loopOn", item); }
    void loopingTurnedOffOnItem(const std::shared_ptr<KavioVideoItem>& item) override { record("loopOff", item); }
    void selectItem(const std::shared_ptr<KavioVideoItem>& item) override
    {
        for (const auto& cue : items)
            cue->setIsSelected(cue == item);
        record("select", item);
    }
    void cueToggleChangedOnSelectedItems(int code, bool state) override
    {
        calls << QStringLiteral("toggle %1 %2").arg(code).arg(state);
        for (const auto& cue : items)
            if (cue->isSelected()) {
                cue->changeToggleToState(code, state);
                cue->validateToggles();
            }
    }
    float masterSliderValue() const override { return masterFader; }
    QVTOSCQueryServer* oscQueryServer() const override { return queryServer; }
};

class FakeInspector : public KavioVideoItemPreferencesControllerInterface {
public:
    std::shared_ptr<KavioVideoItem> shown;
    int pulls = 0;
    std::shared_ptr<KavioVideoItem> currentItem() const override { return shown; }
    void pullCurrentItemData() override { ++pulls; }
    void videoItemsUpdated(const KavioVideoItemListSnapshot&) override {}
    void loadPreferenceItems() override {}
    void handlePlayingRelatedOptions() override {}
    void handlePlayheadChangedRelatedOptions() override {}
    void undoChangeGotoItem(const QString&, const QString&) override {}
};

class RecordingCue : public KavioVideoItem {
public:
    using KavioVideoItem::KavioVideoItem;
    QStringList rebuilds;
    // "validateToggles", "setupTransition", "volumeChanged", "fillBuffers", in call order.
    QStringList steps;

    void buildOSCAddressSpaceForID(const QString& identifier) override
    {
        rebuilds << identifier;
        KavioVideoItem::buildOSCAddressSpaceForID(identifier);
    }
    void validateToggles() override { steps << "validateToggles"; }
    void setupTransition() override { steps << "setupTransition"; }
    void volumeChanged() override { steps << "volumeChanged"; }
    void fillVideoAndAudioBuffersAtCurrentTimeWithCompletedHandler(std::function<void()>) override
    {
        steps << "fillBuffers";
    }

    // Loading: the row loads unless told otherwise; the audio step gives `audioToMake` (none
    // when empty) and records the file it was given.
    bool nibLoads = true;
    std::shared_ptr<class FakeAudioPlayer> audioToMake;
    QStringList audioFiles;
    bool loadNib() override
    {
        steps << "loadNib";
        return nibLoads;
    }
    void setupAudioWithFileURL(const QString& path) override;
    void searchForCaptions() override { steps << "searchForCaptions"; }
    void generateThumbnailAsync() override { steps << "generateThumbnail"; }
    void rewindAndPrerollWhenNotIsReady() override
    {
        steps << "rewindAndPreroll";
        KavioVideoItem::rewindAndPrerollWhenNotIsReady();
    }
};

class FakeAudioPlayer : public KavioCueAudioPlayer {
public:
    QList<int> mapping{1, 2};
    int channels = 2;
    double seconds = 0.0;
    int fileChannels = 2;
    float rate = 1.0f;
    float gain = 1.0f;
    int stops = 0;
    bool released = false;

    double duration() const override { return seconds; }
    int realChannels() const override { return fileChannels; }
    void setRate(float newRate) override { rate = newRate; }
    void stop() override { ++stops; }
    void removeResources() override { released = true; }
    int plays = 0;
    QList<double> times;  // every setCurrentTime, in order
    void play() override { ++plays; }
    void setCurrentTime(double time) override { times << time; }
    float volume() const override { return gain; }
    void setVolume(float value) override { gain = value; }

    QList<int> channelMapping() const override { return mapping; }
    int deviceChannels() const override { return channels; }
    void setOutputChannelMapping(const QList<int>& newMapping, int maxChannels) override
    {
        mapping = newMapping;
        channels = maxChannels;
    }
};

inline void RecordingCue::setupAudioWithFileURL(const QString& path)
{
    steps << "setupAudio";
    audioFiles << path;
    if (audioToMake)
        setAudioPlayer(audioToMake);
}

class FakeRecordedSource : public KavioRecordedSource {
public:
    QVariantMap data;
    int loads = 0;

    QVariantMap saveData() const override { return data; }
    void loadWithData(const QVariantMap& newData) override
    {
        data = newData;
        ++loads;
    }
    bool rendering = false;
    void setShouldRender(bool shouldRender) override { rendering = shouldRender; }
};

// A cue at `index` under a fake controller, with the creation feedback already cleared.
struct CueUnderTest {
    RecordingOSCOutput osc;
    std::shared_ptr<FakeKavioVideoItemManager> controller = std::make_shared<FakeKavioVideoItemManager>();
    std::shared_ptr<RecordingCue> cue;

    explicit CueUnderTest(std::uint64_t index = 3)
    {
        cue = std::make_shared<RecordingCue>(osc.sender());
        cue->setManager(controller);
        cue->setIndex(index);
        cue->rebuilds.clear();
        osc.clear();
    }
};

// A cue under a controller, with its audio player and recorded sources when its type has them.
struct RecordFixture {
    RecordingOSCOutput osc;
    std::shared_ptr<FakeKavioVideoItemManager> controller = std::make_shared<FakeKavioVideoItemManager>();

    std::shared_ptr<RecordingCue> makeCue(int type, const QString& path) const
    {
        auto cue = std::make_shared<RecordingCue>(const_cast<RecordingOSCOutput&>(osc).sender());
        cue->setManager(controller);
        cue->setMediaType(type);
        cue->setMediaPath(path);
        cue->setIsPDF(path.endsWith(".pdf"));  // as the still loader finds it
        if (type == KavioMediaTypeMovie || type == KavioMediaTypeAudio || type == KavioMediaTypeCamera)
            cue->setAudioPlayer(std::make_shared<FakeAudioPlayer>());
        if (type == KavioMediaTypeBrowser)
            cue->setBrowserSource(std::make_shared<FakeRecordedSource>());
        if (type == KavioMediaTypeWindow)
            cue->setWindowSource(std::make_shared<FakeRecordedSource>());
        return cue;
    }

    // The create request's part and the stages that follow, as the controller runs them.
    std::shared_ptr<RecordingCue> restore(const QVariantMap& record) const
    {
        const int type = record.value("mediaType").toInt();
        auto cue = makeCue(type, record.value("mediaPath").toString());
        cue->setUid("fresh-uid");
        cue->setIndex(7);
        if (KavioVideoItem::isFileBasedMediaType(type))
            cue->applyImportantDataToRestoreOnInit(record);
        cue->loadWithData(record);
        if (type == KavioMediaTypeMovie)
            cue->applyCachedLoadData();
        return cue;
    }
};
