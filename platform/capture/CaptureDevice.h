#pragma once
// Capture devices of the system (V4L2 cameras and capture cards, and the test-pattern devices)
// behind one interface: each backend lists its devices by name and UID, starts and stops them,
// and reports arrival and removal. Frames arrive as '2vuy' VideoFrames on the stream's own
// reading thread.
//
// Threads: backends may be asked from any thread; the handlers a backend calls run on its own
// threads (the reading thread of a stream, the backend's watcher thread for device events).

#include "VideoFrame.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

struct CaptureDeviceInfo {
    QString name;  // what the user sees: a V4L2 card name, a test-pattern device's name
    QString uid;   // stable while the device stays plugged in: a V4L2 bus address
    bool operator==(const CaptureDeviceInfo&) const = default;
};

// The picture a started device delivers. A frame rate of 0 means unknown.
struct CaptureFormat {
    int width = 0;
    int height = 0;
    double frameRate = 0;
    MediaPixelFormat pixelFormat = MediaPixelFormat::YUV422_8;
};

// A started device. Destroying it stops delivery: once the destructor returns no handler of
// this stream runs any more.
class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    // The format of the delivered frames; zeros until the device has been opened.
    virtual CaptureFormat format() const = 0;
};

class CaptureBackend {
public:
    // Frames in '2vuy', on the stream's reading thread; the handler must not block for long.
    using FrameHandler = std::function<void(VideoFrameRef)>;
    // Arrival (connected true) or removal of one device, on a thread of the backend.
    using DeviceHandler = std::function<void(const CaptureDeviceInfo&, bool connected)>;

    virtual ~CaptureBackend() = default;
    virtual QList<CaptureDeviceInfo> devices() = 0;
    // Opens the device of that UID and starts its reading thread; nullptr when there is no such
    // device. A device that fails after this (unplugged, format refused) logs and delivers no
    // more frames. Devices offer 8-bit frames only: `highBitDepth` is logged once and ignored.
    virtual std::unique_ptr<CaptureStream> start(const QString& uid, bool highBitDepth, FrameHandler onFrame) = 0;
    // Set once, before devices come and go.
    virtual void setDeviceHandler(DeviceHandler handler) = 0;
};

// The backends of this system: V4L2 always, the test-pattern devices when KAVIO_VIRTUAL_CAPTURE
// is set. Made on first use; lives for the process.
class CaptureService {
public:
    static CaptureService& shared();

    // Every backend's devices, test patterns first.
    QList<CaptureDeviceInfo> devices();
    // Starts the device of that UID on the backend that lists it; nullptr when none does.
    std::unique_ptr<CaptureStream> start(const QString& uid, bool highBitDepth, CaptureBackend::FrameHandler onFrame);

    // The test-pattern backend, or nullptr when KAVIO_VIRTUAL_CAPTURE was not set at start.
    class TestPatternCaptureBackend* testPatterns() const { return testPatterns_; }

    // The default centre's notifications of device arrival and removal, posted on the
    // backend's thread, user info {kCaptureDeviceNameKey, kCaptureDeviceUIDKey}.
    static const QString kDeviceWasConnectedNotification;
    static const QString kDeviceWasDisconnectedNotification;
    static const QString kDeviceNameKey;
    static const QString kDeviceUIDKey;

private:
    CaptureService();
    std::vector<std::unique_ptr<CaptureBackend>> backends_;
    TestPatternCaptureBackend* testPatterns_ = nullptr;
};

// Logs once per process that 10-bit capture falls back to 8-bit.
void logHighBitDepthFallbackOnce();
