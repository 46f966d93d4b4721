#include "Outputs/KavioDecklinkOutput.h"

#include "BGRAPictureConverter.h"
#include "Log.h"

#include <cstring>

namespace {
constexpr int kPoolMinimum = 2;
}

KavioDecklinkOutput::KavioDecklinkOutput(bool highBitDepth)
    : ishighbithdepth_(highBitDepth), converter_(std::make_unique<BGRAPictureConverter>())
{
}

KavioDecklinkOutput::~KavioDecklinkOutput() = default;

void KavioDecklinkOutput::sendTexture(const uint8_t* bgra, int bytesPerRow, QSizeF size, bool useYUV)
{
    if (size != outputSize) {
        outputSize = size;
        shouldrebuild = true;
    }
    if (useYUV != use_yuv) {
        use_yuv = useYUV;
        shouldrebuild = true;
    }
    const int width = int(size.width()), height = int(size.height());
    if (width < 1 || height < 1 || !bgra || bytesPerRow < width * 4)
        return;
    const uint32_t format = !use_yuv ? decklink::kPixelFormatBGRA
                            : ishighbithdepth_ ? decklink::kPixelFormatV210
                                               : decklink::kPixelFormat2vuy;
    if (shouldrebuild) {
        KLOG_INFO("rebuild Decklink output...");
        pool.clear();
        for (int i = 0; i < kPoolMinimum; ++i) {
            auto buffer = std::make_shared<decklink::PixelBuffer>();
            buffer->pixelFormat = format, buffer->width = width, buffer->height = height;
            buffer->bytesPerRow = format == decklink::kPixelFormatBGRA ? width * 4
                                  : BGRAPictureConverter::bytesPerRow(format == decklink::kPixelFormatV210
                                                                          ? BGRAPictureConverter::Target::V210
                                                                          : BGRAPictureConverter::Target::UYVY8,
                                                                      width);
            buffer->bytes.resize(size_t(buffer->bytesPerRow) * size_t(height));
            pool.push_back(std::move(buffer));
        }
        poolFormat_.store(format);
        ++poolBuilds_;
        shouldrebuild = false;
    }
    // A buffer the device no longer holds; none free means the card is behind: drop the frame.
    std::shared_ptr<decklink::PixelBuffer> destination;
    for (const auto& buffer : pool)
        if (buffer.use_count() == 1) {
            destination = buffer;
            break;
        }
    if (!destination)
        return;
    bool converted = true;
    if (format == decklink::kPixelFormatBGRA) {
        for (int row = 0; row < height; ++row)
            std::memcpy(destination->bytes.data() + size_t(row) * size_t(destination->bytesPerRow),
                        bgra + size_t(row) * size_t(bytesPerRow), size_t(width) * 4);
    } else {
        converted = converter_->convert(
            bgra, bytesPerRow, width, height,
            format == decklink::kPixelFormatV210 ? BGRAPictureConverter::Target::V210 : BGRAPictureConverter::Target::UYVY8,
            destination->bytes.data(), destination->bytesPerRow);
    }
    if (!converted) {
        KLOG_ERROR("Error: Couldn't process VTPixelTransferSessionTransferImage");
        return;  // an unconverted buffer holds an older picture or nothing: not played
    }
    if (auto device = outputDevice())
        device->playbackPixelBuffer(destination, false);
}

QVariantMap KavioDecklinkOutput::saveData() const
{
    return {{QStringLiteral("deviceUID"), deviceUID()}};
}

void KavioDecklinkOutput::loadWithData(const QVariantMap& data)
{
    if (data.contains(QStringLiteral("deviceUID")))
        setDeviceUID(data.value(QStringLiteral("deviceUID")).toString());
    auto device = outputDevice();
    if (!device)
        return;
    std::weak_ptr<decklink::DeckLinkDevice> weak = device;
    device->setPlaybackActiveVideoFormatDescription(std::nullopt, [self = weak_from_this(), weak](const std::string&) {
        KLOG_INFO("Decklink device will remove!");
        // Only the device that was asked is dropped; a newer one stays.
        auto sink = self.lock();
        std::shared_ptr<decklink::DeckLinkDevice> expected = weak.lock();
        if (sink && expected)
            sink->outputDevice_.compare_exchange_strong(expected, nullptr);
    });
}
