// The full-target quad placed by the layer's matrix: each position p becomes (p, 1) times M.
#include "transformRecord.glsl"
layout(location = 0) in vec2 position;
layout(location = 1) in vec2 texCoord;
layout(std140) uniform VertexBuffer1 TRANSFORM_RECORD record;
out vec2 uv;
out vec2 layerPosition;

void main()
{
    vec3 placed = vec3(position, 1.0) * record.transform;
    uv = texCoord;
    layerPosition = placed.xy;
    gl_Position = vec4(placed.xy, 0.0, 1.0);
}
