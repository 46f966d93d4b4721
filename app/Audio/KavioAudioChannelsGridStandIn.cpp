#include "Audio/KavioAudioChannelsGridStandIn.h"

#include "NotificationCenter.h"

#include <QHBoxLayout>
#include <QSpinBox>

KavioAudioChannelsGridStandIn::KavioAudioChannelsGridStandIn(QWidget* parent) : QWidget(parent) {
    row_ = new QHBoxLayout(this);
    row_->setContentsMargins(0, 0, 0, 0);
}

void KavioAudioChannelsGridStandIn::setPlayerChannelCount(int count) {
    playerChannelCount_ = std::max(0, count);
    for (QSpinBox* field : fields_) field->setMaximum(playerChannelCount_);
}

QSpinBox* KavioAudioChannelsGridStandIn::addField(int value) {
    auto* field = new QSpinBox(this);
    field->setRange(0, playerChannelCount_);
    field->setSpecialValueText(QStringLiteral("off"));
    field->setValue(value);
    field->setEnabled(editing_);
    connect(field, &QSpinBox::editingFinished, this, [this] {
        NotificationCenter::defaultCenter().post(kChannelMappingChanged, this);
    });
    row_->addWidget(field);
    fields_.append(field);
    return field;
}

void KavioAudioChannelsGridStandIn::rebuildChannelsViewWithCount(int count) {
    qDeleteAll(fields_);
    fields_.clear();
    for (int i = 1; i <= count; ++i) addField(i);
}

void KavioAudioChannelsGridStandIn::rebuildChannelsViewWithSettings(const QList<int>& mapping) {
    rebuildChannelsViewWithCount(int(mapping.size()));
    for (int i = 0; i < mapping.size(); ++i) fields_[i]->setValue(mapping[i] >= 1 ? mapping[i] : 0);
}

QList<int> KavioAudioChannelsGridStandIn::channelMapping() const {
    QList<int> mapping;
    for (const QSpinBox* field : fields_) mapping.append(field->value());
    return mapping;
}

void KavioAudioChannelsGridStandIn::setEditingEnabled(bool enabled) {
    editing_ = enabled;
    for (QSpinBox* field : fields_) field->setEnabled(enabled);
}

QVariantMap KavioAudioChannelsGridStandIn::saveData() const {
    QVariantList mapping;
    for (int value : channelMapping()) mapping.append(value);
    return {{QStringLiteral("playerChannelCount"), playerChannelCount_}, {QStringLiteral("channelMapping"), mapping}};
}

void KavioAudioChannelsGridStandIn::loadWithData(const QVariantMap& data) {
    if (data.contains(QStringLiteral("playerChannelCount")))
        setPlayerChannelCount(data.value(QStringLiteral("playerChannelCount")).toInt());
    if (data.value(QStringLiteral("channelMapping")).canConvert<QVariantList>() &&
        data.contains(QStringLiteral("channelMapping"))) {
        QList<int> mapping;
        for (const QVariant& value : data.value(QStringLiteral("channelMapping")).toList()) mapping.append(value.toInt());
        rebuildChannelsViewWithSettings(mapping);
    }
}
