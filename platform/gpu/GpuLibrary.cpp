#include "GpuLibrary.h"

#include "GpuDeviceCore.h"

#include <QFile>

#include <cstdio>

// ---------------------------------------------------------------------------------------------
// GpuFunctionConstants

void GpuFunctionConstants::setBool(const std::string& name, bool value)
{
    values_[name] = value ? "1" : "0";
}

void GpuFunctionConstants::setInt(const std::string& name, long value)
{
    values_[name] = std::to_string(value);
}

void GpuFunctionConstants::setFloat(const std::string& name, double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", value);
    std::string literal = text;
    if (literal.find_first_of(".eEn") == std::string::npos)
        literal += ".0";
    values_[name] = literal;
}

std::string GpuFunctionConstants::defines() const
{
    std::string text;
    for (const auto& [name, value] : values_)
        text += "#define " + name + " " + value + "\n";
    return text;
}

// ---------------------------------------------------------------------------------------------
// GpuFunction

GpuFunction::GpuFunction(std::string name, GpuFunctionStage stage, std::string source, GpuFunctionConstants constants)
    : name_(std::move(name))
    , stage_(stage)
    , source_(std::move(source))
    , constants_(std::move(constants))
{
}

std::string GpuFunction::compiledSource() const
{
    std::string text = "#version 330 core\n" + constants_.defines();
    if (stage_ == GpuFunctionStage::Fragment)
        return text + "#line 1\n" + source_;
    // The function's own main() runs first; the wrapper then turns y over for texture
    // targets, so the shaders are written as if row 0 were at the top of the target.
    return text + "#define main kavio_vertex_main\n#line 1\n" + source_
           + "\n#undef main\nuniform float kavio_flipY;\nvoid main()\n{\n    kavio_vertex_main();\n"
             "    gl_Position.y *= kavio_flipY;\n}\n";
}

// ---------------------------------------------------------------------------------------------
// GpuRenderPipeline

GpuRenderPipeline::GpuRenderPipeline(const GpuRenderPipelineDescriptor& descriptor, unsigned program, int flipLocation)
    : descriptor_(descriptor)
    , program_(program)
    , flipLocation_(flipLocation)
{
}

// ---------------------------------------------------------------------------------------------
// GpuLibrary

namespace {

GLuint compileShader(GpuDeviceCore::GL* gl, GLenum stage, const std::string& source, std::string& log)
{
    const GLuint shader = gl->glCreateShader(stage);
    const char* text = source.c_str();
    gl->glShaderSource(shader, 1, &text, nullptr);
    gl->glCompileShader(shader);
    GLint ok = GL_FALSE;
    gl->glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok == GL_TRUE)
        return shader;
    GLint length = 0;
    gl->glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::string info(std::size_t(std::max(length, 1)), '\0');
    gl->glGetShaderInfoLog(shader, length, nullptr, info.data());
    log += info.c_str();
    gl->glDeleteShader(shader);
    return 0;
}

// Links the two functions and binds the uniform blocks and samplers to the indexes the
// encoders use. 0 with the log on failure.
GLuint linkProgram(GpuDeviceCore::GL* gl, const GpuFunction& vertex, const GpuFunction& fragment, std::string& log)
{
    const GLuint vs = compileShader(gl, GL_VERTEX_SHADER, vertex.compiledSource(), log);
    const GLuint fs = vs ? compileShader(gl, GL_FRAGMENT_SHADER, fragment.compiledSource(), log) : 0;
    if (!vs || !fs) {
        if (vs)
            gl->glDeleteShader(vs);
        return 0;
    }
    const GLuint program = gl->glCreateProgram();
    gl->glAttachShader(program, vs);
    gl->glAttachShader(program, fs);
    gl->glLinkProgram(program);
    gl->glDeleteShader(vs);
    gl->glDeleteShader(fs);
    GLint ok = GL_FALSE;
    gl->glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        GLint length = 0;
        gl->glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
        std::string info(std::size_t(std::max(length, 1)), '\0');
        gl->glGetProgramInfoLog(program, length, nullptr, info.data());
        log += info.c_str();
        gl->glDeleteProgram(program);
        return 0;
    }
    gl->glUseProgram(program);
    for (int index = 0; index < kMaxBufferIndex; ++index) {
        const std::string vertexBlock = "VertexBuffer" + std::to_string(index);
        const std::string fragmentBlock = "FragmentBuffer" + std::to_string(index);
        GLuint block = gl->glGetUniformBlockIndex(program, vertexBlock.c_str());
        if (block != GL_INVALID_INDEX)
            gl->glUniformBlockBinding(program, block, GLuint(index));
        block = gl->glGetUniformBlockIndex(program, fragmentBlock.c_str());
        if (block != GL_INVALID_INDEX)
            gl->glUniformBlockBinding(program, block, GLuint(kFragmentBindingBase + index));
    }
    for (int unit = 0; unit < kMaxTextureIndex; ++unit) {
        const std::string sampler = "texture" + std::to_string(unit);
        const GLint location = gl->glGetUniformLocation(program, sampler.c_str());
        if (location >= 0)
            gl->glUniform1i(location, unit);
    }
    return program;
}

}  // namespace

GpuLibrary::GpuLibrary(std::shared_ptr<GpuDeviceCore> core, std::string root)
    : core_(std::move(core))
    , root_(std::move(root))
{
}

std::shared_ptr<GpuFunction> GpuLibrary::newFunction(const std::string& name) const
{
    return newFunction(name, GpuFunctionConstants());
}

std::shared_ptr<GpuFunction> GpuLibrary::newFunction(const std::string& name, const GpuFunctionConstants& constants) const
{
    if (name.empty() || name.find('/') != std::string::npos)
        return nullptr;
    for (const auto& [suffix, stage] : {std::pair{".vert", GpuFunctionStage::Vertex}, {".frag", GpuFunctionStage::Fragment}}) {
        QFile file(QString::fromStdString(root_ + "/" + name + suffix));
        if (file.open(QIODevice::ReadOnly))
            return std::make_shared<GpuFunction>(name, stage, withIncludes(file.readAll().toStdString()), constants);
    }
    return nullptr;
}

std::string GpuLibrary::withIncludes(const std::string& source) const
{
    static const std::string directive = "#include \"";
    std::string text;
    std::size_t at = 0;
    while (at < source.size()) {
        std::size_t end = source.find('\n', at);
        if (end == std::string::npos)
            end = source.size();
        const std::string line = source.substr(at, end - at);
        const std::size_t close = line.rfind('"');
        QFile included;
        if (line.rfind(directive, 0) == 0 && close > directive.size()) {
            const std::string name = line.substr(directive.size(), close - directive.size());
            if (name.find('/') == std::string::npos)
                included.setFileName(QString::fromStdString(root_ + "/" + name));
        }
        if (!included.fileName().isEmpty() && included.open(QIODevice::ReadOnly))
            text += included.readAll().toStdString() + "\n";
        else
            text += line + "\n";
        at = end + 1;
    }
    return text;
}

std::shared_ptr<GpuRenderPipeline> GpuLibrary::newRenderPipelineState(const GpuRenderPipelineDescriptor& descriptor,
                                                                     std::string* error)
{
    auto fail = [error](std::string reason) -> std::shared_ptr<GpuRenderPipeline> {
        if (error)
            *error = std::move(reason);
        return nullptr;
    };
    const auto& vertex = descriptor.vertexFunction;
    const auto& fragment = descriptor.fragmentFunction;
    if (!vertex || vertex->stage() != GpuFunctionStage::Vertex)
        return fail("no vertex function");
    if (!fragment || fragment->stage() != GpuFunctionStage::Fragment)
        return fail("no fragment function");
    if (descriptor.colorPixelFormat != GpuPixelFormat::BGRA8Unorm
        && descriptor.colorPixelFormat != GpuPixelFormat::RGBA16Float)
        return fail("colour pixel format cannot be drawn into");
    if (descriptor.vertexStride == 0 || descriptor.vertexAttributes.size() > 8)
        return fail("invalid vertex layout");

    GLuint program = 0;
    GLint flipLocation = -1;
    std::string log;
    const bool ran = core_->runSync([&] {
        const std::string key = vertex->compiledSource() + '\x1f' + fragment->compiledSource();
        auto cached = core_->programs.find(key);
        if (cached != core_->programs.end()) {
            program = cached->second;
        } else {
            program = linkProgram(core_->gl, *vertex, *fragment, log);
            if (program)
                core_->programs.emplace(key, program);
        }
        if (program)
            flipLocation = core_->gl->glGetUniformLocation(program, "kavio_flipY");
    });
    if (!ran)
        return fail("the GPU device has ended");
    if (!program)
        return fail(log);
    return std::make_shared<GpuRenderPipeline>(descriptor, program, flipLocation);
}
