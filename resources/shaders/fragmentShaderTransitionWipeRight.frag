// The incoming picture enters from the left edge.
#include "halfFloat.glsl"
#include "transitionCommon.glsl"

void main()
{
    wipe(uv.x < progress());
}
