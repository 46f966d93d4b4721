#include "SyphonServer.h"

#include "SyphonPipeWire.h"

#include "Log.h"

#include <spa/param/video/format-utils.h>
#include <spa/param/buffers.h>

#include <atomic>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <cstring>
#include <mutex>
#include <vector>

struct SyphonServer::Impl {
    SyphonConnection connection{"kavio-syphon"};
    pw_stream* stream = nullptr;
    spa_hook streamListener{};
    int width = 0, height = 0;
    std::atomic<std::uint32_t> nodeId{0};
    std::atomic<std::uint64_t> published{0};

    // The newest frame, handed from publishFrame to the loop thread.
    std::mutex stagingLock;
    std::vector<std::uint8_t> staging;
    bool fresh = false;

    void process();
    void paramChanged(uint32_t id, const spa_pod* param);
};

namespace {

void onProcess(void* data)
{
    static_cast<SyphonServer::Impl*>(data)->process();
}

void onParamChanged(void* data, uint32_t id, const spa_pod* param)
{
    static_cast<SyphonServer::Impl*>(data)->paramChanged(id, param);
}

void onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error)
{
    auto* impl = static_cast<SyphonServer::Impl*>(data);
    if (state == PW_STREAM_STATE_ERROR)
        KLOG_ERROR("frame sharing stream error: {}", error ? error : "");
    if (impl->stream)
        impl->nodeId.store(pw_stream_get_node_id(impl->stream));
}

// Stream buffers are memfds of ours, so readers in other processes map them.
void onAddBuffer(void* data, pw_buffer* buffer)
{
    auto* impl = static_cast<SyphonServer::Impl*>(data);
    spa_data& d = buffer->buffer->datas[0];
    if ((d.type & (1u << SPA_DATA_MemFd)) == 0)
        return;
    d.type = SPA_DATA_MemFd;
    d.flags = SPA_DATA_FLAG_READWRITE;
    d.maxsize = std::uint32_t(impl->width) * std::uint32_t(impl->height) * 4;
    d.mapoffset = 0;
    d.fd = memfd_create("kavio-syphon", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (d.fd < 0 || ftruncate(d.fd, d.maxsize) < 0) {
        KLOG_ERROR("frame sharing: no shared memory for a buffer");
        return;
    }
    fcntl(d.fd, F_ADD_SEALS, F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL);
    void* mapped = mmap(nullptr, d.maxsize, PROT_READ | PROT_WRITE, MAP_SHARED, d.fd, 0);
    d.data = mapped == MAP_FAILED ? nullptr : mapped;
}

void onRemoveBuffer(void*, pw_buffer* buffer)
{
    spa_data& d = buffer->buffer->datas[0];
    if (d.type != SPA_DATA_MemFd)
        return;
    if (d.data)
        munmap(d.data, d.maxsize);
    if (d.fd >= 0)
        close(int(d.fd));
    d.data = nullptr;
}

pw_stream_events streamEvents()
{
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.add_buffer = onAddBuffer;
    events.remove_buffer = onRemoveBuffer;
    events.state_changed = onStateChanged;
    events.param_changed = onParamChanged;
    events.process = onProcess;
    return events;
}

const pw_stream_events kStreamEvents = streamEvents();

}  // namespace

void SyphonServer::Impl::paramChanged(uint32_t id, const spa_pod* param)
{
    if (id != SPA_PARAM_Format || !param)
        return;
    std::uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const int stride = width * 4;
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
        SPA_POD_Int(stride * height), SPA_PARAM_BUFFERS_stride, SPA_POD_Int(stride), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemFd)));
    pw_stream_update_params(stream, params, 1);
}

void SyphonServer::Impl::process()
{
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream);
    if (!buffer)
        return;
    spa_data& d = buffer->buffer->datas[0];
    const std::size_t bytes = std::size_t(width) * height * 4;
    bool copied = false;
    if (d.data && d.maxsize >= bytes) {
        std::lock_guard lock(stagingLock);
        if (staging.size() == bytes) {
            std::memcpy(d.data, staging.data(), bytes);
            copied = fresh;
            fresh = false;
        }
    }
    d.chunk->offset = 0;
    d.chunk->stride = width * 4;
    d.chunk->size = d.data ? std::uint32_t(bytes) : 0;
    pw_stream_queue_buffer(stream, buffer);
    if (copied)
        published.fetch_add(1);
}

SyphonServer::SyphonServer(const QString& name, QSize size, int rateNumerator, int rateDenominator)
    : name_(name)
    , size_(size)
    , impl_(std::make_unique<Impl>())
{
    Impl& s = *impl_;
    s.width = size.width(), s.height = size.height();
    if (!s.connection.connected() || size.isEmpty())
        return;
    const QByteArray nodeName = name.toUtf8();
    pw_thread_loop_lock(s.connection.loop);
    pw_properties* props = pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_TYPE, "Video",
                                             PW_KEY_MEDIA_CATEGORY, "Source", PW_KEY_MEDIA_ROLE, "Production",
                                             PW_KEY_NODE_NAME, nodeName.constData(), PW_KEY_NODE_DESCRIPTION,
                                             nodeName.constData(), nullptr);
    s.stream = pw_stream_new(s.connection.core, nodeName.constData(), props);
    if (s.stream) {
        pw_stream_add_listener(s.stream, &s.streamListener, &kStreamEvents, &s);
        std::uint8_t buffer[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        spa_video_info_raw info{};
        info.format = SPA_VIDEO_FORMAT_BGRA;
        info.size = SPA_RECTANGLE(std::uint32_t(s.width), std::uint32_t(s.height));
        info.framerate = SPA_FRACTION(std::uint32_t(rateNumerator), std::uint32_t(rateDenominator));
        const spa_pod* params[1] = {spa_format_video_raw_build(&b, SPA_PARAM_EnumFormat, &info)};
        const auto flags = pw_stream_flags(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS);
        if (pw_stream_connect(s.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) < 0)
            KLOG_ERROR("cannot publish frame-sharing source {}", nodeName.toStdString());
    }
    pw_thread_loop_unlock(s.connection.loop);
    // The node is in the graph when the constructor returns.
    s.connection.roundTrip();
}

SyphonServer::~SyphonServer()
{
    stop();
}

bool SyphonServer::isConnected() const
{
    return impl_->stream != nullptr;
}

std::uint32_t SyphonServer::nodeId() const
{
    const std::uint32_t id = impl_->nodeId.load();
    return id == SPA_ID_INVALID ? 0 : id;
}

std::uint64_t SyphonServer::publishedCount() const
{
    return impl_->published.load();
}

void SyphonServer::publishFrame(const std::uint8_t* bgra, std::size_t bytesPerRow, QSize size)
{
    Impl& s = *impl_;
    if (!s.stream || size != size_ || !bgra)
        return;
    {
        std::lock_guard lock(s.stagingLock);
        const std::size_t row = std::size_t(s.width) * 4;
        s.staging.resize(row * std::size_t(s.height));
        for (int y = 0; y < s.height; ++y)
            std::memcpy(s.staging.data() + row * std::size_t(y), bgra + bytesPerRow * std::size_t(y), row);
        s.fresh = true;
    }
    pw_thread_loop_lock(s.connection.loop);
    pw_stream_trigger_process(s.stream);
    pw_thread_loop_unlock(s.connection.loop);
}

void SyphonServer::stop()
{
    Impl& s = *impl_;
    if (!s.stream)
        return;
    pw_thread_loop_lock(s.connection.loop);
    spa_hook_remove(&s.streamListener);
    pw_stream_destroy(s.stream);
    s.stream = nullptr;
    pw_thread_loop_unlock(s.connection.loop);
    s.connection.roundTrip();  // the node has left the graph when stop returns
}
