// The network link's backup: the cue commands of the followed copy, replayed on this cue list.
#include "Controller/KavioVideoItemManager.h"

#include "Clock/QVTClock.h"
#include "Cue/KavioVideoItem.h"
#include "Shell/AppDelegateInterface.h"
#include "Support/KavioButtonInterface.h"
#include "DispatchQueue.h"
#include "Log.h"

namespace {

// The keys in the order they are looked at; the first present is handled.
const char* const kBackupKeys[] = {
    QVTClockNotification::SeekNMCCommand, QVTClockNotification::GotoNMCCommand,
    QVTClockNotification::JumpAndPlayNMCCommand, QVTClockNotification::JumpNMCCommand,
    QVTClockNotification::PlayNMCCommand, QVTClockNotification::StopNMCCommand,
    QVTClockNotification::PanicNMCCommand, QVTClockNotification::RewindNMCCommand,
};

}  // namespace

void KavioVideoItemManager::handleNMCBackupCommand(const Notification& notification)
{
    if (!DispatchQueue::isMainThread()) {
        DispatchQueue::main().async([weakSelf = weak_from_this(), notification] {
            if (const auto self = weakSelf.lock())
                self->handleNMCBackupCommand(notification);
        });
        return;
    }
    if (isLoadingProject())
        return;
    QString key;
    for (const char* k : kBackupKeys) {
        if (notification.userInfo.contains(QLatin1String(k))) {
            key = QLatin1String(k);
            break;
        }
    }
    if (key.isEmpty())
        return;
    const QVariant value = notification.userInfo.value(key);
    const QVariantList pair = value.toList();
    const std::uint64_t n = pair.isEmpty() ? value.toULongLong() : pair.value(0).toULongLong();
    const QString time = pair.value(1).toString();

    // Panic and jump-and-play act on the list itself; every other command needs cue n.
    if (key == QLatin1String(QVTClockNotification::PanicNMCCommand)) {
        if (!shouldPanic())
            doPanic();
        return;
    }
    if (key == QLatin1String(QVTClockNotification::JumpAndPlayNMCCommand)) {
        jumpToAndPlayItemAtIndex(n);
        return;
    }
    const std::shared_ptr<KavioVideoItem> target = itemWithIndex(n);
    if (!target)
        return;  // the list holds no such cue: nothing happens
    if (key == QLatin1String(QVTClockNotification::JumpNMCCommand)) {
        jumpToItem(target);
        return;
    }
    const auto current = currentItem();
    const bool available = current && current->isReady();
    // Makes cue n the current one, every cue rewound, as the master's list stands.
    const auto makeCurrent = [this, target] {
        const auto now = currentItem();
        if (now && now->index() == target->index())
            return;
        if (now)
            now->markAsCurrent(false);
        setCurrentItem(target);
        target->markAsCurrent(true);
        for (const auto& cue : *items())
            cue->rewind();
    };

    if (key == QLatin1String(QVTClockNotification::SeekNMCCommand)) {
        if (!available)
            return;
        makeCurrent();
        const auto cue = currentItem();
        const double to = masterClock_->secondsForSMPTEString(cue->originalItemStartSMPTETime()) +
                          masterClock_->secondsForSMPTEString(time);
        setSeekPerformedByGoto(true);
        locateClockToTime(to, [weakSelf = weak_from_this()] {
            if (const auto self = weakSelf.lock())
                self->setSeekPerformedByGoto(false);
        });
    } else if (key == QLatin1String(QVTClockNotification::GotoNMCCommand)) {
        if (!available)
            return;
        makeCurrent();
        performGotoToFromEnd(pair.value(1).toDouble());
    } else if (key == QLatin1String(QVTClockNotification::PlayNMCCommand)) {
        const auto play = [weakSelf = weak_from_this(), makeCurrent, time] {
            const auto self = weakSelf.lock();
            if (!self)
                return;
            const auto cue = self->currentItem();
            if (!cue || !cue->isReady())
                return;
            makeCurrent();
            const auto now = self->currentItem();
            if (now->currentTimeSMPTE() != time) {
                KLOG_INFO("currentTimeSMPTE: {}\tcuetime: {}", now->currentTimeSMPTE().toStdString(),
                          time.toStdString());
                self->setShouldStartPlaybackAfterStartTimeHasBeenSet(true);
                self->seekToSMPTETimeOnCurrentItem(time);
            } else if (const auto app = self->delegate()) {
                if (KavioButtonInterface* button = app->playButton())
                    button->setStateByOSC(1);
                app->performTogglePlayWithCompletedHandler({});
            }
        };
        if (!isPlaying()) {
            play();
        } else if (!current || current->index() != n || current->currentTimeSMPTE() != time) {
            stopClockWithCompletedHandler([play] { DispatchQueue::main().async(play); });
        }
    } else if (key == QLatin1String(QVTClockNotification::StopNMCCommand)) {
        if (isPlaying()) {
            // Stops where it is; the master's stop time is not located to (the operator's
            // transport on the backup stays as the show left it).
            if (const auto app = delegate()) {
                if (KavioButtonInterface* button = app->playButton())
                    button->setStateByOSC(0);
                app->performTogglePlayWithCompletedHandler({});
            }
        } else if (available) {
            makeCurrent();
            seekToSMPTETimeOnCurrentItem(time);
        }
    } else if (key == QLatin1String(QVTClockNotification::RewindNMCCommand)) {
        if (!available)
            return;
        if (current->index() == n)
            rewindCurrentItem();
        else
            makeCurrent();
    }
}
