// A quad given in pixels about the viewport's centre; the viewport's size in pixels arrives
// at vertex buffer index 1.
layout(location = 0) in vec2 position;
layout(location = 1) in vec2 texCoord;
layout(std140) uniform VertexBuffer1
{
    uvec2 viewportSize;
};
out vec2 uv;

void main()
{
    uv = texCoord;
    gl_Position = vec4(position / (vec2(viewportSize) * 0.5), 0.0, 1.0);
}
