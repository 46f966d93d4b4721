#pragma once
// The network master/slave link: one copy of the program (the network master) sends its
// transport events to the copies that follow it.
//
// This is the part of the link that the master clock talks to. This copy becomes network master
// only through the link's master switch; until the link's endpoints and that switch exist there
// is no master, so every send does nothing, the locate suppression included.

#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

class QVTClock;

// The command byte of a network-link packet. Codes below 100 are the transport commands a plain
// slave obeys; 100 and above are the cue commands a backup mirrors.
enum KavioNetworkLinkCommand : uint8_t {
    KavioNetworkLinkCommandStop = 1,  // stop, then locate to the packet's time
    KavioNetworkLinkCommandPlay = 2,
    KavioNetworkLinkCommandLocate = 10,
    KavioNetworkLinkCommandSeek = 100,
    KavioNetworkLinkCommandRewindCue = 105,
    KavioNetworkLinkCommandGoto = 110,
    KavioNetworkLinkCommandJumpToCue = 120,
    KavioNetworkLinkCommandJumpToCueAndPlay = 130,
    KavioNetworkLinkCommandBackupStop = 140,
    KavioNetworkLinkCommandBackupPlay = 150,
    KavioNetworkLinkCommandPanic = 160,
};

// A network-link packet: 12 bytes, of which byte 4 is the command, bytes 5-8 the time (hours,
// minutes, seconds, frames), byte 9 the frame rate and byte 10 the cue number; bytes 0-3 (a
// header) and 11 are not read.
struct NMC_Packet {
    static constexpr size_t kSize = 12;

    struct SMPTETime {
        uint8_t hours = 0;
        uint8_t minutes = 0;
        uint8_t seconds = 0;
        uint8_t frames = 0;
    };

    uint8_t command = 0;
    SMPTETime smptetime;
    uint8_t fps = 0;
    uint8_t cue = 0;

    // Reads a received packet; pure. Null, with the reason in `error` when given, for fewer than
    // 12 bytes, a frame rate other than 24, 25 or 30, minutes above 59 or frames not below the
    // frame rate. Hours and seconds are taken as they come (a goto counts whole seconds).
    static std::optional<NMC_Packet> fromBytes(std::span<const uint8_t> bytes, QString* error = nullptr);
    // The time as "HH:MM:SS:FF".
    QString timeString() const;
};

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

    // Cue commands to a backup: play (150) and stop (140) with the current cue's elapsed time,
    // the frame rate and the cue number. TODO(network link): the packets and the master
    // endpoint; until then, as with no master endpoint, nothing is sent. Any thread.
    void sendKavioPlay(const QString& smpteTime, uint8_t fps, uint8_t cue);
    void sendKavioStop(const QString& smpteTime, uint8_t fps, uint8_t cue);

    // Tests: sees every cue command as it is asked for (its command code and arguments), on
    // the caller's thread. An empty hook removes it.
    using CommandHook = std::function<void(KavioNetworkLinkCommand, const QString&, uint8_t, uint8_t)>;
    void setCommandHook(CommandHook hook);

    // One-shot suppression of the next locate, set by the cue list when it moves the clock itself.
    bool shouldSkipSendingNextLocate() const;
    void setShouldSkipSendingNextLocate(bool skip);

    // This copy follows another copy of the program (a backup, mirroring its cue commands)
    // rather than only its transport. Set when the followed master is chosen. Any thread.
    bool isKavioBackup() const;
    void setIsKavioBackup(bool backup);

    // The receiver of the packets: the master clock, held weakly. Any thread.
    void setDelegate(const std::weak_ptr<QVTClock>& delegate);
    // Hands a received packet to the delegate's receivedNMCMessage, on the calling thread (the
    // link's); nothing without a delegate.
    void handleNMCData(std::span<const uint8_t> packet);

private:
    KavioNMCManager() = default;

    std::atomic<bool> shouldSkipSendingNextLocate_{false};
    std::atomic<bool> isKavioBackup_{false};
    void recordCommand(KavioNetworkLinkCommand command, const QString& smpteTime, uint8_t fps, uint8_t cue);

    std::mutex hookMutex_;
    CommandHook hook_;
    std::mutex delegateMutex_;
    std::weak_ptr<QVTClock> delegate_;
};
