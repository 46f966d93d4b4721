#include "Cue/KavioVideoItem.h"

#include "DispatchQueue.h"

#include <functional>

namespace {

// The handlers touch the row, which lives on the main thread; the controller calls them from
// its clock's threads too. A cue removed before the main thread gets to it is left alone.
void runOnMain(KavioVideoItem& cue, std::function<void(KavioVideoItem&)> work)
{
    if (DispatchQueue::main().isCurrent()) {
        work(cue);
        return;
    }
    DispatchQueue::main().async([weak = cue.weak_from_this(), work = std::move(work)] {
        if (const auto self = weak.lock())
            work(*self);
    });
}

}  // namespace

void KavioVideoItem::handleSwitchToSlaveMode()
{
    runOnMain(*this, [](KavioVideoItem& cue) {
        for (KavioRowButton* button : {&cue.pauseAtBeginningButton(), &cue.pauseAtEndButton()}) {
            button->state = 0;
            button->enabled = false;
        }
    });
}

void KavioVideoItem::handleSwitchToStandaloneMode()
{
    runOnMain(*this, [](KavioVideoItem& cue) {
        cue.validateToggles();
        cue.fillVideoAndAudioBuffersAtCurrentTimeWithCompletedHandler();
    });
}
