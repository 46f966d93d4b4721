#include "SyphonClient.h"

#include "SyphonPipeWire.h"

#include <spa/param/video/format-utils.h>
#include <spa/utils/result.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

struct SyphonClient::Impl {
    SyphonConnection connection{"kavio-syphonclient"};
    pw_registry* registry = nullptr;
    spa_hook registryListener{};
    QStringList sources;  // loop thread, read after a round trip
    pw_stream* stream = nullptr;
    spa_hook streamListener{};

    mutable std::mutex frameLock;
    QImage newest;
    int width = 0, height = 0;  // loop thread
    std::atomic<std::uint64_t> frames{0};
    FrameHandler handler;  // set before the stream exists
};

namespace {

void onGlobal(void* data, uint32_t, uint32_t, const char* type, uint32_t, const spa_dict* props)
{
    auto* impl = static_cast<SyphonClient::Impl*>(data);
    if (!props || std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0)
        return;
    const char* mediaClass = spa_dict_lookup(props, PW_KEY_MEDIA_CLASS);
    const char* name = spa_dict_lookup(props, PW_KEY_NODE_NAME);
    if (mediaClass && name && std::strcmp(mediaClass, "Video/Source") == 0)
        impl->sources << QString::fromUtf8(name);
}

pw_registry_events registryEvents()
{
    pw_registry_events events{};
    events.version = PW_VERSION_REGISTRY_EVENTS;
    events.global = onGlobal;
    return events;
}
const pw_registry_events kRegistryEvents = registryEvents();

void onParamChanged(void* data, uint32_t id, const spa_pod* param)
{
    auto* impl = static_cast<SyphonClient::Impl*>(data);
    if (id != SPA_PARAM_Format || !param)
        return;
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) >= 0)
        impl->width = int(info.size.width), impl->height = int(info.size.height);
}

void onProcess(void* data)
{
    auto* impl = static_cast<SyphonClient::Impl*>(data);
    pw_buffer* buffer = pw_stream_dequeue_buffer(impl->stream);
    if (!buffer)
        return;
    const spa_data& d = buffer->buffer->datas[0];
    const int w = impl->width, h = impl->height;
    const int stride = d.chunk->stride > 0 ? d.chunk->stride : w * 4;
    if (d.data && w > 0 && h > 0 && d.chunk->size >= std::uint32_t(stride * (h - 1) + w * 4)) {
        QImage frame(static_cast<const uchar*>(d.data) + d.chunk->offset, w, h, stride,
                     QImage::Format_ARGB32_Premultiplied);
        const QImage copy = frame.copy();
        {
            std::lock_guard lock(impl->frameLock);
            impl->newest = copy;
        }
        impl->frames.fetch_add(1);
        if (impl->handler)
            impl->handler(copy);
    }
    pw_stream_queue_buffer(impl->stream, buffer);
}

pw_stream_events streamEvents()
{
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.param_changed = onParamChanged;
    events.process = onProcess;
    return events;
}
const pw_stream_events kStreamEvents = streamEvents();

}  // namespace

SyphonClient::SyphonClient()
    : impl_(std::make_unique<Impl>())
{
}

SyphonClient::~SyphonClient()
{
    Impl& c = *impl_;
    if (!c.connection.connected())
        return;
    pw_thread_loop_lock(c.connection.loop);
    if (c.stream) {
        spa_hook_remove(&c.streamListener);
        pw_stream_destroy(c.stream);
    }
    if (c.registry) {
        spa_hook_remove(&c.registryListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(c.registry));
    }
    pw_thread_loop_unlock(c.connection.loop);
}

bool SyphonClient::isConnected() const
{
    return impl_->connection.connected();
}

QStringList SyphonClient::serverNames()
{
    Impl& c = *impl_;
    if (!c.connection.connected())
        return {};
    pw_thread_loop_lock(c.connection.loop);
    if (c.registry) {
        spa_hook_remove(&c.registryListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(c.registry));
    }
    c.sources.clear();
    c.registry = pw_core_get_registry(c.connection.core, PW_VERSION_REGISTRY, 0);
    pw_registry_add_listener(c.registry, &c.registryListener, &kRegistryEvents, &c);
    pw_thread_loop_unlock(c.connection.loop);
    c.connection.roundTrip();
    pw_thread_loop_lock(c.connection.loop);
    const QStringList names = c.sources;
    pw_thread_loop_unlock(c.connection.loop);
    return names;
}

void SyphonClient::setFrameHandler(FrameHandler handler)
{
    impl_->handler = std::move(handler);
}

bool SyphonClient::connectToServer(const QString& nodeName)
{
    Impl& c = *impl_;
    if (!c.connection.connected() || c.stream)
        return false;
    const QByteArray target = nodeName.toUtf8();
    pw_thread_loop_lock(c.connection.loop);
    pw_properties* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_MEDIA_ROLE, "Production", PW_KEY_TARGET_OBJECT,
                                             target.constData(), nullptr);
    c.stream = pw_stream_new(c.connection.core, "kavio-syphon-client", props);
    bool ok = c.stream != nullptr;
    if (ok) {
        pw_stream_add_listener(c.stream, &c.streamListener, &kStreamEvents, &c);
        std::uint8_t buffer[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        spa_rectangle smallest = SPA_RECTANGLE(1, 1), largest = SPA_RECTANGLE(16384, 16384),
                      preferred = SPA_RECTANGLE(1920, 1080);
        spa_fraction none = SPA_FRACTION(0, 1), most = SPA_FRACTION(1000, 1), usual = SPA_FRACTION(60, 1);
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
            SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_Id(SPA_VIDEO_FORMAT_BGRA), SPA_FORMAT_VIDEO_size,
            SPA_POD_CHOICE_RANGE_Rectangle(&preferred, &smallest, &largest), SPA_FORMAT_VIDEO_framerate,
            SPA_POD_CHOICE_RANGE_Fraction(&usual, &none, &most)));
        const auto flags = pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS);
        ok = pw_stream_connect(c.stream, PW_DIRECTION_INPUT, PW_ID_ANY, flags, params, 1) >= 0;
    }
    pw_thread_loop_unlock(c.connection.loop);
    return ok;
}

QImage SyphonClient::newestFrame() const
{
    std::lock_guard lock(impl_->frameLock);
    return impl_->newest;
}

std::uint64_t SyphonClient::frameCount() const
{
    return impl_->frames.load();
}
