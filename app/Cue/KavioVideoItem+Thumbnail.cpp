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

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QTransform>

#include <atomic>
#include <mutex>

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

// Thumbnails are drawn with Qt, so none may be drawn once the application object is gone: the
// queue would otherwise go on making them during the process's exit, on Qt objects being torn
// down, and hang or crash the quit. Qt's post routines run first in the application's
// destructor: there, thumbnails still queued are dropped and the one being made is waited for.
std::atomic<bool> applicationClosing{false};
std::mutex registrationMutex;
bool registered = false;

void stopThumbnailsBeforeTheApplicationEnds()
{
    applicationClosing = true;
    thumbnailQueue().sync([] {});
    std::lock_guard lock(registrationMutex);
    registered = false;  // a later application object registers again
}

void queueThumbnail(DispatchQueue::Task task)
{
    {
        std::lock_guard lock(registrationMutex);
        if (!registered && QCoreApplication::instance()) {
            registered = true;
            applicationClosing = false;
            qAddPostRoutine(stopThumbnailsBeforeTheApplicationEnds);
        }
    }
    thumbnailQueue().async([task = std::move(task)] {
        if (!applicationClosing)
            task();
    });
}

}  // namespace

struct KavioVideoItem::Thumbnail {
    QImage shown;
    QImage cached;
    bool isPage = false;
};

void KavioVideoItem::generateThumbnailAsync()
{
    // The decoding holds no reference to the cue: a cue its owner lets go of ends at once; the
    // result is dropped when the cue is gone.
    const std::weak_ptr<KavioVideoItem> weakSelf = weak_from_this();
    queueThumbnail([weakSelf, work = thumbnailWork()] {
        const Thumbnail made = work();
        if (const auto self = weakSelf.lock())
            self->applyThumbnail(made);
    });
}

void KavioVideoItem::generateThumbnail()
{
    applyThumbnail(thumbnailWork()());
}

void KavioVideoItem::setAndGenerateThumbnailAtCurrentTime()
{
    if (mediaType() != KavioMediaTypeMovie || isMissing())
        return;
    const MediaPlayer* player = videoPlayer();
    setThumbTime(player ? player->currentTime() : MediaTime::makeWithSeconds(0, MediaTime::kCueTimescale));
    generateThumbnailAsync();
}

std::function<KavioVideoItem::Thumbnail()> KavioVideoItem::thumbnailWork() const
{
    const auto media = asset();
    const MediaTrack* track = media ? media->firstVideoTrack() : nullptr;
    const MediaTime wanted = thumbTime();
    const bool past = !wanted.isNumeric() || getGoodDuration() <= wanted.seconds();
    return [missing = isMissing(), type = mediaType(), pdf = isPDF(), page = pdfPage(), path = resolvedMediaPath(),
            rotation = track ? track->rotationDegrees : 0.0,
            time = past ? MediaTime::makeWithSeconds(0, MediaTime::kCueTimescale) : wanted]() -> Thumbnail {
        Thumbnail made;
        if (missing)
            return made;
        if (type == KavioMediaTypeMovie) {
            MediaError error{};
            const auto source = VideoFrameSource::open(path.toStdString(), {}, &error);
            VideoFrameRef frame;
            if (source) {
                source->seekToTime(time);
                if (source->waitForItemTime(time, kFrameWaitSeconds))
                    frame = source->copyFrameForItemTime(time);
            }
            if (!frame) {
                KLOG_WARN("cannot generate thumbnail, error: {}",
                          source ? "no frame at the thumbnail time" : "the movie does not open");
                return made;
            }
            made.shown = imageOfFrame(*frame);
            // The track's display rotation is counter-clockwise; Qt turns clockwise.
            if (rotation != 0)
                made.shown = made.shown.transformed(QTransform().rotate(-rotation));
            made.cached = made.shown;
        } else if (type == KavioMediaTypeStill && !pdf) {
            const auto picture = StillImage::readImage(path, MediaPixelFormat::BGRA);
            if (!picture)
                return made;
            made.shown = imageOfFrame(*picture->frame);
            made.cached = made.shown;
        } else if (type == KavioMediaTypeStill) {
            const auto rendered = StillImage::renderPdfPage(path, page, MediaPixelFormat::BGRA);
            if (!rendered)
                return made;
            made.shown = imageOfFrame(*rendered->frame);
            made.isPage = true;
            const QSizeF fitted = QSizeF(made.shown.size()).scaled(QSizeF(kPDFCacheBox), Qt::KeepAspectRatio);
            made.cached = QImage(fitted.toSize().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
            made.cached.fill(Qt::white);
            QPainter painter(&made.cached);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(QRectF(QPointF(), fitted), made.shown);
        } else {
            made.shown = mediaTypeIconImage(type);
            made.cached = made.shown;
        }
        return made;
    };
}

void KavioVideoItem::applyThumbnail(const Thumbnail& made)
{
    // Nothing made: the old thumbnail stays.
    if (made.cached.isNull())
        return;
    thumbnailimage_.store(std::make_shared<const QImage>(made.cached));
    // The row is the main thread's.
    const std::weak_ptr<KavioVideoItem> weakSelf = weak_from_this();
    DispatchQueue::main().async([weakSelf, shown = made.shown, isPage = made.isPage] {
        const auto self = weakSelf.lock();
        if (KavioVideoItemView* row = self ? self->view() : nullptr)
            row->showThumbnail(shown, isPage);
    });
    if (isCurrent())
        NotificationCenter::defaultCenter().post(QStringLiteral("KavioCurrentItemThumbnailChanged"), this);
}
