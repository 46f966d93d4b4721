#include "Outputs/KavioDeckLinkBrowser.h"

#include "NotificationCenter.h"

KavioDeckLinkBrowser& KavioDeckLinkBrowser::sharedBrowser()
{
    static KavioDeckLinkBrowser* browser = new KavioDeckLinkBrowser(decklink::createDeviceBrowser());  // process-long
    return *browser;
}

KavioDeckLinkBrowser::KavioDeckLinkBrowser(std::unique_ptr<decklink::DeckLinkDeviceBrowser> browser)
    : deviceBrowser_(std::move(browser))
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
    NotificationCenter::defaultCenter().post(kDeviceConnectedNotification, device.get());
}

void KavioDeckLinkBrowser::didRemoveDevice(decklink::DeckLinkDeviceBrowser&,
                                           const std::shared_ptr<decklink::DeckLinkDevice>& device)
{
    NotificationCenter::defaultCenter().post(kDeviceDisconnectedNotification, device.get());
}
