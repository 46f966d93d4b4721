#include "HapDecoderFrame.h"

#include <snappy.h>

#include <cstring>
#include <optional>

namespace {

// Second-stage compressors (the high nibble of a texture section's type).
constexpr uint8_t kStoreNone = 0xA, kStoreSnappy = 0xB, kStoreChunked = 0xC;
// Section types with no texture of their own.
constexpr uint8_t kMultipleImages = 0x0D, kDecodeInstructions = 0x01, kChunkCompressors = 0x02,
                  kChunkSizes = 0x03, kChunkOffsets = 0x04;

struct Section {
    uint8_t type = 0;
    const uint8_t* data = nullptr;
    uint64_t size = 0;
    uint64_t extent = 0;  // header and data
};

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The section at the start of [p, p + available), or nothing when it does not fit.
std::optional<Section> readSection(const uint8_t* p, uint64_t available) {
    if (available < 4) return std::nullopt;
    Section s;
    s.type = p[3];
    uint64_t header = 4;
    s.size = uint64_t(p[0]) | uint64_t(p[1]) << 8 | uint64_t(p[2]) << 16;
    if (s.size == 0) {
        if (available < 8) return std::nullopt;
        s.size = le32(p + 4);
        header = 8;
    }
    if (s.size > available - header) return std::nullopt;
    s.data = p + header;
    s.extent = header + s.size;
    return s;
}

// Plane code and bits per pixel of a texture nibble (the low nibble of a section's type).
std::optional<std::pair<uint32_t, int>> textureOf(uint8_t nibble) {
    switch (nibble) {
    case 0xB: return std::pair{fourCC("DXt1"), 4};
    case 0xE: return std::pair{fourCC("DXT5"), 8};
    case 0xF: return std::pair{fourCC("DYt5"), 8};
    case 0x1: return std::pair{fourCC("RGA1"), 4};
    default: return std::nullopt;  // BC7 and anything newer: not a plane the GPU layer takes
    }
}

class Decoder {
public:
    Decoder(uint64_t dxtWidth, uint64_t dxtHeight) : width_(dxtWidth), height_(dxtHeight) {}

    // Decodes one texture section into `plane`; false with error() set.
    bool texture(const Section& s, HapDecoderFrame::Plane& plane) {
        const auto kind = textureOf(s.type & 0x0F);
        if (!kind) return fail("unknown texture type 0x" + hex(s.type));
        plane.code = kind->first;
        const uint64_t expected = uint64_t(kind->second) * width_ * height_ / 8;
        switch (s.type >> 4) {
        case kStoreNone:
            if (s.size != expected) return fail(sizeMismatch(s.size, expected));
            plane.bytes.assign(s.data, s.data + expected);
            return true;
        case kStoreSnappy: return unsnappy(s.data, s.size, plane.bytes, expected);
        case kStoreChunked: return chunked(s, plane, expected);
        default: return fail("unknown second-stage compressor 0x" + hex(s.type));
        }
    }

    const std::string& error() const { return error_; }

    bool fail(std::string why) {
        error_ = std::move(why);
        return false;
    }

private:
    static std::string hex(uint8_t v) {
        const char digits[] = "0123456789ABCDEF";
        return {digits[v >> 4], digits[v & 15]};
    }
    static std::string sizeMismatch(uint64_t got, uint64_t expected) {
        return "texture data of " + std::to_string(got) + " bytes where the picture needs " +
               std::to_string(expected);
    }

    // The length a snappy block states; nothing, with error() set, when its header is damaged
    // or states more than its bytes can hold: snappy's longest copy makes 64 bytes of 3, so a
    // block never expands more than 22 times, and a larger claim must not size an allocation.
    std::optional<uint64_t> snappyLength(const uint8_t* in, uint64_t inSize) {
        size_t length = 0;
        if (!snappy::GetUncompressedLength(reinterpret_cast<const char*>(in), size_t(inSize), &length)) {
            fail("damaged snappy data");
            return std::nullopt;
        }
        if (length > 22 * inSize) {
            fail("snappy data stating more than its bytes can hold");
            return std::nullopt;
        }
        return length;
    }

    // Sizes are checked before anything is allocated, so a packet cannot make us reserve more
    // than the picture needs.
    bool unsnappy(const uint8_t* in, uint64_t inSize, std::vector<uint8_t>& out, uint64_t expected) {
        const auto length = snappyLength(in, inSize);
        if (!length) return false;
        if (*length != expected) return fail(sizeMismatch(*length, expected));
        out.resize(expected);
        if (!snappy::RawUncompress(reinterpret_cast<const char*>(in), size_t(inSize),
                                   reinterpret_cast<char*>(out.data())))
            return fail("damaged snappy data");
        return true;
    }

    struct Chunk {
        const uint8_t* data;
        uint64_t size;
        uint64_t length;  // once decompressed
        bool snappy;
    };

    bool chunked(const Section& s, HapDecoderFrame::Plane& plane, uint64_t expected) {
        const auto instructions = readSection(s.data, s.size);
        if (!instructions || instructions->type != kDecodeInstructions)
            return fail("chunked texture without decode instructions");
        const uint8_t* compressors = nullptr;
        const uint8_t* sizes = nullptr;
        const uint8_t* offsets = nullptr;
        uint64_t count = 0, sizeBytes = 0, offsetBytes = 0;
        for (uint64_t at = 0; at < instructions->size;) {
            const auto part = readSection(instructions->data + at, instructions->size - at);
            if (!part) return fail("decode instructions overrun their section");
            if (part->type == kChunkCompressors) {
                compressors = part->data;
                count = part->size;
            } else if (part->type == kChunkSizes) {
                sizes = part->data;
                sizeBytes = part->size;
            } else if (part->type == kChunkOffsets) {
                offsets = part->data;
                offsetBytes = part->size;
            }  // other instruction types are not needed to decode
            at += part->extent;
        }
        if (!compressors || !sizes || count == 0 || sizeBytes != count * 4 ||
            (offsets && offsetBytes != count * 4))
            return fail("chunk tables missing or of different lengths");
        if (count > expected) return fail("more chunks than the picture has bytes");

        const uint8_t* frameData = s.data + instructions->extent;
        const uint64_t frameSize = s.size - instructions->extent;
        std::vector<Chunk> chunks;
        chunks.reserve(size_t(count));
        uint64_t end = 0, total = 0;
        for (uint64_t i = 0; i < count; ++i) {
            Chunk chunk{nullptr, le32(sizes + 4 * i), 0, compressors[i] == kStoreSnappy};
            const uint64_t offset = offsets ? le32(offsets + 4 * i) : end;
            end = offset + chunk.size;
            if (end > frameSize) return fail("chunk lies outside the frame data");
            chunk.data = frameData + offset;
            if (chunk.snappy) {
                const auto length = snappyLength(chunk.data, chunk.size);
                if (!length) return false;
                chunk.length = *length;
            } else if (compressors[i] == kStoreNone) {
                chunk.length = chunk.size;
            } else {
                return fail("unknown chunk compressor 0x" + hex(compressors[i]));
            }
            total += chunk.length;
            if (total > expected) break;
            chunks.push_back(chunk);
        }
        if (total != expected) return fail(sizeMismatch(total, expected));

        plane.bytes.resize(expected);
        uint8_t* out = plane.bytes.data();
        for (const Chunk& chunk : chunks) {
            if (!chunk.snappy)
                std::memcpy(out, chunk.data, chunk.size);
            else if (!snappy::RawUncompress(reinterpret_cast<const char*>(chunk.data),
                                            size_t(chunk.size), reinterpret_cast<char*>(out)))
                return fail("damaged snappy data");
            out += chunk.length;
        }
        return true;
    }

    uint64_t width_, height_;
    std::string error_;
};

}  // namespace

HapPlaneFormat hapPlaneFormat(uint32_t planeCode, int planeIndex) {
    if (planeCode == fourCC("DXt1")) return {HapTextureFormat::RGB_DXT1, 4};
    if (planeCode == fourCC("DXT5") || planeCode == fourCC("DYt5"))
        return {HapTextureFormat::RGBA_DXT5, 8};
    if (planeCode == fourCC("DYtA") || planeCode == fourCC("CCXY"))
        return planeIndex == 0 ? HapPlaneFormat{HapTextureFormat::RGBA_DXT5, 8}
                               : HapPlaneFormat{HapTextureFormat::A_RGTC1, 4};
    if (planeCode == fourCC("RGA1")) return {HapTextureFormat::A_RGTC1, 4};
    return {};
}

std::shared_ptr<const HapDecoderFrame> HapDecoderFrame::decode(const uint8_t* data, size_t size,
                                                               uint32_t codecSubType, int width,
                                                               int height,
                                                               MediaTime presentationTime) {
    std::shared_ptr<HapDecoderFrame> frame(new HapDecoderFrame);
    frame->codecSubType_ = codecSubType;
    frame->presentationTime_ = presentationTime;
    frame->imgSize_ = {width, height};
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) {
        frame->error_ = "picture size " + std::to_string(width) + "x" + std::to_string(height) +
                        " out of range";
        return frame;
    }
    frame->dxtSize_ = {(width + 3) / 4 * 4, (height + 3) / 4 * 4};
    Decoder decoder(uint64_t(frame->dxtSize_.width), uint64_t(frame->dxtSize_.height));

    const auto top = data ? readSection(data, size) : std::nullopt;
    std::vector<Plane> planes;
    if (!top) {
        decoder.fail("packet too short for its section");
    } else if (top->type == kMultipleImages) {
        for (uint64_t at = 0; at < top->size && decoder.error().empty();) {
            const auto image = readSection(top->data + at, top->size - at);
            if (!image) {
                decoder.fail("image section overruns the frame");
            } else if (planes.size() == 2) {
                decoder.fail("more than two images in one frame");
            } else {
                planes.emplace_back();
                decoder.texture(*image, planes.back());
                at += image->extent;
            }
        }
        // The only combination Hap allows: scaled YCoCg colour plus RGTC1 alpha, named as one.
        if (decoder.error().empty() && planes.size() == 2) {
            if (planes[0].code != fourCC("DYt5") || planes[1].code != fourCC("RGA1"))
                decoder.fail("image combination not allowed");
            else
                planes[0].code = planes[1].code = fourCC("DYtA");
        } else if (decoder.error().empty() && planes.empty()) {
            decoder.fail("frame without images");
        }
    } else {
        planes.emplace_back();
        decoder.texture(*top, planes.back());
    }
    if (!decoder.error().empty())
        frame->error_ = decoder.error();
    else
        frame->planes_ = std::move(planes);
    return frame;
}

std::shared_ptr<const HapDecoderFrame> HapDecoderFrame::withPlanes(HapSize dxtImgSize, HapSize imgSize,
                                                                   std::vector<Plane> planes,
                                                                   uint32_t codecSubType) {
    std::shared_ptr<HapDecoderFrame> frame(new HapDecoderFrame);
    frame->dxtSize_ = dxtImgSize;
    frame->imgSize_ = imgSize;
    frame->planes_ = std::move(planes);
    frame->codecSubType_ = codecSubType;
    return frame;
}
