#include "Controller/KavioCuePasteboard.h"

#include "KeyedArchive.h"
#include "Log.h"

#include <QMimeData>

namespace KavioCuePasteboard {

std::unique_ptr<QMimeData> mimeDataForRecords(const QVariantList& records, const QVariantList& summaries)
{
    auto data = std::make_unique<QMimeData>();
    data->setData(kCuesType, KeyedArchive::archive(records));
    data->setData(kSummariesType, KeyedArchive::archive(summaries));
    return data;
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
