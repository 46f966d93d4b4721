#include "Controller/KavioCuePasteboard.h"

#include "KeyedArchive.h"
#include "Log.h"

#include <QMimeData>

namespace KavioCuePasteboard {

namespace {

// Holds the snapshot taken at the copy and archives a type only when a reader asks for it
// (a paste here, or another program through the display's clipboard).
class PromisedCues : public QMimeData {
public:
    PromisedCues(const QVariantList& records, const QVariantList& summaries)
        : records_(records), summaries_(summaries)
    {
    }
    QStringList formats() const override { return {kCuesType, kSummariesType}; }
    bool hasFormat(const QString& type) const override { return type == kCuesType || type == kSummariesType; }

protected:
    QVariant retrieveData(const QString& type, QMetaType) const override
    {
        if (type == kCuesType)
            return KeyedArchive::archive(records_);
        if (type == kSummariesType)
            return KeyedArchive::archive(summaries_);
        return {};
    }

private:
    const QVariantList records_;
    const QVariantList summaries_;
};

}  // namespace

std::unique_ptr<QMimeData> mimeDataForRecords(const QVariantList& records, const QVariantList& summaries)
{
    return std::make_unique<PromisedCues>(records, summaries);
}

std::optional<QVariantList> recordsFromMimeData(const QMimeData* data)
{
    if (!data || !data->hasFormat(kCuesType))
        return std::nullopt;
    QString error;
    const auto root = KeyedArchive::unarchive(data->data(kCuesType), &error);
    if (!root || root->typeId() != QMetaType::QVariantList) {
        KLOG_WARN("clipboard cues unreadable: {}", error.isEmpty() ? "not a list" : error.toStdString());
        return std::nullopt;
    }
    const QVariantList records = root->toList();
    if (records.isEmpty())
        return std::nullopt;
    for (const QVariant& record : records)
        if (record.typeId() != QMetaType::QVariantMap)
            return std::nullopt;
    return records;
}

}  // namespace KavioCuePasteboard
