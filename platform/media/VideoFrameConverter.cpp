#include "VideoFrameConverter.h"

#include "PixelPacking.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

int alignUp(int value, int alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// What the scaler writes: the final layout, or the 16-bit layout our packers start from.
AVPixelFormat scalerOutput(MediaPixelFormat format) {
    switch (format) {
    case MediaPixelFormat::Native:  // what Native falls back to for layouts it does not hand on
    case MediaPixelFormat::BGRA: return AV_PIX_FMT_BGRA;
    case MediaPixelFormat::YUV422_8: return AV_PIX_FMT_UYVY422;
    case MediaPixelFormat::YUV422_10: return AV_PIX_FMT_YUV422P10LE;
    case MediaPixelFormat::RGBAHalf: return AV_PIX_FMT_RGBA64LE;
    }
    return AV_PIX_FMT_NONE;
}

// The deprecated full-range "J" formats are their plain twins with the full range flag.
AVPixelFormat withoutJ(AVPixelFormat format, bool& fullRange) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P: fullRange = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: fullRange = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: fullRange = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: fullRange = true; return AV_PIX_FMT_YUV440P;
    default: return format;
    }
}

bool isRGB(MediaPixelFormat format) {
    return format == MediaPixelFormat::BGRA || format == MediaPixelFormat::RGBAHalf;
}

MediaPixelFormat packedFormat(MediaPixelFormat format) {
    return format == MediaPixelFormat::Native ? MediaPixelFormat::BGRA : format;
}

MediaChromaSiting sitingOf(AVChromaLocation location) {
    switch (location) {
    case AVCHROMA_LOC_CENTER: return MediaChromaSiting::Center;
    case AVCHROMA_LOC_TOPLEFT: return MediaChromaSiting::TopLeft;
    case AVCHROMA_LOC_TOP: return MediaChromaSiting::Top;
    case AVCHROMA_LOC_BOTTOMLEFT: return MediaChromaSiting::BottomLeft;
    case AVCHROMA_LOC_BOTTOM: return MediaChromaSiting::Bottom;
    default: return MediaChromaSiting::Left;  // also unspecified: the MPEG and H.264 default
    }
}

// The plane layout of a picture the GPU can take as it is: little-endian YCbCr, one luma
// plane, Cb and Cr in two planes or interleaved Cb-first in one, optional alpha plane, all
// samples of one size. False for anything else.
bool describePlanes(const AVFrame* picture, VideoFramePlanes& planes) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(picture->format));
    if (!d || (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                           AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BE)))
        return false;
    if (d->nb_components != 3 && d->nb_components != 4) return false;
    const AVComponentDescriptor* c = d->comp;
    const int depth = c[0].depth, shift = c[0].shift;
    if (depth + shift > 16) return false;
    const int sampleBytes = depth + shift > 8 ? 2 : 1;
    for (int i = 1; i < d->nb_components; ++i)
        if (c[i].depth != depth || c[i].shift != shift) return false;
    if (c[0].plane != 0 || c[0].step != sampleBytes || c[0].offset != 0) return false;
    const bool interleaved = c[1].plane == 1 && c[2].plane == 1;
    if (interleaved) {
        if (c[1].step != 2 * sampleBytes || c[1].offset != 0 || c[2].offset != sampleBytes)
            return false;
    } else if (c[1].plane != 1 || c[2].plane != 2 || c[1].step != sampleBytes ||
               c[2].step != sampleBytes) {
        return false;
    }
    const bool alpha = d->nb_components == 4;
    const int alphaPlane = interleaved ? 2 : 3;
    if (alpha && (c[3].plane != alphaPlane || c[3].step != sampleBytes)) return false;

    planes.count = (interleaved ? 2 : 3) + (alpha ? 1 : 0);
    planes.interleavedChroma = interleaved;
    planes.hasAlpha = alpha;
    for (int i = 0; i < planes.count; ++i) {
        if (!picture->data[i] || picture->linesize[i] <= 0) return false;
        planes.data[i] = picture->data[i];
        planes.bytesPerRow[i] = picture->linesize[i];
    }
    planes.bytesPerSample = sampleBytes;
    planes.bitDepth = depth;
    planes.sampleShift = shift;
    planes.chromaShiftX = d->log2_chroma_w;
    planes.chromaShiftY = d->log2_chroma_h;
    planes.matrix = MediaFFmpeg::colorMatrixOf(picture->colorspace);
    bool fullRange = picture->color_range == AVCOL_RANGE_JPEG;
    withoutJ(AVPixelFormat(picture->format), fullRange);
    planes.fullRange = fullRange;
    planes.siting = sitingOf(picture->chroma_location);
    return true;
}

int swsColorspace(const AVFrame* picture) {
    switch (picture->colorspace) {
    case AVCOL_SPC_BT709: return SWS_CS_ITU709;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
    case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M: return SWS_CS_ITU601;
    default: return picture->height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;  // untagged: by size
    }
}

}  // namespace

int bytesPerRowFor(MediaPixelFormat format, int width) {
    switch (format) {
    case MediaPixelFormat::Native:
    case MediaPixelFormat::BGRA: return alignUp(width * 4, 64);
    case MediaPixelFormat::YUV422_8: return alignUp((width + 1) / 2 * 4, 64);
    case MediaPixelFormat::YUV422_10: return (width + 47) / 48 * 128;
    case MediaPixelFormat::RGBAHalf: return alignUp(width * 8, 64);
    }
    return 0;
}

VideoFrameConverter::VideoFrameConverter(MediaPixelFormat format, int threads)
    : format_(format), packed_(packedFormat(format)), threads_(threads) {}

VideoFrameConverter::~VideoFrameConverter() {
    sws_freeContext(scaler_);
    av_buffer_pool_uninit(&pool_);  // frames still held keep the pool until they are released
}

bool VideoFrameConverter::prepare(const AVFrame* picture) {
    bool fullRange = picture->color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat input = withoutJ(AVPixelFormat(picture->format), fullRange);
    const AVPixelFormat output = scalerOutput(packed_);
    if (!scaler_ || input != scalerInput_ || picture->width != scalerWidth_ ||
        picture->height != scalerHeight_ || picture->chroma_location != scalerSiting_) {
        // Sliced across threads: at 1080p one thread converting would hold the decoder back.
        sws_freeContext(scaler_);
        scaler_ = sws_alloc_context();
        if (!scaler_) return false;
        av_opt_set_int(scaler_, "srcw", picture->width, 0);
        av_opt_set_int(scaler_, "srch", picture->height, 0);
        av_opt_set_int(scaler_, "src_format", input, 0);
        av_opt_set_int(scaler_, "dstw", picture->width, 0);
        av_opt_set_int(scaler_, "dsth", picture->height, 0);
        av_opt_set_int(scaler_, "dst_format", output, 0);
        // Chroma filtered between its samples where the decoder says they sit: the picture
        // then matches what the GPU makes of the same planes. Without dithering the scaler
        // also skips its shortcut for 8-bit 4:2:0 to RGB, which repeats chroma and is a few
        // levels off (at the cost of speed: cues convert on the GPU from native planes).
        av_opt_set_int(scaler_, "sws_flags",
                       SWS_BILINEAR | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP, 0);
        av_opt_set(scaler_, "sws_dither", "none", 0);
        int chromaX = 0, chromaY = 128;  // unspecified: left, as the GPU takes it
        if (picture->chroma_location != AVCHROMA_LOC_UNSPECIFIED)
            avcodec_enum_to_chroma_pos(&chromaX, &chromaY, picture->chroma_location);
        av_opt_set_int(scaler_, "src_h_chr_pos", chromaX, 0);
        av_opt_set_int(scaler_, "src_v_chr_pos", chromaY, 0);
        av_opt_set_int(scaler_, "threads", threads_, 0);
        if (sws_init_context(scaler_, nullptr, nullptr) < 0) {
            sws_freeContext(scaler_);
            scaler_ = nullptr;
            return false;
        }
        scalerInput_ = input;
        scalerWidth_ = picture->width;
        scalerHeight_ = picture->height;
        scalerSiting_ = picture->chroma_location;
    }
    // RGB out is full range; YCbCr out keeps the movie's matrix and is video range.
    const int* matrix = sws_getCoefficients(swsColorspace(picture));
    sws_setColorspaceDetails(scaler_, matrix, fullRange ? 1 : 0, matrix, isRGB(packed_) ? 1 : 0, 0,
                             1 << 16, 1 << 16);

    if (!preparePool(picture)) return false;
    if (output == AV_PIX_FMT_YUV422P10LE || output == AV_PIX_FMT_RGBA64LE) {
        if (!staging_ || staging_->width != picture->width || staging_->height != picture->height) {
            staging_.reset(av_frame_alloc());
            if (!staging_) return false;
            staging_->format = output;
            staging_->width = picture->width;
            staging_->height = picture->height;
            if (av_frame_get_buffer(staging_.get(), 0) < 0) {
                staging_.reset();
                return false;
            }
        }
    }
    return true;
}

bool VideoFrameConverter::preparePool(const AVFrame* picture) {
    const size_t size = size_t(bytesPerRowFor(packed_, picture->width)) * size_t(picture->height);
    if (size != poolSize_) {
        av_buffer_pool_uninit(&pool_);
        pool_ = av_buffer_pool_init(size, nullptr);
        poolSize_ = size;
    }
    return pool_ != nullptr;
}

// Video-range 4:2:0 and 4:2:2 in 8 or 10 bits, the usual decoder output, only need repacking
// into 2vuy: cheaper than the general scaler, which takes its slow path for these pairs.
bool VideoFrameConverter::packsDirectly(const AVFrame* picture) const {
    switch (picture->format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUV420P10LE:
    case AV_PIX_FMT_YUV422P10LE:
        return packed_ == MediaPixelFormat::YUV422_8 && picture->color_range != AVCOL_RANGE_JPEG;
    default: return false;
    }
}

bool VideoFrameConverter::scale(const AVFrame* picture, AVBufferRef* buffer, int bytesPerRow) {
    const int width = picture->width, height = picture->height;
    uint8_t* out = buffer->data;
    // The frame-based call is the one that uses the scaler's threads.
    MediaFFmpeg::FramePtr input(av_frame_alloc());
    if (!input || av_frame_ref(input.get(), picture) < 0) return false;
    input->format = scalerInput_;
    if (packed_ == MediaPixelFormat::BGRA || packed_ == MediaPixelFormat::YUV422_8) {
        MediaFFmpeg::FramePtr target(av_frame_alloc());
        if (!target) return false;
        target->format = scalerOutput(packed_);
        target->width = width;
        target->height = height;
        target->data[0] = out;
        target->linesize[0] = bytesPerRow;
        target->buf[0] = av_buffer_ref(buffer);  // else the scaler allocates a buffer of its own
        if (!target->buf[0]) return false;
        if (sws_scale_frame(scaler_, target.get(), input.get()) < 0) return false;
    } else {
        if (sws_scale_frame(scaler_, staging_.get(), input.get()) < 0) return false;
        for (int y = 0; y < height; ++y) {
            uint8_t* row = out + std::ptrdiff_t(y) * bytesPerRow;
            if (packed_ == MediaPixelFormat::YUV422_10) {
                auto plane = [&](int i) {
                    return reinterpret_cast<const uint16_t*>(
                        staging_->data[i] + std::ptrdiff_t(y) * staging_->linesize[i]);
                };
                PixelPacking::packV210Row(plane(0), plane(1), plane(2), width, row);
                const int used = (width + 5) / 6 * 16;
                std::fill(row + used, row + bytesPerRow, uint8_t(0));
            } else {
                PixelPacking::rgba64ToHalfRow(
                    reinterpret_cast<const uint16_t*>(staging_->data[0] +
                                                      std::ptrdiff_t(y) * staging_->linesize[0]),
                    width, reinterpret_cast<uint16_t*>(row));
            }
        }
    }
    return true;
}

VideoFrameRef VideoFrameConverter::wrap(const AVFrame* picture, MediaTime time) const {
    VideoFramePlanes planes;
    if (format_ != MediaPixelFormat::Native || !describePlanes(picture, planes)) return nullptr;
    AVFrame* reference = av_frame_clone(picture);
    if (!reference) return nullptr;
    std::shared_ptr<void> storage(reference, [](void* p) {
        auto* frame = static_cast<AVFrame*>(p);
        av_frame_free(&frame);
    });
    return std::make_shared<const VideoFrame>(picture->width, picture->height, planes, time,
                                              std::move(storage));
}

VideoFrameRef VideoFrameConverter::convert(const AVFrame* picture, MediaTime time) {
    if (picture->width <= 0 || picture->height <= 0) return nullptr;
    if (VideoFrameRef wrapped = wrap(picture, time)) return wrapped;
    const bool direct = packsDirectly(picture);
    if (direct ? !preparePool(picture) : !prepare(picture)) return nullptr;
    AVBufferRef* buffer = av_buffer_pool_get(pool_);
    if (!buffer) return nullptr;
    std::shared_ptr<void> storage(buffer, [](void* p) {
        auto* ref = static_cast<AVBufferRef*>(p);
        av_buffer_unref(&ref);
    });
    const int width = picture->width, height = picture->height;
    const int bytesPerRow = bytesPerRowFor(packed_, width);
    uint8_t* out = buffer->data;

    if (direct) {
        const auto input = AVPixelFormat(picture->format);
        const int chromaShift = input == AV_PIX_FMT_YUV420P || input == AV_PIX_FMT_YUV420P10LE;
        const bool tenBit = input == AV_PIX_FMT_YUV420P10LE || input == AV_PIX_FMT_YUV422P10LE;
        for (int y = 0; y < height; ++y) {
            const int c = y >> chromaShift;
            const uint8_t* luma = picture->data[0] + std::ptrdiff_t(y) * picture->linesize[0];
            const uint8_t* blue = picture->data[1] + std::ptrdiff_t(c) * picture->linesize[1];
            const uint8_t* red = picture->data[2] + std::ptrdiff_t(c) * picture->linesize[2];
            uint8_t* row = out + std::ptrdiff_t(y) * bytesPerRow;
            if (tenBit)
                PixelPacking::packUYVYRow10(reinterpret_cast<const uint16_t*>(luma),
                                            reinterpret_cast<const uint16_t*>(blue),
                                            reinterpret_cast<const uint16_t*>(red), width, row);
            else
                PixelPacking::packUYVYRow(luma, blue, red, width, row);
        }
    } else if (!scale(picture, buffer, bytesPerRow)) {
        return nullptr;
    }
    return std::make_shared<const VideoFrame>(packed_, width, height, bytesPerRow, out, time,
                                              std::move(storage));
}
