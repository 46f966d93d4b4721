// The output's share of the picture: its span cell shifted by the blend paddings, turned by its
// orientation (degrees clockwise), fitted into the destination's aspect, and faded towards each
// blended edge by (distance into the edge / edge width) ^ gamma. Outside the picture: nothing,
// so the pass's clear colour (transparent or the matte) shows.
#include "projectionRecord.glsl"
in vec3 stq;
layout(std140) uniform FragmentBuffer1 PROJECTION_RECORD record;
uniform sampler2D texture0;
out vec4 fragColor;

float edgeRamp(float distanceIn, uint blendingBits, uint gammaBits)
{
    float width = uintBitsToFloat(blendingBits);
    if (width <= 0.0 || distanceIn >= width)
        return 1.0;
    return pow(max(distanceIn, 0.0) / width, uintBitsToFloat(gammaBits));
}

void main()
{
    vec2 local = stq.xy / stq.z;  // 0..1 across the output, top-left origin
    uvec4 w0 = record.words[0], w1 = record.words[1], w2 = record.words[2];
    uvec4 w3 = record.words[3], w4 = record.words[4];

    float fade = edgeRamp(local.x, w3.x, w3.y) * edgeRamp(1.0 - local.x, w3.z, w3.w)
                 * edgeRamp(1.0 - local.y, w4.x, w4.y) * edgeRamp(local.y, w4.z, w4.w);

    int orientation = int(uintBitsToFloat(w2.z) + 0.5);
    vec2 uv = local;
    if (orientation == 90)
        uv = vec2(local.y, 1.0 - local.x);
    else if (orientation == 180)
        uv = 1.0 - local;
    else if (orientation == 270)
        uv = vec2(1.0 - local.y, local.x);

    float rows = max(float(int(w0.y)), 1.0), cols = max(float(int(w0.z)), 1.0);
    vec2 whole = vec2(float(int(w1.z)), float(int(w1.w)));
    vec2 cell = whole / vec2(cols, rows);
    vec2 destination = vec2(float(int(w2.x)), float(int(w2.y)));
    if (destination.x > 0.0 && destination.y > 0.0 && cell.x > 0.0 && cell.y > 0.0) {
        // Keep the picture's aspect inside a destination of another shape.
        float ratio = (destination.x / destination.y) / (cell.x / cell.y);
        if (ratio > 1.0)
            uv.x = (uv.x - 0.5) * ratio + 0.5;
        else
            uv.y = (uv.y - 0.5) / ratio + 0.5;
    }
    if (any(lessThan(uv, vec2(0.0))) || any(greaterThan(uv, vec2(1.0)))) {
        fragColor = vec4(0.0);
        return;
    }

    vec2 location = (w0.x & 0xffu) != 0u ? vec2(float(int(w1.x)), float(int(w0.w))) : vec2(0.0);
    vec2 padding = vec2(float(w1.y & 0xffffu), float(w1.y >> 16));
    vec2 pixel = (location + uv) * cell - padding;
    vec2 sampleAt = whole.x > 0.0 && whole.y > 0.0 ? pixel / whole : uv;
    fragColor = texture(texture0, sampleAt) * fade;
}
