// The cue's audio routing and its one volume formula: the output's default routing or the
// cue's own, following the output's channel count, and every level acting on the cue.

#include "Cue/KavioVideoItem.h"

#include "Audio/AudioAnalyzer.h"
#include "Audio/KavioAudioOutputManager.h"
#include "Audio/KavioAudioOutputPanel.h"
#include "Audio/KavioAudioOutputManagerInterface.h"
#include "Log.h"

#include <algorithm>

void KavioVideoItem::volumeChanged()
{
    // Also runs on the render path: reads values and sets one volume, nothing else.
    const auto player = audioPlayer();
    if (!player)
        return;
    const auto controller = manager();
    const auto output = controller ? controller->audioOutputManager() : nullptr;
    const auto normal = normalAudioPlayer_.load();
    const auto helper = loopHelperAudioPlayer_;
    std::shared_ptr<KavioCueAudioPlayer> target = player;
    // During a looping cue's transition the waiting player of the pair takes the volume.
    if (shouldOperateWithTransitionHelper())
        target = player == normal ? helper : normal;
    if (output && output->isDisabled()) {
        if (target)
            target->setVolume(0.0f);
    } else if (target) {
        float v = float(output ? output->mainVolume() : 1.0) * volume();
        v = (controller ? controller->masterSliderValue() : 1.0f) * v;
        v = v * fadeOpacity();
        v = v * audioFade();
        v = float(int(soundButton_.state)) * v;
        // Normalising only turns down: the gain handed to a player stays at unity or below.
        target->setVolume(std::clamp(v, 0.0f, 1.0f));
    }
    for (const auto& each : {normal, helper})
        if (each)
            each->checkForAudioKindChanged();
}

void KavioVideoItem::audioOutputRoutingChangedGlobally()
{
    setPlayersToDefaultChannelMapping();
}

void KavioVideoItem::setPlayersToDefaultChannelMapping()
{
    const auto output = audioOutputManager();
    if (!audioPlayer() || !output || !isUsingDefaultAudioChannels())
        return;
    setChannelMappingForPlayers(output->outputChannelMapping());
}

void KavioVideoItem::setChannelMappingForPlayers(const QList<int>& mapping)
{
    const auto output = audioOutputManager();
    const int maxChannels = output ? int(output->outputChannelMapping().size()) : int(mapping.size());
    for (const auto& player : {normalAudioPlayer_.load(), loopHelperAudioPlayer_})
        if (player)
            player->setOutputChannelMapping(mapping, maxChannels);
}

void KavioVideoItem::audioChannelsChanged(const QVariantMap& userInfo)
{
    const auto player = audioPlayer();
    if (!player)
        return;
    const auto controller = manager();
    const auto output = audioOutputManager();
    if (controller)
        controller->setHasUnsavedChanges(true);
    const auto device = output ? output->selectedOutputDeviceUID() : std::nullopt;
    KLOG_INFO("audioDeviceChanged: {}", device ? std::to_string(*device) : std::string("(null)"));
    const int oldChannels = player->deviceChannels();
    const bool oldDownMix = player->isUsingStereoDownMix();
    // A notification without a mapping (no device chosen) leaves the routing as it is.
    const QVariantList entries = userInfo.value(KavioAudioNotification::ChannelMappingKey).toList();
    if (isUsingDefaultAudioChannels() && !entries.isEmpty()) {
        QList<int> mapping;
        for (const QVariant& entry : entries)
            mapping.append(entry.toInt());
        for (const auto& each : {normalAudioPlayer_.load(), loopHelperAudioPlayer_})
            if (each)
                each->setOutputChannelMapping(mapping, int(mapping.size()));
    }
    player->setVolume(0.0f);
    volumeChanged();
    pullInspectorIfCurrent();
    queueOnMain([](KavioVideoItem& cue) {
        if (const auto current = cue.audioPlayer()) {
            cue.audioMeterChannels_ = current->deviceChannels();
            cue.rebuildAudioMeter();
        }
    });
    const bool downMix = output ? output->shouldUseStereoDownMix() : oldDownMix;
    if (player->deviceChannels() != oldChannels || downMix != oldDownMix) {
        if (const auto running = analyzer_.load())
            running->setIsCancelled(true);
        analyzer_.store(nullptr);
        generateAudioWaveform();
    }
}
