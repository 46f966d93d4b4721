// The preview's overlay, premultiplied, as it is: the pipeline blends it over the picture.
in vec2 uv;
uniform sampler2D texture0;
out vec4 fragColor;

void main()
{
    fragColor = texture(texture0, uv);
}
