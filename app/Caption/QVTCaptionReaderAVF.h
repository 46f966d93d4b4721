#pragma once
// Captions embedded in a movie: CEA-608 closed-caption tracks go through the decoder, timed-text
// subtitle tracks become captions directly. The track is named by its display name: the
// language's name ("English", "Unknown" without one), with " CC" for closed captions.

#include "Caption/QVTCaptionReaderCEA608.h"

struct MediaTrack;

class QVTCaptionReaderAVF : public QVTCaptionReaderCEA608 {
public:
    // The display names of the movie's caption and subtitle tracks, in file order; empty when the
    // file cannot be read.
    static QStringList embeddedTrackNames(const QString& moviePath);
    static QString displayName(const MediaTrack& track);

    bool initWithMovieFile(const QUrl& movie, const QString& track, long fontSize) override;

    // One timed-text sample as the file stores it (16-bit big-endian text length, UTF-8 text,
    // possibly style boxes after it) becomes one caption, a line per "\n"-separated piece.
    void addSubtitleSample(const MediaTime& start, const MediaTime& duration, const std::vector<std::uint8_t>& data);
};
