#pragma once
// The preview view as the cue list controller uses it. The preview view implements it; tests
// give a recording fake.

#include "Rendering/KavioRenderClock.h"

#include <cstdint>

class QVTMTKViewInterface : public KavioRenderClockDelegate {
public:
    // --- Cue list controller ------------------------------------------------------------------
    // The largest render dimension in pixels. Any thread.
    virtual std::uint64_t maxRenderSize() const = 0;
    // The next frame is blank; the view's size changed. Main thread.
    virtual void setShouldClear(bool clear) = 0;
    virtual void viewDidResize() = 0;
};
