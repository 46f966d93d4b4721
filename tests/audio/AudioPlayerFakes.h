#pragma once
// A recording cue and output settings for the cue audio player's tests.

#include "Audio/KavioAudioOutputManagerInterface.h"
#include "Audio/KavioAudioPlayerCue.h"

#include <atomic>

class FakeOutputSettings : public KavioAudioOutputManagerInterface {
public:
    int32_t audioOutputKind() const override { return kind; }
    bool isDisabled() const override { return disabled; }
    bool shouldUseStereoDownMix() const override { return downmix; }
    QList<int> outputChannelMapping() const override { return mapping; }
    int32_t delayInMs() const override { return delay; }

    int32_t kind = 30;
    bool disabled = false;
    bool downmix = false;
    QList<int> mapping = {1, 2, 3, 4, 5, 6, 7, 8};
    int32_t delay = 0;
};

class FakeCue : public KavioAudioPlayerCue {
public:
    double currentTimeForAudioWithPlayer(const KavioAudioPlayer*) const override { return time; }
    QString resolvedMediaPath() const override { return path; }
    long mediaType() const override { return type; }
    void setIsMissing(bool m) override { missing = m; }
    bool isCurrent() const override { return current; }
    bool isUsingDefaultAudioChannels() const override { return defaultChannels; }
    void setPlayersToDefaultChannelMapping() override { ++defaultMappingResets; }
    long index() const override { return 1; }
    std::shared_ptr<KavioAudioOutputManagerInterface> audioOutputManager() const override {
        return manager ? manager : settings;
    }

    double time = 0;
    QString path;
    long type = 20;
    bool missing = false;
    std::atomic<bool> current{true};
    bool defaultChannels = true;
    int defaultMappingResets = 0;
    std::shared_ptr<FakeOutputSettings> settings = std::make_shared<FakeOutputSettings>();
    // The program's output manager, when a test has one; it then answers instead of settings.
    std::shared_ptr<KavioAudioOutputManagerInterface> manager;
};
