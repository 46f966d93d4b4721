#pragma once
// What the cue list benchmarks share: an application controller that answers "nothing" to the
// cue list controller (they run it without a window), one that plays and stops as the play
// button does, and the check that the timed work was really done.

#include "Controller/KavioVideoItemManager.h"
#include "Shell/AppDelegateInterface.h"
#include "UndoManager.h"

#include <QString>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

struct KavioBenchDelegate : AppDelegateInterface {
    UndoManager undo;
    KavioButtonInterface* loopButton() const override { return nullptr; }
    void setShouldForceDisplayBecauseOfTRTChange(bool) override {}
    void setHasUnsavedChanges(bool) override {}
    bool altPressed() const override { return false; }
    bool shouldEnablePauseAtEndBecauseOfOldProject() const override { return false; }
    UndoManager& undoManager() override { return undo; }
    KavioButtonInterface* playButton() const override { return nullptr; }
    void setMainUIStateAfterPlaybackChanged() override {}
    void displayTimeIfNeeded(const QString&) override {}
    void stopClockByManagerIfNeeded() override {}
    void performTogglePlayWithCompletedHandler(std::function<void()>) override {}
};

// Play, stop and the manager's stop requests as the application controller does them: through
// the cue list controller's clock.
struct KavioPlayingBenchDelegate : KavioBenchDelegate {
    std::weak_ptr<KavioVideoItemManager> controller;
    void stopClockByManagerIfNeeded() override
    {
        const auto c = controller.lock();
        if (c && c->playbackMode() == 0)
            c->stopClockWithCompletedHandler({});
    }
    void performTogglePlayWithCompletedHandler(std::function<void()> handler) override
    {
        if (const auto c = controller.lock()) {
            if (c->isPlaying())
                c->stopClockWithCompletedHandler({});
            else
                c->startClock();
        }
        if (handler)
            handler();
    }
};

// Ends the benchmark with an error when the work it timed was not done.
inline void check(bool done, const char* what)
{
    if (!done) {
        std::fprintf(stderr, "work not done: %s\n", what);
        std::exit(1);
    }
}
