// The incoming picture comes down from the top edge.
#include "halfFloat.glsl"
#include "transitionCommon.glsl"

void main()
{
    wipe(uv.y < progress());
}
