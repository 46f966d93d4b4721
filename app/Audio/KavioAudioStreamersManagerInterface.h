#pragma once
// What the video outputs ask of the audio streamers manager: one streamer per output, keyed by
// the output's UUID. The streamers manager implements it; tests give a recording fake.

#include <QString>

#include <memory>

class QVTAudioStreamer;

class KavioAudioStreamersManagerInterface {
public:
    virtual ~KavioAudioStreamersManagerInterface() = default;

    // Video outputs
    // Creates the output's streamer at 48000 Hz with the program's channel count; from then on
    // the manager feeds it the cues' audio. Main thread.
    virtual void createAudioStreamerWithUUID(const QString& uuid) = 0;
    // Removes and releases that output's streamer. Any thread.
    virtual void removeStreamerWithUUID(const QString& uuid) = 0;
    // That output's streamer, or nullptr. Any thread.
    virtual std::shared_ptr<QVTAudioStreamer> streamerWithUUID(const QString& uuid) const = 0;
};
