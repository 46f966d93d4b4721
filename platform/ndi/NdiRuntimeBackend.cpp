#include "NdiRuntimeBackend.h"

#include "Log.h"
#include "NdiPixelConversion.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

namespace {

// --- The runtime's structures, as its documentation lays them out ---------------------------

struct RtSource {
    const char* p_ndi_name;
    const char* p_url_address;
};
struct RtFindCreate {
    bool show_local_sources;
    const char* p_groups;
    const char* p_extra_ips;
};
struct RtSendCreate {
    const char* p_ndi_name;
    const char* p_groups;
    bool clock_video;
    bool clock_audio;
};
struct RtRecvCreate {
    RtSource source_to_connect_to;
    int color_format;  // 1: UYVY or BGRA; 101: best
    int bandwidth;     // 100: highest
    bool allow_video_fields;
    const char* p_ndi_recv_name;
};
struct RtTally {
    bool on_program;
    bool on_preview;
};
struct RtRecvQueue {
    int video_frames, audio_frames, metadata_frames;
};
struct RtVideoFrame {
    int xres, yres;
    uint32_t FourCC;
    int frame_rate_N, frame_rate_D;
    float picture_aspect_ratio;
    int frame_format_type;  // 1: progressive
    int64_t timecode;
    uint8_t* p_data;
    int line_stride_in_bytes;
    const char* p_metadata;
    int64_t timestamp;
};
struct RtAudioFrame {
    int sample_rate, no_channels, no_samples;
    int64_t timecode;
    uint32_t FourCC;
    uint8_t* p_data;
    int channel_stride_in_bytes;
    const char* p_metadata;
    int64_t timestamp;
};
struct RtMetadataFrame {
    int length;
    int64_t timecode;
    char* p_data;
};

constexpr int kFrameTypeVideo = 1;
constexpr int kFrameTypeAudio = 2;
constexpr int kColorFormatUYVY_BGRA = 1;
constexpr int kColorFormatBest = 101;
constexpr int kBandwidthHighest = 100;

RtVideoFrame toRuntime(const ndi::VideoFrame& f)
{
    return {f.width, f.height, f.fourCC, f.frameRateN, f.frameRateD, f.pictureAspectRatio,
            f.progressive ? 1 : 0, f.timecode, const_cast<uint8_t*>(f.data), f.lineStride, nullptr, f.timestamp};
}
ndi::VideoFrame fromRuntime(const RtVideoFrame& f)
{
    ndi::VideoFrame v;
    v.width = f.xres, v.height = f.yres, v.fourCC = f.FourCC;
    v.frameRateN = f.frame_rate_N, v.frameRateD = f.frame_rate_D;
    v.pictureAspectRatio = f.picture_aspect_ratio, v.progressive = f.frame_format_type == 1;
    v.timecode = f.timecode, v.data = f.p_data, v.lineStride = f.line_stride_in_bytes, v.timestamp = f.timestamp;
    return v;
}

}  // namespace

struct NdiRuntimeBackend::Functions {
    bool (*initialize)();
    void (*destroy)();
    void* (*find_create_v2)(const RtFindCreate*);
    const RtSource* (*find_get_current_sources)(void*, uint32_t*);
    void (*find_destroy)(void*);
    void* (*send_create)(const RtSendCreate*);
    int (*send_get_no_connections)(void*, uint32_t);
    bool (*send_get_tally)(void*, RtTally*, uint32_t);
    void (*send_send_video_v2)(void*, const RtVideoFrame*);
    void (*send_send_audio_v3)(void*, const RtAudioFrame*);
    void (*send_destroy)(void*);
    void* (*recv_create_v3)(const RtRecvCreate*);
    int (*recv_capture_v3)(void*, RtVideoFrame*, RtAudioFrame*, RtMetadataFrame*, uint32_t);
    void (*recv_free_video_v2)(void*, const RtVideoFrame*);
    void (*recv_free_audio_v3)(void*, const RtAudioFrame*);
    void (*recv_get_queue)(void*, RtRecvQueue*);
    bool (*recv_set_tally)(void*, const RtTally*);
    void (*recv_destroy)(void*);
    void (*util_V210_to_P216)(const RtVideoFrame*, RtVideoFrame*);
    void (*util_P216_to_V210)(const RtVideoFrame*, RtVideoFrame*);
};

namespace {

using Functions = NdiRuntimeBackend::Functions;

class RuntimeFinder : public ndi::Finder {
public:
    RuntimeFinder(const Functions& f, void* finder) : f_(f), finder_(finder) {}
    ~RuntimeFinder() override { f_.find_destroy(finder_); }
    std::vector<ndi::Source> sources() override
    {
        uint32_t count = 0;
        const RtSource* list = f_.find_get_current_sources(finder_, &count);
        std::vector<ndi::Source> out;
        for (uint32_t i = 0; list && i < count; ++i)
            out.push_back({list[i].p_ndi_name ? list[i].p_ndi_name : "",
                           list[i].p_url_address ? list[i].p_url_address : ""});
        return out;
    }

private:
    const Functions& f_;
    void* finder_;
};

class RuntimeSender : public ndi::Sender {
public:
    RuntimeSender(const Functions& f, void* sender) : f_(f), sender_(sender) {}
    ~RuntimeSender() override { f_.send_destroy(sender_); }
    int connections() override { return f_.send_get_no_connections(sender_, 0); }
    ndi::Tally tally() override
    {
        RtTally t{false, false};
        f_.send_get_tally(sender_, &t, 0);
        return {t.on_program, t.on_preview};
    }
    void sendVideo(const ndi::VideoFrame& frame) override
    {
        const RtVideoFrame f = toRuntime(frame);
        f_.send_send_video_v2(sender_, &f);
    }
    void sendAudio(const ndi::AudioFrame& frame) override
    {
        const RtAudioFrame f{frame.sampleRate, frame.channels, frame.samples, frame.timecode, frame.fourCC,
                             reinterpret_cast<uint8_t*>(const_cast<float*>(frame.data)), frame.channelStride,
                             nullptr, frame.timestamp};
        f_.send_send_audio_v3(sender_, &f);
    }

private:
    const Functions& f_;
    void* sender_;
};

class RuntimeVideo : public ndi::CapturedVideo {
public:
    RuntimeVideo(const Functions& f, void* receiver, const RtVideoFrame& frame) : f_(f), receiver_(receiver), raw_(frame)
    {
        this->frame = fromRuntime(frame);
    }
    ~RuntimeVideo() override { f_.recv_free_video_v2(receiver_, &raw_); }

private:
    const Functions& f_;
    void* receiver_;
    RtVideoFrame raw_;
};

class RuntimeAudio : public ndi::CapturedAudio {
public:
    RuntimeAudio(const Functions& f, void* receiver, const RtAudioFrame& raw) : f_(f), receiver_(receiver), raw_(raw)
    {
        frame.sampleRate = raw.sample_rate, frame.channels = raw.no_channels, frame.samples = raw.no_samples;
        frame.timecode = raw.timecode, frame.fourCC = raw.FourCC;
        frame.data = reinterpret_cast<const float*>(raw.p_data);
        frame.channelStride = raw.channel_stride_in_bytes, frame.timestamp = raw.timestamp;
    }
    ~RuntimeAudio() override { f_.recv_free_audio_v3(receiver_, &raw_); }

private:
    const Functions& f_;
    void* receiver_;
    RtAudioFrame raw_;
};

class RuntimeReceiver : public ndi::Receiver {
public:
    RuntimeReceiver(const Functions& f, void* receiver) : f_(f), receiver_(receiver) {}
    ~RuntimeReceiver() override { f_.recv_destroy(receiver_); }
    std::unique_ptr<ndi::CapturedVideo> captureVideo() override
    {
        RtVideoFrame frame{};
        if (f_.recv_capture_v3(receiver_, &frame, nullptr, nullptr, 0) != kFrameTypeVideo)
            return nullptr;
        return std::make_unique<RuntimeVideo>(f_, receiver_, frame);
    }
    std::unique_ptr<ndi::CapturedAudio> captureAudio() override
    {
        RtAudioFrame frame{};
        if (f_.recv_capture_v3(receiver_, nullptr, &frame, nullptr, 0) != kFrameTypeAudio)
            return nullptr;
        return std::make_unique<RuntimeAudio>(f_, receiver_, frame);
    }
    int queuedVideoFrames() override
    {
        RtRecvQueue queue{};
        f_.recv_get_queue(receiver_, &queue);
        return queue.video_frames;
    }
    void setTally(const ndi::Tally& tally) override
    {
        const RtTally t{tally.onProgram, tally.onPreview};
        f_.recv_set_tally(receiver_, &t);
    }

private:
    const Functions& f_;
    void* receiver_;
};

void* openRuntime(std::string& tried)
{
    const struct {
        const char* env;
        const char* file;
    } candidates[] = {{"NDI_RUNTIME_DIR_V6", "libndi.so.6"}, {"NDI_RUNTIME_DIR_V5", "libndi.so.5"}};
    for (const auto& c : candidates) {
        if (const char* dir = std::getenv(c.env); dir && *dir) {
            const std::string path = std::string(dir) + "/" + c.file;
            if (void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
                return handle;
            tried += path + " ";
        }
        if (void* handle = ::dlopen(c.file, RTLD_NOW | RTLD_LOCAL))
            return handle;
        tried += std::string(c.file) + " ";
    }
    return nullptr;
}

template <typename T>
bool find(void* handle, const char* symbol, T& function, std::string& missing)
{
    function = reinterpret_cast<T>(::dlsym(handle, symbol));
    if (!function)
        missing += std::string(symbol) + " ";
    return function != nullptr;
}

}  // namespace

std::unique_ptr<NdiRuntimeBackend> NdiRuntimeBackend::load(std::string* why)
{
    std::string tried;
    void* handle = openRuntime(tried);
    if (!handle) {
        if (why)
            *why = "the NDI runtime is not installed (tried " + tried + ")";
        return nullptr;
    }
    auto f = std::make_unique<Functions>();
    std::string missing;
    find(handle, "NDIlib_initialize", f->initialize, missing);
    find(handle, "NDIlib_destroy", f->destroy, missing);
    find(handle, "NDIlib_find_create_v2", f->find_create_v2, missing);
    find(handle, "NDIlib_find_get_current_sources", f->find_get_current_sources, missing);
    find(handle, "NDIlib_find_destroy", f->find_destroy, missing);
    find(handle, "NDIlib_send_create", f->send_create, missing);
    find(handle, "NDIlib_send_get_no_connections", f->send_get_no_connections, missing);
    find(handle, "NDIlib_send_get_tally", f->send_get_tally, missing);
    find(handle, "NDIlib_send_send_video_v2", f->send_send_video_v2, missing);
    find(handle, "NDIlib_send_send_audio_v3", f->send_send_audio_v3, missing);
    find(handle, "NDIlib_send_destroy", f->send_destroy, missing);
    find(handle, "NDIlib_recv_create_v3", f->recv_create_v3, missing);
    find(handle, "NDIlib_recv_capture_v3", f->recv_capture_v3, missing);
    find(handle, "NDIlib_recv_free_video_v2", f->recv_free_video_v2, missing);
    find(handle, "NDIlib_recv_free_audio_v3", f->recv_free_audio_v3, missing);
    find(handle, "NDIlib_recv_get_queue", f->recv_get_queue, missing);
    find(handle, "NDIlib_recv_set_tally", f->recv_set_tally, missing);
    find(handle, "NDIlib_recv_destroy", f->recv_destroy, missing);
    find(handle, "NDIlib_util_V210_to_P216", f->util_V210_to_P216, missing);
    find(handle, "NDIlib_util_P216_to_V210", f->util_P216_to_V210, missing);
    if (!missing.empty()) {
        if (why)
            *why = "the NDI runtime lacks " + missing;
        ::dlclose(handle);
        return nullptr;
    }
    if (!f->initialize()) {
        if (why)
            *why = "the NDI runtime does not run on this processor";
        ::dlclose(handle);
        return nullptr;
    }
    return std::unique_ptr<NdiRuntimeBackend>(new NdiRuntimeBackend(handle, std::move(f)));
}

NdiRuntimeBackend::NdiRuntimeBackend(void* handle, std::unique_ptr<Functions> functions)
    : handle_(handle), f_(std::move(functions))
{
}

NdiRuntimeBackend::~NdiRuntimeBackend()
{
    // The runtime stays mapped: frames and threads of it may outlive this object at exit.
    f_->destroy();
    (void)handle_;
}

std::unique_ptr<ndi::Finder> NdiRuntimeBackend::createFinder()
{
    const RtFindCreate settings{true, nullptr, nullptr};
    void* finder = f_->find_create_v2(&settings);
    return finder ? std::make_unique<RuntimeFinder>(*f_, finder) : nullptr;
}

std::unique_ptr<ndi::Sender> NdiRuntimeBackend::createSender(const std::string& name)
{
    const RtSendCreate settings{name.c_str(), nullptr, false, false};
    void* sender = f_->send_create(&settings);
    return sender ? std::make_unique<RuntimeSender>(*f_, sender) : nullptr;
}

std::unique_ptr<ndi::Receiver> NdiRuntimeBackend::createReceiver(const ndi::Source& source, ndi::ColorFormat format,
                                                                 const std::string& receiverName)
{
    const RtRecvCreate settings{{source.name.c_str(), source.address.c_str()},
                                format == ndi::ColorFormat::Best ? kColorFormatBest : kColorFormatUYVY_BGRA,
                                kBandwidthHighest,
                                false,
                                receiverName.c_str()};
    void* receiver = f_->recv_create_v3(&settings);
    return receiver ? std::make_unique<RuntimeReceiver>(*f_, receiver) : nullptr;
}

bool NdiRuntimeBackend::v210ToP216(const ndi::VideoFrame& from, ndi::VideoFrame& to)
{
    if (from.width < 1 || from.height < 1 || to.lineStride < NdiPixelConversion::p216Stride(from.width))
        return false;
    const RtVideoFrame in = toRuntime(from);
    RtVideoFrame out = toRuntime(to);
    f_->util_V210_to_P216(&in, &out);
    return true;
}

bool NdiRuntimeBackend::p216ToV210(const ndi::VideoFrame& from, ndi::VideoFrame& to)
{
    if (from.width < 1 || from.height < 1 || to.lineStride < NdiPixelConversion::v210Stride(from.width))
        return false;
    const RtVideoFrame in = toRuntime(from);
    RtVideoFrame out = toRuntime(to);
    f_->util_P216_to_V210(&in, &out);
    return true;
}
