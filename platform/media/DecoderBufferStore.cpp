#include "DecoderBufferStore.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace DecoderBufferStore {

namespace {

// Slack past each plane that FFmpeg's own allocator leaves for its SIMD readers (for its widest
// alignment, 64). av_malloc aligns the planes' starts as the decoders need.
constexpr size_t kPadding = 16 + 64 - 1;

struct Store {
    std::mutex mutex;
    std::map<size_t, std::vector<uint8_t*>> free;  // by size
    long long freeBytes = 0;
};

Store& store() {
    static Store* made = new Store;  // outlives every decoder, also at exit
    return *made;
}

void release(void* opaque, uint8_t* data) {
    const size_t size = reinterpret_cast<size_t>(opaque);
    Store& s = store();
    {
        std::lock_guard lock(s.mutex);
        if (s.freeBytes + (long long)size <= kMaxFreeBytes) {
            s.free[size].push_back(data);
            s.freeBytes += (long long)size;
            return;
        }
    }
    av_free(data);
}

AVBufferRef* take(size_t size) {
    Store& s = store();
    uint8_t* data = nullptr;
    {
        std::lock_guard lock(s.mutex);
        auto found = s.free.find(size);
        if (found != s.free.end() && !found->second.empty()) {
            data = found->second.back();  // the latest released: likely still in cache
            found->second.pop_back();
            s.freeBytes -= (long long)size;
        }
    }
    if (!data) {
        data = static_cast<uint8_t*>(av_mallocz(size));
        if (!data) return nullptr;
    }
    AVBufferRef* buffer = av_buffer_create(data, size, release, reinterpret_cast<void*>(size), 0);
    if (!buffer) release(reinterpret_cast<void*>(size), data);
    return buffer;
}

// The plane layout FFmpeg's default allocator gives: dimensions padded as the codec needs, the
// width widened until every row length meets the codec's alignment (rows are never aligned one
// by one: some decoders expect the chroma rows to be exactly half the luma rows).
bool layOut(AVCodecContext* context, const AVFrame* frame, int linesizes[4], size_t sizes[4]) {
    const auto format = AVPixelFormat(frame->format);
    int width = frame->width, height = frame->height;
    int aligns[AV_NUM_DATA_POINTERS];
    avcodec_align_dimensions2(context, &width, &height, aligns);
    for (;;) {
        if (av_image_fill_linesizes(linesizes, format, width) < 0) return false;
        bool aligned = true;
        for (int i = 0; i < 4; ++i) aligned = aligned && aligns[i] > 0 && linesizes[i] % aligns[i] == 0;
        if (aligned) break;
        if (width > INT_MAX / 2) return false;
        width += width & ~(width - 1);  // the lowest set bit: one more power of two of alignment
    }
    ptrdiff_t strides[4];
    for (int i = 0; i < 4; ++i) strides[i] = linesizes[i];
    if (av_image_fill_plane_sizes(sizes, format, height, strides) < 0) return false;
    for (int i = 0; i < 4; ++i)
        if (sizes[i] > size_t(INT_MAX) - kPadding) return false;
    return true;
}

int getBuffer(AVCodecContext* context, AVFrame* frame, int flags) {
    const AVPixFmtDescriptor* described = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    int linesizes[4];
    size_t sizes[4];
    if (!described || context->hw_frames_ctx || frame->width <= 0 || frame->height <= 0 ||
        (described->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM)) ||
        !layOut(context, frame, linesizes, sizes))
        return avcodec_default_get_buffer2(context, frame, flags);
    std::memset(frame->data, 0, sizeof frame->data);
    std::memset(frame->linesize, 0, sizeof frame->linesize);
    frame->extended_data = frame->data;
    for (int i = 0; i < 4 && sizes[i]; ++i) {
        frame->buf[i] = take(sizes[i] + kPadding);
        if (!frame->buf[i]) {
            for (int j = 0; j < i; ++j) av_buffer_unref(&frame->buf[j]);
            return AVERROR(ENOMEM);
        }
        frame->data[i] = frame->buf[i]->data;
        frame->linesize[i] = linesizes[i];
    }
    return 0;
}

}  // namespace

void attach(AVCodecContext* context) {
    if (context->codec_type == AVMEDIA_TYPE_VIDEO && context->codec &&
        (context->codec->capabilities & AV_CODEC_CAP_DR1)) {
        context->get_buffer2 = getBuffer;
#if LIBAVCODEC_VERSION_MAJOR < 60
        // Frame threads may call getBuffer themselves; without this older libavcodec hands every
        // call to the thread that feeds the decoder and waits for it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        context->thread_safe_callbacks = 1;
#pragma GCC diagnostic pop
#endif
    }
}

long long freeBytes() {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    return s.freeBytes;
}

}  // namespace DecoderBufferStore
