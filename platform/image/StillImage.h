#pragma once
// Still pictures for cues: image files (through Qt's image readers, orientation applied; HEIF
// and HEIC through libheif) and single PDF pages (through poppler), each delivered as one
// VideoFrame in the renderer's pixel format over the decoded image's own memory.
//
// Only two formats are made: MediaPixelFormat::BGRA (8-bit, premultiplied alpha, bytes B G R A)
// and MediaPixelFormat::RGBAHalf (half-float R G B A, premultiplied). Frames carry a zero
// presentation time.
//
// Every function is a plain function of its arguments: no shared state, any thread. Failures
// answer std::nullopt with a sentence for the log in *error (when given); nothing throws.

#include "VideoFrame.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>

struct StillPicture {
    VideoFrameRef frame;
    bool hasAlpha = false;     // the source has an alpha channel (PDF pages: always true)
    int bitsPerSample = 8;     // per colour component in the file
};

namespace StillImage {

// The displayed size of an image file (after its orientation tag), without decoding the
// pixels; std::nullopt when the file is no readable image.
std::optional<QSize> imageSize(const QString& path, QString* error = nullptr);

// Decodes an image file. With maxLongestSide > 0 a picture whose longer side is larger is
// scaled down, keeping its aspect ratio, so that the longer side is exactly maxLongestSide.
// "heif" and "heic" files (any case) go through libheif, the others through Qt.
std::optional<StillPicture> readImage(const QString& path, MediaPixelFormat format, int maxLongestSide = 0,
                                      QString* error = nullptr);

// Renders page `page` (1-based) of a PDF file at twice its media box size in points, each side
// truncated to whole pixels, on opaque white. With maxLongestSide > 0 the scale is lowered so
// that the longer side is at most maxLongestSide. *pageCount (when given) receives the
// document's page count, or 0 when the document cannot be opened (a locked one included).
std::optional<StillPicture> renderPdfPage(const QString& path, std::uint64_t page, MediaPixelFormat format,
                                          int maxLongestSide = 0, std::uint64_t* pageCount = nullptr,
                                          QString* error = nullptr);

// The page count of a PDF file; 0 when the document cannot be opened (a locked one included).
std::uint64_t pdfPageCount(const QString& path);

// Wraps a QImage as a frame of `format` (converted as needed). Exposed for the cue's
// placeholder pictures.
VideoFrameRef frameFromImage(const QImage& image, MediaPixelFormat format);

}  // namespace StillImage
