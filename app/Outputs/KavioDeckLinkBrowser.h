#pragma once
// The process's list of connected DeckLink devices. It runs the DeckLink backend's browser from
// its first use and turns arrivals and removals into "DeckLinkDeviceWasConnectedNotification"
// and "DeckLinkDeviceWasDisconnectedNotification" on the default centre (object: the device's
// DeckLinkDevice*; user info: its name and UID text under kDeckLinkDeviceNameKey and
// kDeckLinkDeviceUIDKey), posted synchronously on the backend's thread: observers that touch the
// interface move to the main thread themselves. Without a backend it lists nothing and posts
// nothing. Any thread.
//
// Its inputs face, captureBrowser(), lists the same devices as the camera manager uses them
// (KavioDeckLinkCaptureBrowserInterface): one input object per device while it is connected,
// capture formats described by the display modes' sizes and rates, deliveries handed to the
// capture delegate's queue. sharedBrowser() installs it as the process's capture browser.

#include "DeckLinkDevice.h"

#include <QString>

class KavioDeckLinkCaptureBrowserInterface;

#include <memory>
#include <vector>

class KavioDeckLinkBrowser : public decklink::DeckLinkDeviceBrowserDelegate {
public:
    static constexpr const char* kDeviceConnectedNotification = "DeckLinkDeviceWasConnectedNotification";
    static constexpr const char* kDeviceDisconnectedNotification = "DeckLinkDeviceWasDisconnectedNotification";

    // Made on first use; lives for the process.
    static KavioDeckLinkBrowser& sharedBrowser();

    // Takes `browser` (may be nullptr), starts it and becomes its delegate. Tests make their own.
    explicit KavioDeckLinkBrowser(std::unique_ptr<decklink::DeckLinkDeviceBrowser> browser);
    ~KavioDeckLinkBrowser() override;
    KavioDeckLinkBrowser(const KavioDeckLinkBrowser&) = delete;
    KavioDeckLinkBrowser& operator=(const KavioDeckLinkBrowser&) = delete;

    std::vector<std::shared_ptr<decklink::DeckLinkDevice>> connectedDevices() const;
    // The first device whose persistent ID (when above 0), else whose topological ID (when above
    // 0), equals the text's number; nullptr for none or an empty text.
    std::shared_ptr<decklink::DeckLinkDevice> deviceWithUID(const QString& uid) const;
    // The first device of exactly that name, or nullptr.
    std::shared_ptr<decklink::DeckLinkDevice> deviceWithName(const QString& name) const;
    decklink::DeckLinkDeviceBrowser* deviceBrowser() const { return deviceBrowser_.get(); }
    std::shared_ptr<KavioDeckLinkCaptureBrowserInterface> captureBrowser() const;

    void didAddDevice(decklink::DeckLinkDeviceBrowser& browser,
                      const std::shared_ptr<decklink::DeckLinkDevice>& device) override;
    void didRemoveDevice(decklink::DeckLinkDeviceBrowser& browser,
                         const std::shared_ptr<decklink::DeckLinkDevice>& device) override;

    class Inputs;

private:
    std::shared_ptr<Inputs> inputs_;
    std::unique_ptr<decklink::DeckLinkDeviceBrowser> deviceBrowser_;
};
