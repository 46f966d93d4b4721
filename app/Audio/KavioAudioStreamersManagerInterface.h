#pragma once
// The process-wide manager of the per-output audio streamers, as the cue list controller and the
// video outputs use it. The audio engine implements it; tests give a recording fake.

#include <QList>
#include <QString>

#include <memory>

class QVTAudioStreamer;

class KavioAudioStreamersManagerInterface {
public:
    virtual ~KavioAudioStreamersManagerInterface() = default;

    // --- Cue list controller ------------------------------------------------------------------
    // The channel mapping of deck A (the current cue): per output channel, the 1-based source
    // channel, 0 silent. Any thread.
    virtual void setChannelMappingA(const QList<int>& mapping) = 0;
    // Clock-driven sequencing. Any thread: the clock thread calls them at cue changes.
    // Deck B (the incoming cue) is mixed in while true.
    virtual void setIsMixing(bool mixing) = 0;
    virtual bool isMixing() const = 0;
    // Every streamer swaps decks A and B: the incoming cue becomes current.
    virtual void switchBuffers() = 0;
    virtual void setVolumeA(double volume) = 0;
    virtual void setVolumeB(double volume) = 0;
    virtual void setChannelMappingB(const QList<int>& mapping) = 0;
    // Frame composition
    // Where every streamer's crossfade from deck A to deck B stands, 0..1. Render thread.
    virtual void setMixProgress(float progress) = 0;

    // Video outputs
    // Creates the output's streamer at 48000 Hz with the program's channel count; from then on
    // the manager feeds it the cues' audio. Main thread.
    virtual void createAudioStreamerWithUUID(const QString& uuid) = 0;
    // Removes and releases that output's streamer. Any thread.
    virtual void removeStreamerWithUUID(const QString& uuid) = 0;
    // That output's streamer, or nullptr. Any thread.
    virtual std::shared_ptr<QVTAudioStreamer> streamerWithUUID(const QString& uuid) const = 0;
};
