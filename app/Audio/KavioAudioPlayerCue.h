#pragma once
// What a cue audio player asks of its cue. The cue implements it and owns its players; a player
// holds the cue weakly and behaves as for a cue at time 0 that is not current once it is gone.
// KavioVideoItem answers it through a small object it owns (its players hold that weakly).

#include <QString>

#include <memory>

class KavioAudioOutputManagerInterface;
class KavioAudioPlayer;

class KavioAudioPlayerCue {
public:
    static constexpr long kMediaTypeAudio = 10;

    virtual ~KavioAudioPlayerCue() = default;

    // The media time (seconds) at which `player` should be. Main thread.
    virtual double currentTimeForAudioWithPlayer(const KavioAudioPlayer* player) const = 0;
    virtual QString resolvedMediaPath() const = 0;
    virtual long mediaType() const = 0;
    virtual void setIsMissing(bool missing) = 0;
    // The cue is the current cue: its audio goes to deck A of the streamers, else deck B. Any
    // thread.
    virtual bool isCurrent() const = 0;
    virtual bool isUsingDefaultAudioChannels() const = 0;
    // Gives every player of the cue the default routing again (after a live format change).
    virtual void setPlayersToDefaultChannelMapping() = 0;
    virtual long index() const = 0;
    // Null while the program has none (tests): the player then takes kind 30, enabled output.
    virtual std::shared_ptr<KavioAudioOutputManagerInterface> audioOutputManager() const = 0;
};
