// A decoder's YCbCr planes to straight RGB(A) at the picture's own size. texture0 is luma,
// texture1 the Cb plane (or the Cb, Cr pairs with INTERLEAVED_CHROMA), texture2 the Cr plane,
// the last one alpha (HAS_ALPHA). Samples arrive normalised over their whole 8 or 16 bits; the
// record's rows fold the depth, the range and the matrix into one affine step per channel.
// Chroma is sampled between its texels where the siting puts the luma pixel (linear filter).
in vec2 uv;
uniform sampler2D texture0;
uniform sampler2D texture1;
uniform sampler2D texture2;
uniform sampler2D texture3;
layout(std140) uniform FragmentBuffer0
{
    vec4 rowR;  // times (Y, Cb, Cr, 1)
    vec4 rowG;
    vec4 rowB;
    vec4 alphaAndChroma;  // x, y: alpha = x * sample + y; z, w: unused
    vec4 chromaMap;       // chroma uv = uv * xy + zw
};
out vec4 fragColor;

vec4 pictureAt(vec2 at)
{
    vec2 c = at * chromaMap.xy + chromaMap.zw;
    float y = texture(texture0, at).r;
#if INTERLEAVED_CHROMA
    vec2 cbcr = texture(texture1, c).rg;
#if HAS_ALPHA
    float alpha = texture(texture2, at).r;
#endif
#else
    vec2 cbcr = vec2(texture(texture1, c).r, texture(texture2, c).r);
#if HAS_ALPHA
    float alpha = texture(texture3, at).r;
#endif
#endif
    vec4 v = vec4(y, cbcr, 1.0);
    vec3 rgb = clamp(vec3(dot(v, rowR), dot(v, rowG), dot(v, rowB)), 0.0, 1.0);
#if HAS_ALPHA
    return vec4(rgb, clamp(alpha * alphaAndChroma.x + alphaAndChroma.y, 0.0, 1.0));
#else
    return vec4(rgb, 1.0);
#endif
}

void main()
{
#if DEINTERLACE
    // The line averaged with its field neighbour, as the packed conversion does.
    vec2 size = vec2(textureSize(texture0, 0));
    float row = floor(uv.y * size.y);
    float neighbour = min(float(int(row) ^ 1), size.y - 1.0);
    fragColor = (pictureAt(uv) + pictureAt(vec2(uv.x, (neighbour + 0.5) / size.y))) * 0.5;
#else
    fragColor = pictureAt(uv);
#endif
}
