#pragma once
// A cue list controller that answers as an idle one, for the output suites and the rendering
// and output benchmarks; subclasses add what they draw.

#include "Controller/KavioVideoItemManagerInterface.h"

#include <QSizeF>

class IdleVideoManager : public KavioVideoItemManagerInterface {
public:
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
};
