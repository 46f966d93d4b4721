#include "Rendering/KavioOverlayer.h"

#include "Caption/QVTCaptionRenderer.h"
#include "Rendering/KavioOverlayFontManager.h"
#include "Rendering/KavioRenderingSupport.h"
#include "Rendering/QVTMetalManager.h"
#include "Support/KavioFonts.h"

#include "Log.h"
#include "UserDefaults.h"

#include <QFontMetricsF>
#include <QPainter>

KavioOverlayer::KavioOverlayer() = default;

KavioOverlayer::KavioOverlayer(QVTMetalManager& manager)
    : manager_(&manager)
{
}

void KavioOverlayer::rebuild(QSizeF size, bool useAbsoluteSize)
{
    setShouldClear(false);
    lastLeftRect_ = lastRightRect_ = lastFpsRect_ = QRectF();
    rendersize_ = size;
    if (image_.size() != size.toSize())
        image_ = QImage(size.toSize(), QImage::Format_ARGB32_Premultiplied);
    image_.fill(Qt::transparent);
    const auto& fonts = KavioOverlayFontManager::sharedManager();
    if (useAbsoluteSize) {
        fontsize_ = fonts.overlayFontSizeForPreview();
        textpadding_ = fonts.overlayTextPadding();
    } else {
        fontsize_ = fonts.overlayFontSizeForOutput();
        textpadding_ = double(fontsize_ / 4) + 2.5;
    }
    rectcolor_ = fonts.backgroundColor();
    textFont_ = KavioFonts::font(QStringLiteral("Monaco"), double(fontsize_));
    fpsTextFont_ = KavioFonts::font(QStringLiteral("Monaco"), 12.0);
    isbottom_ = UserDefaults::standardUserDefaults().integerForKey("cueTimesOverlayPosition") >= 11;
    needsDraw_ = true;
}

void KavioOverlayer::drawBox(QPainter& painter, const QString& text, const QFont& font, double padding, bool atLeft,
                             bool atBottom, QRectF& lastRect)
{
    const double W = rendersize_.width(), H = rendersize_.height();
    const QFontMetricsF metrics(font);
    const double w = metrics.horizontalAdvance(text);
    const double h = metrics.ascent() + metrics.descent();
    // Placed as from the bottom-left (y up), then turned into image rows.
    const double x = atLeft ? 0.05 * W : W - 0.05 * W - w - 10;
    const double y = atBottom ? 0.05 * H : H - h - 0.05 * H;
    const QRectF box(x, H - y - h, w + 10, h);
    if (!lastRect.isEmpty() && lastRect != box) {
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.fillRect(lastRect.adjusted(-1, -1, 1, 1), Qt::transparent);
    }
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(box, rectcolor_.toQColor());
    lastRect = box;
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QPointF(x + 5, H - (y + padding)), text);
}

std::shared_ptr<GpuTexture> KavioOverlayer::renderWithSize(QSizeF size, bool useAbsoluteSize, const QString& normalTime,
                                                           const QString& remainingTime, const QString& fps,
                                                           const QVTCaptionPtr& caption)
{
    const QSizeF whole(std::floor(size.width()), std::floor(size.height()));
    if (!KavioRenderingSupport::isUsableSize(whole)) {
        KLOG_ERROR("error with creating CGBitmapContextCreate (Overlay) {}", KavioRenderingSupport::sizeText(size));
        return nullptr;
    }
    const bool transparentCaption = caption && caption->hasTransparency();
    if (whole != rendersize_ || shouldClear() || caption != previousCaption_ || transparentCaption)
        rebuild(whole, useAbsoluteSize);

    if (texture_ && !needsDraw_ && normalTime == oldnormalTime_ && remainingTime == oldremainingTime_
        && fps == oldfps_)
        return texture_;
    oldnormalTime_ = normalTime;
    oldremainingTime_ = remainingTime;
    oldfps_ = fps;
    previousCaption_ = caption;
    needsDraw_ = false;

    {
        QPainter painter(&image_);
        painter.setRenderHint(QPainter::TextAntialiasing, false);  // no font smoothing
        if (!normalTime.isNull())
            drawBox(painter, normalTime, textFont_, textpadding_, true, isbottom_, lastLeftRect_);
        if (!remainingTime.isNull())
            drawBox(painter, remainingTime, textFont_, textpadding_, false, isbottom_, lastRightRect_);
        if (!fps.isNull())
            drawBox(painter, fps, fpsTextFont_, kFpsTextPadding, false, !isbottom_, lastFpsRect_);
        if (caption)
            QVTCaptionRenderer::renderCaption(caption.get(), 2, painter, whole);
    }

    const auto width = std::uint32_t(whole.width()), height = std::uint32_t(whole.height());
    if (!texture_ || texture_->width() != width || texture_->height() != height) {
        auto device = (manager_ ? *manager_ : QVTMetalManager::sharedManager()).device();
        texture_ = device ? device->newTexture({GpuPixelFormat::BGRA8Unorm, width, height}) : nullptr;
        if (!texture_)
            return nullptr;
        texture_->setLabel("KavioOverlayer");
    }
    texture_->replaceRegion({0, 0, width, height}, image_.constBits(), std::size_t(image_.bytesPerLine()));
    return texture_;
}
