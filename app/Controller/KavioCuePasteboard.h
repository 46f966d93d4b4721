#pragma once
// The clipboard form of copied cues, shared by the side that copies (the cue list view) and the
// side that pastes (the cue list controller). "com.kavio.cuespasteboard" holds the cue records
// as a keyed archive of an array; "com.dalvek.standardcuedata" holds their summaries for other
// programs and is never read back.

#include <QString>
#include <QVariantList>

#include <memory>
#include <optional>

class QMimeData;

namespace KavioCuePasteboard {

inline const QString kCuesType = QStringLiteral("com.kavio.cuespasteboard");
inline const QString kSummariesType = QStringLiteral("com.dalvek.standardcuedata");

// The clipboard contents for `records` (cue records) and `summaries` (KavioVideoItem's
// sharedCueData()), as taken now; each type is archived only when a reader asks for it.
std::unique_ptr<QMimeData> mimeDataForRecords(const QVariantList& records, const QVariantList& summaries);
// The records held by `data`: nullopt unless it carries the cues type as an archive of a
// non-empty array whose every element is a dictionary.
std::optional<QVariantList> recordsFromMimeData(const QMimeData* data);

}  // namespace KavioCuePasteboard
