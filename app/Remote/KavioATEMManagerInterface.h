#pragma once
// The switcher integration as the cue list controller starts it. The switcher manager implements it;
// tests give a recording fake. Main thread.

#include <memory>

class KavioVideoItemManager;

class KavioATEMManagerInterface {
public:
    virtual ~KavioATEMManagerInterface() = default;

    // --- Cue list controller ------------------------------------------------------------------
    // The controller the manager reports to; held weakly.
    virtual void setDelegate(std::weak_ptr<KavioVideoItemManager> delegate) = 0;
    // Restores the manager's settings and starts it.
    virtual void startManager() = 0;
    // A cue paused at its end: the switcher cuts or auto-transitions to the chosen input.
    // Any thread (the clock thread at the stop).
    virtual void handleCueAtPauseAtEnd() = 0;
};
