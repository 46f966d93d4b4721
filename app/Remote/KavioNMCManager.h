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

// A cue command as the cue list hands it to the link: the command code, the time ("" for the
// commands that carry none), the frame rate and the cue's whole 1-based index (the link refuses
// an index its byte cannot carry rather than wrap it onto another cue).
struct KavioNMCCueCommand {
    KavioNetworkLinkCommand command = KavioNetworkLinkCommandStop;
    QString smpteTime;
    uint8_t fps = 0;
    uint64_t cue = 0;
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
    // the frame rate and the cue number.
    void sendKavioPlay(const QString& smpteTime, uint8_t fps, uint8_t cue);
    void sendKavioStop(const QString& smpteTime, uint8_t fps, uint8_t cue);
    // The cue commands a backup mirrors (play 130, jump 120, rewind 105, seek 100, goto 110,
    // panic 160), sent only while this copy is network master. Any thread; they never block.
    void sendKavioPlayCue(uint64_t cue, uint8_t fps);
    void sendKavioJumpToCue(uint64_t cue, uint8_t fps);
    void sendKavioRewindCue(uint64_t cue, uint8_t fps);
    void sendKavioSeek(const QString& smpteTime, uint8_t fps, uint64_t cue);
    void sendKavioGoto(const QString& smpteTime, uint8_t fps, uint64_t cue);
    void sendKavioPanic();
    // Tests: every cue command is handed to the observer (empty: none) before it is sent.
    using CueCommandObserver = std::function<void(const KavioNMCCueCommand&)>;
    void setCueCommandObserver(CueCommandObserver observer);

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
    void sendCueCommand(KavioNMCCueCommand command);

    std::mutex delegateMutex_;
    std::mutex observerMutex_;
    CueCommandObserver cueCommandObserver_;
    std::weak_ptr<QVTClock> delegate_;
};
