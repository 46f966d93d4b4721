#include "Views/KavioImageView.h"

#include <QPainter>

void KavioImageView::setImage(const QImage& image)
{
    image_ = image;
    clearImageCache();
    update();
}

void KavioImageView::setDrawColor(const QColor& color)
{
    drawColor_ = color;
    update();
}

QImage KavioImageView::imageWithColor(const QColor& color) { return cache_.imageWithColor(image_, color); }

void KavioImageView::paintEvent(QPaintEvent*)
{
    if (image_.isNull())
        return;
    const QImage shown = drawColor_.isValid() ? imageWithColor(drawColor_) : image_;
    QSizeF size = shown.size();
    size.scale(QSizeF(this->size()), Qt::KeepAspectRatio);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size), shown);
}
