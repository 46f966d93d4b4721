// The incoming picture enters from the right edge.
#include "halfFloat.glsl"
#include "transitionCommon.glsl"

void main()
{
    wipe(uv.x > 1.0 - progress());
}
