// The preview's picture over a grey checkerboard, so transparent parts show as such.
in vec2 uv;
uniform sampler2D texture0;
out vec4 fragColor;

void main()
{
    vec4 picture = texture(texture0, uv);
    ivec2 cell = ivec2(gl_FragCoord.xy) / 12;
    float grey = ((cell.x + cell.y) & 1) == 0 ? 0.42 : 0.58;
    fragColor = vec4(picture.rgb + (1.0 - picture.a) * vec3(grey), 1.0);
}
