#pragma once
// Converts 8-bit BGRA pictures into the 4:2:2 formats video outputs send: '2vuy' (8-bit) or
// 'v210' (10-bit), with BT.709 video-range coefficients, keeping its scaler and work planes
// between calls while the size stays. One thread at a time.

#include <cstdint>
#include <vector>

struct SwsContext;

class BGRAPictureConverter {
public:
    enum class Target { UYVY8, V210 };

    BGRAPictureConverter() = default;
    ~BGRAPictureConverter();
    BGRAPictureConverter(const BGRAPictureConverter&) = delete;
    BGRAPictureConverter& operator=(const BGRAPictureConverter&) = delete;

    // The row length of `target` at `width`: 4 bytes a pixel pair, or 128 bytes per 48 pixels.
    static int bytesPerRow(Target target, int width);

    // Converts width x height pixels of `bgra` (rows of `bgraBytesPerRow`) into `out`, rows of
    // `outBytesPerRow` (at least bytesPerRow(target, width)). False, with `out` untouched or
    // partly written, when the sizes are out of range or the scaler fails.
    bool convert(const uint8_t* bgra, int bgraBytesPerRow, int width, int height, Target target, uint8_t* out,
                 int outBytesPerRow);

private:
    bool prepare(int width, int height, Target target);

    SwsContext* scaler_ = nullptr;
    int width_ = 0, height_ = 0;
    Target target_ = Target::UYVY8;
    std::vector<uint16_t> planes_;  // 10-bit Y, Cb, Cr before packing
};
