// What every transition reads: the outgoing picture (texture 0), the incoming one (texture 1)
// and the record of three 16-bit floats: progress, render width, render height.
in vec2 uv;
uniform sampler2D texture0;
uniform sampler2D texture1;
layout(std140) uniform FragmentBuffer0
{
    uvec2 progressAndSize;
};
out vec4 fragColor;

// The renderer passes the progress unclamped.
float progress()
{
    return clamp(unpackHalves(progressAndSize.x).x, 0.0, 1.0);
}

vec2 renderSize()
{
    return vec2(unpackHalves(progressAndSize.x).y, unpackHalves(progressAndSize.y).x);
}

// The incoming picture where `incoming` holds, else the outgoing one.
void wipe(bool incoming)
{
    fragColor = incoming ? texture(texture1, uv) : texture(texture0, uv);
}
