#include "Audio/KavioAudioOutputPanel.h"

#include "Audio/KavioAudioChannelsView.h"
#include "Views/KavioButton.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioSlider.h"
#include "Views/KavioStylishButtonCell.h"
#include "Views/KavioTextField.h"

#include <QFormLayout>
#include <QSpinBox>

#include <cmath>

static_assert(KavioAudioOutputPanel::kMaxChannels == KavioAudioChannelsView::kMaxChannels,
              "the channel pop-up offers what the grid can show");

KavioAudioOutputPanel::KavioAudioOutputPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(kTabIdentifier);
    auto* form = new QFormLayout(this);

    audioDevicesPopup_ = new KavioPopUpButton(this);
    for (const QString& title : {kSystemsDefaultAndStreams, kSystemsDefault, kStreamsOnly, kDisabled})
        audioDevicesPopup_->addItemWithTitle(title);
    audioDevicesPopup_->insertSeparatorItem(kFixedOutputItems - 1);
    form->addRow(tr("Output"), audioDevicesPopup_);

    audioChannelsPopup_ = new KavioPopUpButton(this);
    audioChannelsPopup_->addItemWithTitle(kStereo);
    for (int channels = 2; channels <= kMaxChannels; ++channels) audioChannelsPopup_->addItem(QString::number(channels), channels);
    form->addRow(tr("Channels"), audioChannelsPopup_);

    channelsView_ = new KavioAudioChannelsView(this);
    form->addRow(tr("Routing"), channelsView_);

    extendMonoFilesPopup_ = new KavioPopUpButton(this);
    extendMonoFilesPopup_->addItem(tr("Mono files play on channel 1"), 0);
    extendMonoFilesPopup_->addItem(tr("Mono files play on channels 1 and 2"), 10);
    extendMonoFilesPopup_->addItem(tr("Mono files play on every channel"), 20);
    extendMonoFilesPopup_->selectItemAtIndex(0);
    form->addRow(tr("Mono files"), extendMonoFilesPopup_);

    normalizationButton_ = new KavioButton(this, std::make_unique<KavioStylishButtonCell>());
    normalizationButton_->setTitle(tr("Normalize the volume of new cues"));
    normalizationButton_->setButtonType(KavioButtonType::OnOff);
    normalizationButton_->setState(1);  // as the stored default
    form->addRow(QString(), normalizationButton_);

    mainVolumeSlider_ = new KavioSlider(this);
    mainVolumeSlider_->setFloatValue(1.0f);
    mainVolumeField_ = new KavioTextField(this);
    mainVolumeField_->setStringValue(QStringLiteral("0"));
    form->addRow(tr("Master volume"), mainVolumeSlider_);
    form->addRow(tr("Master volume (dB)"), mainVolumeField_);

    audioDelayField_ = new QSpinBox(this);
    audioDelayField_->setRange(-100000, 100000);
    audioDelayField_->setSuffix(QStringLiteral(" ms"));
    form->addRow(tr("Audio delay"), audioDelayField_);

    audioDevicesPopup_->setAction([this] { run(actions_.audioDeviceSelected); });
    audioChannelsPopup_->setAction([this] { run(actions_.changeAudioChannels); });
    extendMonoFilesPopup_->setAction([this] { run(actions_.changeExtendMonoFiles); });
    normalizationButton_->setAction([this] { run(actions_.changeAudioNormalizationEnabled); });
    mainVolumeSlider_->setAction([this] {
        mainVolume_ = double(mainVolumeSlider_->floatValue());
        run(actions_.masterVolumeFromSlider);
    });
    connect(mainVolumeField_, &QLineEdit::editingFinished, this, [this] { run(actions_.masterVolumeFromField); });
    connect(audioDelayField_, &QSpinBox::editingFinished, this, [this] { run(actions_.audioDelayChanged); });
}

void KavioAudioOutputPanel::setMainVolume(double gain) {
    mainVolume_ = std::isfinite(gain) ? std::max(0.0, gain) : 0.0;
    mainVolumeSlider_->setFloatValue(float(std::min(mainVolume_, 1.0)));
}

void KavioAudioOutputPanel::setMainVolumeEnabled(bool enabled) {
    mainVolumeSlider_->setEnabled(enabled);
    mainVolumeField_->setEnabled(enabled);
}
