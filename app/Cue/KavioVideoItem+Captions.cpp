#include "Cue/KavioVideoItem.h"

#include "Caption/QVTCaptionReader.h"
#include "Clock/QVTClock.h"
#include "DispatchQueue.h"
#include "NotificationCenter.h"

#include <QUrl>

namespace {

constexpr unsigned long kOutputFontSize = 20;
constexpr unsigned long kPreviewFontSize = 10;

}  // namespace

QStringList KavioVideoItem::availableCaptions() const
{
    return QVTCaptionReader::captionTracksForFile(QUrl::fromLocalFile(resolvedMediaPath())).value_or(QStringList());
}

void KavioVideoItem::searchForCaptions()
{
    if (!availableCaptions().isEmpty()) {
        hascaption_ = true;
        setSelectedCaptionTrack(0);
        // Observed once however often the cue searches.
        NotificationCenter& center = NotificationCenter::defaultCenter();
        center.removeObserver(this, kKavioSubtitleSettingsChangedNotification, nullptr);
        center.addObserver(this, kKavioSubtitleSettingsChangedNotification, nullptr,
                           [weak = weak_from_this()](const Notification&) {
                               if (const auto cue = weak.lock())
                                   cue->reloadCaption();
                           });
    } else {
        hascaption_ = false;
        setSelectedCaptionTrack(-1);
    }
}

void KavioVideoItem::setSelectedCaptionTrack(std::int32_t track)
{
    selectedCaptionTrack_.store(track);
    captionDelaySeconds_.store(0.0);
    if (!captionQueue_)
        return;
    if (track == -1) {
        captionQueue_->sync([this] {
            captionReaderOutput_.reset();
            captionReaderPreview_.reset();
        });
        return;
    }
    const QStringList tracks = availableCaptions();
    if (track < 0 || track >= tracks.size())
        return;
    // Built on the queue too, so a render thread asking meanwhile never sees a half-built
    // reader. A track whose file cannot be read (gone, damaged) gives no reader and no caption.
    const QUrl movie = QUrl::fromLocalFile(resolvedMediaPath());
    const QString name = tracks[track];
    captionQueue_->sync([&] {
        captionReaderOutput_ = QVTCaptionReader::readerWithMovieFile(movie, name, kOutputFontSize);
        captionReaderPreview_ = QVTCaptionReader::readerWithMovieFile(movie, name, kPreviewFontSize);
    });
}

void KavioVideoItem::reloadCaption()
{
    setSelectedCaptionTrack(selectedCaptionTrack());
}

std::shared_ptr<QVTCaption> KavioVideoItem::currentCaptionOutput()
{
    return currentCaption(true);
}

std::shared_ptr<QVTCaption> KavioVideoItem::currentCaptionPreview()
{
    return currentCaption(false);
}

std::shared_ptr<QVTCaption> KavioVideoItem::currentCaption(bool output)
{
    const auto controller = manager();
    if (!hascaption_.load() || !captionQueue_ || (controller && controller->isMixing()))
        return nullptr;
    const MediaTime time = absoluteCurrentCMTimeAtCurrentRate() -
                           MediaTime::makeWithSeconds(captionDelaySeconds(), MediaTime::kCueTimescale);
    std::shared_ptr<QVTCaption> caption;
    captionQueue_->sync([&] {
        const auto& reader = output ? captionReaderOutput_ : captionReaderPreview_;
        if (reader)
            caption = reader->captionForTime(time);
    });
    return caption;
}

MediaTime KavioVideoItem::captionStartTime(bool withDelay) const
{
    MediaTime start = MediaTime::zero();
    if (!hascaption_.load() || !captionQueue_)
        return start;
    bool hasReader = false;
    captionQueue_->sync([&] {
        if (captionReaderPreview_) {
            hasReader = true;
            start = captionReaderPreview_->captionStartTime();
        }
    });
    if (withDelay && hasReader)
        start = start + MediaTime::makeWithSeconds(captionDelaySeconds(), MediaTime::kCueTimescale);
    return start;
}

QString KavioVideoItem::originalCaptionStartTimeSMTPE() const
{
    const auto controller = manager();
    const auto clock = controller ? controller->masterClock() : nullptr;
    return clock ? clock->smpteRepresentationOfTime(captionStartTime(false).seconds()) : QStringLiteral("00:00:00:00");
}

QString KavioVideoItem::actualCaptionStartTimeSMTPE() const
{
    const auto controller = manager();
    const auto clock = controller ? controller->masterClock() : nullptr;
    return clock ? clock->smpteRepresentationOfTime(captionStartTime(true).seconds()) : QStringLiteral("00:00:00:00");
}
