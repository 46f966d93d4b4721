// The incoming picture rises from the bottom edge.
#include "halfFloat.glsl"
#include "transitionCommon.glsl"

void main()
{
    wipe(1.0 - uv.y < progress());
}
