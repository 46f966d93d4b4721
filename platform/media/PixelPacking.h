#pragma once
// Row packers for the pixel formats the decoder library cannot write itself. Pure functions
// over memory, no state; used by the frame source's converter.

#include <cstdint>

namespace PixelPacking {

// IEEE 754 binary16 of a float, rounded to nearest even; infinities and NaN kept.
uint16_t halfFromFloat(float value);

// 16-bit RGBA (0..65535 per component, native order) to half floats 0.0..1.0, `width` pixels.
void rgba64ToHalfRow(const uint16_t* rgba64, int width, uint16_t* half);

// Planar 10-bit 4:2:2 (values in the low 10 bits) to one v210 row: each group of six pixels
// becomes four little-endian words (Cb0 Y0 Cr0 | Y1 Cb1 Y2 | Cr1 Y3 Cb2 | Y4 Cr2 Y5, ten bits
// each from the bottom). A last partial group is filled with zero samples. `out` must hold
// ((width + 5) / 6) * 16 bytes.
void packV210Row(const uint16_t* y, const uint16_t* cb, const uint16_t* cr, int width,
                 uint8_t* out);

// Planar 8-bit 4:2:2 samples to one '2vuy' row (Cb Y0 Cr Y1 per pixel pair); an odd last pixel
// repeats its luma. `out` must hold ((width + 1) / 2) * 4 bytes.
void packUYVYRow(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, uint8_t* out);
// The same from 10-bit samples (in the low bits), rounded to 8 bits.
void packUYVYRow10(const uint16_t* y, const uint16_t* cb, const uint16_t* cr, int width,
                   uint8_t* out);

}  // namespace PixelPacking
