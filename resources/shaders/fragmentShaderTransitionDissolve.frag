// Cross-fade.
#include "halfFloat.glsl"
#include "transitionCommon.glsl"

void main()
{
    fragColor = mix(texture(texture0, uv), texture(texture1, uv), progress());
}
