#include "Inspector/KavioInspectorThumbnailView.h"

#include "Support/PointConversion.h"

#include "DispatchQueue.h"

#include <QPainter>
#include <QPointer>

#include <algorithm>

KavioInspectorThumbnailView::KavioInspectorThumbnailView(QWidget* parent) : QWidget(parent) {}

void KavioInspectorThumbnailView::setCGImage(std::shared_ptr<const QImage> image)
{
    if (!DispatchQueue::isMainThread()) {
        QPointer<KavioInspectorThumbnailView> self(this);
        DispatchQueue::main().async([self, image = std::move(image)]() mutable {
            if (self)
                self->setCGImage(std::move(image));
        });
        return;
    }
    image_ = std::move(image);
    update();
}

QRectF KavioInspectorThumbnailView::imageRectForBounds(const QSizeF& bounds, const QSize& imageSize)
{
    const QRectF inner(1.25, 1.25, bounds.width() - 2.5, bounds.height() - 2.5);
    if (imageSize.isEmpty() || inner.isEmpty())
        return {};
    const double aspect = double(imageSize.width()) / double(imageSize.height());
    double w = inner.width();
    double h = w / aspect;
    if (h > inner.height()) {
        h = inner.height();
        w = h * aspect;
    }
    return QRectF(inner.x() + (inner.width() - w) / 2.0, inner.y() + (inner.height() - h) / 2.0, w, h);
}

void KavioInspectorThumbnailView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25);
    if (path_.isEmpty())
        path_.addRoundedRect(r, 3, 3);
    painter.fillPath(path_, QColor::fromRgbF(0.15f, 0.15f, 0.15f));
    if (image_ && !image_->isNull()) {
        const QRectF target = imageRectForBounds(size(), image_->size());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(PointConversion::rectFromBottomLeft(height(), target), *image_);
    }
    painter.setPen(QPen(QColor::fromRgbF(0.1f, 0.1f, 0.1f), 1));
    painter.drawPath(path_);
}
