#pragma once
// Stand-ins the output manager suites give the manager: the displays a test arranges and a cue
// list controller that answers as an idle one.

#include "Controller/KavioVideoItemManagerInterface.h"
#include "Outputs/KavioVideoOutputManager.h"
#include "Rendering/KavioRenderClock.h"

#include "UserDefaults.h"

// Displays as a test arranges them.
class FakeDisplayList : public KavioDisplayListInterface {
public:
    std::vector<KavioDisplay> list;
    std::vector<KavioDisplay> displays() const override { return list; }
};

inline KavioDisplay display(const QString& name, QRectF frame, bool isMain, KavioScreenInfo info)
{
    return {name, frame, isMain, info, nullptr};
}

class FakeVideoManager : public KavioVideoItemManagerInterface {
public:
    std::shared_ptr<KavioRenderClock> clock;
    bool isLoadingProject() const override { return false; }
    bool shouldEnablePauseAtEndBecauseOfOldProject() const override { return false; }
    void setHasUnsavedChanges(bool) override {}
    QSizeF renderSize() const override { return {}; }
    std::shared_ptr<KavioVideoItem> itemWithUID(const QString&) const override { return nullptr; }
    double secondsForSMPTEString(const QString&) const override { return 0; }
    void selectAndScrollToItemAtCueID(const QString&) override {}
    std::shared_ptr<QVTClock> masterClock() const override { return nullptr; }
    double defaultNonMovieCueDuration() const override { return 0; }
    bool useHighBitDepthRendering() const override { return false; }
    long deinterlaceMode() const override { return 0; }
    std::shared_ptr<KavioVideoItem> currentItem() const override { return nullptr; }
    void stopPlaybackWithCompletedHandler(std::function<void()>) override {}
    KavioVideoItemPreferencesControllerInterface* itemPreferencesController() const override { return nullptr; }
    void replaceItem(const std::shared_ptr<KavioVideoItem>&) override {}
    std::shared_ptr<KavioRenderClock> renderClock() const override { return clock; }
};


// A manager started on `displays` as at a first launch: the output defaults are removed first.
inline std::unique_ptr<KavioVideoOutputManager> startOutputManager(QVTMetalManager& gpu,
                                                                   std::shared_ptr<FakeDisplayList> displays,
                                                                   std::shared_ptr<FakeVideoManager> videoManager)
{
    auto& defaults = UserDefaults::standardUserDefaults();
    for (const char* key : {"useHighBitDepthRendering", "disableDisplayMirroring", "disableMouseCursorHide",
                            "videoOutputSetup", "autoFullscreen"})
        defaults.removeObjectForKey(key);
    auto outputs = std::make_unique<KavioVideoOutputManager>(gpu, nullptr, std::move(displays));
    outputs->setVideoManager(std::move(videoManager));
    outputs->initManager();
    return outputs;
}
