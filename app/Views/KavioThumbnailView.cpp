#include "Views/KavioThumbnailView.h"

#include "DispatchQueue.h"
#include "Log.h"

#include <QPainter>
#include <QPainterPath>
#include <QPointer>

KavioThumbnailView::KavioThumbnailView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

std::shared_ptr<const QImage> KavioThumbnailView::image() const
{
    std::lock_guard lock(mutex_);
    return image_;
}

void KavioThumbnailView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    std::lock_guard lock(mutex_);
    boundsSize_ = size();
}

void KavioThumbnailView::resizeAndSetImage(const QImage& source, bool shouldMakeWhiteBackground)
{
    // Off the main thread the size comes from the last resize; the widget is not read there.
    QSize bounds = size();
    if (!DispatchQueue::isMainThread()) {
        std::lock_guard lock(mutex_);
        bounds = boundsSize_;
    }
    if (source.isNull() || bounds.isEmpty()) {
        KLOG_VERBOSE("Invalid Image");
        return;
    }
    const QSizeF fitted = QSizeF(source.size()).scaled(QSizeF(bounds), Qt::KeepAspectRatio);
    const QRectF fit(QPointF((bounds.width() - fitted.width()) / 2, (bounds.height() - fitted.height()) / 2), fitted);
    auto scaled = std::make_shared<QImage>(bounds, QImage::Format_ARGB32_Premultiplied);
    scaled->fill(Qt::transparent);
    {
        QPainter painter(scaled.get());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        if (shouldMakeWhiteBackground)
            painter.fillRect(fit, Qt::white);
        painter.drawImage(fit, source);
    }
    {
        std::lock_guard lock(mutex_);
        image_ = std::move(scaled);
    }
    // The widget is touched on the main thread only, and only while it lives.
    QPointer<KavioThumbnailView> self(this);
    DispatchQueue::main().async([self] {
        if (self)
            self->update();
    });
}

void KavioThumbnailView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25), 3, 3);
    painter.fillPath(outline, QColor::fromRgbF(0.15f, 0.15f, 0.15f));
    if (const auto picture = image()) {
        // Clipped to the outline, the picture takes its rounded corners.
        painter.save();
        painter.setClipPath(outline);
        painter.drawImage(QRectF(rect()).adjusted(1.25, 1.25, -1.25, -1.25), *picture);
        painter.restore();
    }
    painter.setPen(QPen(QColor::fromRgbF(0.1f, 0.1f, 0.1f), 1));
    painter.drawPath(outline);
}
