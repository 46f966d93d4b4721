#pragma once
// Caption tracks of a movie and the readers that turn them into timed captions.
//
// A track is named by a string: ":embedded:" + the name of a caption or subtitle track inside
// the movie, or, for a caption file beside the movie, the part of the file's name after the
// movie's base name (clip.mov: clip.srt is ".srt", clip.en.srt is ".en.srt").
//
// A reader reads its whole source once, in initWithMovieFile(), and afterwards only answers
// lookups; it is built and queried on its cue's caption queue.

#include "Caption/QVTCaption.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>
#include <vector>

class QVTCaptionReader {
public:
    static inline const QString kEmbeddedPrefix = QStringLiteral(":embedded:");

    virtual ~QVTCaptionReader() = default;

    // The movie's tracks, embedded ones and caption files (.srt/.scc, extension case-sensitive)
    // beside it, sorted case-insensitively; nullopt when the URL is not a file URL.
    static std::optional<QStringList> captionTracksForFile(const QUrl& movie);
    // The menu label: "Sidecar - SRT Subtitle File", "Sidecar - english", "Embedded - English"...
    static QString displayNameForCaptionTrack(const QString& track);
    // The file holding the track: the movie itself for an embedded track.
    static QUrl captionURLForMovieFile(const QUrl& movie, const QString& track);
    // The caption files beside the movie.
    static QList<QUrl> sidecarCaptionURLsForFile(const QUrl& movie);
    // A reader chosen by the extension of the track's file (mov/mp4/m4v, scc, srt), or nullptr
    // when the type is unknown or the source cannot be read. fontSize 20 selects the output
    // font size, any other value the preview size.
    static std::unique_ptr<QVTCaptionReader> readerWithMovieFile(const QUrl& movie, const QString& track,
                                                                 unsigned long fontSize);

    // The first caption, in list order, with startTime <= t <= endTime; nullptr when none.
    QVTCaptionPtr captionForTime(const MediaTime& t) const;
    // The first caption's start time; zero without captions.
    MediaTime captionStartTime() const;

    const std::vector<QVTCaptionPtr>& captions() const { return captions_; }
    long fontSizeToUse() const { return fontSizeToUse_; }
    void setFontSizeToUse(long size) { fontSizeToUse_ = size; }

    // Reads the source. False (with the reason logged) when it cannot be read: the factory then
    // answers nullptr.
    virtual bool initWithMovieFile(const QUrl& movie, const QString& track, long fontSize) = 0;

protected:
    // Reads a text file whose encoding is found from its bytes: a byte-order mark, else UTF-8
    // when the bytes are valid UTF-8, else Windows-1252. nullopt when the file cannot be read.
    static std::optional<QString> readTextFile(const QString& path, QString* error);
    // Lines without their terminators (\n, \r\n or \r); a final terminator adds no empty line.
    static QStringList splitLines(const QString& text);

    std::vector<QVTCaptionPtr> captions_;
    long fontSizeToUse_ = 0;
};
