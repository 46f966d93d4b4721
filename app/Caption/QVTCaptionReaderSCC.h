#pragma once
// Scenarist SCC caption files beside a movie: a "Scenarist_SCC V1.0" header, then lines of a
// time code (":" or drop-frame ";" before the frames) and hex words of CEA-608 byte pairs.

#include "Caption/QVTCaptionReaderCEA608.h"

class QVTCaptionReaderSCC : public QVTCaptionReaderCEA608 {
public:
    bool initWithMovieFile(const QUrl& movie, const QString& track, long fontSize) override;
    // Parses the text of a whole file; false when it has no header.
    bool readText(const QString& text);
};
