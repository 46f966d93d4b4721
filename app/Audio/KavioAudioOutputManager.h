#pragma once
// Owner of the program's audio output settings and controller of the preferences' audio
// section: which output the sound goes to (a device, the system's default, the streamers of the
// NDI and SDI outputs, both, or nothing), how many channels the engine processes and whether a
// stereo down-mix is used, the routing, the master volume and the global delay. It turns each
// choice into the engine's restart or channel-change sequence, switches the streamers, tells
// the cues by notification, follows the device list and the default device, and keeps its
// settings as the record stored under "audioOutputData".
//
// Threads: everything on the main thread, except the getters of KavioAudioOutputManagerInterface
// and mainVolume(), which any thread may read. Device events arrive on the backend's thread and
// move to the main queue.
//
// Ownership: one instance, made with the main window; the controller reaches it through its
// interface. It owns its panel until the preferences window takes it (Qt parent).

#include "Audio/KavioAudioOutputManagerInterface.h"
#include "AudioBackend.h"
#include "NotificationCenter.h"

#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class KavioAudioEngine;
class KavioAudioOutputPanel;
class KavioAudioStreamersManager;
class KavioVideoItemManagerInterface;

namespace KavioAudioNotification {
inline const QString ChannelsChanged = QStringLiteral("KavioAudioChannelsChanged");
inline const QString RoutingChanged = QStringLiteral("KavioAudioRoutingChanged");
inline const QString MasterVolumeChanged = QStringLiteral("KavioAudioMasterVolumeChanged");
inline const QString DelayChanged = QStringLiteral("KavioAudioDelayChanged");
inline const QString SetupChanged = QStringLiteral("KavioAudioSetupChanged");
inline const QString ProjectHasUnsavedChanges = QStringLiteral("ProjectHasUnsavedChanges");
inline const QString DeviceIDKey = QStringLiteral("KavioAudioDeviceIDKey");
inline const QString ChannelMappingKey = QStringLiteral("KavioAudioChannelMapping");
}  // namespace KavioAudioNotification

class KavioAudioOutputManager : public KavioAudioOutputManagerInterface {
public:
    static constexpr int32_t kKindStreamsOnly = 10;
    static constexpr int32_t kKindDevice = 20;
    static constexpr int32_t kKindDefaultAndStreams = 30;
    static inline const QString kDisconnectedSuffix = QStringLiteral(" - DISCONNECTED");

    KavioAudioOutputManager(KavioAudioEngine& engine, KavioAudioStreamersManager& streamers);
    // On the shared engine and streamers manager.
    KavioAudioOutputManager();
    ~KavioAudioOutputManager() override;
    KavioAudioOutputManager(const KavioAudioOutputManager&) = delete;
    KavioAudioOutputManager& operator=(const KavioAudioOutputManager&) = delete;

    KavioAudioOutputPanel* panel() const { return panel_; }
    // The controller, asked whether a project is loading (the "Blackmagic" alert waits then).
    void setController(std::weak_ptr<KavioVideoItemManagerInterface> controller);

    // Reads the defaults, builds the device list, chooses the output and channels (starting the
    // engine the first time) and starts following the system's devices. Once, at launch.
    void startManager();
    QVariantMap saveData() const;
    // nil does nothing; missing keys keep what is there.
    void loadWithData(const QVariantMap& record);

    // KavioAudioOutputManagerInterface.
    int32_t audioOutputKind() const override { return audioOutputKind_; }
    bool isDisabled() const override { return isDisabled_; }
    bool shouldUseStereoDownMix() const override { return shouldUseStereoDownMix_; }
    QList<int> outputChannelMapping() const override;
    int32_t delayInMs() const override { return delay_; }

    KavioAudioEngine& engine() const { return engine_; }
    double sampleRate() const { return 48000.0; }
    bool isSystemsDefault() const { return isSystemsDefault_; }
    bool hasNoOutputDeviceAtAll() const override { return hasNoOutputDeviceAtAll_; }
    // The device the engine is bound to (our device id), if any.
    std::optional<AudioDeviceID> selectedOutputDeviceUID() const override;
    // The master volume slider's linear gain.
    double mainVolume() const override { return mainVolume_; }
    bool isMainVolumeEnabled() const;
    AudioDeviceID systemDefaultAudioDeviceID() const { return defaultAudioDeviceID_; }
    void grabDefaultAudioDeviceID();

    // Actions of the panel (also called from code).
    void orderFrontAudioSetupWindow();
    void audioDeviceSelected();
    void changeAudioChannels();
    void audioChannelsSelected();
    enum class VolumeSender { Slider, Field };
    void masterVolumeChanged(VolumeSender sender = VolumeSender::Slider);
    void audioDelayChanged();
    void changeExtendMonoFiles();
    void changeAudioNormalizationEnabled();

    // The steps the actions and device events are made of.
    void buildAudioDevicesList();
    void handleAudioDeviceSelectionWithLastSelectedOption(const QString& title, const std::function<void()>& ifChanged);
    void restartAudioEngineWithNewSettings();
    void channelRoutingChanged();

private:
    void applyChannelCount(int channels);
    // The grid is editable exactly while no stereo down-mix is used.
    void applyGridEditing();
    void observeSystem();
    bool projectIsLoading() const;

    KavioAudioEngine& engine_;
    KavioAudioStreamersManager& streamers_;
    QPointer<KavioAudioOutputPanel> panel_;
    std::weak_ptr<KavioVideoItemManagerInterface> controller_;
    std::atomic<int32_t> delay_{0};
    std::atomic<AudioDeviceID> defaultAudioDeviceID_{0};
    std::atomic<bool> isDisabled_{false};
    std::atomic<bool> shouldUseStereoDownMix_{true};
    std::atomic<bool> isSystemsDefault_{true};
    std::atomic<bool> hasNoOutputDeviceAtAll_{true};
    std::atomic<int32_t> audioOutputKind_{kKindDefaultAndStreams};
    std::atomic<AudioDeviceID> selectedOutputDevice_{0};  // 0: none
    std::atomic<double> mainVolume_{1.0};
    mutable std::mutex mappingGuard_;
    mutable QList<int> mapping_;
    std::vector<NotificationCenter::Token> tokens_;
    // Device events may arrive after the manager is gone; they check this first.
    std::shared_ptr<KavioAudioOutputManager*> alive_;
};
