// Hap Q Alpha: the scaled YCoCg plane, with alpha from the second (RGTC1) plane.
#include "scaledCoCgY.glsl"
in vec2 uv;
uniform sampler2D texture0;
uniform sampler2D texture1;
out vec4 fragColor;

void main()
{
    fragColor = vec4(scaledCoCgYToRGB(texture(texture0, uv)), texture(texture1, uv).r);
}
