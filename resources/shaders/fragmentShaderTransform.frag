// The layer's picture: crop bands transparent, then brightness, contrast, saturation, vibrance
// and hue on straight colour, premultiplied, and opacity over all four channels.
#include "halfFloat.glsl"
#include "transformRecord.glsl"
in vec2 uv;
in vec2 layerPosition;
uniform sampler2D texture0;
layout(std140) uniform FragmentBuffer0 TRANSFORM_RECORD record;
out vec4 fragColor;

const vec3 kLuma709 = vec3(0.2126, 0.7152, 0.0722);

vec3 turnHue(vec3 c, float turns)
{
    // Rotation about the grey axis by turns x 180 degrees.
    float angle = turns * 3.14159265358979;
    vec3 axis = vec3(0.57735026918962);
    return c * cos(angle) + cross(axis, c) * sin(angle) + axis * dot(axis, c) * (1.0 - cos(angle));
}

void main()
{
    // Layer pixels from the top-left; a crop value is a share of half the layer.
    vec2 pixel = vec2(layerPosition.x + 1.0, 1.0 - layerPosition.y) * 0.5 * record.layerSize;
    vec2 halfSize = record.layerSize * 0.5;
    if (pixel.y < record.crop.x * halfSize.y || pixel.x > record.layerSize.x - record.crop.y * halfSize.x
        || pixel.y > record.layerSize.y - record.crop.z * halfSize.y || pixel.x < record.crop.w * halfSize.x) {
        fragColor = vec4(0.0);
        return;
    }
    vec2 brightnessContrast = unpackHalves(record.brightnessToHue.x);
    vec2 opacityHue = unpackHalves(record.brightnessToHue.y);
    vec2 saturationVibranceValues = unpackHalves(record.saturationVibrance);

    vec4 source = texture(texture0, uv);
    vec3 c = source.rgb + brightnessContrast.x;
    c = (c - 0.5) * (1.0 + brightnessContrast.y) + 0.5;
    c = mix(vec3(dot(c, kLuma709)), c, saturationVibranceValues.x + 1.0);
    float spread = max(c.r, max(c.g, c.b)) - min(c.r, min(c.g, c.b));
    c = mix(vec3(dot(c, kLuma709)), c, 1.0 + saturationVibranceValues.y * (1.0 - spread));
    c = clamp(turnHue(c, opacityHue.y), 0.0, 1.0);
    fragColor = vec4(c * source.a, source.a) * opacityHue.x;
}
