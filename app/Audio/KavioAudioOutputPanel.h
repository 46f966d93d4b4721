#pragma once
// The audio section of the preferences ("audiooutput"): output and channel pop-ups, mono
// spread, normalisation, master volume as a linear slider and a decibel field, the delay field
// and the routing grid. It holds the controls and reports the operator's actions; the audio
// output manager owns the meaning.

#include <QWidget>

#include <functional>

class KavioAudioChannelsView;
class KavioButton;
class KavioPopUpButton;
class KavioSlider;
class KavioTextField;
class QSpinBox;

class KavioAudioOutputPanel : public QWidget {
    Q_OBJECT
public:
    static inline const QString kTabIdentifier = QStringLiteral("audiooutput");
    // The fixed items of the output pop-up, then a separator; device items follow.
    static inline const QString kSystemsDefaultAndStreams = QStringLiteral("System's Default + NDI & SDI");
    static inline const QString kSystemsDefault = QStringLiteral("System's Default");
    static inline const QString kStreamsOnly = QStringLiteral("NDI & SDI");
    static inline const QString kDisabled = QStringLiteral("Disabled");
    static constexpr int kFixedOutputItems = 5;
    static inline const QString kStereo = QStringLiteral("Stereo");
    static constexpr int kMaxChannels = 16;

    explicit KavioAudioOutputPanel(QWidget* parent = nullptr);

    // Device entries carry [device id, uid, output channels] as their represented object.
    KavioPopUpButton* audioDevicesPopup() const { return audioDevicesPopup_; }
    KavioPopUpButton* audioChannelsPopup() const { return audioChannelsPopup_; }
    // Entries tagged 0 (off), 10 (first two outputs) and 20 (every output).
    KavioPopUpButton* extendMonoFilesEnabledPopup() const { return extendMonoFilesPopup_; }
    // A check box: state 1 on.
    KavioButton* audioVolumeNormalizationEnabledButton() const { return normalizationButton_; }
    KavioTextField* mainVolumeField() const { return mainVolumeField_; }
    QSpinBox* audioDelayField() const { return audioDelayField_; }
    KavioSlider* mainVolumeSliderWidget() const { return mainVolumeSlider_; }
    KavioAudioChannelsView* channelsView() const { return channelsView_; }

    // The master volume as a linear gain, kept exactly (the slider shows it rounded).
    double mainVolume() const { return mainVolume_; }
    void setMainVolume(double gain);
    void setMainVolumeEnabled(bool enabled);

    // What the operator did; the manager installs these.
    struct Actions {
        std::function<void()> audioDeviceSelected, changeAudioChannels, masterVolumeFromSlider,
            masterVolumeFromField, audioDelayChanged, changeExtendMonoFiles, changeAudioNormalizationEnabled;
    };
    void setActions(Actions actions) { actions_ = std::move(actions); }

private:
    static void run(const std::function<void()>& action) {
        if (action) action();
    }

    KavioPopUpButton* audioDevicesPopup_;
    KavioPopUpButton* audioChannelsPopup_;
    KavioPopUpButton* extendMonoFilesPopup_;
    KavioButton* normalizationButton_;
    KavioSlider* mainVolumeSlider_;
    KavioTextField* mainVolumeField_;
    QSpinBox* audioDelayField_;
    KavioAudioChannelsView* channelsView_;
    double mainVolume_ = 1.0;
    Actions actions_;
};
