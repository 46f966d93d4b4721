#pragma once
// The NDI integration as the cue list controller starts it. The NDI manager implements it;
// tests give a recording fake. Main thread.

#include <memory>

class KavioVideoItemManager;

class KavioNDIManagerInterface {
public:
    virtual ~KavioNDIManagerInterface() = default;

    // --- Cue list controller ------------------------------------------------------------------
    // The controller the manager reports to; held weakly.
    virtual void setDelegate(std::weak_ptr<KavioVideoItemManager> delegate) = 0;
    // Restores the manager's settings and starts it.
    virtual void startManager() = 0;
};
