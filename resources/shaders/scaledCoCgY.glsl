// Scaled YCoCg in DXT5: Co in red, Cg in green, the chroma scale in blue, luma in alpha.
vec3 scaledCoCgYToRGB(vec4 sample)
{
    float scale = sample.b * (255.0 / 8.0) + 1.0;
    float co = (sample.r - 128.0 / 255.0) / scale;
    float cg = (sample.g - 128.0 / 255.0) / scale;
    float y = sample.a;
    return vec3(y + co - cg, y + cg, y - co - cg);
}
