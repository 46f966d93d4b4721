// Records carry 16-bit floats, which GLSL 3.30 cannot declare: each 32-bit word holds two,
// the first in its low half.
float halfToFloat(uint bits)
{
    uint exponent = (bits >> 10u) & 0x1fu;
    uint mantissa = bits & 0x3ffu;
    float magnitude;
    if (exponent == 0u)
        magnitude = float(mantissa) * exp2(-24.0);
    else if (exponent == 31u)
        magnitude = 65504.0;  // infinities and NaN stand as the largest value
    else
        magnitude = (1.0 + float(mantissa) / 1024.0) * exp2(float(exponent) - 15.0);
    return (bits & 0x8000u) != 0u ? -magnitude : magnitude;
}

vec2 unpackHalves(uint word)
{
    return vec2(halfToFloat(word & 0xffffu), halfToFloat(word >> 16u));
}
