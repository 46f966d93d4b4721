// The full-target quad placed by the layer's matrix: each position p becomes (p, 1) times M.
// The record's colour values and crop edges are the same for every pixel: they are read here,
// once per corner, and handed on unchanged.
#include "halfFloat.glsl"
#include "transformRecord.glsl"
layout(location = 0) in vec2 position;
layout(location = 1) in vec2 texCoord;
layout(std140) uniform VertexBuffer1 TRANSFORM_RECORD record;
out vec2 uv;
out vec2 layerPixel;                // from the layer's top-left corner
flat out vec4 keptBox;              // left, top, right, bottom edges of what the crop keeps
flat out vec4 brightnessToHue;      // brightness, contrast, opacity, hue
flat out vec2 saturationVibrance;

void main()
{
    vec3 placed = vec3(position, 1.0) * record.transform;
    uv = texCoord;
    layerPixel = vec2(placed.x + 1.0, 1.0 - placed.y) * 0.5 * record.layerSize;
    // A crop value is a share of half the layer.
    vec2 halfSize = record.layerSize * 0.5;
    keptBox = vec4(record.crop.w * halfSize.x, record.crop.x * halfSize.y, record.layerSize.x - record.crop.y * halfSize.x,
                   record.layerSize.y - record.crop.z * halfSize.y);
    brightnessToHue = vec4(unpackHalves(record.brightnessToHue.x), unpackHalves(record.brightnessToHue.y));
    saturationVibrance = unpackHalves(record.saturationVibrance);
    gl_Position = vec4(placed.xy, 0.0, 1.0);
}
