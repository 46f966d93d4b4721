#pragma once
// SubRip (.srt) captions beside a movie. Entries are kept in file order; the tags <b>, <i>,
// <u>, <font color="#RRGGBB"> and their closers style the text (case-sensitive; other tags show
// as text). A file that has something other than a number where an entry must begin is refused.

#include "Caption/QVTCaptionReader.h"

class QVTCaptionReaderSRT : public QVTCaptionReader {
public:
    bool initWithMovieFile(const QUrl& movie, const QString& track, long fontSize) override;
    // Parses the text of a whole file; false when it is refused.
    bool readText(const QString& text);
};
