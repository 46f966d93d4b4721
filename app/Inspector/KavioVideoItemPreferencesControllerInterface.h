#pragma once
// What other parts of the program ask of the cue inspector. The inspector implements this; tests
// give a recording fake. Main thread unless said.

#include "Controller/KavioVideoItemList.h"
#include "MediaTime.h"

#include <QString>

#include <memory>

class KavioVideoItem;

class KavioVideoItemPreferencesControllerInterface {
public:
    virtual ~KavioVideoItemPreferencesControllerInterface() = default;

    // The cue the inspector shows; nullptr for none.
    virtual std::shared_ptr<KavioVideoItem> currentItem() const = 0;
    // Reloads the inspector's controls from the cue it shows.
    virtual void pullCurrentItemData() = 0;

    // --- Cue list controller ------------------------------------------------------------------
    // Takes the new list after every rebuild of the order. Called on the rebuilding thread.
    virtual void videoItemsUpdated(const KavioVideoItemListSnapshot& items) = 0;
    // Builds the inspector's sections; called once at start-up.
    virtual void loadPreferenceItems() = 0;
    // Refreshes the in, out and duration fields after the current cue or its playing state changed.
    virtual void handlePlayingRelatedOptions() = 0;
    // Re-validates the set-in/out-from-playhead buttons after the playhead moved.
    virtual void handlePlayheadChangedRelatedOptions() = 0;
    // Makes the cue `targetUID` the goto target of the cue `itemUID`, as an undoable change.
    virtual void undoChangeGotoItem(const QString& targetUID, const QString& itemUID) = 0;
    // --- Jumps, transport and seeking (the defaults answer as an inspector without fields) ----
    // Sets the cue's in point (media time), out point (the time cut from the media's end), or
    // both, at its playback speed, as one undoable change; then calls back the controller's
    // handleInTimeResetOnItem, handleOutTimeResetOnItem or handleInOutTimeResetOnItem.
    virtual void undoSetInTime(const MediaTime& /*inTime*/, const QString& /*itemUID*/) {}
    virtual void undoSetOutTime(const MediaTime& /*outTime*/, const QString& /*itemUID*/) {}
    virtual void undoSetInTimeAndOutTime(const MediaTime& /*inTime*/, const MediaTime& /*outTime*/,
                                         const QString& /*itemUID*/) {}
};
