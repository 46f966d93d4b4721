#pragma once
// Output settings, a recording audio player and a controller with audio for the cue audio
// suites.

#include "Audio/KavioAudioOutputManagerInterface.h"
#include "CueTestSupport.h"
#include "DispatchQueue.h"
#include "NotificationCenter.h"

#include <atomic>

#include <memory>
#include <vector>

class FakeAudioOutput : public KavioAudioOutputManagerInterface {
public:
    int32_t audioOutputKind() const override { return 30; }
    bool isDisabled() const override { return disabled; }
    bool shouldUseStereoDownMix() const override { return downmix; }
    QList<int> outputChannelMapping() const override { return mapping; }
    int32_t delayInMs() const override { return delay; }
    bool hasNoOutputDeviceAtAll() const override { return noDevice; }
    std::optional<uint32_t> selectedOutputDeviceUID() const override { return 7; }
    double mainVolume() const override { return main; }

    bool disabled = false;
    bool downmix = false;
    bool noDevice = false;
    QList<int> mapping = {1, 2, 3, 4, 5, 6};
    int32_t delay = 0;
    double main = 1.0;
};

class RecordingAudioPlayer : public KavioCueAudioPlayer {
public:
    QList<int> channelMapping() const override { return mapping; }
    int deviceChannels() const override { return channels; }
    void setOutputChannelMapping(const QList<int>& m, int maxChannels) override
    {
        mapping = m;
        channels = maxChannels;
    }
    double duration() const override { return length; }
    int realChannels() const override { return std::min(fileChannels, channels); }
    void setRate(float) override {}
    void stop() override { ++stops; }
    void play() override {}
    void setCurrentTime(double) override {}
    void removeResources() override { ++removals; }
    float volume() const override { return gain; }
    void setVolume(float v) override
    {
        gain = v;
        volumes.push_back(v);
    }
    void setDelay(int ms) override { delay = ms; }
    void scheduleBuffer(const std::shared_ptr<const PcmBuffer>& buffer) override { buffers.push_back(buffer); }
    void checkForAudioKindChanged() override { ++kindChecks; }

    QList<int> mapping = {1, 2};
    int channels = 2;
    int fileChannels = 2;
    double length = 10;
    float gain = -1;
    std::vector<float> volumes;
    int delay = -1;
    int stops = 0, removals = 0, kindChecks = 0;
    std::vector<std::shared_ptr<const PcmBuffer>> buffers;
};

class AudioController : public FakeKavioVideoItemManager {
public:
    std::shared_ptr<FakeAudioOutput> output = std::make_shared<FakeAudioOutput>();
    bool withOutput = true;
    DispatchQueue queue{"com.kavio.waveformQeue"};
    bool defaultSoundOn = true;
    int normaliseRequests = 0;
    QStringList transcodes;

    std::shared_ptr<KavioAudioOutputManagerInterface> audioOutputManager() const override
    {
        return withOutput ? output : nullptr;
    }
    DispatchQueue* waveformQueue() const override { return const_cast<DispatchQueue*>(&queue); }
    bool defaultToggleAudioIsOn() const override { return defaultSoundOn; }
    void normalizeAudioOnSelectedItems() override { ++normaliseRequests; }
    void transcodeAudioOfItem(const std::shared_ptr<KavioVideoItem>&, const QString& path) override
    {
        transcodes << path;
    }
};

// Counts the waveform jobs' start and end notifications while it lives.
class AudioTestPostCounter {
public:
    AudioTestPostCounter()
    {
        auto& center = NotificationCenter::defaultCenter();
        center.addObserver(this, QStringLiteral("KavioWaveformGeneratingDidStartNotification"), nullptr,
                           [this](const Notification&) { ++starts_; });
        center.addObserver(this, QStringLiteral("KavioWaveformGeneratingDidEndNotification"), nullptr,
                           [this](const Notification&) { ++ends_; });
    }
    ~AudioTestPostCounter() { NotificationCenter::defaultCenter().removeObserver(this); }
    int starts() const { return starts_; }
    int ends() const { return ends_; }

private:
    std::atomic<int> starts_{0}, ends_{0};
};

// An audio-file cue of `controller` at full volume on the default routing; its audio is not set
// up yet.
inline std::shared_ptr<KavioVideoItem> makeAudioFileCue(const std::shared_ptr<KavioVideoItemManagerInterface>& controller,
                                                       const std::string& path)
{
    auto cue = std::make_shared<KavioVideoItem>();
    cue->setManager(controller);
    cue->setMediaType(KavioMediaTypeAudio);
    cue->setMediaPath(QString::fromStdString(path));
    cue->setIsUsingDefaultAudioChannels(true);
    cue->setVolume(1.0f);
    cue->setFadeOpacity(1.0f);
    cue->setAudioFade(1.0f);
    return cue;
}
