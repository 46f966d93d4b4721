#pragma once
// Command buffers: one frame's GPU work, encoded on one thread, executed in commit order on
// the device's render thread.
//
// Life of a buffer: encoders record passes into it; commit() hands it to the render thread;
// it is "scheduled" once the render thread has issued all of its OpenGL commands, and
// "completed" once the GPU has finished them (a fence). Completion handlers then run on the
// render thread, buffer after buffer in commit order, each buffer's handlers in the order they
// were added. Handlers may create and commit new buffers and fill or read textures, but must
// not wait on another buffer.

#include "GpuTypes.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

struct GpuDeviceCore;
class GpuRenderPipeline;
class GpuTexture;

struct GpuRenderPassDescriptor {
    std::shared_ptr<GpuTexture> colorTexture;  // BGRA8Unorm or RGBA16Float
    GpuLoadAction loadAction = GpuLoadAction::DontCare;
    GpuClearColor clearColor;
};

class GpuCommandBuffer;

// Records one render pass. Every call before endEncoding() adds to the pass; state set with
// the set... calls holds for the draws that follow, until the pass ends.
class GpuRenderEncoder {
public:
    explicit GpuRenderEncoder(GpuCommandBuffer& buffer);
    void setRenderPipelineState(std::shared_ptr<GpuRenderPipeline> pipeline);
    // Defaults to the whole target.
    void setViewport(const GpuViewport& viewport);
    // Copies the bytes now. Index 0: the vertices; other indexes: uniform blocks (GpuLibrary.h).
    void setVertexBytes(const void* bytes, std::size_t length, int index);
    void setFragmentBytes(const void* bytes, std::size_t length, int index);
    void setFragmentTexture(std::shared_ptr<GpuTexture> texture, int index);
    void drawPrimitives(GpuPrimitiveType type, int vertexStart, int vertexCount);
    void endEncoding();

private:
    GpuCommandBuffer& buffer_;
};

// Records copies between textures of the same format.
class GpuBlitEncoder {
public:
    explicit GpuBlitEncoder(GpuCommandBuffer& buffer);
    // Copies the source region to the destination at (x, y). Uncompressed formats only; a copy
    // that leaves either texture or mixes formats is dropped with an error in the log.
    void copyFromTexture(std::shared_ptr<GpuTexture> source, const GpuRegion& region,
                         std::shared_ptr<GpuTexture> destination, std::uint32_t x, std::uint32_t y);
    void endEncoding();

private:
    GpuCommandBuffer& buffer_;
};

class GpuCommandBuffer : public std::enable_shared_from_this<GpuCommandBuffer> {
public:
    enum class Status { NotEnqueued, Committed, Scheduled, Completed };
    using CompletedHandler = std::function<void()>;
    using Command = std::function<void(GpuDeviceCore&)>;

    // For the command queue only; use GpuCommandQueue::commandBuffer.
    explicit GpuCommandBuffer(std::shared_ptr<GpuDeviceCore> core);

    // nullptr (and an error in the log) when the descriptor has no texture or a texture that
    // cannot be drawn into. The encoder refers to this buffer: use it before commit().
    std::unique_ptr<GpuRenderEncoder> renderCommandEncoder(const GpuRenderPassDescriptor& descriptor);
    std::unique_ptr<GpuBlitEncoder> blitCommandEncoder();

    // Adds a handler to run once the GPU has finished this buffer (see above). Added after the
    // buffer completed, it runs at once on the calling thread.
    void addCompletedHandler(CompletedHandler handler);

    // Hands the buffer to the render thread. Once only; encoding after commit is ignored.
    void commit();
    // Block until the buffer is scheduled / completed (its handlers have run); at once for a
    // buffer never committed. Not on the render thread: there they log an error and return.
    void waitUntilScheduled();
    void waitUntilCompleted();
    Status status() const;

    // --- for the encoders and the render thread ---
    void record(Command command);
    void execute(GpuDeviceCore& core);
    void setStatus(Status status);
    // Runs the completion handlers, then marks the buffer completed.
    void complete();

private:
    void waitFor(Status status);

    std::shared_ptr<GpuDeviceCore> core_;
    std::vector<Command> commands_;  // encoding thread until commit, then the render thread
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Status status_ = Status::NotEnqueued;
    std::vector<CompletedHandler> handlers_;
};
