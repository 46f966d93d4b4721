#include "BGRAPictureConverter.h"

#include "PixelPacking.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace {
constexpr int kMaxSide = 16384;
}

BGRAPictureConverter::~BGRAPictureConverter()
{
    sws_freeContext(scaler_);
}

int BGRAPictureConverter::bytesPerRow(Target target, int width)
{
    return target == Target::UYVY8 ? (width + 1) / 2 * 4 : (width + 47) / 48 * 128;
}

bool BGRAPictureConverter::prepare(int width, int height, Target target)
{
    if (scaler_ && width == width_ && height == height_ && target == target_)
        return true;
    sws_freeContext(scaler_);
    width_ = width, height_ = height, target_ = target;
    const AVPixelFormat format = target == Target::V210 ? AV_PIX_FMT_YUV422P10LE : AV_PIX_FMT_UYVY422;
    scaler_ = sws_getContext(width, height, AV_PIX_FMT_BGRA, width, height, format, SWS_POINT, nullptr, nullptr, nullptr);
    if (!scaler_)
        return false;
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(scaler_, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    planes_.assign(target == Target::V210 ? size_t(width + 2 * ((width + 1) / 2)) * size_t(height) : 0, 0);
    return true;
}

bool BGRAPictureConverter::convert(const uint8_t* bgra, int bgraBytesPerRow, int width, int height, Target target,
                                   uint8_t* out, int outBytesPerRow)
{
    if (!bgra || !out || width < 1 || height < 1 || width > kMaxSide || height > kMaxSide
        || bgraBytesPerRow < width * 4 || outBytesPerRow < bytesPerRow(target, width) || !prepare(width, height, target))
        return false;
    const uint8_t* src[4] = {bgra, nullptr, nullptr, nullptr};
    const int srcStride[4] = {bgraBytesPerRow, 0, 0, 0};
    if (target == Target::UYVY8) {
        uint8_t* dst[4] = {out, nullptr, nullptr, nullptr};
        const int dstStride[4] = {outBytesPerRow, 0, 0, 0};
        return sws_scale(scaler_, src, srcStride, 0, height, dst, dstStride) == height;
    }
    const int chromaWidth = (width + 1) / 2;
    uint16_t* y = planes_.data();
    uint16_t* cb = y + size_t(width) * size_t(height);
    uint16_t* cr = cb + size_t(chromaWidth) * size_t(height);
    uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(y), reinterpret_cast<uint8_t*>(cb), reinterpret_cast<uint8_t*>(cr),
                       nullptr};
    const int dstStride[4] = {width * 2, chromaWidth * 2, chromaWidth * 2, 0};
    if (sws_scale(scaler_, src, srcStride, 0, height, dst, dstStride) != height)
        return false;
    for (int row = 0; row < height; ++row)
        PixelPacking::packV210Row(y + size_t(row) * size_t(width), cb + size_t(row) * size_t(chromaWidth),
                                  cr + size_t(row) * size_t(chromaWidth), width,
                                  out + size_t(row) * size_t(outBytesPerRow));
    return true;
}
