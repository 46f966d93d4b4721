#include "Caption/QVTCaptionReader.h"

#include "Log.h"
#include "Caption/QVTCaptionReaderAVF.h"
#include "Caption/QVTCaptionReaderSCC.h"
#include "Caption/QVTCaptionReaderSRT.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>

namespace {

QString movieBaseName(const QUrl& movie)
{
    return QFileInfo(movie.toLocalFile()).completeBaseName();
}

}  // namespace

std::optional<QStringList> QVTCaptionReader::captionTracksForFile(const QUrl& movie)
{
    if (!movie.isLocalFile()) {
        return std::nullopt;
    }
    const QString path = movie.toLocalFile();
    QStringList tracks;
    for (const QString& name : QVTCaptionReaderAVF::embeddedTrackNames(path)) {
        tracks << kEmbeddedPrefix + name;
    }
    const QString base = movieBaseName(movie);
    const QDir folder = QFileInfo(path).dir();
    for (const QFileInfo& entry : folder.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort)) {
        const QString name = entry.fileName();
        const QString suffix = entry.suffix();
        if (name.startsWith(base) && (suffix == "scc" || suffix == "srt")) {
            tracks << name.mid(base.size());
        }
    }
    std::sort(tracks.begin(), tracks.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    return tracks;
}

QString QVTCaptionReader::displayNameForCaptionTrack(const QString& track)
{
    QString name = track.startsWith(kEmbeddedPrefix) ? track.mid(kEmbeddedPrefix.size()) : track;
    name = name.replace('_', ' ').trimmed();
    const QStringList parts = name.split('.');
    KLOG_VERBOSE("parts: {}", parts.join(", ").toStdString());
    const QString& first = parts.first();
    if (parts.last() == "srt") {
        return first.isEmpty() ? QStringLiteral("Sidecar - SRT Subtitle File") : "Sidecar - " + first;
    }
    if (parts.last() == "scc") {
        return first.isEmpty() ? QStringLiteral("Sidecar - SCC Subtitle File") : "Sidecar - " + first;
    }
    return "Embedded - " + name;
}

QUrl QVTCaptionReader::captionURLForMovieFile(const QUrl& movie, const QString& track)
{
    if (track.startsWith(kEmbeddedPrefix)) {
        return movie;
    }
    const QFileInfo info(movie.toLocalFile());
    return QUrl::fromLocalFile(info.dir().filePath(info.completeBaseName() + track));
}

QList<QUrl> QVTCaptionReader::sidecarCaptionURLsForFile(const QUrl& movie)
{
    QList<QUrl> urls;
    for (const QString& track : captionTracksForFile(movie).value_or(QStringList())) {
        const QUrl url = captionURLForMovieFile(movie, track);
        if (url != movie) {
            urls << url;
        }
    }
    return urls;
}

std::unique_ptr<QVTCaptionReader> QVTCaptionReader::readerWithMovieFile(const QUrl& movie, const QString& track,
                                                                        unsigned long fontSize)
{
    const QString extension = QFileInfo(captionURLForMovieFile(movie, track).path()).suffix();
    std::unique_ptr<QVTCaptionReader> reader;
    if (extension == "mov" || extension == "mp4" || extension == "m4v") {
        reader = std::make_unique<QVTCaptionReaderAVF>();
    } else if (extension == "scc") {
        reader = std::make_unique<QVTCaptionReaderSCC>();
    } else if (extension == "srt") {
        reader = std::make_unique<QVTCaptionReaderSRT>();
    } else {
        KLOG_VERBOSE("QVTCaptionReader error: Unknown file type '{}'.", extension.toStdString());
        return nullptr;
    }
    if (!reader->initWithMovieFile(movie, track, long(fontSize))) {
        return nullptr;
    }
    return reader;
}

QVTCaptionPtr QVTCaptionReader::captionForTime(const MediaTime& t) const
{
    for (const auto& caption : captions_) {
        if (caption->startTime <= t && caption->endTime >= t) {
            return caption;
        }
    }
    return nullptr;
}

MediaTime QVTCaptionReader::captionStartTime() const
{
    return captions_.empty() ? MediaTime::zero() : captions_.front()->startTime;
}

std::optional<QString> QVTCaptionReader::readTextFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (const auto bom = QStringConverter::encodingForData(bytes)) {
        QStringDecoder decoder(*bom);
        return QString(decoder(bytes));
    }
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError()) {
        return text;
    }
    // Not UTF-8: the usual single-byte encoding of caption files written on desktop systems.
    QStringDecoder windows("windows-1252");
    if (windows.isValid()) {
        return QString(windows(bytes));
    }
    return QString::fromLatin1(bytes);
}

QStringList QVTCaptionReader::splitLines(const QString& text)
{
    QString normalised = text;
    normalised.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace('\r', '\n');
    QStringList lines = normalised.split('\n');
    if (lines.last().isEmpty()) {
        lines.removeLast();  // a final line break ends the last line; it does not start another
    }
    return lines;
}
