#include "NdiPixelConversion.h"

#include <cstring>

namespace NdiPixelConversion {

namespace {

uint32_t readWord(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void writeWord(uint8_t* p, uint32_t w)
{
    p[0] = uint8_t(w), p[1] = uint8_t(w >> 8), p[2] = uint8_t(w >> 16), p[3] = uint8_t(w >> 24);
}
uint16_t read16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
void write16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v), p[1] = uint8_t(v >> 8); }

// The order of the twelve samples of a v210 group: 'y' luma, 'b' Cb, 'r' Cr.
constexpr char kGroup[12] = {'b', 'y', 'r', 'y', 'b', 'y', 'r', 'y', 'b', 'y', 'r', 'y'};

bool sizesFit(int width, int height, int v210Stride_, int p216Stride_)
{
    return width > 0 && height > 0 && width % 2 == 0 && v210Stride_ >= (width + 5) / 6 * 16
           && p216Stride_ >= p216Stride(width);
}

}  // namespace

bool v210ToP216(const uint8_t* v210, int stride, int width, int height, uint8_t* p216, int outStride)
{
    if (!v210 || !p216 || !sizesFit(width, height, stride, outStride))
        return false;
    uint8_t* chromaPlane = p216 + size_t(outStride) * size_t(height);
    for (int row = 0; row < height; ++row) {
        const uint8_t* in = v210 + size_t(row) * size_t(stride);
        uint8_t* luma = p216 + size_t(row) * size_t(outStride);
        uint8_t* chroma = chromaPlane + size_t(row) * size_t(outStride);
        int y = 0, c = 0;  // samples written in this row
        for (int group = 0; y < width; ++group) {
            for (int word = 0; word < 4; ++word) {
                const uint32_t w = readWord(in + group * 16 + word * 4);
                for (int k = 0; k < 3; ++k) {
                    const uint16_t sample = uint16_t(((w >> (10 * k)) & 0x3ff) << 6);
                    if (kGroup[word * 3 + k] == 'y') {
                        if (y < width)
                            write16(luma + 2 * y++, sample);
                    } else if (c < width) {
                        write16(chroma + 2 * c++, sample);
                    }
                }
            }
        }
    }
    return true;
}

bool p216ToV210(const uint8_t* p216, int stride, int width, int height, uint8_t* v210, int outStride)
{
    if (!p216 || !v210 || !sizesFit(width, height, outStride, stride))
        return false;
    const uint8_t* chromaPlane = p216 + size_t(stride) * size_t(height);
    const int groups = (width + 5) / 6;
    for (int row = 0; row < height; ++row) {
        const uint8_t* luma = p216 + size_t(row) * size_t(stride);
        const uint8_t* chroma = chromaPlane + size_t(row) * size_t(stride);
        uint8_t* out = v210 + size_t(row) * size_t(outStride);
        std::memset(out, 0, size_t(outStride));
        int y = 0, c = 0;
        for (int group = 0; group < groups; ++group) {
            for (int word = 0; word < 4; ++word) {
                uint32_t w = 0;
                for (int k = 0; k < 3; ++k) {
                    uint16_t sample = 0;
                    if (kGroup[word * 3 + k] == 'y') {
                        if (y < width)
                            sample = read16(luma + 2 * y);
                        ++y;
                    } else {
                        if (c < width)
                            sample = read16(chroma + 2 * c);
                        ++c;
                    }
                    w |= uint32_t(sample >> 6) << (10 * k);
                }
                writeWord(out + group * 16 + word * 4, w);
            }
        }
    }
    return true;
}

}  // namespace NdiPixelConversion
