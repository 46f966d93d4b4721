#include "QVTNDISender.h"

#include "DispatchQueue.h"
#include "Log.h"
#include "NdiBackend.h"
#include "NdiPixelConversion.h"
#include "NotificationCenter.h"
#include "PixelPacking.h"

#include <cstdlib>
#include <cstring>

extern "C" {
#include <libswscale/swscale.h>
}

// BGRA to UYVY, or to v210 and then P216, with BT.709 video-range coefficients; its buffers
// are the sender's pool, remade when the size or the path changes.
struct QVTNDISender::Converter {
    SwsContext* scaler = nullptr;
    int width = 0, height = 0;
    bool yuv = true, highBitDepth = false;
    std::vector<uint8_t> picture;        // what is sent: UYVY, P216 or nothing (BGRA goes as it is)
    int pictureStride = 0;
    std::vector<uint16_t> planes;        // 10-bit 4:2:2 planes at high bit depth
    std::vector<uint8_t> v210;

    ~Converter() { sws_freeContext(scaler); }

    void rebuild(int w, int h, bool toYUV, bool deep)
    {
        width = w, height = h, yuv = toYUV, highBitDepth = deep;
        sws_freeContext(scaler);
        scaler = nullptr;
        picture.clear(), planes.clear(), v210.clear();
        pictureStride = 0;
        if (!yuv)
            return;
        const AVPixelFormat target = highBitDepth ? AV_PIX_FMT_YUV422P10LE : AV_PIX_FMT_UYVY422;
        scaler = sws_getContext(w, h, AV_PIX_FMT_BGRA, w, h, target, SWS_POINT, nullptr, nullptr, nullptr);
        if (!scaler)
            return;
        const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
        sws_setColorspaceDetails(scaler, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
        if (highBitDepth) {
            planes.resize(size_t(w) * size_t(h) * 2);
            v210.resize(size_t(NdiPixelConversion::v210Stride(w)) * size_t(h));
            pictureStride = NdiPixelConversion::p216Stride(w);
            picture.resize(size_t(pictureStride) * size_t(h) * 2);
        } else {
            pictureStride = (w + 1) / 2 * 4;
            picture.resize(size_t(pictureStride) * size_t(h));
        }
    }

    bool run(const uint8_t* bgra, int bytesPerRow, ndi::NdiBackend& backend)
    {
        if (!scaler)
            return false;
        const uint8_t* src[4] = {bgra, nullptr, nullptr, nullptr};
        const int srcStride[4] = {bytesPerRow, 0, 0, 0};
        if (!highBitDepth) {
            uint8_t* dst[4] = {picture.data(), nullptr, nullptr, nullptr};
            const int dstStride[4] = {pictureStride, 0, 0, 0};
            return sws_scale(scaler, src, srcStride, 0, height, dst, dstStride) == height;
        }
        const size_t lumaSize = size_t(width) * size_t(height);
        const int chromaWidth = (width + 1) / 2;
        uint16_t* y = planes.data();
        uint16_t* cb = y + lumaSize;
        uint16_t* cr = cb + size_t(chromaWidth) * size_t(height);
        uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(y), reinterpret_cast<uint8_t*>(cb),
                           reinterpret_cast<uint8_t*>(cr), nullptr};
        const int dstStride[4] = {width * 2, chromaWidth * 2, chromaWidth * 2, 0};
        if (sws_scale(scaler, src, srcStride, 0, height, dst, dstStride) != height)
            return false;
        const int v210Stride = NdiPixelConversion::v210Stride(width);
        for (int row = 0; row < height; ++row)
            PixelPacking::packV210Row(y + size_t(row) * size_t(width), cb + size_t(row) * size_t(chromaWidth),
                                      cr + size_t(row) * size_t(chromaWidth), width,
                                      v210.data() + size_t(row) * size_t(v210Stride));
        ndi::VideoFrame from;
        from.width = width, from.height = height, from.fourCC = ndi::kFourCC_V210;
        from.data = v210.data(), from.lineStride = v210Stride;
        ndi::VideoFrame to;
        to.width = width, to.height = height, to.fourCC = ndi::kFourCC_P216;
        to.data = picture.data(), to.lineStride = pictureStride;
        return backend.v210ToP216(from, to);
    }
};

std::shared_ptr<QVTNDISender> QVTNDISender::initWithName(const QString& name, bool highBitDepth)
{
    return initWithName(name, highBitDepth, ndi::NdiBackend::shared());
}

std::shared_ptr<QVTNDISender> QVTNDISender::initWithName(const QString& name, bool highBitDepth,
                                                         ndi::NdiBackend& backend)
{
    std::shared_ptr<QVTNDISender> sender(new QVTNDISender(highBitDepth, backend));
    sender->sendNode = backend.createSender(name.toStdString());
    if (!sender->sendNode)
        KLOG_ERROR("error creating NDI sender");
    return sender;
}

QVTNDISender::QVTNDISender(bool highBitDepth, ndi::NdiBackend& backend)
    : backend_(backend),
      ishighbitdepth(highBitDepth),
      sendqueue(std::make_unique<DispatchQueue>("com.dalvek.ndiaudiosend")),
      converter_(std::make_unique<Converter>())
{
}

QVTNDISender::~QVTNDISender()
{
    removeResources();
}

bool QVTNDISender::hasSendNode() const
{
    bool has = false;
    sendqueue->sync([&] { has = sendNode != nullptr; });
    return has;
}

std::shared_ptr<QVTNDIAudioSource> QVTNDISender::audioSource() const
{
    std::lock_guard lock(sourceMutex_);
    return audioSource_.lock();
}

void QVTNDISender::setAudioSource(const std::shared_ptr<QVTNDIAudioSource>& source)
{
    std::lock_guard lock(sourceMutex_);
    audioSource_ = source;
}

void QVTNDISender::checkTally()
{
    bool known = false;
    ndi::Tally tally;
    sendqueue->sync([&] {
        if (sendNode) {
            known = true;
            tally = sendNode->tally();
        }
    });
    if (!known || tally.onProgram == tallyOnProgram_)
        return;
    tallyOnProgram_ = tally.onProgram;
    // The value of this change travels with it: several quick flips post each state in turn.
    const bool state = tally.onProgram;
    DispatchQueue::main().async([weak = weak_from_this(), state] {
        if (auto sender = weak.lock())
            NotificationCenter::defaultCenter().post(kTallyStateChangeNotification, sender.get(),
                                                     {{kStateKey, state}});
    });
}

void QVTNDISender::sendMetalTexture(const uint8_t* bgra, int bytesPerRow, QSizeF size, bool convertToYUV,
                                    QVTNDIFrameRate framerate)
{
    checkTally();
    int connections = 0;
    sendqueue->sync([&] { connections = sendNode ? sendNode->connections() : 0; });
    if (connections == 0)
        return;
    const int width = int(size.width()), height = int(size.height());
    if (width < 1 || height < 1 || !bgra || bytesPerRow < width * 4)
        return;  // nothing to send
    if (size != outputRenderingSize) {
        outputRenderingSize = size;
        shouldrebuild = true;
    }
    if (convertToYUV != use_yuv) {
        use_yuv = convertToYUV;
        shouldrebuild = true;
    }
    if (shouldrebuild || !poolBuilt_.load()) {
        converter_->rebuild(width, height, use_yuv, ishighbitdepth);
        poolBuilt_.store(true);
        shouldrebuild = false;
    }

    ndi::VideoFrame frame;
    frame.width = width, frame.height = height;
    frame.frameRateN = framerate.timeValue == 0 ? 30000 : int(framerate.timeValue);
    frame.frameRateD = framerate.timeScale > 0 ? framerate.timeScale : 1000;
    frame.pictureAspectRatio = float(width) / float(height);
    if (use_yuv) {
        if (!converter_->run(bgra, bytesPerRow, backend_)) {
            KLOG_ERROR("Error: Couldn't process VTPixelTransferSessionTransferImage");
            return;  // a half-converted picture is not sent
        }
        frame.fourCC = ishighbitdepth ? ndi::kFourCC_P216 : ndi::kFourCC_UYVY;
        frame.data = converter_->picture.data();
        frame.lineStride = converter_->pictureStride;
    } else {
        frame.fourCC = ndi::kFourCC_BGRA;
        frame.data = bgra;
        frame.lineStride = bytesPerRow;
    }
    sendqueue->sync([&] {
        if (sendNode)
            sendNode->sendVideo(frame);
    });
}

void QVTNDISender::sendAudioNumberOfSamples(uint32_t samples, int32_t channelCount)
{
    if (!hasSendNode())
        return;
    auto source = audioSource();
    if (!source || !source->isEnabled() || samples == 0 || channelCount < 1)
        return;
    float* block = source->audioDataWithNumberOfFrames(int32_t(samples), channelCount);
    if (!block)
        return;
    ndi::AudioFrame frame;
    frame.sampleRate = 48000;
    frame.channels = channelCount;
    frame.samples = int(samples);
    frame.data = block;
    frame.channelStride = int(samples) * 4;
    sendqueue->sync([&] {
        if (sendNode)
            sendNode->sendAudio(frame);
    });
    std::free(block);
}

void QVTNDISender::removeResources()
{
    sendqueue->sync([this] {
        if (sendNode)
            KLOG_INFO("removeResources");
        sendNode.reset();
    });
}
