#include "Audio/KavioAudioOutputPanel.h"

#include "Audio/KavioAudioChannelsGridStandIn.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>

#include <cmath>

namespace {
constexpr int kSliderSteps = 10000;
}

KavioAudioOutputPanel::KavioAudioOutputPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(kTabIdentifier);
    auto* form = new QFormLayout(this);

    audioDevicesPopup_ = new QComboBox(this);
    audioDevicesPopup_->addItems({kSystemsDefaultAndStreams, kSystemsDefault, kStreamsOnly, kDisabled});
    audioDevicesPopup_->insertSeparator(kFixedOutputItems - 1);
    form->addRow(tr("Output"), audioDevicesPopup_);

    audioChannelsPopup_ = new QComboBox(this);
    audioChannelsPopup_->addItem(kStereo);
    for (int channels = 2; channels <= kMaxChannels; ++channels) audioChannelsPopup_->addItem(QString::number(channels));
    form->addRow(tr("Channels"), audioChannelsPopup_);

    channelsView_ = new KavioAudioChannelsGridStandIn(this);
    form->addRow(tr("Routing"), channelsView_);

    extendMonoFilesPopup_ = new QComboBox(this);
    extendMonoFilesPopup_->addItem(tr("Mono files play on channel 1"), 0);
    extendMonoFilesPopup_->addItem(tr("Mono files play on channels 1 and 2"), 10);
    extendMonoFilesPopup_->addItem(tr("Mono files play on every channel"), 20);
    form->addRow(tr("Mono files"), extendMonoFilesPopup_);

    normalizationButton_ = new QCheckBox(tr("Normalize the volume of new cues"), this);
    normalizationButton_->setChecked(true);  // as the stored default
    form->addRow(QString(), normalizationButton_);

    mainVolumeSlider_ = new QSlider(Qt::Horizontal, this);
    mainVolumeSlider_->setRange(0, kSliderSteps);
    mainVolumeSlider_->setValue(kSliderSteps);
    mainVolumeField_ = new QLineEdit(QStringLiteral("0"), this);
    form->addRow(tr("Master volume"), mainVolumeSlider_);
    form->addRow(tr("Master volume (dB)"), mainVolumeField_);

    audioDelayField_ = new QSpinBox(this);
    audioDelayField_->setRange(-100000, 100000);
    audioDelayField_->setSuffix(QStringLiteral(" ms"));
    form->addRow(tr("Audio delay"), audioDelayField_);

    connect(audioDevicesPopup_, &QComboBox::activated, this, [this] { run(actions_.audioDeviceSelected); });
    connect(audioChannelsPopup_, &QComboBox::activated, this, [this] { run(actions_.changeAudioChannels); });
    connect(extendMonoFilesPopup_, &QComboBox::activated, this, [this] { run(actions_.changeExtendMonoFiles); });
    connect(normalizationButton_, &QCheckBox::clicked, this, [this] { run(actions_.changeAudioNormalizationEnabled); });
    connect(mainVolumeSlider_, &QSlider::sliderMoved, this, [this](int value) {
        mainVolume_ = double(value) / kSliderSteps;
        run(actions_.masterVolumeFromSlider);
    });
    connect(mainVolumeField_, &QLineEdit::editingFinished, this, [this] { run(actions_.masterVolumeFromField); });
    connect(audioDelayField_, &QSpinBox::editingFinished, this, [this] { run(actions_.audioDelayChanged); });
}

void KavioAudioOutputPanel::setMainVolume(double gain) {
    mainVolume_ = std::isfinite(gain) ? std::max(0.0, gain) : 0.0;
    mainVolumeSlider_->setValue(int(std::lround(std::min(mainVolume_, 1.0) * kSliderSteps)));
}

void KavioAudioOutputPanel::setMainVolumeEnabled(bool enabled) {
    mainVolumeSlider_->setEnabled(enabled);
    mainVolumeField_->setEnabled(enabled);
}
