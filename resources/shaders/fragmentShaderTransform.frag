// The layer's picture: crop bands transparent, then brightness, contrast, saturation, vibrance
// and hue on straight colour, premultiplied, and opacity over all four channels. The values
// come from the transform record through the vertex stage.
in vec2 uv;
in vec2 layerPixel;
flat in vec4 keptBox;
flat in vec4 brightnessToHue;
flat in vec2 saturationVibrance;
uniform sampler2D texture0;
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
    if (layerPixel.x < keptBox.x || layerPixel.y < keptBox.y || layerPixel.x > keptBox.z || layerPixel.y > keptBox.w) {
        fragColor = vec4(0.0);
        return;
    }
    vec4 source = texture(texture0, uv);
    vec3 c = source.rgb + brightnessToHue.x;
    c = (c - 0.5) * (1.0 + brightnessToHue.y) + 0.5;
    // Saturation comes as a factor (the cue's offset from 1 plus 1): 1 keeps the colours.
    c = mix(vec3(dot(c, kLuma709)), c, saturationVibrance.x);
    float spread = max(c.r, max(c.g, c.b)) - min(c.r, min(c.g, c.b));
    c = mix(vec3(dot(c, kLuma709)), c, 1.0 + saturationVibrance.y * (1.0 - spread));
    c = clamp(turnHue(c, brightnessToHue.w), 0.0, 1.0);
    fragColor = vec4(c * source.a, source.a) * brightnessToHue.z;
}
