#include "QVTNDISender.h"

#include "DispatchQueue.h"
#include "Log.h"
#include "NdiBackend.h"
#include "NdiPixelConversion.h"
#include "NotificationCenter.h"
#include "BGRAPictureConverter.h"

#include <cstdlib>
#include <cstring>

// The sender's pool: the converted picture (UYVY, or v210 and then P216), remade when the size
// or the path changes. BGRA goes out as it came.
struct QVTNDISender::Converter {
    BGRAPictureConverter converter;
    int width = 0, height = 0;
    bool yuv = true, highBitDepth = false;
    std::vector<uint8_t> picture;
    int pictureStride = 0;
    std::vector<uint8_t> v210;

    void rebuild(int w, int h, bool toYUV, bool deep)
    {
        width = w, height = h, yuv = toYUV, highBitDepth = deep;
        picture.clear(), v210.clear();
        pictureStride = 0;
        if (!yuv)
            return;
        if (highBitDepth) {
            v210.resize(size_t(NdiPixelConversion::v210Stride(w)) * size_t(h));
            pictureStride = NdiPixelConversion::p216Stride(w);
            picture.resize(size_t(pictureStride) * size_t(h) * 2);
        } else {
            pictureStride = BGRAPictureConverter::bytesPerRow(BGRAPictureConverter::Target::UYVY8, w);
            picture.resize(size_t(pictureStride) * size_t(h));
        }
    }

    bool run(const uint8_t* bgra, int bytesPerRow, ndi::NdiBackend& backend)
    {
        using Target = BGRAPictureConverter::Target;
        if (!highBitDepth)
            return converter.convert(bgra, bytesPerRow, width, height, Target::UYVY8, picture.data(), pictureStride);
        const int v210Stride = NdiPixelConversion::v210Stride(width);
        if (!converter.convert(bgra, bytesPerRow, width, height, Target::V210, v210.data(), v210Stride))
            return false;
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

bool QVTNDISender::hasReceivers() const
{
    int connections = 0;
    sendqueue->sync([&] { connections = sendNode ? sendNode->connections() : 0; });
    return connections > 0;
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
    if (!hasReceivers())
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
