#pragma once
// One decoded picture in one of the pixel formats the renderer takes, with its presentation
// time: a packed picture, or the decoder's own planes handed on without conversion (Native). Frames are immutable and handed around as std::shared_ptr<const VideoFrame>: the pixels
// are never copied again after decoding; the last holder's release returns the memory to the
// source's pool (which outlives the source if frames are still held).

#include "MediaAsset.h"
#include "MediaTime.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// The first four are single-plane packed formats, named by their four-character codes.
enum class MediaPixelFormat : uint32_t {
    BGRA = fourCC("BGRA"),       // 8-bit B, G, R, A; full range RGB
    YUV422_8 = fourCC("2vuy"),   // 8-bit Cb Y0 Cr Y1, video range, the movie's own YCbCr matrix
    YUV422_10 = fourCC("v210"),  // 10-bit 4:2:2, six pixels in four little-endian 32-bit words
    RGBAHalf = fourCC("RGhA"),   // 16-bit half-float R, G, B, A, 0.0..1.0
    // The decoder's YCbCr planes as it made them (VideoFramePlanes), for consumers that convert
    // on the GPU. Asked of a source, it yields Native frames for planar and semi-planar YCbCr
    // of 8 to 16 bits and BGRA frames for any other layout (RGB, grey, palette).
    Native = fourCC("natv"),
};

// Where chroma samples sit relative to the luma samples they cover, as the decoder reports it.
enum class MediaChromaSiting { Left, Center, TopLeft, Top, BottomLeft, Bottom };

// The planes of a Native frame. Samples are little-endian; plane 0 is luma, then either one
// plane of Cb, Cr pairs (interleaved, as nv12 and p010) or a Cb and a Cr plane, then alpha.
struct VideoFramePlanes {
    static constexpr int kMaxPlanes = 4;
    int count = 0;  // 2 or 3, plus one with alpha
    bool interleavedChroma = false;
    bool hasAlpha = false;
    const uint8_t* data[kMaxPlanes] = {};
    int bytesPerRow[kMaxPlanes] = {};
    int bytesPerSample = 1;  // 1 or 2
    int bitDepth = 8;        // significant bits of a sample
    int sampleShift = 0;     // bits below the significant ones (6 for p010's 10 bits in 16)
    int chromaShiftX = 0, chromaShiftY = 0;  // log2 of the chroma subsampling: 1, 1 for 4:2:0
    MediaColorMatrix matrix = MediaColorMatrix::Unspecified;  // as tagged; see matrixForSize
    bool fullRange = false;
    MediaChromaSiting siting = MediaChromaSiting::Left;

    int chromaWidth(int width) const { return -((-width) >> chromaShiftX); }
    int chromaHeight(int height) const { return -((-height) >> chromaShiftY); }
    // The matrix to convert with: the tagged one, or for untagged pictures BT.709 from 720
    // rows up and BT.601 below (the rule the packed conversions follow too).
    MediaColorMatrix matrixForSize(int height) const {
        if (matrix != MediaColorMatrix::Unspecified) return matrix;
        return height >= 720 ? MediaColorMatrix::ITU_R_709 : MediaColorMatrix::ITU_R_601;
    }
};

// Bytes per row the layer uses for a width: the format's own rule for v210 (48 pixels in 128
// bytes), otherwise the packed row rounded up to 64 bytes for GPU uploads (Native: of its BGRA
// fallback).
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

    // A Native frame; data() and bytesPerRow() are its luma plane's.
    VideoFrame(int width, int height, const VideoFramePlanes& planes, MediaTime presentationTime,
               std::shared_ptr<void> storage)
        : VideoFrame(MediaPixelFormat::Native, width, height, planes.bytesPerRow[0],
                     planes.data[0], presentationTime, std::move(storage)) {
        planes_ = planes;
    }

    MediaPixelFormat pixelFormat() const { return format_; }
    // The planes of a Native frame; count 0 for packed frames.
    const VideoFramePlanes& planes() const { return planes_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int bytesPerRow() const { return bytesPerRow_; }
    const uint8_t* data() const { return data_; }
    const uint8_t* row(int y) const { return data_ + std::ptrdiff_t(y) * bytesPerRow_; }
    // Of the packed picture, or of a Native frame's luma plane.
    size_t byteCount() const { return size_t(bytesPerRow_) * size_t(height_); }
    // Item time of the picture: from the file's start, in the track's own time base.
    MediaTime presentationTime() const { return presentationTime_; }

private:
    MediaPixelFormat format_;
    int width_, height_, bytesPerRow_;
    const uint8_t* data_;
    MediaTime presentationTime_;
    std::shared_ptr<void> storage_;
    VideoFramePlanes planes_;
};

using VideoFrameRef = std::shared_ptr<const VideoFrame>;
