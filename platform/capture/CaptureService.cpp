#include "CaptureDevice.h"

#include "Log.h"
#include "NotificationCenter.h"
#include "TestPatternCaptureBackend.h"
#include "V4L2CaptureBackend.h"

#include <QVariantMap>

const QString CaptureService::kDeviceWasConnectedNotification = QStringLiteral("CaptureDeviceWasConnectedNotification");
const QString CaptureService::kDeviceWasDisconnectedNotification = QStringLiteral("CaptureDeviceWasDisconnectedNotification");
const QString CaptureService::kDeviceNameKey = QStringLiteral("CaptureDeviceName");
const QString CaptureService::kDeviceUIDKey = QStringLiteral("CaptureDeviceUID");

void logHighBitDepthFallbackOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { KLOG_INFO("capture devices give 8-bit pictures: 10-bit capture falls back to 8-bit"); });
}

CaptureService& CaptureService::shared()
{
    static CaptureService* service = new CaptureService;
    return *service;
}

CaptureService::CaptureService()
{
    if (const QByteArray virtualDevices = qgetenv("KAVIO_VIRTUAL_CAPTURE"); !virtualDevices.isNull()) {
        auto patterns = std::make_unique<TestPatternCaptureBackend>(QString::fromUtf8(virtualDevices));
        testPatterns_ = patterns.get();
        backends_.push_back(std::move(patterns));
    }
    backends_.push_back(std::make_unique<V4L2CaptureBackend>());
    for (const auto& backend : backends_) {
        backend->setDeviceHandler([](const CaptureDeviceInfo& device, bool connected) {
            NotificationCenter::defaultCenter().post(
                connected ? kDeviceWasConnectedNotification : kDeviceWasDisconnectedNotification, nullptr,
                QVariantMap{{kDeviceNameKey, device.name}, {kDeviceUIDKey, device.uid}});
        });
    }
}

QList<CaptureDeviceInfo> CaptureService::devices()
{
    QList<CaptureDeviceInfo> all;
    for (const auto& backend : backends_)
        all += backend->devices();
    return all;
}

std::unique_ptr<CaptureStream> CaptureService::start(const QString& uid, bool highBitDepth, CaptureBackend::FrameHandler onFrame)
{
    for (const auto& backend : backends_)
        for (const CaptureDeviceInfo& device : backend->devices())
            if (device.uid == uid)
                return backend->start(uid, highBitDepth, std::move(onFrame));
    return nullptr;
}
