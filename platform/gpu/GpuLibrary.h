#pragma once
// The shader library and render pipelines.
//
// A function is one GLSL file of resources/shaders, named after the function: "<name>.vert"
// for a vertex function, "<name>.frag" for a fragment function. The files hold GLSL 3.30 core
// without a #version line; the library adds it, followed by one "#define NAME value" per
// function constant, so one file serves every variant. A line `#include "<file>.glsl"` is
// replaced by that file of the same folder (helpers several functions share); the line numbers
// of the compiler's log then count the included lines too.
//
// What the program binds, and how the shaders see it:
// - vertex bytes at buffer index 0 are the vertices, read through the pipeline's vertex layout
//   (by default position x, y at location 0 and texture u, v at location 1, 16 bytes a vertex);
// - bytes at any other vertex index i arrive in the uniform block "VertexBuffer<i>", fragment
//   bytes at index i in the block "FragmentBuffer<i>" (std140 layout: the program hands over
//   bytes laid out as the block declares);
// - fragment texture index k is the sampler2D uniform "texture<k>".
// Vertex functions write gl_Position as in any GLSL; the library keeps y = +1 at the top row
// of texture targets. gl_FragCoord counts rows from the bottom.

#include "GpuTypes.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

struct GpuDeviceCore;

// Compile-time values of a function variant. Booleans are 1 or 0: test them with #if, or
// with bool(NAME) in expressions.
class GpuFunctionConstants {
public:
    void setBool(const std::string& name, bool value);
    void setInt(const std::string& name, long value);
    void setFloat(const std::string& name, double value);
    // "#define NAME value" lines, in name order.
    std::string defines() const;

private:
    std::map<std::string, std::string> values_;
};

enum class GpuFunctionStage { Vertex, Fragment };

class GpuFunction {
public:
    GpuFunction(std::string name, GpuFunctionStage stage, std::string source, GpuFunctionConstants constants);
    const std::string& name() const { return name_; }
    GpuFunctionStage stage() const { return stage_; }
    // The full GLSL text handed to the compiler.
    std::string compiledSource() const;

private:
    std::string name_;
    GpuFunctionStage stage_;
    std::string source_;
    GpuFunctionConstants constants_;
};

struct GpuVertexAttribute {
    int location = 0;
    int components = 2;  // 32-bit floats
    std::size_t offset = 0;
};

struct GpuRenderPipelineDescriptor {
    std::string label;
    std::shared_ptr<GpuFunction> vertexFunction;
    std::shared_ptr<GpuFunction> fragmentFunction;
    // The format of the textures the pipeline draws into (BGRA8Unorm or RGBA16Float).
    GpuPixelFormat colorPixelFormat = GpuPixelFormat::BGRA8Unorm;
    bool blendingEnabled = false;
    GpuBlendOperation rgbBlendOperation = GpuBlendOperation::Add;
    GpuBlendOperation alphaBlendOperation = GpuBlendOperation::Add;
    GpuBlendFactor sourceRGBBlendFactor = GpuBlendFactor::One;
    GpuBlendFactor sourceAlphaBlendFactor = GpuBlendFactor::One;
    GpuBlendFactor destinationRGBBlendFactor = GpuBlendFactor::Zero;
    GpuBlendFactor destinationAlphaBlendFactor = GpuBlendFactor::Zero;
    std::size_t vertexStride = 16;
    std::vector<GpuVertexAttribute> vertexAttributes{{0, 2, 0}, {1, 2, 8}};
};

// A linked program with its fixed blend state and vertex layout. Immutable; any thread.
class GpuRenderPipeline {
public:
    GpuRenderPipeline(const GpuRenderPipelineDescriptor& descriptor, unsigned program, int flipLocation);
    const GpuRenderPipelineDescriptor& descriptor() const { return descriptor_; }
    unsigned program() const { return program_; }
    int flipLocation() const { return flipLocation_; }

private:
    GpuRenderPipelineDescriptor descriptor_;
    unsigned program_;
    int flipLocation_;
};

class GpuLibrary {
public:
    // For the device only; use GpuDevice::newDefaultLibrary. `root` is the folder (a Qt resource
    // path such as ":/shaders") that holds the GLSL files.
    GpuLibrary(std::shared_ptr<GpuDeviceCore> core, std::string root);

    // The function of that name, or nullptr when the library has none. Any thread.
    std::shared_ptr<GpuFunction> newFunction(const std::string& name) const;
    // The same, specialised with compile-time constants.
    std::shared_ptr<GpuFunction> newFunction(const std::string& name, const GpuFunctionConstants& constants) const;

    // Compiles and links (once per distinct pair of function variants: programs are cached for
    // the device's life) and answers the pipeline; nullptr with the compiler's or linker's log
    // in *error when that fails. Any thread; waits for the render thread.
    std::shared_ptr<GpuRenderPipeline> newRenderPipelineState(const GpuRenderPipelineDescriptor& descriptor,
                                                              std::string* error = nullptr);

private:
    std::string withIncludes(const std::string& source) const;

    std::shared_ptr<GpuDeviceCore> core_;
    std::string root_;
};
