#include "TestPatternCaptureBackend.h"

#include "FFmpegCaptureStream.h"
#include "Log.h"

TestPatternCaptureBackend::TestPatternCaptureBackend(const QString& deviceList)
{
    for (const QString& entry : deviceList.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        const qsizetype split = entry.indexOf(QLatin1Char('='));
        const QString name = entry.left(split).trimmed();
        const QString graph = split < 0 ? QString() : entry.mid(split + 1).trimmed();
        if (name.isEmpty() || graph.isEmpty()) {
            KLOG_WARN("KAVIO_VIRTUAL_CAPTURE entry skipped, not <name>=<graph>: {}", entry.toStdString());
            continue;
        }
        devices_.push_back({name, graph, std::make_shared<std::atomic<bool>>(true)});
    }
}

QList<CaptureDeviceInfo> TestPatternCaptureBackend::devices()
{
    std::lock_guard lock(mutex_);
    QList<CaptureDeviceInfo> result;
    for (const Device& device : devices_)
        result.append({device.name, uidForName(device.name)});
    return result;
}

std::unique_ptr<CaptureStream> TestPatternCaptureBackend::start(const QString& uid, bool highBitDepth,
                                                                FrameHandler onFrame)
{
    if (highBitDepth)
        logHighBitDepthFallbackOnce();
    std::lock_guard lock(mutex_);
    for (const Device& device : devices_)
        if (uidForName(device.name) == uid)
            return std::make_unique<FFmpegCaptureStream>("lavfi", device.graph.toStdString(),
                                                         std::map<std::string, std::string>(), true,
                                                         device.present, std::move(onFrame));
    return nullptr;
}

void TestPatternCaptureBackend::setDeviceHandler(DeviceHandler handler)
{
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void TestPatternCaptureBackend::addDevice(const QString& name, const QString& graph)
{
    removeDevice(name);
    DeviceHandler handler;
    {
        std::lock_guard lock(mutex_);
        devices_.push_back({name, graph, std::make_shared<std::atomic<bool>>(true)});
        handler = handler_;
    }
    if (handler)
        handler({name, uidForName(name)}, true);
}

bool TestPatternCaptureBackend::removeDevice(const QString& name)
{
    DeviceHandler handler;
    {
        std::lock_guard lock(mutex_);
        const auto found = std::find_if(devices_.begin(), devices_.end(),
                                        [&](const Device& device) { return device.name == name; });
        if (found == devices_.end())
            return false;
        found->present->store(false);
        devices_.erase(found);
        handler = handler_;
    }
    if (handler)
        handler({name, uidForName(name)}, false);
    return true;
}
