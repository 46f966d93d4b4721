#pragma once
// v210 <-> P216, our own conversion (the loopback backend's, and the runtime's reference in
// tests). Pure functions over memory.
//
// v210 rows hold six pixels in four little-endian words (Cb0 Y0 Cr0 | Y1 Cb1 Y2 | Cr1 Y3 Cb2 |
// Y4 Cr2 Y5, ten bits each from the bottom). P216 is a plane of 16-bit luma rows, then a plane
// of 16-bit Cb, Cr pairs, at one stride; samples are little-endian, the 10 bits at the top.

#include <cstdint>

namespace NdiPixelConversion {

// The v210 row the NDI library expects: 48 pixels in 128 bytes, rounded up.
constexpr int v210Stride(int width) { return (width + 47) / 48 * 128; }
// The smallest P216 stride for a width.
constexpr int p216Stride(int width) { return width * 2; }

// False (nothing written) for a size below 1, an odd width or a stride too small for the width.
bool v210ToP216(const uint8_t* v210, int v210Stride, int width, int height, uint8_t* p216, int p216Stride);
bool p216ToV210(const uint8_t* p216, int p216Stride, int width, int height, uint8_t* v210, int v210Stride);

}  // namespace NdiPixelConversion
