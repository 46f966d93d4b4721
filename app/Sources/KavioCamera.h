#pragma once
// One connection to one capture device: a camera or capture card of the system (through
// platform/capture) or a DeckLink input (through the DeckLink browser). Created and owned by
// KavioCameraManager; its fields are read and written on the manager's queue (it connects there
// too), except when the manager releases it at its own end.

#include "Sources/KavioDeckLinkCaptureInterface.h"

#include <QString>

#include <memory>
#include <vector>

class CaptureStream;
class KavioCameraManager;
class KavioVideoItem;

class KavioCamera {
public:
    // Stores name, UID and kind, connects at once and logs
    // "camera is initiated: %@ (isDecklink: %d)".
    KavioCamera(const QString& name, const QString& deviceUID, KavioCameraManager* manager, bool isDecklink);
    ~KavioCamera();
    KavioCamera(const KavioCamera&) = delete;
    KavioCamera& operator=(const KavioCamera&) = delete;

    // (Re)connects to the device. A system camera: the device of the camera's UID, else the
    // first of its name, starts delivering '2vuy' frames to the manager; none found marks the
    // camera missing. When the system lists no capture device at all, a system camera looks for a
    // DeckLink input of that UID or name instead. A DeckLink camera: the browser's device of the
    // UID, else the first capturing device of the name, gets its format (the kept one, else the
    // active one, else the first 'v210'/'2vuy' one), its first audio format and the manager as
    // delegate, and starts; its errors are only logged.
    void connectWithManager();
    // Stops and drops the stream or the DeckLink device.
    void removeResources();
    // DeckLink cameras only: takes the display name of the capturing device of its UID.
    void refreshInternalCameraName();

    // The descriptions whose pixel code equals `filterFormat`, in their order.
    static QList<KavioVideoFormatRef> filteredVideoFormatDescriptionsFromArray(const QList<KavioVideoFormatRef>& formats,
                                                                               std::uint32_t filterFormat);

    bool isDeckLinkDevice() const { return isDeckLinkDevice_; }
    bool isMissing() const { return isMissing_; }
    const QString& deviceName() const { return deviceName_; }
    void setDeviceName(const QString& name) { deviceName_ = name; }
    const QString& deviceUID() const { return deviceUID_; }
    void setDeviceUID(const QString& uid) { deviceUID_ = uid; }
    // Held strongly: a driver may free the format it handed out while we still use it.
    KavioVideoFormatRef deckLinkFormat() const { return deckLinkFormat_; }
    void setDeckLinkFormat(KavioVideoFormatRef format) { deckLinkFormat_ = std::move(format); }
    const std::shared_ptr<KavioDeckLinkCaptureDevice>& decklinkInput() const { return decklinkInput_; }
    // The identity of the current connection of a system camera (0: none); frames carry it.
    std::uint64_t captureVideoOutput() const { return captureVideoOutput_; }
    // The active format of a system camera's device; nullptr while missing or not yet opened.
    KavioVideoFormatRef activeFormat() const;

    // The cues that use this camera. Held weakly: a cue that goes without removing itself is
    // skipped and pruned.
    std::vector<std::weak_ptr<KavioVideoItem>>& connectedClients() { return connectedClients_; }
    std::vector<std::shared_ptr<KavioVideoItem>> liveClients();

private:
    void connectSystemCamera();
    void connectDeckLink();

    KavioCameraManager* manager_;
    bool isDeckLinkDevice_;
    bool isMissing_ = false;
    std::unique_ptr<CaptureStream> stream_;
    std::uint64_t captureVideoOutput_ = 0;
    std::shared_ptr<KavioDeckLinkCaptureDevice> decklinkInput_;
    KavioVideoFormatRef deckLinkFormat_;
    QString deviceName_, deviceUID_;
    std::vector<std::weak_ptr<KavioVideoItem>> connectedClients_;
};
