#pragma once
// What other parts of the program ask of the cue inspector. The inspector implements this; tests
// give a recording fake. Main thread only.

#include <memory>

class KavioVideoItem;

class KavioVideoItemPreferencesControllerInterface {
public:
    virtual ~KavioVideoItemPreferencesControllerInterface() = default;

    // The cue the inspector shows; nullptr for none.
    virtual std::shared_ptr<KavioVideoItem> currentItem() const = 0;
    // Reloads the inspector's controls from the cue it shows.
    virtual void pullCurrentItemData() = 0;
};
