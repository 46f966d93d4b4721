#include "Sources/KavioDeckLinkCaptureInterface.h"

#include "Support/KavioSnapshotCell.h"

namespace {

class EmptyDeckLinkBrowser : public KavioDeckLinkCaptureBrowserInterface {
public:
    QList<std::shared_ptr<KavioDeckLinkCaptureDevice>> connectedDevices() const override { return {}; }
};

KavioSnapshotCell<std::shared_ptr<KavioDeckLinkCaptureBrowserInterface>>& sharedBrowserCell()
{
    static KavioSnapshotCell<std::shared_ptr<KavioDeckLinkCaptureBrowserInterface>> cell(
        std::make_shared<EmptyDeckLinkBrowser>());
    return cell;
}

}  // namespace

QString KavioDeckLinkCaptureDevice::uid() const
{
    if (persistantID() >= 1)
        return QString::number(persistantID());
    if (topologicalID() >= 1)
        return QString::number(topologicalID());
    return QString();
}

std::shared_ptr<KavioDeckLinkCaptureDevice> KavioDeckLinkCaptureBrowserInterface::deviceWithUID(const QString& uid) const
{
    if (uid.isEmpty())
        return nullptr;
    for (const auto& device : connectedDevices())
        if (device && device->uid() == uid)
            return device;
    return nullptr;
}

std::shared_ptr<KavioDeckLinkCaptureBrowserInterface> KavioDeckLinkCaptureBrowserInterface::sharedBrowser()
{
    return sharedBrowserCell().load();
}

void KavioDeckLinkCaptureBrowserInterface::setSharedBrowser(std::shared_ptr<KavioDeckLinkCaptureBrowserInterface> browser)
{
    sharedBrowserCell().store(std::move(browser));
}
