#include "QVTNDIReceiver.h"

#include "FrameTransferSession.h"
#include "Log.h"
#include "MediaAsset.h"
#include "NdiBackend.h"
#include "StrevalDirectory.h"

#include <cstring>
#include <mutex>
#include <vector>

// Buffers of one size and format; a frame's release puts its buffer back.
struct QVTNDIReceiver::Pool {
    MediaPixelFormat format;
    int width, height, bytesPerRow;
    size_t bytes;
    std::mutex mutex;
    std::vector<std::unique_ptr<uint8_t[]>> free;

    Pool(MediaPixelFormat f, int w, int h)
        : format(f), width(w), height(h), bytesPerRow(bytesPerRowFor(f, w)), bytes(size_t(bytesPerRow) * size_t(h))
    {
        for (int i = 0; i < kPoolMinimum; ++i)
            free.push_back(std::make_unique<uint8_t[]>(bytes));
    }

    std::shared_ptr<uint8_t> take(const std::shared_ptr<Pool>& self)
    {
        std::unique_ptr<uint8_t[]> buffer;
        {
            std::lock_guard lock(mutex);
            if (!free.empty()) {
                buffer = std::move(free.back());
                free.pop_back();
            }
        }
        if (!buffer)
            buffer.reset(new (std::nothrow) uint8_t[bytes]);
        if (!buffer)
            return nullptr;
        std::weak_ptr<Pool> home = self;
        return std::shared_ptr<uint8_t>(buffer.release(), [home](uint8_t* p) {
            if (auto pool = home.lock()) {
                std::lock_guard lock(pool->mutex);
                if (pool->free.size() < size_t(kPoolMinimum) * 2) {
                    pool->free.emplace_back(p);
                    return;
                }
            }
            delete[] p;
        });
    }
};

std::shared_ptr<QVTNDIReceiver> QVTNDIReceiver::initWithSource(const QVariantMap& source, bool highBitDepth)
{
    return initWithSource(source, highBitDepth, ndi::NdiBackend::shared());
}

std::shared_ptr<QVTNDIReceiver> QVTNDIReceiver::initWithSource(const QVariantMap& source, bool highBitDepth,
                                                               ndi::NdiBackend& backend)
{
    std::shared_ptr<QVTNDIReceiver> receiver(new QVTNDIReceiver(highBitDepth, backend));
    const ndi::Source wanted{source.value(StrevalDirectory::kSourceName).toString().toStdString(),
                             source.value(StrevalDirectory::kSourceIP).toString().toStdString()};
    receiver->ndi_receiver = backend.createReceiver(
        wanted, highBitDepth ? ndi::ColorFormat::Best : ndi::ColorFormat::UYVY_BGRA, kReceiverName);
    if (!receiver->ndi_receiver) {
        KLOG_ERROR("was not able to create NDI receiver instance...");
        return nullptr;
    }
    return receiver;
}

QVTNDIReceiver::QVTNDIReceiver(bool highBitDepth, ndi::NdiBackend& backend)
    : backend_(backend), ishighbitdepth(highBitDepth)
{
}

QVTNDIReceiver::~QVTNDIReceiver() = default;

bool QVTNDIReceiver::fill(const ndi::VideoFrame& in, MediaPixelFormat format, uint8_t* out, int outStride)
{
    if (in.fourCC == ndi::kFourCC_P216) {
        ndi::VideoFrame to;
        to.width = in.width, to.height = in.height, to.fourCC = ndi::kFourCC_V210;
        to.data = out, to.lineStride = outStride;
        return in.lineStride >= in.width * 2 && backend_.p216ToV210(in, to);
    }
    if (format == MediaPixelFormat::YUV422_10) {  // UYVY at high bit depth
        if (!transfer_)
            transfer_ = std::make_unique<FrameTransferSession>();
        const VideoFrame source(MediaPixelFormat::YUV422_8, in.width, in.height, in.lineStride, in.data, {}, nullptr);
        const VideoFrameRef v210 = transfer_->transferToV210(source);
        if (!v210)
            return false;
        for (int row = 0; row < in.height; ++row)
            std::memcpy(out + size_t(row) * size_t(outStride), v210->row(row),
                        size_t(std::min(outStride, v210->bytesPerRow())));
        return true;
    }
    const int rowBytes = format == MediaPixelFormat::BGRA ? in.width * 4 : (in.width + 1) / 2 * 4;
    if (in.lineStride < rowBytes)
        return false;
    for (int row = 0; row < in.height; ++row)
        std::memcpy(out + size_t(row) * size_t(outStride), in.data + size_t(row) * size_t(in.lineStride),
                    size_t(rowBytes));
    return true;
}

VideoFrameRef QVTNDIReceiver::pixelBuffer()
{
    if (!ndi_receiver)
        return nullptr;
    const auto captured = ndi_receiver->captureVideo();
    if (!captured || !captured->frame.data)
        return nullptr;
    const ndi::VideoFrame& in = captured->frame;
    MediaPixelFormat format;
    bool yuv = false;
    switch (in.fourCC) {
    case ndi::kFourCC_UYVY:
        yuv = true;
        format = ishighbitdepth ? MediaPixelFormat::YUV422_10 : MediaPixelFormat::YUV422_8;
        break;
    case ndi::kFourCC_P216:
        yuv = true;
        format = MediaPixelFormat::YUV422_10;
        break;
    case ndi::kFourCC_BGRA:
    case ndi::kFourCC_BGRX: format = MediaPixelFormat::BGRA; break;
    default:
        if (lastDropped_ != in.fourCC)
            KLOG_WARN("NDI frame of FourCC {:#010x} dropped: not a format this receiver takes", in.fourCC);
        lastDropped_ = in.fourCC;
        return nullptr;
    }
    if (in.width < 1 || in.height < 1 || in.width > 16384 || in.height > 16384) {
        if (lastDropped_ != 1)
            KLOG_WARN("NDI frame of {} x {} dropped", in.width, in.height);
        lastDropped_ = 1;
        return nullptr;
    }
    isYUV_.store(yuv);
    hasAlpha_.store(!yuv);
    if (!pixelbufferpool || in.width != xres || in.height != yres || pixelbufferpool->format != format) {
        pixelbufferpool = std::make_shared<Pool>(format, in.width, in.height);
        xres = in.width, yres = in.height;
        KLOG_INFO("pixelbufferpool created for {} x {}", xres, yres);
    }
    auto buffer = pixelbufferpool->take(pixelbufferpool);
    if (!buffer)
        return nullptr;
    if (!fill(in, format, buffer.get(), pixelbufferpool->bytesPerRow)) {
        KLOG_WARN("NDI frame of {} x {} dropped: its rows do not fit its format", in.width, in.height);
        return nullptr;
    }
    const uint8_t* data = buffer.get();
    return std::make_shared<VideoFrame>(format, in.width, in.height, pixelbufferpool->bytesPerRow, data, MediaTime{},
                                        std::shared_ptr<void>(std::move(buffer)));
}

std::shared_ptr<const PcmBuffer> QVTNDIReceiver::audioPCMBuffer()
{
    if (!ndi_receiver)
        return nullptr;
    const auto captured = ndi_receiver->captureAudio();
    if (!captured || !captured->frame.data || captured->frame.fourCC != ndi::kFourCC_FLTp)
        return nullptr;
    const ndi::AudioFrame& in = captured->frame;
    const PcmFormat format = generateProcessingFormatWithSamplerate(in.sampleRate, in.channels);
    if (!format.isValid() || in.samples < 1 || in.channelStride < in.samples * 4)
        return nullptr;
    auto buffer = std::make_shared<PcmBuffer>(format, uint32_t(in.samples));
    buffer->setFrameLength(uint32_t(in.samples));
    const auto* base = reinterpret_cast<const uint8_t*>(in.data);
    for (int c = 0; c < in.channels; ++c)
        std::memcpy(buffer->floatChannelData(uint32_t(c)), base + size_t(c) * size_t(in.channelStride),
                    size_t(in.samples) * 4);
    return buffer;
}

bool QVTNDIReceiver::hasNewPixelBuffer()
{
    return ndi_receiver && ndi_receiver->queuedVideoFrames() > 0;
}

PcmFormat QVTNDIReceiver::generateProcessingFormatWithSamplerate(double sampleRate, int32_t channels)
{
    return channels > 0 ? PcmFormat(sampleRate, uint32_t(channels)) : PcmFormat();
}

void QVTNDIReceiver::setTally(bool onProgram, bool onPreview)
{
    if (ndi_receiver)
        ndi_receiver->setTally({onProgram, onPreview});
}

void QVTNDIReceiver::removeResources()
{
    ndi_receiver.reset();
    pixelbufferpool.reset();
}
