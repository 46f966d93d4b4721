#include "Remote/KavioNMCManager.h"

#include "Clock/QVTClock.h"

std::optional<NMC_Packet> NMC_Packet::fromBytes(std::span<const uint8_t> bytes, QString* error)
{
    const auto refuse = [error](QString reason) -> std::optional<NMC_Packet> {
        if (error) {
            *error = std::move(reason);
        }
        return std::nullopt;
    };
    if (bytes.size() < kSize) {
        return refuse(QStringLiteral("packet of %1 bytes, shorter than %2").arg(bytes.size()).arg(kSize));
    }
    NMC_Packet packet;
    packet.command = bytes[4];
    packet.smptetime = {bytes[5], bytes[6], bytes[7], bytes[8]};
    packet.fps = bytes[9];
    packet.cue = bytes[10];
    if (packet.fps != 24 && packet.fps != 25 && packet.fps != 30) {
        return refuse(QStringLiteral("frame rate %1").arg(packet.fps));
    }
    if (packet.smptetime.minutes > 59 || packet.smptetime.frames >= packet.fps) {
        return refuse(QStringLiteral("time %1 out of range at %2 fps").arg(packet.timeString()).arg(packet.fps));
    }
    return packet;
}

QString NMC_Packet::timeString() const
{
    return QString::asprintf("%02d:%02d:%02d:%02d", smptetime.hours, smptetime.minutes, smptetime.seconds,
                             smptetime.frames);
}

KavioNMCManager& KavioNMCManager::sharedManager()
{
    static KavioNMCManager manager;
    return manager;
}

// No master exists yet (see the header): the sends leave everything as it is, but a locate
// still consumes the one-shot suppression, which belongs to the next locate only.
void KavioNMCManager::sendPlayOnLocation(const QString&, uint8_t, uint8_t) {}
void KavioNMCManager::sendStopOnLocation(const QString&, uint8_t, uint8_t) {}
void KavioNMCManager::sendLocateOnLocation(const QString&, uint8_t, uint8_t)
{
    shouldSkipSendingNextLocate_.store(false);
}

// TODO(network link): packets to the followers once the link has endpoints and a master.
void KavioNMCManager::sendCueCommand(KavioNMCCueCommand command)
{
    CueCommandObserver observer;
    {
        std::lock_guard lock(observerMutex_);
        observer = cueCommandObserver_;
    }
    if (observer) {
        observer(command);
    }
}

void KavioNMCManager::sendKavioPlay(const QString& smpteTime, uint8_t fps, uint8_t cue)
{
    sendCueCommand({KavioNetworkLinkCommandBackupPlay, smpteTime, fps, cue});
}

void KavioNMCManager::sendKavioStop(const QString& smpteTime, uint8_t fps, uint8_t cue)
{
    sendCueCommand({KavioNetworkLinkCommandBackupStop, smpteTime, fps, cue});
}

void KavioNMCManager::sendKavioPlayCue(uint64_t cue, uint8_t fps)
{
    sendCueCommand({KavioNetworkLinkCommandJumpToCueAndPlay, {}, fps, cue});
}

void KavioNMCManager::sendKavioJumpToCue(uint64_t cue, uint8_t fps)
{
    sendCueCommand({KavioNetworkLinkCommandJumpToCue, {}, fps, cue});
}

void KavioNMCManager::sendKavioRewindCue(uint64_t cue, uint8_t fps)
{
    sendCueCommand({KavioNetworkLinkCommandRewindCue, {}, fps, cue});
}

void KavioNMCManager::sendKavioSeek(const QString& smpteTime, uint8_t fps, uint64_t cue)
{
    sendCueCommand({KavioNetworkLinkCommandSeek, smpteTime, fps, cue});
}

void KavioNMCManager::sendKavioGoto(const QString& smpteTime, uint8_t fps, uint64_t cue)
{
    sendCueCommand({KavioNetworkLinkCommandGoto, smpteTime, fps, cue});
}

void KavioNMCManager::sendKavioPanic()
{
    sendCueCommand({KavioNetworkLinkCommandPanic, {}, 0, 0});
}

void KavioNMCManager::setCueCommandObserver(CueCommandObserver observer)
{
    std::lock_guard lock(observerMutex_);
    cueCommandObserver_ = std::move(observer);
}

bool KavioNMCManager::shouldSkipSendingNextLocate() const
{
    return shouldSkipSendingNextLocate_.load();
}

void KavioNMCManager::setShouldSkipSendingNextLocate(bool skip)
{
    shouldSkipSendingNextLocate_.store(skip);
}

bool KavioNMCManager::isKavioBackup() const
{
    return isKavioBackup_.load();
}

void KavioNMCManager::setIsKavioBackup(bool backup)
{
    isKavioBackup_.store(backup);
}

void KavioNMCManager::setDelegate(const std::weak_ptr<QVTClock>& delegate)
{
    std::lock_guard lock(delegateMutex_);
    delegate_ = delegate;
}

void KavioNMCManager::handleNMCData(std::span<const uint8_t> packet)
{
    std::shared_ptr<QVTClock> delegate;
    {
        std::lock_guard lock(delegateMutex_);
        delegate = delegate_.lock();
    }
    if (delegate) {
        delegate->receivedNMCMessage(packet);
    }
}
