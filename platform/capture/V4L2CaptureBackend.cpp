#include "V4L2CaptureBackend.h"

#include "FFmpegCaptureStream.h"
#include "Log.h"

#include <QDir>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <libudev.h>

V4L2CaptureBackend::V4L2CaptureBackend() = default;

V4L2CaptureBackend::~V4L2CaptureBackend()
{
    stopping_ = true;
    if (watcher_.joinable())
        watcher_.join();
}

QList<V4L2CaptureBackend::Node> V4L2CaptureBackend::scan()
{
    QList<Node> nodes;
    const QStringList names = QDir(QStringLiteral("/dev")).entryList({QStringLiteral("video*")}, QDir::System, QDir::Name);
    for (const QString& name : names) {
        const QString path = QStringLiteral("/dev/") + name;
        const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        v4l2_capability caps{};
        const bool queried = ::ioctl(fd, VIDIOC_QUERYCAP, &caps) == 0;
        ::close(fd);
        if (!queried)
            continue;
        // A device's metadata nodes share its bus address but capture no video.
        const uint32_t capabilities = (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
        if (!(capabilities & V4L2_CAP_VIDEO_CAPTURE))
            continue;
        const QString card = QString::fromUtf8(reinterpret_cast<const char*>(caps.card)).trimmed();
        QString bus = QString::fromUtf8(reinterpret_cast<const char*>(caps.bus_info)).trimmed();
        if (bus.isEmpty())
            bus = path;
        const bool duplicate = std::any_of(nodes.begin(), nodes.end(), [&](const Node& n) { return n.info.uid == bus; });
        if (!duplicate)
            nodes.append({{card, bus}, path});
    }
    return nodes;
}

QList<CaptureDeviceInfo> V4L2CaptureBackend::devices()
{
    QList<CaptureDeviceInfo> result;
    for (const Node& node : scan())
        result.append(node.info);
    return result;
}

std::unique_ptr<CaptureStream> V4L2CaptureBackend::start(const QString& uid, bool highBitDepth, FrameHandler onFrame)
{
    if (highBitDepth)
        logHighBitDepthFallbackOnce();
    for (const Node& node : scan())
        if (node.info.uid == uid)
            return std::make_unique<FFmpegCaptureStream>("video4linux2", node.path.toStdString(),
                                                         std::map<std::string, std::string>(), false,
                                                         std::make_shared<std::atomic<bool>>(true), std::move(onFrame));
    return nullptr;
}

void V4L2CaptureBackend::setDeviceHandler(DeviceHandler handler)
{
    {
        std::lock_guard lock(mutex_);
        handler_ = std::move(handler);
        known_ = scan();
    }
    if (!watcher_.joinable())
        watcher_ = std::thread([this] { watch(); });
}

void V4L2CaptureBackend::watch()
{
    udev* context = udev_new();
    udev_monitor* monitor = context ? udev_monitor_new_from_netlink(context, "udev") : nullptr;
    if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, "video4linux", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        KLOG_INFO("no udev events: V4L2 devices plugged in later are not seen");
        if (monitor)
            udev_monitor_unref(monitor);
        if (context)
            udev_unref(context);
        return;
    }
    pollfd watched{udev_monitor_get_fd(monitor), POLLIN, 0};
    while (!stopping_) {
        if (::poll(&watched, 1, 200) <= 0)
            continue;
        if (udev_device* event = udev_monitor_receive_device(monitor))
            udev_device_unref(event);
        // Compare whole lists: one device has several nodes, and a removed node can no longer be
        // asked for its name.
        const QList<Node> now = scan();
        DeviceHandler handler;
        QList<Node> before;
        {
            std::lock_guard lock(mutex_);
            before = known_;
            known_ = now;
            handler = handler_;
        }
        const auto contains = [](const QList<Node>& list, const Node& node) {
            return std::any_of(list.begin(), list.end(), [&](const Node& n) { return n.info == node.info; });
        };
        for (const Node& node : before)
            if (!contains(now, node) && handler)
                handler(node.info, false);
        for (const Node& node : now)
            if (!contains(before, node) && handler)
                handler(node.info, true);
    }
    udev_monitor_unref(monitor);
    udev_unref(context);
}
