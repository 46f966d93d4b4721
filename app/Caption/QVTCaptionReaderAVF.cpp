#include "Caption/QVTCaptionReaderAVF.h"

#include "CaptionSampleReader.h"
#include "Rendering/KavioOverlayFontManager.h"
#include "Log.h"
#include "MediaAsset.h"

#include <QLocale>
#include <QStringDecoder>

namespace {

const QString kClosedCaption = QStringLiteral("clcp");
const QString kSubtitle = QStringLiteral("sbtl");

// The media type of a caption track: closed captions or timed-text subtitles; empty otherwise.
QString mediaTypeOf(const MediaTrack& track)
{
    if (track.codecName == "eia_608") {
        return kClosedCaption;
    }
    if (track.codecName == "mov_text") {
        return kSubtitle;
    }
    return {};
}

}  // namespace

QString QVTCaptionReaderAVF::displayName(const MediaTrack& track)
{
    QString name = QStringLiteral("Unknown");
    if (!track.language.empty() && track.language != "und") {
        const QString code = QString::fromStdString(track.language);
        const QLocale::Language language = QLocale::codeToLanguage(code, QLocale::AnyLanguageCode);
        name = language == QLocale::AnyLanguage ? code : QLocale::languageToString(language);
    }
    return mediaTypeOf(track) == kClosedCaption ? name + " CC" : name;
}

QStringList QVTCaptionReaderAVF::embeddedTrackNames(const QString& moviePath)
{
    QStringList names;
    const auto asset = MediaAsset::open(moviePath.toStdString());
    if (!asset) {
        return names;
    }
    for (const MediaTrack* track : asset->tracksOfKind(MediaTrackKind::Caption)) {
        names << displayName(*track);
    }
    return names;
}

bool QVTCaptionReaderAVF::initWithMovieFile(const QUrl& movie, const QString& track, long fontSize)
{
    fontSizeToUse_ = fontSize;
    const QString name = track.mid(kEmbeddedPrefix.size());
    const std::string path = movie.toLocalFile().toStdString();
    const auto asset = MediaAsset::open(path);
    if (!asset) {
        KLOG_VERBOSE("QVTCaptionReaderAVF Error: Couldn't initialize AVURLAsset.");
        return false;
    }
    const auto captionTracks = asset->tracksOfKind(MediaTrackKind::Caption);
    const MediaTrack* option = nullptr;
    for (const MediaTrack* t : captionTracks) {
        if (displayName(*t) == name) {
            option = t;
            break;
        }
    }
    if (!option || option->language.empty()) {
        KLOG_VERBOSE("QVTCaptionReaderAVF Error: No caption track with the specified name.");
        return false;
    }
    const QString mediaType = mediaTypeOf(*option);
    if (mediaType != kClosedCaption && mediaType != kSubtitle) {
        KLOG_VERBOSE("QVTCaptionReaderAVF Warning: Unknown mediaType '{}'.", option->codecName);
        return false;
    }
    MediaError error;
    auto samples = CaptionSampleReader::open(path, option->index, &error);
    if (!samples) {
        KLOG_VERBOSE("QVTCaptionReaderAVF Error: Couldn't create AVAssetReader: {}", error.message);
    }
    while (samples) {
        const auto sample = samples->next();
        if (!sample) {
            break;
        }
        if (mediaType == kClosedCaption) {
            if (sample->data.size() < 10) {
                KLOG_VERBOSE("QVTCaptionReaderAVF Warning: CMBlockBufferGetDataPointer returned less than 2 bytes of "
                             "caption data.  Skiping this buffer.");
                continue;
            }
            parseBytes(sample->data.data() + 8, sample->data.size() - 8, sample->presentationTime);
        } else {
            addSubtitleSample(sample->presentationTime, sample->duration, sample->data);
        }
    }
    finishStream();
    return true;
}

void QVTCaptionReaderAVF::addSubtitleSample(const MediaTime& start, const MediaTime& duration,
                                            const std::vector<std::uint8_t>& data)
{
    const std::size_t textLength = data.size() < 2 ? 0 : (std::size_t(data[0]) << 8) | data[1];
    if (textLength == 0) {
        return;
    }
    auto caption = std::make_shared<QVTCaption>();
    caption->alignment = 2;
    caption->drawBackgroundRectangle = true;
    caption->startTime = start;
    caption->endTime = duration.isNumeric() ? start + duration : start;
    // Only the text: style boxes may follow it, and a sample may be shorter than it claims.
    const std::size_t available = std::min(textLength, data.size() - 2);
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = utf8(QByteArrayView(data.data() + 2, qsizetype(available)));
    if (!utf8.hasError()) {
        TextAttributes attributes;
        attributes.font = KavioOverlayFontManager::sharedManager().subtitleFont(false, false, fontSizeToUse_);
        attributes.foreground = KavioColor{1, 1, 1, 1};
        attributes.background = KavioColor{0, 0, 0, 1};
        for (const QString& piece : text.split('\n')) {
            caption->lines.push_back({AttributedString(piece, attributes)});
        }
    }
    captions_.push_back(caption);
}
