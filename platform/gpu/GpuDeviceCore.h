#pragma once
// Private to the GPU layer: the render thread, its task queue and the OpenGL state that only
// that thread touches.

#include "GpuTypes.h"

#include <QOpenGLFunctions_3_3_Core>

#include <array>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

class QOffscreenSurface;
class QOpenGLContext;
class GpuCommandBuffer;
class GpuRenderPipeline;

// Uniform-buffer binding points: bytes set for the vertex stage at index i bind at i, for the
// fragment stage at kFragmentBindingBase + i.
constexpr int kMaxBufferIndex = 8;
constexpr int kFragmentBindingBase = kMaxBufferIndex;
constexpr int kMaxTextureIndex = 8;

// How OpenGL stores and transfers a format: internal format, and the pixel format and type of
// uploads and read-backs (uncompressed formats; compressed ones use only `internal`).
struct GpuGLFormat {
    unsigned internal;
    unsigned format;
    unsigned type;
};
GpuGLFormat glFormatFor(GpuPixelFormat format);

struct GpuDeviceCore {
    using GL = QOpenGLFunctions_3_3_Core;

    // --- any thread ---
    // Queues a task for the render thread; false (task dropped) once the device has ended.
    bool post(std::function<void()> task);
    // Runs the task on the render thread with the context current and waits for it; runs
    // inline on the render thread. False when the device has ended (the task did not run).
    bool runSync(const std::function<void()>& task);
    bool onRenderThread() const { return std::this_thread::get_id() == threadId; }

    // --- render thread only ---
    void run();  // the thread's loop
    void executeCommitted(const std::shared_ptr<GpuCommandBuffer>& buffer);
    void completeSignalled(bool waitForAll);
    unsigned framebufferFor(unsigned texture);
    void deleteTexture(unsigned texture);
    // Applies the draw state collected by the current render encoder, then draws.
    void draw(GpuPrimitiveType type, int start, int count);

    GL* gl = nullptr;
    QOpenGLContext* context = nullptr;
    QOffscreenSurface* surface = nullptr;  // made and destroyed on the GUI thread
    std::string rendererName;
    std::thread thread;
    std::thread::id threadId;

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks;
    bool quitting = false;
    bool ended = false;

    struct InFlight {
        void* fence;  // GLsync
        std::shared_ptr<GpuCommandBuffer> buffer;
    };
    std::deque<InFlight> inFlight;

    // Objects made once for the whole context.
    unsigned vertexArray = 0;
    unsigned vertexBuffer = 0;
    std::array<unsigned, 2 * kMaxBufferIndex> uniformBuffers{};
    unsigned readFramebuffer = 0;
    std::unordered_map<unsigned, unsigned> framebuffers;  // texture -> framebuffer
    std::unordered_map<std::string, unsigned> programs;   // program cache: key -> program

    // State of the render pass being executed.
    struct Pass {
        unsigned framebuffer = 0;
        GpuPixelFormat targetFormat = GpuPixelFormat::Invalid;
        std::shared_ptr<GpuRenderPipeline> pipeline;
        std::vector<std::uint8_t> vertexBytes[kMaxBufferIndex];
        std::vector<std::uint8_t> fragmentBytes[kMaxBufferIndex];
        unsigned textures[kMaxTextureIndex] = {};
    } pass;
};
