// The cue list's answers to the HyperDeck-protocol server: the list as clips, the transport and
// the toggles that "single clip" and "loop" stand for.

#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "Shell/AppDelegateInterface.h"
#include "Support/KavioButtonInterface.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "ZelmoraProtocol.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

QString KavioVideoItemManager::hyperdeck_playbackStatus()
{
    return isPlaying() ? QStringLiteral("play") : QStringLiteral("stopped");
}

std::int32_t KavioVideoItemManager::hyperdeck_playbackSpeed() { return isPlaying() ? 100 : 0; }

QString KavioVideoItemManager::hyperdeck_clipID()
{
    const auto current = currentItem();
    return current ? QString::number(current->index()) : QStringLiteral("none");
}

QString KavioVideoItemManager::hyperdeck_displayTimecode() { return masterClock_->clockSMPTETime(); }

QString KavioVideoItemManager::hyperdeck_isSingleClip()
{
    const auto current = currentItem();
    return current && current->shouldStopAtEnd() ? QStringLiteral("true") : QStringLiteral("false");
}

QString KavioVideoItemManager::hyperdeck_isLooping()
{
    const auto app = delegate();
    const KavioButtonInterface* loop = app ? app->loopButton() : nullptr;
    return loop && loop->state() != 0 ? QStringLiteral("true") : QStringLiteral("false");
}

std::int32_t KavioVideoItemManager::hyperdeck_clipCount() { return std::int32_t(items()->size()); }

QStringList KavioVideoItemManager::hyperdeck_clipsInfo()
{
    QStringList lines;
    itemsQueue().sync([&] {
        for (const auto& item : *items()) {
            // A name cannot add lines to the reply.
            const QString name = QString::fromStdString(zelmora::singleLine(item->cueName().toStdString()));
            lines << QStringLiteral("%1: %2 %3 %4")
                         .arg(item->index())
                         .arg(name, item->originalItemStartSMPTETime(), item->videoTRTSMPTE());
        }
    });
    return lines;
}

void KavioVideoItemManager::hyperdeck_startPlayback()
{
    if (repostToMain([](KavioVideoItemManager& self) { self.hyperdeck_startPlayback(); }))
        return;
    const auto app = delegate();
    const KavioButtonInterface* play = app ? app->playButton() : nullptr;
    if (play && play->state() == 0 && play->isEnabled())
        startPlayback();
}

void KavioVideoItemManager::hyperdeck_stopPlayback()
{
    if (repostToMain([](KavioVideoItemManager& self) { self.hyperdeck_stopPlayback(); }))
        return;
    const auto app = delegate();
    const KavioButtonInterface* play = app ? app->playButton() : nullptr;
    if (play && play->state() == 1 && play->isEnabled())
        stopPlaybackWithCompletedHandler({});
}

void KavioVideoItemManager::hyperdeck_gotoClip(std::uint64_t clipID)
{
    if (repostToMain([clipID](KavioVideoItemManager& self) { self.hyperdeck_gotoClip(clipID); }))
        return;
    jumpToItem(itemWithIndex(clipID));
}

double KavioVideoItemManager::hyperdeckGotoOffset(bool minus, double offset, double start, double runTime, double frame)
{
    if (minus)
        return offset <= start ? -offset : 0.001 - start;
    // The last frame the cue shows, as the offset alone compares with it.
    const double lastFrame = std::max(0.0, runTime - frame - 0.001);
    return std::min(offset, lastFrame);
}

void KavioVideoItemManager::hyperdeck_gotoWithTimecode(const QString& timecode)
{
    if (repostToMain([timecode](KavioVideoItemManager& self) { self.hyperdeck_gotoWithTimecode(timecode); }))
        return;
    const QChar sign = timecode.isEmpty() ? QChar() : timecode.front();
    if (sign != u'-' && sign != u'+') {
        // No sign: a time on the show's line.
        KLOG_INFO("hyperdeck absolute timecode: {}", timecode.toStdString());
        seekToSMPTETime(timecode);
        return;
    }
    const auto current = currentItem();
    if (!current)
        return;
    const double offset = masterClock_->secondsForSMPTEString(timecode.mid(1));
    const double start = masterClock_->secondsForSMPTEString(current->itemStartSMPTETime());
    const double runTime = masterClock_->secondsForSMPTEString(current->videoTRTSMPTE());
    const double target =
        hyperdeckGotoOffset(sign == u'-', offset, start, runTime, masterClock_->frameTimeOfCurrentSMPTEFormat());
    setSeekPerformedByGoto(true);
    seekToSMPTETime(masterClock_->smpteRepresentationOfTime(start + target));
    setSeekPerformedByGoto(false);
}

namespace {

// Toggle changes on a cue, each followed by validateToggles as the row's own clicks are.
using ToggleStep = std::pair<void (KavioVideoItem::*)(bool), bool>;
void changeToggles(KavioVideoItem& item, std::initializer_list<ToggleStep> steps)
{
    for (const auto& [change, state] : steps) {
        (item.*change)(state);
        item.validateToggles();
    }
}

constexpr auto kLoop = &KavioVideoItem::changeLoopToState;
constexpr auto kPauseAtEnd = &KavioVideoItem::changePauseAtEndToState;

// The Loop button shows it, then the list loops or not.
void setPlaylistLoop(KavioVideoItemManager& controller, bool loop)
{
    if (const auto app = controller.delegate(); app && app->loopButton())
        app->loopButton()->setState(loop ? 1 : 0);
    controller.shouldLoop(loop);
}

}  // namespace

void KavioVideoItemManager::hyperdeck_makePauseAtEndOnAllItems()
{
    if (repostToMain([](KavioVideoItemManager& self) { self.hyperdeck_makePauseAtEndOnAllItems(); }))
        return;
    for (const auto& item : *items())
        changeToggles(*item, {{kLoop, false}, {kPauseAtEnd, true}});
}

void KavioVideoItemManager::hyperdeck_makePauseAtEndOffAllItems()
{
    if (repostToMain([](KavioVideoItemManager& self) { self.hyperdeck_makePauseAtEndOffAllItems(); }))
        return;
    for (const auto& item : *items())
        changeToggles(*item, {{kPauseAtEnd, false}});
}

void KavioVideoItemManager::hyperdeck_makeLoopOnCurrentItem()
{
    if (repostToMain([](KavioVideoItemManager& self) { self.hyperdeck_makeLoopOnCurrentItem(); }))
        return;
    if (const auto current = currentItem())
        changeToggles(*current, {{kPauseAtEnd, false}, {kLoop, true}});
}

void KavioVideoItemManager::hyperdeck_makeLoopOffCurrentItem()
{
    if (repostToMain([](KavioVideoItemManager& self) { self.hyperdeck_makeLoopOffCurrentItem(); }))
        return;
    // Without its loop the cue pauses at its end.
    if (const auto current = currentItem())
        changeToggles(*current, {{kLoop, false}, {kPauseAtEnd, true}});
}

void KavioVideoItemManager::hyperdeck_makeLoopOnPlaylist()
{
    if (repostToMain([](KavioVideoItemManager& self) { self.hyperdeck_makeLoopOnPlaylist(); }))
        return;
    setPlaylistLoop(*this, true);
}

void KavioVideoItemManager::hyperdeck_makeLoopOffPlaylist()
{
    if (repostToMain([](KavioVideoItemManager& self) { self.hyperdeck_makeLoopOffPlaylist(); }))
        return;
    setPlaylistLoop(*this, false);
}
