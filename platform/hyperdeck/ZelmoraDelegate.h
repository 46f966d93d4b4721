#pragma once
// What the HyperDeck-protocol server asks of the program: every fact it reports and every action
// it takes goes through these twenty operations, in this order (ZelmoraProtocol.h says which
// command asks which). The server calls them on its own thread, one at a time; an
// implementation moves work to the threads it needs and must not wait for the server.

#include <QString>
#include <QStringList>

#include <cstdint>

class ZelmoraDelegate {
public:
    virtual ~ZelmoraDelegate() = default;

    // Transport info.
    virtual QString hyperdeck_playbackStatus() = 0;    // 1: "play" or "stopped"
    virtual std::int32_t hyperdeck_playbackSpeed() = 0;  // 2: percent
    virtual std::int32_t hyperdeck_slotID() = 0;       // 3
    virtual QString hyperdeck_clipID() = 0;            // 4: "none" without a current clip
    virtual QString hyperdeck_displayTimecode() = 0;   // 5: SMPTE text
    virtual QString hyperdeck_isSingleClip() = 0;      // 6: "true" or "false"
    virtual QString hyperdeck_isLooping() = 0;         // 7: "true" or "false"
    virtual QString hyperdeck_videoFormat() = 0;       // 8
    // The clip list.
    virtual std::int32_t hyperdeck_clipCount() = 0;    // 9
    virtual QStringList hyperdeck_clipsInfo() = 0;     // 10: one "<id>: <name> <start> <length>" per clip
    // Transport.
    virtual void hyperdeck_startPlayback() = 0;        // 11
    virtual void hyperdeck_stopPlayback() = 0;         // 12
    virtual void hyperdeck_gotoClip(std::uint64_t clipID) = 0;          // 13
    virtual void hyperdeck_gotoWithTimecode(const QString& timecode) = 0;  // 14: "+", "-" or no sign
    // Play's "single clip" and "loop".
    virtual void hyperdeck_makePauseAtEndOnAllItems() = 0;   // 15
    virtual void hyperdeck_makePauseAtEndOffAllItems() = 0;  // 16
    virtual void hyperdeck_makeLoopOnCurrentItem() = 0;      // 17
    virtual void hyperdeck_makeLoopOffCurrentItem() = 0;     // 18
    virtual void hyperdeck_makeLoopOnPlaylist() = 0;         // 19
    virtual void hyperdeck_makeLoopOffPlaylist() = 0;        // 20
};
