#pragma once
// The network master/slave link: one copy of the program (the network master) sends its
// transport events to the copies that follow it.
//
// This is the part of the link that the master clock talks to. This copy becomes network master
// only through the link's master switch; until the link's endpoints and that switch exist there
// is no master, so every send does nothing, the locate suppression included.

#include <QString>

#include <atomic>
#include <cstdint>

class KavioNMCManager {
public:
    // The single instance, created on first use; lives for the process. Any thread.
    static KavioNMCManager& sharedManager();

    KavioNMCManager(const KavioNMCManager&) = delete;
    KavioNMCManager& operator=(const KavioNMCManager&) = delete;

    // Transport commands to the followers (stop 1, play 2, locate 10), each with an SMPTE time,
    // the frame rate (24, 25 or 30) and a cue number (0 for the clock's commands). Sent only
    // while this copy is network master; a locate while the suppression is set is not sent and
    // clears the suppression. Called from the clock thread and the main thread; they never block.
    void sendPlayOnLocation(const QString& smpteTime, uint8_t fps, uint8_t cue);
    void sendStopOnLocation(const QString& smpteTime, uint8_t fps, uint8_t cue);
    void sendLocateOnLocation(const QString& smpteTime, uint8_t fps, uint8_t cue);

    // One-shot suppression of the next locate, set by the cue list when it moves the clock itself.
    bool shouldSkipSendingNextLocate() const;
    void setShouldSkipSendingNextLocate(bool skip);

private:
    KavioNMCManager() = default;

    std::atomic<bool> shouldSkipSendingNextLocate_{false};
};
