#pragma once
// V4L2 cameras and capture cards: the /dev/video* nodes that capture video, named by their card
// name, with their bus address as UID; read through libavdevice's v4l2 input (YUYV, UYVY or
// MJPEG, converted to '2vuy'). Arrival and removal come from udev's "video4linux" events, watched
// on a thread of the backend while a device handler is set.

#include "CaptureDevice.h"

#include <atomic>
#include <mutex>
#include <thread>

class V4L2CaptureBackend : public CaptureBackend {
public:
    V4L2CaptureBackend();
    ~V4L2CaptureBackend() override;

    QList<CaptureDeviceInfo> devices() override;
    std::unique_ptr<CaptureStream> start(const QString& uid, bool highBitDepth, FrameHandler onFrame) override;
    void setDeviceHandler(DeviceHandler handler) override;

private:
    struct Node {
        CaptureDeviceInfo info;
        QString path;
    };
    static QList<Node> scan();
    void watch();

    std::mutex mutex_;
    DeviceHandler handler_;
    QList<Node> known_;
    std::atomic<bool> stopping_{false};
    std::thread watcher_;
};
