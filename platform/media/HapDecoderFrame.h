#pragma once
// One Hap frame as the GPU takes it: one or two planes of block-compressed texture data
// (DXT1/BC1, DXT5/BC3, scaled YCoCg in DXT5, RGTC1/BC4 alpha), never decoded to pixels here.
//
// decode() is a pure function over the bytes of one demuxed Hap packet: it walks the packet's
// sections, undoes the second-stage compression (none, snappy, or chunks each with their own
// compressor) and checks every size against the picture size before it allocates or copies
// anything. Sizes are computed in 64 bits. A packet that does not make sense (a section larger
// than the packet, a plane whose size does not match the picture, an unknown texture type, a
// plane combination Hap does not allow, damaged snappy data) yields a frame marked invalid,
// with the cause in error() and no planes; it never throws or reads outside the packet.
//
// Frames are immutable and shared (HapFrameRef); any thread may read them.

#include "MediaAsset.h"
#include "MediaTime.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Texture formats of Hap planes, by the codes the GPU layer maps to compressed textures: the
// OpenGL compressed-format constants, and 0x01 for scaled YCoCg in DXT5.
enum class HapTextureFormat : uint32_t {
    Unknown = 0,
    RGB_DXT1 = 0x83F0,
    RGBA_DXT5 = 0x83F3,
    YCoCg_DXT5 = 0x01,
    A_RGTC1 = 0x8DBB,
};

struct HapPlaneFormat {
    HapTextureFormat textureFormat = HapTextureFormat::Unknown;
    int bitsPerPixel = 0;  // 4 for DXT1 and RGTC1, 8 for DXT5
};

// The plane pixel-format codes a frame names its planes with, and what each means for the
// plane at `planeIndex`: 'DXt1' RGB DXT1; 'DXT5' RGBA DXT5; 'DYt5' scaled YCoCg DXT5; 'DYtA'
// (also 'CCXY') YCoCg DXT5 for plane 0 and RGTC1 alpha for any later plane; 'RGA1' RGTC1 alpha.
// Unknown codes answer HapTextureFormat::Unknown with 0 bits.
HapPlaneFormat hapPlaneFormat(uint32_t planeCode, int planeIndex);

struct HapSize {
    int width = 0;
    int height = 0;
};

class HapDecoderFrame {
public:
    // The largest picture side taken; larger sizes are refused as nonsense.
    static constexpr int kMaxSide = 16384;

    // Decodes one packet of a track of `codecSubType` ('Hap1', 'Hap5', 'HapY', 'HapM', 'HapA')
    // whose pictures are width x height. The planes follow the packet's own sections; the
    // subtype is only reported back. Never nullptr; see isValid().
    static std::shared_ptr<const HapDecoderFrame> decode(const uint8_t* data, size_t size,
                                                         uint32_t codecSubType, int width,
                                                         int height,
                                                         MediaTime presentationTime = {});

    bool isValid() const { return error_.empty(); }
    // Why the frame is invalid; empty for a valid frame.
    const std::string& error() const { return error_; }

    // The compressed image: the picture size rounded up to whole 4 x 4 blocks.
    HapSize dxtImgSize() const { return dxtSize_; }
    // The picture itself.
    HapSize imgSize() const { return imgSize_; }
    // 1, or 2 for Hap Q Alpha (colour, then alpha); 0 for an invalid frame.
    int dxtPlaneCount() const { return int(planes_.size()); }
    // Per plane (0 <= plane < dxtPlaneCount()): its pixel-format code (see hapPlaneFormat),
    // byte count (exactly bitsPerPixel x dxt width x dxt height / 8) and bytes.
    uint32_t dxtPixelFormat(int plane) const { return planes_[size_t(plane)].code; }
    size_t dxtDataSize(int plane) const { return planes_[size_t(plane)].bytes.size(); }
    const uint8_t* dxtData(int plane) const { return planes_[size_t(plane)].bytes.data(); }
    // The track's Hap four-character code, as given to decode().
    uint32_t codecSubType() const { return codecSubType_; }
    // Item time of the picture, as given to decode().
    MediaTime presentationTime() const { return presentationTime_; }

    struct Plane {
        uint32_t code = 0;
        std::vector<uint8_t> bytes;
    };

    // A frame of planes decoded elsewhere, taken as they are, without checks (the GPU upload
    // checks what it needs). For other Hap sources and for tests of the frame's users.
    static std::shared_ptr<const HapDecoderFrame> withPlanes(HapSize dxtImgSize, HapSize imgSize,
                                                             std::vector<Plane> planes,
                                                             uint32_t codecSubType);

private:
    HapDecoderFrame() = default;
    std::string error_;
    HapSize dxtSize_, imgSize_;
    std::vector<Plane> planes_;
    uint32_t codecSubType_ = 0;
    MediaTime presentationTime_;
};

using HapFrameRef = std::shared_ptr<const HapDecoderFrame>;
