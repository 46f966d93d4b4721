#pragma once
// Test-pattern capture devices on libavdevice's lavfi input, for machines without cameras and
// for tests. KAVIO_VIRTUAL_CAPTURE names them: entries separated by "|", each "<name>=<lavfi
// graph>", for example
//   KAVIO_VIRTUAL_CAPTURE='Red=color=c=red:s=320x240:r=25|Bars=testsrc2=s=640x360:r=30'
// A device's UID is "lavfi:<name>". Pictures are delivered at the graph's own rate.

#include "CaptureDevice.h"

#include <mutex>
#include <vector>

class TestPatternCaptureBackend : public CaptureBackend {
public:
    // Parses a KAVIO_VIRTUAL_CAPTURE value; entries without "=" or with an empty name or graph
    // are skipped (logged).
    explicit TestPatternCaptureBackend(const QString& deviceList = QString());

    QList<CaptureDeviceInfo> devices() override;
    std::unique_ptr<CaptureStream> start(const QString& uid, bool highBitDepth, FrameHandler onFrame) override;
    void setDeviceHandler(DeviceHandler handler) override;

    // Plugs a device in (replacing one of the same name) and reports its arrival.
    void addDevice(const QString& name, const QString& graph);
    // Unplugs it: its streams stop delivering, and its removal is reported. False when unknown.
    bool removeDevice(const QString& name);

    static QString uidForName(const QString& name) { return QStringLiteral("lavfi:") + name; }

private:
    struct Device {
        QString name, graph;
        std::shared_ptr<std::atomic<bool>> present;
    };
    std::mutex mutex_;
    std::vector<Device> devices_;
    DeviceHandler handler_;
};
