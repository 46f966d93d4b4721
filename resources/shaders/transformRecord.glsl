// The layer's transform record (96 bytes, std140): the 3 x 3 matrix as three padded columns,
// the crop (top, right, bottom, left), the layer size, then six 16-bit floats: brightness,
// contrast | opacity, hue | saturation, vibrance.
#define TRANSFORM_RECORD       \
    {                          \
        mat3 transform;        \
        vec4 crop;             \
        vec2 layerSize;        \
        uvec2 brightnessToHue; \
        uint saturationVibrance; \
    }
