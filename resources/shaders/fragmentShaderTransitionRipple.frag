// Both pictures rippled about the centre, strongest half-way, then mixed.
#include "halfFloat.glsl"
#include "transitionCommon.glsl"

void main()
{
    float p = progress();
    // Radius in square pixels, so the rings are circles on any canvas.
    vec2 size = renderSize();
    vec2 fromCentre = (uv - 0.5) * vec2(size.x / max(size.y, 1.0), 1.0);
    float r = length(fromCentre);
    vec2 direction = r > 0.0 ? fromCentre / r : vec2(0.0);
    float displacement = 0.03 * sin(3.14159265358979 * p) * sin(40.0 * r - 20.0 * p);
    vec2 moved = uv + direction * vec2(size.y / max(size.x, 1.0), 1.0) * displacement;
    fragColor = mix(texture(texture0, moved), texture(texture1, moved), p);
}
