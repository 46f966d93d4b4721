#include "StillImage.h"

#include <libheif/heif.h>
#include <poppler/qt6/poppler-qt6.h>

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// Qt refuses images above 256 MB by default. Pictures beyond the renderer's limit are read
// and then scaled down, so the limit must admit them (16384 x 16384 at 8 bytes a pixel).
constexpr int kAllocationLimitMegabytes = 2048;

void fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
}

bool isHeif(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("heif") || suffix == QLatin1String("heic");
}

QSize fitted(const QSize& size, int maxLongestSide)
{
    if (maxLongestSide <= 0 || std::max(size.width(), size.height()) <= maxLongestSide)
        return size;
    return size.scaled(maxLongestSide, maxLongestSide, Qt::KeepAspectRatio);
}

int bitsPerSampleOf(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_Grayscale16:
    case QImage::Format_RGBX16FPx4:
    case QImage::Format_RGBA16FPx4:
    case QImage::Format_RGBA16FPx4_Premultiplied:
        return 16;
    case QImage::Format_RGBX32FPx4:
    case QImage::Format_RGBA32FPx4:
    case QImage::Format_RGBA32FPx4_Premultiplied:
        return 32;
    default:
        return 8;
    }
}

// libheif handles, released by their owners.
struct HeifContextDeleter {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HeifHandleDeleter {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct HeifImageDeleter {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
using HeifContext = std::unique_ptr<heif_context, HeifContextDeleter>;
using HeifHandle = std::unique_ptr<heif_image_handle, HeifHandleDeleter>;

HeifHandle openHeif(const QString& path, HeifContext& context, QString* error)
{
    context.reset(heif_context_alloc());
    const QByteArray file = QFile::encodeName(path);
    heif_error result = heif_context_read_from_file(context.get(), file.constData(), nullptr);
    heif_image_handle* handle = nullptr;
    if (result.code == heif_error_Ok)
        result = heif_context_get_primary_image_handle(context.get(), &handle);
    if (result.code != heif_error_Ok) {
        fail(error, QStringLiteral("%1: %2").arg(path, QString::fromUtf8(result.message)));
        return nullptr;
    }
    return HeifHandle(handle);
}

std::optional<StillPicture> readHeif(const QString& path, MediaPixelFormat format, int maxLongestSide,
                                     QString* error)
{
    HeifContext context;
    const HeifHandle handle = openHeif(path, context, error);
    if (!handle)
        return std::nullopt;
    heif_image* decoded = nullptr;
    const heif_error result =
        heif_decode_image(handle.get(), &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr);
    if (result.code != heif_error_Ok) {
        fail(error, QStringLiteral("%1: %2").arg(path, QString::fromUtf8(result.message)));
        return std::nullopt;
    }
    const std::unique_ptr<heif_image, HeifImageDeleter> image(decoded);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!plane || width <= 0 || height <= 0) {
        fail(error, QStringLiteral("%1: the decoded HEIF image has no pixels").arg(path));
        return std::nullopt;
    }
    // The view over libheif's plane is copied by the conversion below, before the plane goes.
    QImage picture = QImage(plane, width, height, stride, QImage::Format_RGBA8888).copy();
    const QSize target = fitted(picture.size(), maxLongestSide);
    if (target != picture.size())
        picture = picture.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    StillPicture still;
    still.hasAlpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    still.bitsPerSample = std::max(8, heif_image_handle_get_luma_bits_per_pixel(handle.get()));
    still.frame = StillImage::frameFromImage(picture, format);
    return still;
}

}  // namespace

namespace StillImage {

VideoFrameRef frameFromImage(const QImage& image, MediaPixelFormat format)
{
    const QImage::Format qtFormat = format == MediaPixelFormat::RGBAHalf ? QImage::Format_RGBA16FPx4_Premultiplied
                                                                         : QImage::Format_ARGB32_Premultiplied;
    auto storage = std::make_shared<QImage>(image.convertToFormat(qtFormat));
    if (storage->isNull())
        return nullptr;
    const QImage& converted = *storage;
    return std::make_shared<VideoFrame>(format, converted.width(), converted.height(), int(converted.bytesPerLine()),
                                        converted.constBits(), MediaTime::zero(), storage);
}

std::optional<QSize> imageSize(const QString& path, QString* error)
{
    if (isHeif(path)) {
        HeifContext context;
        const HeifHandle handle = openHeif(path, context, error);
        if (!handle)
            return std::nullopt;
        return QSize(heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get()));
    }
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QSize size = reader.size();
    if (!size.isValid()) {
        fail(error, QStringLiteral("%1: %2").arg(path, reader.errorString()));
        return std::nullopt;
    }
    if (reader.transformation() & QImageIOHandler::TransformationRotate90)
        size.transpose();
    return size;
}

std::optional<StillPicture> readImage(const QString& path, MediaPixelFormat format, int maxLongestSide,
                                      QString* error)
{
    if (isHeif(path))
        return readHeif(path, format, maxLongestSide, error);
    QImageReader::setAllocationLimit(kAllocationLimitMegabytes);
    QImageReader reader(path);
    reader.setAutoTransform(true);
    // The longer side is the same before and after the orientation turn, so the stored size
    // can be scaled before reading.
    const QSize stored = reader.size();
    if (stored.isValid() && fitted(stored, maxLongestSide) != stored)
        reader.setScaledSize(fitted(stored, maxLongestSide));
    const QImage image = reader.read();
    if (image.isNull()) {
        fail(error, QStringLiteral("%1: %2").arg(path, reader.errorString()));
        return std::nullopt;
    }
    StillPicture still;
    still.hasAlpha = image.hasAlphaChannel();
    still.bitsPerSample = bitsPerSampleOf(image.format());
    still.frame = frameFromImage(image, format);
    if (!still.frame) {
        fail(error, QStringLiteral("%1: no memory for the picture").arg(path));
        return std::nullopt;
    }
    return still;
}

std::uint64_t pdfPageCount(const QString& path)
{
    const std::unique_ptr<Poppler::Document> document = Poppler::Document::load(path);
    return document && !document->isLocked() ? std::uint64_t(std::max(document->numPages(), 0)) : 0;
}

std::optional<StillPicture> renderPdfPage(const QString& path, std::uint64_t page, MediaPixelFormat format,
                                          int maxLongestSide, std::uint64_t* pageCount, QString* error)
{
    if (pageCount)
        *pageCount = 0;
    const std::unique_ptr<Poppler::Document> document = Poppler::Document::load(path);
    if (!document || document->isLocked()) {
        fail(error, QStringLiteral("%1: not an open PDF document").arg(path));
        return std::nullopt;
    }
    const int count = document->numPages();
    if (pageCount)
        *pageCount = std::uint64_t(std::max(count, 0));
    if (page < 1 || page > std::uint64_t(std::max(count, 0))) {
        fail(error, QStringLiteral("%1: no page %2 of %3").arg(path).arg(page).arg(count));
        return std::nullopt;
    }
    const std::unique_ptr<Poppler::Page> pdfPage = document->page(int(page - 1));
    const QSizeF points = pdfPage ? pdfPage->pageSizeF() : QSizeF();
    if (points.width() <= 0 || points.height() <= 0) {
        fail(error, QStringLiteral("%1: page %2 has no size").arg(path).arg(page));
        return std::nullopt;
    }
    double scale = 2.0;
    if (maxLongestSide > 0)
        scale = std::min(scale, maxLongestSide / std::max(points.width(), points.height()));
    // The small allowance keeps a side scaled exactly to the cap from truncating one pixel short.
    const QSize pixels(int(points.width() * scale + 1e-6), int(points.height() * scale + 1e-6));
    if (pixels.isEmpty()) {
        fail(error, QStringLiteral("%1: page %2 is too small to show").arg(path).arg(page));
        return std::nullopt;
    }
    document->setRenderHint(Poppler::Document::Antialiasing);
    document->setRenderHint(Poppler::Document::TextAntialiasing);
    const QImage rendered = pdfPage->renderToImage(72.0 * scale, 72.0 * scale, 0, 0, pixels.width(), pixels.height());
    QImage picture(pixels, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::white);
    {
        QPainter painter(&picture);
        painter.drawImage(0, 0, rendered);
    }
    StillPicture still;
    still.hasAlpha = true;
    still.frame = frameFromImage(picture, format);
    return still;
}

}  // namespace StillImage
