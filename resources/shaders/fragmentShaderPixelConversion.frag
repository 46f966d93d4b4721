// The source picture at its own size: YCbCr to RGB through the record's matrix (YUV_TO_RGB),
// and lines averaged with their field neighbour (DEINTERLACE). Sources: '2vuy' as RGBA8 texels
// of Cb Y0 Cr Y1 (two pixels each), 'v210' (HIGH_BIT_DEPTH) as four 32-bit words holding six
// pixels, or RGB as it is.
#include "halfFloat.glsl"
in vec2 uv;
#if YUV_TO_RGB && HIGH_BIT_DEPTH
uniform usampler2D texture0;
const int kPixelsPerTexel = 6;
#elif YUV_TO_RGB
uniform sampler2D texture0;
const int kPixelsPerTexel = 2;
#else
uniform sampler2D texture0;
const int kPixelsPerTexel = 1;
#endif
// Four groups of four 16-bit floats; group k multiplies (Y, Cb, Cr, 1) into channel k.
layout(std140) uniform FragmentBuffer0
{
    uvec4 matrixHalves[2];
};
out vec4 fragColor;

vec4 group(uint first, uint second)
{
    return vec4(unpackHalves(first), unpackHalves(second));
}

vec3 toRGB(vec3 ycbcr)
{
    vec4 v = vec4(ycbcr, 1.0);
    return vec3(dot(v, group(matrixHalves[0].x, matrixHalves[0].y)), dot(v, group(matrixHalves[0].z, matrixHalves[0].w)),
                dot(v, group(matrixHalves[1].x, matrixHalves[1].y)));
}

#if YUV_TO_RGB && HIGH_BIT_DEPTH
uint field(uint word, int index)
{
    return (word >> uint(10 * index)) & 0x3ffu;
}
#endif

vec4 pixelAt(ivec2 p)
{
#if YUV_TO_RGB && HIGH_BIT_DEPTH
    uvec4 t = texelFetch(texture0, ivec2(p.x / 6, p.y), 0);
    uint w[4] = uint[4](t.x, t.y, t.z, t.w);
    // Per pixel of the group: word and field of its luma; per pixel pair: of Cb and Cr.
    const ivec2 lumaAt[6] = ivec2[6](ivec2(0, 1), ivec2(1, 0), ivec2(1, 2), ivec2(2, 1), ivec2(3, 0), ivec2(3, 2));
    const ivec4 chromaAt[3] = ivec4[3](ivec4(0, 0, 0, 2), ivec4(1, 1, 2, 0), ivec4(2, 2, 3, 1));
    int k = p.x % 6;
    ivec2 y = lumaAt[k];
    ivec4 c = chromaAt[k / 2];
    vec3 ycbcr = vec3(float(field(w[y.x], y.y)), float(field(w[c.x], c.y)), float(field(w[c.z], c.w))) / 1023.0;
    return vec4(toRGB(ycbcr), 1.0);
#elif YUV_TO_RGB
    vec4 t = texelFetch(texture0, ivec2(p.x / 2, p.y), 0);
    float luma = (p.x & 1) == 0 ? t.g : t.a;
    return vec4(toRGB(vec3(luma, t.r, t.b)), 1.0);
#else
    return texelFetch(texture0, p, 0);
#endif
}

void main()
{
    ivec2 size = textureSize(texture0, 0) * ivec2(kPixelsPerTexel, 1);
    ivec2 p = clamp(ivec2(uv * vec2(size)), ivec2(0), size - 1);
#if DEINTERLACE
    ivec2 neighbour = ivec2(p.x, min(p.y ^ 1, size.y - 1));
    fragColor = (pixelAt(p) + pixelAt(neighbour)) * 0.5;
#else
    fragColor = pixelAt(p);
#endif
}
