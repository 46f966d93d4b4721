// Records carry 16-bit floats, which GLSL 3.30 cannot declare: each 32-bit word holds two,
// the first in its low half.
float halfToFloat(uint bits)
{
    uint exponent = (bits >> 10u) & 0x1fu;
    uint mantissa = bits & 0x3ffu;
    // A normal half moves into a float by rebasing its exponent (15 to 127).
    float normal = uintBitsToFloat(((exponent + 112u) << 23u) | (mantissa << 13u));
    float magnitude = exponent == 0u ? float(mantissa) * 5.9604644775390625e-8  // subnormal: m x 2^-24
                      : exponent == 31u ? 65504.0  // infinities and NaN stand as the largest value
                                        : normal;
    return (bits & 0x8000u) != 0u ? -magnitude : magnitude;
}

vec2 unpackHalves(uint word)
{
    return vec2(halfToFloat(word & 0xffffu), halfToFloat(word >> 16u));
}
