#pragma once
// What the cue list controller asks of the video output manager. The output manager implements
// it; tests give a recording fake.

#include <QSizeF>

class KavioVideoOutputManagerInterface {
public:
    virtual ~KavioVideoOutputManagerInterface() = default;

    // --- Cue list controller ------------------------------------------------------------------
    // Second stage of the manager's start-up, called once by the controller's. Main thread.
    virtual void initManager() = 0;
    // The outputs' render size in pixels. Any thread.
    virtual QSizeF renderSize() const = 0;
    // Pictures are rendered in half-float RGBA; fixed for the process. Any thread.
    virtual bool useHighBitDepthRendering() const = 0;
};
