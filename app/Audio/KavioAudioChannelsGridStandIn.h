#pragma once
// TODO(audio UI): stands in for the channel-mapping grid until the audio UI issue lands: one
// spin box per output channel (0 is "off"), the mapping read back as numbers, the grid's
// two-key record, and "ChannelMappingChanged" (object: the grid) after every edit. Main thread.

#include <QList>
#include <QVariantMap>
#include <QWidget>

class QHBoxLayout;
class QSpinBox;

class KavioAudioChannelsGridStandIn : public QWidget {
    Q_OBJECT
public:
    static inline const QString kChannelMappingChanged = QStringLiteral("ChannelMappingChanged");

    explicit KavioAudioChannelsGridStandIn(QWidget* parent = nullptr);

    // The highest source channel a field accepts; 16 at creation.
    int playerChannelCount() const { return playerChannelCount_; }
    void setPlayerChannelCount(int count);
    // Count fields in default routing (field i plays source i); none for a count below 1.
    void rebuildChannelsViewWithCount(int count);
    // One field per entry, set to the entry when it is 1 or more, else off.
    void rebuildChannelsViewWithSettings(const QList<int>& mapping);
    QList<int> channelMapping() const;
    void setEditingEnabled(bool enabled);
    bool isEditingEnabled() const { return editing_; }

    // {"playerChannelCount", "channelMapping"}; loading takes each key only when present.
    QVariantMap saveData() const;
    void loadWithData(const QVariantMap& data);

    const QList<QSpinBox*>& fields() const { return fields_; }

private:
    QSpinBox* addField(int value);

    QHBoxLayout* row_;
    QList<QSpinBox*> fields_;
    int playerChannelCount_ = 16;
    bool editing_ = true;
};
