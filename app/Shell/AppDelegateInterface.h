#pragma once
// What the cue list controller asks of the application controller (its `delegate`). The
// application controller implements it; tests give a recording fake. Main thread unless said.

#include <QString>

#include <cstdint>
#include <functional>

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
    // The open project file's path; empty for an unsaved project.
    virtual QString projectURL() const { return {}; }
    virtual UndoManager& undoManager() = 0;

    // --- Clock control and sequencing ---------------------------------------------------------
    // The main window's play button; nullptr before the window is loaded.
    virtual KavioButtonInterface* playButton() const = 0;
    // Enables the transport controls for the playing state, mode, cue count and playhead drag.
    virtual void setMainUIStateAfterPlaybackChanged() = 0;
    // Shows the time in the main timecode field when it differs from what the field shows.
    // Any thread: the clock thread calls it every frame, so it neither blocks nor allocates.
    virtual void displayTimeIfNeeded(const QString& smpte) = 0;
    // Stops the master clock through the cue list controller in standalone mode; otherwise
    // nothing. Any thread (the clock thread at a pause).
    virtual void stopClockByManagerIfNeeded() = 0;
    // Starts or stops playback as the play button does; `handler` (may be empty) runs on the
    // main queue once done.
    virtual void performTogglePlayWithCompletedHandler(std::function<void()> handler) = 0;

    // --- Jumps, transport and seeking (the defaults answer as a window without these controls) --
    // The global transition switch: on, a jump to another cue crosses over; nullptr for none.
    virtual KavioButtonInterface* globalTransitionButton() const { return nullptr; }
    // The Shift key is held now.
    virtual bool shiftPressed() const { return false; }
    // The play button's action: starts or stops playback by the button's state.
    virtual void togglePlay() { performTogglePlayWithCompletedHandler({}); }
    // The sync-source switch, to a KavioPlaybackMode (0 the own clock, 1 MIDI timecode, 2 LTC).
    virtual void toggleSourceMode(std::int64_t /*playbackMode*/) {}

    // --- Playlist defaults and settings (the defaults answer as a window without them) ----------
    // The preferences window's undo manager, where the playlist settings register; nullptr: none.
    virtual UndoManager* preferencesUndoManager() { return nullptr; }
    // The rest of the transport row; nullptr for none.
    virtual KavioButtonInterface* rewindButton() const { return nullptr; }
    virtual KavioButtonInterface* fastforwardButton() const { return nullptr; }
    virtual KavioButtonInterface* prevItemButton() const { return nullptr; }
    virtual KavioButtonInterface* nextItemButton() const { return nullptr; }
    virtual void setMainTimecodeFieldEnabled(bool /*enabled*/) {}
    // The preferences window: whether it is shown, ending the edit of its fields, and bringing
    // it to the front on the playlist pane.
    virtual bool isPreferencesWindowVisible() const { return false; }
    virtual void endPreferencesEditing() {}
    virtual void showPlaylistPreferences() {}
    // The cue list view has the main window's keyboard focus.
    virtual bool isCueListFirstResponder() const { return false; }
};
