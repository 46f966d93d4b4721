#include "FrameTransferSession.h"

#include "PixelPacking.h"

#include <cstdint>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

namespace {

constexpr int kMaxSide = 16384;

AVPixelFormat inputFormat(MediaPixelFormat format)
{
    switch (format) {
    case MediaPixelFormat::BGRA: return AV_PIX_FMT_BGRA;
    case MediaPixelFormat::YUV422_8: return AV_PIX_FMT_UYVY422;
    case MediaPixelFormat::RGBAHalf:
    case MediaPixelFormat::YUV422_10:
    case MediaPixelFormat::Native: break;  // planes of their own: not a packed row to scale
    }
    return AV_PIX_FMT_NONE;
}

// Bytes one row of the format needs at least.
long minimumRowBytes(MediaPixelFormat format, int width)
{
    switch (format) {
    case MediaPixelFormat::BGRA: return long(width) * 4;
    case MediaPixelFormat::YUV422_8: return long(width + 1) / 2 * 4;
    case MediaPixelFormat::RGBAHalf: return long(width) * 8;
    case MediaPixelFormat::YUV422_10: return long(width + 5) / 6 * 16;
    case MediaPixelFormat::Native: break;
    }
    return 0;
}

}  // namespace

FrameTransferSession::FrameTransferSession() = default;

FrameTransferSession::~FrameTransferSession()
{
    sws_freeContext(scaler_);
}

VideoFrameRef FrameTransferSession::transferToV210(const VideoFrame& frame)
{
    const int width = frame.width(), height = frame.height();
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide || !frame.data() ||
        frame.bytesPerRow() < minimumRowBytes(frame.pixelFormat(), width))
        return nullptr;
    if (frame.pixelFormat() == MediaPixelFormat::YUV422_10)
        return std::make_shared<VideoFrame>(frame);
    const AVPixelFormat input = inputFormat(frame.pixelFormat());
    if (input == AV_PIX_FMT_NONE)
        return nullptr;
    scaler_ = sws_getCachedContext(scaler_, width, height, input, width, height, AV_PIX_FMT_YUV422P10LE,
                                   SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler_)
        return nullptr;

    // Planar 10-bit samples first, then packed six pixels to four words per row.
    const int chromaWidth = (width + 1) / 2;
    std::vector<std::uint16_t> y(std::size_t(width) * height), cb(std::size_t(chromaWidth) * height),
        cr(std::size_t(chromaWidth) * height);
    const std::uint8_t* source[4] = {frame.data(), nullptr, nullptr, nullptr};
    const int sourceStride[4] = {frame.bytesPerRow(), 0, 0, 0};
    std::uint8_t* planes[4] = {reinterpret_cast<std::uint8_t*>(y.data()), reinterpret_cast<std::uint8_t*>(cb.data()),
                               reinterpret_cast<std::uint8_t*>(cr.data()), nullptr};
    const int strides[4] = {width * 2, chromaWidth * 2, chromaWidth * 2, 0};
    if (sws_scale(scaler_, source, sourceStride, 0, height, planes, strides) != height)
        return nullptr;

    const int bytesPerRow = bytesPerRowFor(MediaPixelFormat::YUV422_10, width);
    auto storage = std::make_shared<std::vector<std::uint8_t>>(std::size_t(bytesPerRow) * height);
    for (int row = 0; row < height; ++row)
        PixelPacking::packV210Row(y.data() + std::size_t(row) * width, cb.data() + std::size_t(row) * chromaWidth,
                                  cr.data() + std::size_t(row) * chromaWidth, width,
                                  storage->data() + std::size_t(row) * bytesPerRow);
    const std::uint8_t* data = storage->data();
    return std::make_shared<VideoFrame>(MediaPixelFormat::YUV422_10, width, height, bytesPerRow, data,
                                        frame.presentationTime(), std::move(storage));
}
