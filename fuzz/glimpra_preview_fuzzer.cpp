// Fuzzes the thumbnailer's reading of a project file: the stored snapshot extracted from the
// archive ("QLData" / "QLIMAGE"), decoded within its limits and fitted to a thumbnail size.

#include "FuzzInput.h"
#include "GlimpraPreview.h"

#include <QImage>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto png = GlimpraPreview::extractPreviewPng(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!png)
        return 0;
    const QImage image = GlimpraPreview::decodePreview(*png);
    if (image.isNull())
        return 0;
    if (image.width() > GlimpraPreview::kMaxImageSide || image.height() > GlimpraPreview::kMaxImageSide)
        fuzz::brokenPromise();
    const QImage thumbnail = GlimpraPreview::fitThumbnail(image, 128);
    if (thumbnail.isNull() || thumbnail.width() > 128 || thumbnail.height() > 128)
        fuzz::brokenPromise();
    return 0;
}
