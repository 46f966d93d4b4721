// A vertex of the warp mesh: position in normalised device coordinates and the projective
// texture coordinates (s, t, q), passed on for the fragment stage to divide.
layout(location = 0) in vec2 position;
layout(location = 1) in vec4 texCoord;
out vec3 stq;

void main()
{
    stq = texCoord.xyz;
    gl_Position = vec4(position, 0.0, 1.0);
}
