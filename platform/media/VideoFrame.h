#pragma once
// One decoded picture in one of the pixel formats the renderer takes, with its presentation
// time. Frames are immutable and handed around as std::shared_ptr<const VideoFrame>: the pixels
// are never copied again after decoding; the last holder's release returns the memory to the
// source's pool (which outlives the source if frames are still held).

#include "MediaAsset.h"
#include "MediaTime.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// All four are single-plane packed formats, named by their four-character codes.
enum class MediaPixelFormat : uint32_t {
    BGRA = fourCC("BGRA"),       // 8-bit B, G, R, A; full range RGB
    YUV422_8 = fourCC("2vuy"),   // 8-bit Cb Y0 Cr Y1, video range, the movie's own YCbCr matrix
    YUV422_10 = fourCC("v210"),  // 10-bit 4:2:2, six pixels in four little-endian 32-bit words
    RGBAHalf = fourCC("RGhA"),   // 16-bit half-float R, G, B, A, 0.0..1.0
};

// Bytes per row the layer uses for a width: the format's own rule for v210 (48 pixels in 128
// bytes), otherwise the packed row rounded up to 64 bytes for GPU uploads.
int bytesPerRowFor(MediaPixelFormat format, int width);

class VideoFrame {
public:
    // The media layer makes frames; `storage` keeps `data` alive for the frame's life.
    VideoFrame(MediaPixelFormat format, int width, int height, int bytesPerRow, const uint8_t* data,
               MediaTime presentationTime, std::shared_ptr<void> storage)
        : format_(format),
          width_(width),
          height_(height),
          bytesPerRow_(bytesPerRow),
          data_(data),
          presentationTime_(presentationTime),
          storage_(std::move(storage)) {}

    MediaPixelFormat pixelFormat() const { return format_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int bytesPerRow() const { return bytesPerRow_; }
    const uint8_t* data() const { return data_; }
    const uint8_t* row(int y) const { return data_ + std::ptrdiff_t(y) * bytesPerRow_; }
    size_t byteCount() const { return size_t(bytesPerRow_) * size_t(height_); }
    // Item time of the picture: from the file's start, in the track's own time base.
    MediaTime presentationTime() const { return presentationTime_; }

private:
    MediaPixelFormat format_;
    int width_, height_, bytesPerRow_;
    const uint8_t* data_;
    MediaTime presentationTime_;
    std::shared_ptr<void> storage_;
};

using VideoFrameRef = std::shared_ptr<const VideoFrame>;
