#pragma once
// The GPU device: one OpenGL 3.3 core context and the render thread that owns it.
//
// Every OpenGL call of the program runs on that one thread. Other threads talk to it through
// the objects of this layer: they encode work into command buffers (GpuCommandBuffer.h) that
// the render thread executes on commit, and they create, fill and read textures
// (GpuTexture.h) through calls that the render thread performs while the caller waits.

#include "GpuTypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class GpuCommandQueue;
class GpuLibrary;
class GpuTexture;
struct GpuDeviceCore;

struct GpuTextureDescriptor {
    GpuPixelFormat pixelFormat = GpuPixelFormat::BGRA8Unorm;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

class GpuDevice {
public:
    // Makes the device and starts its render thread ("kaviogpu"). Call on the GUI thread once
    // the QGuiApplication exists: the offscreen surface is made there. The context shares
    // objects with Qt's global share context when the application enabled one, so Qt OpenGL
    // widgets can show this device's textures. Answers nullptr, with the reason in *error,
    // when no OpenGL 3.3 core context can be made (no display, no GL driver).
    static std::shared_ptr<GpuDevice> createSystemDefaultDevice(std::string* error = nullptr);

    // Ends the device (see end()).
    ~GpuDevice();
    // Executes what was committed, waits for the GPU, runs the completion handlers, then ends
    // the render thread and deletes the context and its surface. Objects of this device that
    // outlive it become inert. Call on the GUI thread while the QGuiApplication exists; a
    // second call does nothing.
    void end();
    GpuDevice(const GpuDevice&) = delete;
    GpuDevice& operator=(const GpuDevice&) = delete;

    // The OpenGL renderer string, e.g. "llvmpipe (LLVM 15.0.6, 256 bits)".
    const std::string& name() const;

    std::shared_ptr<GpuCommandQueue> newCommandQueue();
    // The program's shader library: the GLSL files built into the program from resources/shaders.
    std::shared_ptr<GpuLibrary> newDefaultLibrary();
    // A 2D texture without mipmaps, linear filtering, clamped at the edges; its contents are
    // undefined until written. nullptr for an invalid format or a zero or too large size.
    // Any thread; waits for the render thread.
    std::shared_ptr<GpuTexture> newTexture(const GpuTextureDescriptor& descriptor);

    // True on the device's render thread (where completion handlers run).
    bool isRenderThread() const;
    // Runs the task on the render thread while the caller waits (inline on the render thread),
    // so state that completion handlers also touch needs no lock. False, without running it,
    // once the device has ended.
    bool runOnRenderThread(const std::function<void()>& task);

private:
    friend class GpuDrawableLayer;
    explicit GpuDevice(std::shared_ptr<GpuDeviceCore> core);
    std::shared_ptr<GpuDeviceCore> core_;
};

// Makes command buffers. Safe from any thread.
class GpuCommandQueue {
public:
    explicit GpuCommandQueue(std::shared_ptr<GpuDeviceCore> core);
    std::shared_ptr<class GpuCommandBuffer> commandBuffer();

private:
    std::shared_ptr<GpuDeviceCore> core_;
};
