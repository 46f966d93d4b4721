#pragma once
// The channel-mapping grid: one small numeric field per output channel, left to right, each
// holding the 1-based source channel that output plays, or nothing for off. The fields are the
// state: channelMapping() reads them back as one number per output (0 for off), saveData() as the
// two-key record {"playerChannelCount", "channelMapping"}. The output settings own one for the
// project's default routing, the cue inspector one for a cue's own.
//
// Each end of an edit in a field posts "ChannelMappingChanged" on the default centre with the
// grid as object and no user info. A field takes a whole number from 1 to playerChannelCount()
// or nothing; other text, typed or pasted, is refused and the field keeps its text.
//
// Layout: fields 36 x 22 along the top and their channel-number labels 36 x 18 under them, every
// 40 points from x = 5; the grid is 5 + 40 x N wide and 42 tall unless its owner sets a height.
// Tab walks the fields in channel order.
//
// Bad records: a mapping entry that is not a number, below 1 or above kMaxPlayerChannelCount
// reads as off; a mapping longer than kMaxChannels is cut to it; a "playerChannelCount" below 1
// or above kMaxPlayerChannelCount keeps the current maximum (each logged).
//
// Main thread only. A rebuild discards the fields and any edit under way without posting.

#include <QList>
#include <QString>
#include <QVariantMap>
#include <QWidget>

#include <cstdint>

class KavioAudioChannelField;
class QValidator;

class KavioAudioChannelsView : public QWidget {
    Q_OBJECT
public:
    static inline const QString kChannelMappingChanged = QStringLiteral("ChannelMappingChanged");
    static inline const QString kPlayerChannelCountKey = QStringLiteral("playerChannelCount");
    static inline const QString kChannelMappingKey = QStringLiteral("channelMapping");
    // The most output channels the output settings offer: no grid has more fields.
    static constexpr int kMaxChannels = 16;
    // The highest source channel number worth accepting; a larger one in a record is damage.
    static constexpr uint64_t kMaxPlayerChannelCount = 64;
    static constexpr int kDefaultHeight = 42;

    explicit KavioAudioChannelsView(QWidget* parent = nullptr);

    const QList<KavioAudioChannelField*>& channelFields() const { return channelFields_; }
    // The highest source channel a field accepts (16 at creation); applies to the present
    // fields at once. 0 and values above kMaxPlayerChannelCount are refused (logged).
    uint64_t playerChannelCount() const { return playerChannelCount_; }
    void setPlayerChannelCount(uint64_t count);

    // Replaces every field with `count` fields in default routing (output i plays source i):
    // none below 1, kMaxChannels above it (logged). Editing is on afterwards.
    void rebuildChannelsViewWithCount(int32_t count);
    // One field per entry (at most kMaxChannels), showing the entry when it is from 1 to
    // kMaxPlayerChannelCount, else empty (off).
    void rebuildChannelsViewWithSettings(const QList<int>& mapping);
    // One number per field in order: its value, 0 for an empty field.
    QList<int> channelMapping() const;
    // The fields' action: posts "ChannelMappingChanged" (object: this grid).
    void channelMappingChanged();

    void enableEditing();
    void disableEditing();
    bool isEditingEnabled() const { return editing_; }

    QVariantMap saveData() const;
    // An empty record does nothing; "playerChannelCount" when present is applied first, then
    // "channelMapping" when present rebuilds the fields; a missing key keeps what is there.
    void loadWithData(const QVariantMap& data);

private:
    void discardFields();
    void setEditing(bool enabled);

    QList<KavioAudioChannelField*> channelFields_;
    uint64_t playerChannelCount_ = 16;
    QValidator* validator_;
    bool editing_ = true;
};
