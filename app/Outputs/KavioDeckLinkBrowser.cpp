#include "Outputs/KavioDeckLinkBrowser.h"

#include "Sources/KavioDeckLinkCaptureInterface.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"

#include <QVariantMap>

#include <map>
#include <mutex>

namespace {

// A capture format as the camera manager reads it: the display mode's picture size and frame
// duration (the mode's rate turned over). nullptr for a mode the table does not know.
KavioVideoFormatRef describe(const decklink::VideoFormatDescription& format)
{
    for (const decklink::DisplayMode& mode : decklink::displayModes())
        if (mode.code == format.displayMode) {
            auto description = std::make_shared<KavioVideoFormatDescription>();
            description->displayMode = format.displayMode;
            description->pixelFormat = format.pixelFormat;
            description->width = mode.width;
            description->height = mode.height;
            description->frameDurationValue = mode.timeScale;
            description->frameDurationTimescale = std::int32_t(mode.timeValue);
            return description;
        }
    return nullptr;
}

bool isCapturePixelFormat(std::uint32_t format)
{
    return format == decklink::kPixelFormat2vuy || format == decklink::kPixelFormatV210 ||
           format == decklink::kPixelFormatBGRA;
}

// One connected device as an input of the camera manager. Deliveries arrive on the backend's
// thread and go on to the capture delegate's queue with the frame's bytes shared, not copied.
class DeckLinkInput : public KavioDeckLinkCaptureDevice,
                      public decklink::CaptureDelegate,
                      public std::enable_shared_from_this<DeckLinkInput> {
public:
    explicit DeckLinkInput(std::shared_ptr<decklink::DeckLinkDevice> device) : device_(std::move(device)) {}
    // The device may have a newer input object by now: only a registration of this one is undone.
    ~DeckLinkInput() override
    {
        if (registered_)
            device_->setCaptureDelegate(nullptr);
    }

    std::int64_t persistantID() const override { return device_->persistantID(); }
    std::int64_t topologicalID() const override { return device_->topologicalID(); }
    QString displayName() const override { return QString::fromStdString(device_->displayName()); }
    bool captureSupported() const override { return device_->captureSupported(); }

    QList<KavioVideoFormatRef> captureVideoFormatDescriptions() const override
    {
        QList<KavioVideoFormatRef> formats;
        for (const auto& format : device_->captureVideoFormatDescriptions())
            if (auto description = describe(format))
                formats << description;
        return formats;
    }
    QList<KavioDeckLinkAudioFormat> captureAudioFormatDescriptions() const override
    {
        QList<KavioDeckLinkAudioFormat> formats;
        for (const auto& format : device_->captureAudioFormatDescriptions())
            if (format.bitsPerSample == 16 && format.channels > 0)
                formats << KavioDeckLinkAudioFormat{double(format.sampleRate), std::uint32_t(format.channels)};
        return formats;
    }
    KavioVideoFormatRef captureActiveVideoFormatDescription() const override
    {
        std::lock_guard lock(mutex_);
        if (!active_)
            if (const auto format = device_->captureActiveVideoFormatDescription())
                active_ = describe(*format);
        return active_;
    }
    bool setCaptureActiveVideoFormatDescription(KavioVideoFormatRef format, QString* error) override
    {
        const std::string failure = format ? device_->setCaptureActiveVideoFormatDescription({format->displayMode, format->pixelFormat})
                                           : std::string("no format");
        return finish(failure, error, [&] {
            std::lock_guard lock(mutex_);
            active_ = std::move(format);  // held here: the caller's copy may go
        });
    }
    bool setCaptureActiveAudioFormatDescription(const KavioDeckLinkAudioFormat& format, QString* error) override
    {
        return finish(device_->setCaptureActiveAudioFormatDescription({int(format.channels), int(format.sampleRate), 16}),
                      error, [] {});
    }
    void setCaptureDelegate(KavioDeckLinkCaptureDelegate* delegate, DispatchQueue* queue) override
    {
        {
            std::lock_guard lock(mutex_);
            delegate_ = delegate;
            queue_ = delegate ? queue : nullptr;
            registered_ = delegate != nullptr;
        }
        device_->setCaptureDelegate(delegate ? this : nullptr);
    }
    bool startCaptureWithError(QString* error) override { return finish(device_->startCapture(), error, [] {}); }
    void stopCapture() override { device_->stopCapture(); }

    void didCaptureFrame(decklink::DeckLinkDevice&, const decklink::CapturedFrame& frame) override
    {
        const std::size_t needed = std::size_t(frame.bytesPerRow) * std::size_t(std::max(frame.height, 0));
        if (!frame.bytes || !isCapturePixelFormat(frame.pixelFormat) || frame.width <= 0 || frame.height <= 0 ||
            frame.bytesPerRow <= 0 || frame.bytes->size() < needed) {
            KLOG_WARN("DeckLink input {}: a captured frame that does not fit its size is dropped", device_->displayName());
            return;
        }
        auto storage = std::const_pointer_cast<std::vector<std::uint8_t>>(frame.bytes);
        auto picture = std::make_shared<const VideoFrame>(MediaPixelFormat(frame.pixelFormat), frame.width, frame.height,
                                                          frame.bytesPerRow, storage->data(), MediaTime::zero(), storage);
        forward([picture](KavioDeckLinkCaptureDelegate& delegate, DeckLinkInput& self) {
            delegate.didCaptureVideoSampleBuffer(&self, picture);
        });
    }
    void didCaptureAudio(decklink::DeckLinkDevice&, const decklink::CapturedAudio& audio) override
    {
        if (!audio.samples || audio.channels <= 0)
            return;
        forward([audio](KavioDeckLinkCaptureDelegate& delegate, DeckLinkInput& self) {
            KavioDeckLinkAudioBuffer buffer;
            buffer.channelsPerFrame = std::uint32_t(audio.channels);
            buffer.bytesPerFrame = std::uint32_t(audio.channels) * 2;
            buffer.sampleRate = audio.sampleRate;
            buffer.sampleCount = audio.frames;
            buffer.data = audio.samples->data();
            buffer.byteSize = audio.samples->size() * sizeof(std::int16_t);
            delegate.didCaptureAudioSampleBuffer(&self, buffer);
        });
    }
    void didChangeCaptureFormat(decklink::DeckLinkDevice&, const decklink::VideoFormatDescription& format) override
    {
        const KavioVideoFormatRef description = describe(format);
        if (!description)
            return;
        forward([description](KavioDeckLinkCaptureDelegate& delegate, DeckLinkInput& self) {
            delegate.didChangeActiveVideoFormatDescription(&self, description);
        });
    }

private:
    template <typename Apply>
    static bool finish(const std::string& failure, QString* error, Apply apply)
    {
        if (!failure.empty()) {
            if (error)
                *error = QString::fromStdString(failure);
            return false;
        }
        apply();
        return true;
    }

    // Runs `deliver` on the delegate's queue while this input is still registered with it.
    template <typename Deliver>
    void forward(Deliver deliver)
    {
        DispatchQueue* queue;
        {
            std::lock_guard lock(mutex_);
            queue = queue_;
        }
        if (!queue)
            return;
        queue->async([weak = weak_from_this(), deliver = std::move(deliver)] {
            const auto self = weak.lock();
            if (!self)
                return;
            KavioDeckLinkCaptureDelegate* delegate;
            {
                std::lock_guard lock(self->mutex_);
                delegate = self->delegate_;
            }
            if (delegate)
                deliver(*delegate, *self);
        });
    }

    const std::shared_ptr<decklink::DeckLinkDevice> device_;
    mutable std::mutex mutex_;
    mutable KavioVideoFormatRef active_;
    KavioDeckLinkCaptureDelegate* delegate_ = nullptr;
    DispatchQueue* queue_ = nullptr;
    bool registered_ = false;
};

}  // namespace

// The inputs face: one DeckLinkInput per connected device, kept while it is connected.
class KavioDeckLinkBrowser::Inputs : public KavioDeckLinkCaptureBrowserInterface {
public:
    explicit Inputs(const KavioDeckLinkBrowser& browser) : browser_(browser) {}

    QList<std::shared_ptr<KavioDeckLinkCaptureDevice>> connectedDevices() const override
    {
        QList<std::shared_ptr<KavioDeckLinkCaptureDevice>> devices;
        std::lock_guard lock(mutex_);
        for (const auto& device : browser_.connectedDevices())
            devices << inputLocked(device);
        return devices;
    }
    // The name and UID text the camera manager finds its cameras by.
    QVariantMap deviceInfo(const std::shared_ptr<decklink::DeckLinkDevice>& device) const
    {
        std::lock_guard lock(mutex_);
        const auto input = inputLocked(device);
        return {{kDeckLinkDeviceNameKey, input->displayName()}, {kDeckLinkDeviceUIDKey, input->uid()}};
    }
    void forget(const decklink::DeckLinkDevice* device)
    {
        std::lock_guard lock(mutex_);
        inputs_.erase(device);
    }

private:
    std::shared_ptr<DeckLinkInput> inputLocked(const std::shared_ptr<decklink::DeckLinkDevice>& device) const
    {
        auto& input = inputs_[device.get()];
        if (!input)
            input = std::make_shared<DeckLinkInput>(device);
        return input;
    }

    const KavioDeckLinkBrowser& browser_;
    mutable std::mutex mutex_;
    mutable std::map<const decklink::DeckLinkDevice*, std::shared_ptr<DeckLinkInput>> inputs_;
};

KavioDeckLinkBrowser& KavioDeckLinkBrowser::sharedBrowser()
{
    static KavioDeckLinkBrowser* browser = [] {
        auto* made = new KavioDeckLinkBrowser(decklink::createDeviceBrowser());  // process-long
        KavioDeckLinkCaptureBrowserInterface::setSharedBrowser(made->captureBrowser());
        return made;
    }();
    return *browser;
}

KavioDeckLinkBrowser::KavioDeckLinkBrowser(std::unique_ptr<decklink::DeckLinkDeviceBrowser> browser)
    : inputs_(std::make_shared<Inputs>(*this)), deviceBrowser_(std::move(browser))
{
    if (deviceBrowser_) {
        deviceBrowser_->start();
        deviceBrowser_->setDelegate(this);
    }
}

KavioDeckLinkBrowser::~KavioDeckLinkBrowser()
{
    if (deviceBrowser_) {
        deviceBrowser_->stop();
        deviceBrowser_->setDelegate(nullptr);
    }
}

std::shared_ptr<KavioDeckLinkCaptureBrowserInterface> KavioDeckLinkBrowser::captureBrowser() const
{
    return inputs_;
}

std::vector<std::shared_ptr<decklink::DeckLinkDevice>> KavioDeckLinkBrowser::connectedDevices() const
{
    return deviceBrowser_ ? deviceBrowser_->connectedDevices() : std::vector<std::shared_ptr<decklink::DeckLinkDevice>>{};
}

std::shared_ptr<decklink::DeckLinkDevice> KavioDeckLinkBrowser::deviceWithUID(const QString& uid) const
{
    if (uid.isEmpty())
        return nullptr;
    const qint64 wanted = uid.toLongLong();
    for (const auto& device : connectedDevices()) {
        if (device->persistantID() > 0 && device->persistantID() == wanted)
            return device;
        if (device->topologicalID() > 0 && device->topologicalID() == wanted)
            return device;
    }
    return nullptr;
}

std::shared_ptr<decklink::DeckLinkDevice> KavioDeckLinkBrowser::deviceWithName(const QString& name) const
{
    if (name.isNull())
        return nullptr;
    for (const auto& device : connectedDevices())
        if (QString::fromStdString(device->displayName()) == name)
            return device;
    return nullptr;
}

void KavioDeckLinkBrowser::didAddDevice(decklink::DeckLinkDeviceBrowser&,
                                        const std::shared_ptr<decklink::DeckLinkDevice>& device)
{
    NotificationCenter::defaultCenter().post(kDeviceConnectedNotification, device.get(), inputs_->deviceInfo(device));
}

void KavioDeckLinkBrowser::didRemoveDevice(decklink::DeckLinkDeviceBrowser&,
                                           const std::shared_ptr<decklink::DeckLinkDevice>& device)
{
    // The input object goes with the device: a device plugged in again gets a new one.
    const QVariantMap info = inputs_->deviceInfo(device);
    inputs_->forget(device.get());
    NotificationCenter::defaultCenter().post(kDeviceDisconnectedNotification, device.get(), info);
}
