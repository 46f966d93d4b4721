// The cue's thumbnail: made off the main thread, cached under a lock, shown by the row on the
// main thread.

#include "Cue/KavioVideoItem.h"

#include "DispatchQueue.h"
#include "Log.h"
#include "MediaAsset.h"
#include "MediaPlayer.h"
#include "NotificationCenter.h"
#include "StillImage.h"
#include "VideoFrameSource.h"
#include "Views/KavioThumbnailView.h"
#include "Views/KavioVideoItemView.h"

#include <QImage>
#include <QPainter>
#include <QTransform>


namespace {

// The PDF page's cached picture fits this box.
constexpr QSize kPDFCacheBox(288, 162);
constexpr double kFrameWaitSeconds = 10.0;

QImage imageOfFrame(const VideoFrame& frame)
{
    return QImage(frame.data(), frame.width(), frame.height(), frame.bytesPerRow(), QImage::Format_ARGB32_Premultiplied)
        .copy();
}

// The serial queue thumbnails are made on, at background priority.
DispatchQueue& thumbnailQueue()
{
    static DispatchQueue queue("com.dalvek.kavio.thumbnails");
    return queue;
}

}  // namespace

void KavioVideoItem::generateThumbnailAsync()
{
    const std::weak_ptr<KavioVideoItem> weakSelf = weak_from_this();
    thumbnailQueue().async([weakSelf] {
        if (const auto self = weakSelf.lock())
            self->generateThumbnail();
    });
}

void KavioVideoItem::setAndGenerateThumbnailAtCurrentTime()
{
    if (mediaType() != KavioMediaTypeMovie || isMissing())
        return;
    const MediaPlayer* player = videoPlayer();
    setThumbTime(player ? player->currentTime() : MediaTime::makeWithSeconds(0, MediaTime::kCueTimescale));
    generateThumbnailAsync();
}

void KavioVideoItem::generateThumbnail()
{
    if (isMissing())
        return;
    QImage shown;
    QImage cached;
    bool isPage = false;
    const QString path = resolvedMediaPath();
    if (mediaType() == KavioMediaTypeMovie) {
        const MediaTime wanted = thumbTime();
        const bool past = !wanted.isNumeric() || getGoodDuration() <= wanted.seconds();
        const MediaTime time = past ? MediaTime::makeWithSeconds(0, MediaTime::kCueTimescale) : wanted;
        MediaError error{};
        const auto source = VideoFrameSource::open(path.toStdString(), {}, &error);
        VideoFrameRef frame;
        if (source) {
            source->seekToTime(time);
            if (source->waitForItemTime(time, kFrameWaitSeconds))
                frame = source->copyFrameForItemTime(time);
        }
        if (!frame) {
            KLOG_WARN("cannot generate thumbnail, error: {}", source ? "no frame at the thumbnail time" : "the movie does not open");
            return;
        }
        shown = imageOfFrame(*frame);
        const auto media = asset();
        const MediaTrack* track = media ? media->firstVideoTrack() : nullptr;
        // The track's display rotation is counter-clockwise; Qt turns clockwise.
        if (track && track->rotationDegrees != 0)
            shown = shown.transformed(QTransform().rotate(-track->rotationDegrees));
        cached = shown;
    } else if (mediaType() == KavioMediaTypeStill && !isPDF()) {
        const auto picture = StillImage::readImage(path, MediaPixelFormat::BGRA);
        if (!picture)
            return;
        shown = imageOfFrame(*picture->frame);
        cached = shown;
    } else if (mediaType() == KavioMediaTypeStill) {
        const auto page = StillImage::renderPdfPage(path, pdfPage(), MediaPixelFormat::BGRA);
        if (!page)
            return;
        shown = imageOfFrame(*page->frame);
        isPage = true;
        const QSizeF fitted = QSizeF(shown.size()).scaled(QSizeF(kPDFCacheBox), Qt::KeepAspectRatio);
        cached = QImage(fitted.toSize().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
        cached.fill(Qt::white);
        QPainter painter(&cached);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(QPointF(), fitted), shown);
    } else {
        shown = mediaTypeIconImage(mediaType());
        cached = shown;
    }
    thumbnailimage_.store(std::make_shared<const QImage>(std::move(cached)));
    // The row is the main thread's.
    const std::weak_ptr<KavioVideoItem> weakSelf = weak_from_this();
    DispatchQueue::main().async([weakSelf, shown, isPage] {
        const auto self = weakSelf.lock();
        KavioVideoItemView* row = self ? self->view() : nullptr;
        if (!row || !row->thumbnailView)
            return;
        if (isPage)
            row->thumbnailView->setThumbnailFromPDFPage(shown);
        else
            row->thumbnailView->setThumbnailFromImage(shown);
    });
    if (isCurrent())
        NotificationCenter::defaultCenter().post(QStringLiteral("KavioCurrentItemThumbnailChanged"), this);
}
