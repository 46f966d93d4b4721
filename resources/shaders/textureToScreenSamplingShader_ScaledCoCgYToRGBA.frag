// Hap Q: one scaled YCoCg plane, opaque.
#include "scaledCoCgY.glsl"
in vec2 uv;
uniform sampler2D texture0;
out vec4 fragColor;

void main()
{
    fragColor = vec4(scaledCoCgYToRGB(texture(texture0, uv)), 1.0);
}
