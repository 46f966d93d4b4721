#pragma once
// What the cue list controller asks of the application controller (its `delegate`). The
// application controller implements it; tests give a recording fake. Main thread unless said.

class KavioButtonInterface;
class UndoManager;

class AppDelegateInterface {
public:
    virtual ~AppDelegateInterface() = default;

    // --- Cue list controller ------------------------------------------------------------------
    // The playlist-loop toggle of the main window; nullptr before the window is loaded.
    virtual KavioButtonInterface* loopButton() const = 0;
    // The window title shows the running time again at its next refresh.
    virtual void setShouldForceDisplayBecauseOfTRTChange(bool force) = 0;
    // Marks the open project as changed (or saved). Any thread.
    virtual void setHasUnsavedChanges(bool hasUnsavedChanges) = 0;
    // The Alt key is held now.
    virtual bool altPressed() const = 0;
    // Set while an older project whose preferences paused every cue at its end is loading.
    virtual bool shouldEnablePauseAtEndBecauseOfOldProject() const = 0;
    // The undo manager of the main window, where list edits register their inverse.
    virtual UndoManager& undoManager() = 0;
};
