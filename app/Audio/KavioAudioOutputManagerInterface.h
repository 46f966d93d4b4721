#pragma once
// What cues and their audio players read of the audio output manager: the output settings.
// Any thread (the values are read as they stand).

#include <QList>

#include <cstdint>
#include <optional>

class KavioAudioOutputManagerInterface {
public:
    virtual ~KavioAudioOutputManagerInterface() = default;

    // 10 streamers only (device output muted), 20 a device or the default, 30 default + streamers.
    virtual int32_t audioOutputKind() const = 0;
    // "Disabled", or a disconnected device: the device output is muted.
    virtual bool isDisabled() const = 0;
    // Cue audio is decoded to stereo and processed on 2 channels with the stereo layout.
    virtual bool shouldUseStereoDownMix() const = 0;
    // Per output channel, the 1-based cue channel routed there, 0 for none.
    virtual QList<int> outputChannelMapping() const = 0;
    // The global audio delay in milliseconds.
    virtual int32_t delayInMs() const = 0;
    // What cues read when they set up their audio and volume (the defaults: a device exists,
    // none is chosen, unity main volume).
    virtual bool hasNoOutputDeviceAtAll() const { return false; }
    virtual std::optional<uint32_t> selectedOutputDeviceUID() const { return std::nullopt; }
    // The main volume slider's linear gain.
    virtual double mainVolume() const { return 1.0; }
};
