#pragma once
// What a cue asks of the cue list controller that owns it. The controller implements this; a cue
// holds it weakly (the controller owns its cues, never the other way round), and tests give a
// recording fake. A cue without a controller (nullptr or expired) behaves as if the controller
// answered "no" and "zero" and ignored the calls.

#include <QSizeF>

class KavioVideoItemManagerInterface {
public:
    virtual ~KavioVideoItemManagerInterface() = default;

    // True while a project's cues are being created; the cue holds back its name feedback then.
    // Any thread.
    virtual bool isLoadingProject() const = 0;

    // Passes the project's unsaved-changes flag on to the application controller (the
    // controller's delegate). Called on the thread of the cue setter that changed a value.
    virtual void setHasUnsavedChanges(bool hasUnsavedChanges) = 0;

    // The video output manager's render size in pixels, read afresh on every call. Any thread.
    virtual QSizeF renderSize() const = 0;
};
