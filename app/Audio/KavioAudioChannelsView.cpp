#include "Audio/KavioAudioChannelsView.h"

#include "Audio/KavioAudioChannelField.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "Support/KavioVariantKinds.h"
#include "Support/PointConversion.h"
#include "Views/KavioControlStyle.h"

#include <QLabel>
#include <QValidator>

#include <cmath>
#include <optional>

namespace {

constexpr int kLeft = 5;
constexpr int kStep = 40;
constexpr int kCellWidth = 36;
constexpr int kFieldHeight = 22;
constexpr int kLabelHeight = 18;
constexpr int kLabelBelowTop = 42;

// Whole numbers without sign or leading zero, up to the grid's maximum; empty is off.
class ChannelNumberValidator : public QValidator {
public:
    explicit ChannelNumberValidator(KavioAudioChannelsView* grid) : QValidator(grid), grid_(grid) {}

    State validate(QString& input, int&) const override
    {
        if (input.isEmpty())
            return Acceptable;
        if (input.front() == QLatin1Char('0'))
            return Invalid;
        for (QChar c : input)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return Invalid;
        bool ok = false;
        const qulonglong value = input.toULongLong(&ok);
        return ok && value <= grid_->playerChannelCount() ? Acceptable : Invalid;
    }

private:
    const KavioAudioChannelsView* grid_;
};

// A record's number as a whole number; nothing for other kinds (text, booleans, lists) and for
// values that are not finite.
std::optional<long long> wholeNumberOf(const QVariant& value)
{
    if (value.typeId() == QMetaType::ULongLong) {
        const qulonglong v = value.toULongLong();
        return v > qulonglong(LLONG_MAX) ? std::optional<long long>() : (long long)v;
    }
    if (kavioIsIntegerKind(value))
        return value.toLongLong();
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float) {
        const double v = value.toDouble();
        if (!std::isfinite(v) || std::fabs(v) > 1e15)
            return std::nullopt;
        return (long long)std::trunc(v);
    }
    return std::nullopt;
}

}  // namespace

KavioAudioChannelsView::KavioAudioChannelsView(QWidget* parent)
    : QWidget(parent), validator_(new ChannelNumberValidator(this))
{
    setFixedSize(kLeft, kDefaultHeight);
}

void KavioAudioChannelsView::setPlayerChannelCount(uint64_t count)
{
    if (count < 1 || count > kMaxPlayerChannelCount) {
        KLOG_VERBOSE("player channel count {} refused, keeping {}", count, playerChannelCount_);
        return;
    }
    playerChannelCount_ = count;
}

void KavioAudioChannelsView::discardFields()
{
    // Detached first: neither the lost focus nor the deletion may end an edit and post.
    for (KavioAudioChannelField* field : channelFields_)
        field->setAction({});
    const QList<QWidget*> children = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        child->clearFocus();
        child->hide();
        // Out of the grid now, deleted later: a rebuild may run from inside a field's own action.
        child->setParent(nullptr);
        child->deleteLater();
    }
    channelFields_.clear();
}

void KavioAudioChannelsView::rebuildChannelsViewWithCount(int32_t count)
{
    discardFields();
    editing_ = true;
    if (count > kMaxChannels) {
        KLOG_VERBOSE("{} channels asked, the grid has {}", count, kMaxChannels);
        count = kMaxChannels;
    }
    if (count < 1) {
        setFixedWidth(kLeft);
        return;
    }
    const double h = height();
    KavioAudioChannelField* previous = nullptr;
    for (int i = 1; i <= count; ++i) {
        const int x = kLeft + kStep * (i - 1);
        auto* field = new KavioAudioChannelField(this);
        field->setGeometry(PointConversion::rectFromBottomLeft(h, QRectF(x, h - kFieldHeight, kCellWidth, kFieldHeight))
                               .toRect());
        field->setStringValue(QString::number(i));
        field->setValidator(validator_);
        field->setAction([this] { channelMappingChanged(); });

        auto* label = new QLabel(QString::number(i), this);
        label->setGeometry(
            PointConversion::rectFromBottomLeft(h, QRectF(x, h - kLabelBelowTop, kCellWidth, kLabelHeight)).toRect());
        label->setAlignment(Qt::AlignCenter);
        QFont small = label->font();
        small.setPixelSize(11);
        label->setFont(small);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, KavioControlStyle::grey(0.5));
        label->setPalette(palette);
        label->setFocusPolicy(Qt::NoFocus);

        field->show();
        label->show();
        if (previous)
            QWidget::setTabOrder(previous, field);
        previous = field;
        channelFields_.append(field);
    }
    setFixedWidth(kLeft + kStep * count);
}

void KavioAudioChannelsView::rebuildChannelsViewWithSettings(const QList<int>& mapping)
{
    if (mapping.size() > kMaxChannels)
        KLOG_VERBOSE("a mapping of {} channels is cut to {}", mapping.size(), kMaxChannels);
    rebuildChannelsViewWithCount(int32_t(std::min<qsizetype>(mapping.size(), kMaxChannels)));
    for (int i = 0; i < channelFields_.size(); ++i) {
        const int entry = mapping[i];
        const bool on = entry >= 1 && uint64_t(entry) <= kMaxPlayerChannelCount;
        channelFields_[i]->setStringValue(on ? QString::number(entry) : QString());
    }
}

QList<int> KavioAudioChannelsView::channelMapping() const
{
    QList<int> mapping;
    mapping.reserve(channelFields_.size());
    for (const KavioAudioChannelField* field : channelFields_)
        mapping.append(field->text().toInt());
    return mapping;
}

void KavioAudioChannelsView::channelMappingChanged()
{
    NotificationCenter::defaultCenter().post(kChannelMappingChanged, this);
}

void KavioAudioChannelsView::setEditing(bool enabled)
{
    editing_ = enabled;
    for (KavioAudioChannelField* field : channelFields_)
        field->setEnabled(enabled);
}

void KavioAudioChannelsView::enableEditing() { setEditing(true); }

void KavioAudioChannelsView::disableEditing() { setEditing(false); }

QVariantMap KavioAudioChannelsView::saveData() const
{
    QVariantList mapping;
    for (int value : channelMapping())
        mapping.append(value);
    return {{kPlayerChannelCountKey, int(playerChannelCount_)}, {kChannelMappingKey, mapping}};
}

void KavioAudioChannelsView::loadWithData(const QVariantMap& data)
{
    if (data.isEmpty())
        return;
    if (data.contains(kPlayerChannelCountKey)) {
        const std::optional<long long> count = wholeNumberOf(data.value(kPlayerChannelCountKey));
        if (count && *count >= 1)
            setPlayerChannelCount(uint64_t(*count));
        else
            KLOG_VERBOSE("a record's player channel count is not a number of 1 or more, keeping {}",
                         playerChannelCount_);
    }
    if (!data.contains(kChannelMappingKey))
        return;
    const QVariant stored = data.value(kChannelMappingKey);
    if (stored.typeId() != QMetaType::QVariantList) {
        KLOG_VERBOSE("a record's channel mapping is not a list, the fields stay");
        return;
    }
    const QVariantList entries = stored.toList();
    QList<int> mapping;
    for (qsizetype i = 0; i < std::min<qsizetype>(entries.size(), kMaxChannels); ++i) {
        const std::optional<long long> entry = wholeNumberOf(entries[i]);
        mapping.append(entry && *entry >= 1 && uint64_t(*entry) <= kMaxPlayerChannelCount ? int(*entry) : 0);
    }
    if (entries.size() > kMaxChannels)
        KLOG_VERBOSE("a record's mapping of {} channels is cut to {}", entries.size(), kMaxChannels);
    rebuildChannelsViewWithSettings(mapping);
}
