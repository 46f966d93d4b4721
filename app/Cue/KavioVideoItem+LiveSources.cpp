#include "Cue/KavioVideoItem.h"

#include "Controller/KavioVideoItemManagerInterface.h"
#include "Inspector/KavioVideoItemPreferencesControllerInterface.h"
#include "Rendering/QVTMetalManager.h"
#include "Sources/KavioBrowserSource.h"
#include "Sources/KavioCameraManager.h"
#include "Cue/KavioNDIReceiverSource.h"
#include "Sources/KavioDeckLinkCaptureInterface.h"
#include "Sources/KavioSyphonSource.h"
#include "Sources/KavioWindowSource.h"
#include "Sources/KavioWindowSourceManager.h"
#include "CaptureDevice.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "StrevalDirectory.h"
#include "SyphonDirectory.h"

#include <QApplication>
#include <QGuiApplication>

namespace {

const QString kEmptyCameraCue = QStringLiteral("Empty Camera Cue");
const QString kEmptySyphonCue = QStringLiteral("Empty Syphon Cue");
const QString kEmptyNDICue = QStringLiteral("Empty NDI Cue");
const QString kSyphonNameSeparator = QStringLiteral(" - ");

}  // namespace

// --- Shared ---------------------------------------------------------------------------------------

// The inspector reloads its controls when it shows this cue.
static void refreshInspectorIfShowing(const KavioVideoItem& cue)
{
    const auto controller = cue.manager();
    KavioVideoItemPreferencesControllerInterface* inspector = controller ? controller->itemPreferencesController() : nullptr;
    if (inspector && inspector->currentItem().get() == &cue)
        inspector->pullCurrentItemData();
}

void KavioVideoItem::liveSourcesChanged(const Notification& notification)
{
    if (notification.name == kKavioCameraSourcesChangedNotification)
        cameraSourcesChanged();
    else if (notification.name == kKavioWindowSourcesChangedNotification)
        windowSourcesChanged();
    else if (notification.name == QLatin1String(SyphonDirectory::kAnnounceNotification) ||
             notification.name == QLatin1String(SyphonDirectory::kRetireNotification))
        syphonSourcesChanged(notification);
    else if (notification.name == QLatin1String(StrevalDirectory::kSourcesChangedNotification))
        ndiSourcesChanged(notification);
}

// The program's GPU device for source textures; none without the GUI application (the GPU
// device cannot be made then).
static std::shared_ptr<GpuDevice> sourceDevice()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return nullptr;
    return QVTMetalManager::sharedManager().device();
}

// True while the controller holds no cues: a source made then is the first cue's, shown at once.
static bool controllerHasNoCues(const KavioVideoItem& cue)
{
    const auto controller = cue.manager();
    const KavioVideoItemListSnapshot items = controller ? controller->items() : nullptr;
    return !items || items->empty();
}

// --- Capture devices ------------------------------------------------------------------------------

void KavioVideoItem::startCameraWithName(const QString& name, const QString& deviceUID)
{
    setIsYUV(true);
    setIsDeckLinkDevice(false);
    setIsMissing(false);
    setMediaPath(name);
    setDeviceUID(deviceUID);
    const auto deckLink = KavioDeckLinkCaptureBrowserInterface::sharedBrowser();
    const QList<std::shared_ptr<KavioDeckLinkCaptureDevice>> deckLinkDevices = deckLink ? deckLink->connectedDevices() : QList<std::shared_ptr<KavioDeckLinkCaptureDevice>>();

    if (name.isEmpty()) {
        // The system's first capture device; without one, the first DeckLink input that captures.
        const QList<CaptureDeviceInfo> devices = CaptureService::shared().devices();
        if (!devices.isEmpty()) {
            setMediaPath(devices.first().name);
            setDeviceUID(devices.first().uid);
        } else {
            for (const auto& device : deckLinkDevices)
                if (device && device->captureSupported()) {
                    startCameraWithName(device->displayName(), deviceUID);
                    return;
                }
        }
    } else {
        for (const auto& device : deckLinkDevices) {
            if (!device || !device->captureSupported())
                continue;
            const bool byUID = !deviceUID.isEmpty() && (deviceUID == QString::number(device->persistantID()) ||
                                                        deviceUID == QString::number(device->topologicalID()));
            if (device->displayName() == name || byUID) {
                KLOG_VERBOSE("found BM device: {}", device->displayName().toStdString());
                setIsDeckLinkDevice(true);
                setDeviceUID(device->uid());
                break;
            }
        }
    }

    if (mediaPath().isEmpty())
        setMediaPath(kEmptyCameraCue);
    const auto cameras = KavioCameraManager::sharedManager();
    cameras->startCaptureWithDevice(mediaPath(), shared_from_this(), this->deviceUID());
    setIsMissing(cameras->deviceIsAvailable(mediaPath(), this->deviceUID()));
    if (isCurrent())
        cameras->setCurrentDevice(mediaPath(), this->deviceUID());
}

void KavioVideoItem::switchCameraTo(const QString& name, const QString& deviceUID)
{
    if (mediaType() != KavioMediaTypeCamera)
        return;
    setIsReady(false);
    KavioCameraManager::sharedManager()->removeItem(this, mediaPath(), this->deviceUID());
    startCameraWithName(name, deviceUID);
    setIsReady(true);
    refreshTitle();
}

void KavioVideoItem::cameraSourcesChanged()
{
    const auto cameras = KavioCameraManager::sharedManager();
    setIsMissing(cameras->deviceIsAvailable(mediaPath(), deviceUID()));
    refreshTitle();
    if (isCurrent())
        cameras->setCurrentDevice(mediaPath(), deviceUID());
    refreshInspectorIfShowing(*this);
}

void KavioVideoItem::setIsSecondaryCamera(bool secondary)
{
    isSecondaryCamera_.store(secondary);
    if (secondary && mediaType() == KavioMediaTypeCamera)
        KavioCameraManager::sharedManager()->setSecondaryDevice(mediaPath(), deviceUID());
}

void KavioVideoItem::liveSourceMarkedCurrent()
{
    if (mediaType() != KavioMediaTypeCamera)
        return;
    // The clock thread marks cues current: it never waits for the camera manager's queue. The
    // slot keeps its last frame until the device is switched.
    if (!DispatchQueue::isMainThread()) {
        queueOnMain([](KavioVideoItem& cue) { cue.liveSourceMarkedCurrent(); });
        return;
    }
    KavioCameraManager::sharedManager()->setCurrentDevice(mediaPath(), deviceUID());
}

void KavioVideoItem::releaseLiveSources()
{
    if (mediaType() == KavioMediaTypeCamera)
        KavioCameraManager::sharedManager()->removeItem(this, mediaPath(), deviceUID());
    if (mediaType() == KavioMediaTypeWindow)
        KavioWindowSourceManager::sharedManager().decreaseNumberOfListeners();
    if (const auto browser = std::dynamic_pointer_cast<KavioBrowserSource>(browserSource_))
        browser->removeResources();
    browserSource_.reset();
    if (const auto window = windowCaptureSource())
        window->removeResources();
    windowSource_.reset();
    syphonClient_.store(nullptr);
    if (DispatchQueue* queue = ndiQueue_.load(); queue && ndiReceiver_)
        queue->sync([this] { ndiReceiver_.reset(); });
}

// --- Windows --------------------------------------------------------------------------------------

std::shared_ptr<KavioWindowSource> KavioVideoItem::windowCaptureSource() const
{
    return std::dynamic_pointer_cast<KavioWindowSource>(windowSource_);
}

void KavioVideoItem::makeWindowSource(const QString& name)
{
    auto& windows = KavioWindowSourceManager::sharedManager();
    QString title = name;
    // A cue made without a name takes the first listed window.
    if (title.isEmpty()) {
        const QList<QVariantList> listed = windows.listOfAvailableSources();
        if (!listed.isEmpty())
            title = listed.first().first().toString();
    }
    const std::uint32_t windowID = windows.windowIDForTitle(title);
    const auto controller = manager();
    windowSource_ = std::make_shared<KavioWindowSource>(controller ? controller->renderSize() : QSizeF(),
                                                        controller ? controller->renderingFPS() : 0, windowID,
                                                        controllerHasNoCues(*this), sourceDevice());
    setMediaPath(title);
}

void KavioVideoItem::startWindowSourceWithName(const QString& name)
{
    makeWindowSource(name);
    // A window that is not listed shows nothing: the cue is missing until it appears.
    setIsMissing(windowCaptureSource()->windowID() == 0);
}

void KavioVideoItem::switchWindowSourceTo(const QString& name)
{
    const auto old = windowCaptureSource();
    const bool showCursor = old && old->showCursor();
    if (old)
        old->removeResources();
    windowSource_.reset();
    makeWindowSource(name);
    const auto source = windowCaptureSource();
    source->setShowCursor(showCursor);
    source->setShouldRender(true);
    refreshTitle();
}

void KavioVideoItem::windowSourcesChanged()
{
    KLOG_VERBOSE("windowSourcesChanged, search for {}", mediaPath().toStdString());
    const QList<QVariantList> listed = KavioWindowSourceManager::sharedManager().listOfAvailableSources();
    const auto source = windowCaptureSource();
    bool found = std::any_of(listed.begin(), listed.end(),
                             [&](const QVariantList& entry) { return entry.first().toString() == mediaPath(); });
    if (!found && source) {
        // The window's title changed: it is still the cue's window.
        for (const QVariantList& entry : listed)
            if (entry.last().toUInt() == source->windowID()) {
                setMediaPath(entry.first().toString());
                refreshTitle();
                refreshInspectorIfShowing(*this);
                found = true;
                break;
            }
    }
    if (found && isMissing()) {
        if (source)
            source->removeResources();
        startWindowSourceWithName(mediaPath());
        if (isCurrent())
            windowCaptureSource()->setShouldRender(true);
        refreshTitle();
        refreshInspectorIfShowing(*this);
    } else if (!found) {
        setIsMissing(true);
        if (source)
            source->removeResources();
        windowSource_.reset();
        refreshTitle();
        refreshInspectorIfShowing(*this);
    }
}

void KavioVideoItem::setWindowSourceShowCursor(bool showCursor)
{
    if (const auto source = windowCaptureSource())
        source->setShowCursor(showCursor);
}

bool KavioVideoItem::windowSourceShowCursor() const
{
    const auto source = windowCaptureSource();
    return source && source->showCursor();
}

// --- Web pages ------------------------------------------------------------------------------------

void KavioVideoItem::startBrowserWithURL(const QString& url)
{
    setMediaPath(url);
    // The page needs the widgets application (a program without one, such as a tool or a test
    // of the model alone, gets a missing cue).
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        KLOG_WARN("no web pages without the application: {}", url.toStdString());
        setIsMissing(true);
        return;
    }
    const auto controller = manager();
    auto source = std::make_shared<KavioBrowserSource>(controller ? controller->renderSize() : QSizeF(),
                                                       controller ? controller->renderingFPS() : 0, controllerHasNoCues(*this),
                                                       sourceDevice());
    source->loadURL(QUrl::fromUserInput(url));
    browserSource_ = std::move(source);
    setIsMissing(false);
}

void KavioVideoItem::switchBrowserTo(const QString& url)
{
    setMediaPath(url);
    if (const auto source = browserSourceInterface())
        source->loadURL(QUrl::fromUserInput(url));
}

// --- Frame sharing ------------------------------------------------------------------------------

void KavioVideoItem::startSyphonWithName(const QString& name)
{
    if (!name.isEmpty()) {
        connectSyphonServer(name);
    } else {
        // Without a name, only when there is more than one server to choose from.
        const QVariantList servers = SyphonDirectory::sharedDirectory().servers();
        if (servers.size() >= 2)
            for (const QVariant& server : servers) {
                const QVariantMap description = server.toMap();
                if (description.value(SyphonDirectory::kNameKey).toString() == QLatin1String("Kavio"))
                    continue;
                setSyphonClient(std::make_shared<KavioSyphonSource>(description, sourceDevice()));
                setMediaPath(SyphonDirectory::displayName(description));
                break;
            }
    }
    if (mediaPath().isEmpty())
        setMediaPath(kEmptySyphonCue);
    setIsMissing(!syphonClient_.load());
}

void KavioVideoItem::connectSyphonServer(const QString& name)
{
    syphonClient_.store(nullptr);
    // "<application> - <server>", split at the first separator: server names may contain it.
    const qsizetype separator = name.indexOf(kSyphonNameSeparator);
    const QString appName = separator < 0 ? name : name.left(separator);
    const QString serverName = separator < 0 ? QString() : name.mid(separator + kSyphonNameSeparator.size());
    const QVariantList matches = SyphonDirectory::sharedDirectory().serversMatchingName(serverName, appName);
    if (!matches.isEmpty()) {
        setSyphonClient(std::make_shared<KavioSyphonSource>(matches.first().toMap(), sourceDevice()));
        KLOG_INFO("switched to new Syphon source: {}", name.toStdString());
        setIsMissing(false);
    } else {
        setIsMissing(true);
    }
    setMediaPath(name);
}

void KavioVideoItem::switchSyphonTo(const QString& name)
{
    setIsReady(false);
    connectSyphonServer(name);
    setIsReady(true);
    refreshTitle();
}

void KavioVideoItem::syphonSourcesChanged(const Notification& notification)
{
    const bool sameName = SyphonDirectory::displayName(notification.userInfo) == mediaPath();
    if (notification.name == QLatin1String(SyphonDirectory::kAnnounceNotification)) {
        if (sameName && isMissing())
            switchSyphonTo(mediaPath());
    } else if (sameName) {
        // A retired server sends nothing more: the cue shows nothing until it is announced again.
        setIsMissing(true);
        syphonClient_.store(nullptr);
        refreshTitle();
    }
    refreshInspectorIfShowing(*this);
}

// --- NDI ------------------------------------------------------------------------------------------

bool KavioVideoItem::replaceNDIReceiver(const QVariantMap& source)
{
    // The receiver in use goes first (its connection ends on the queue, never under a capture).
    setNDIReceiver(nullptr);
    if (source.isEmpty())
        return false;
    const auto controller = manager();
    const bool highBitDepth = controller && controller->useHighBitDepthRendering();
    bool made = false;
    ndiQueue_.load()->sync([&] {
        if (auto receiver = QVTNDIReceiver::initWithSource(source, highBitDepth)) {
            ndiReceiver_ = std::make_shared<KavioNDIReceiverSource>(std::move(receiver));
            made = true;
        }
    });
    return made;
}

void KavioVideoItem::startNDIWithName(const QString& name)
{
    if (!name.isEmpty()) {
        connectNDISource(name);
        return;
    }
    // Without a name, the first source there is now; a cue that finds none stays empty.
    const QVariantList sources = StrevalDirectory::sharedDirectory().listOfSources();
    const QVariantMap first = sources.isEmpty() ? QVariantMap() : sources.first().toMap();
    const bool connected = replaceNDIReceiver(first);
    if (connected)
        setMediaPath(first.value(StrevalDirectory::kSourceName).toString());
    if (mediaPath().isEmpty())
        setMediaPath(kEmptyNDICue);
    setIsMissing(!connected);
}

void KavioVideoItem::connectNDISource(const QString& name)
{
    KLOG_INFO("switching to new NDI source: {}", name.toStdString());
    const QVariantList matches = StrevalDirectory::sharedDirectory().serversMatchingName(name);
    const bool connected = replaceNDIReceiver(matches.isEmpty() ? QVariantMap() : matches.first().toMap());
    if (connected)
        KLOG_INFO("switched to new NDI source: {}", name.toStdString());
    setIsMissing(!connected);
    setMediaPath(name);
}

void KavioVideoItem::switchNDITo(const QString& name)
{
    setIsReady(false);
    // The live audio player belongs to the old source.
    if (const auto audio = normalAudioPlayer_.load()) {
        normalAudioPlayer_.store(nullptr);
        audio->stop();
        audio->removeResources();
    }
    setAudioPlayer(nullptr);
    connectNDISource(name);
    if (!isMissing()) {
        setupAudioWithFileURL(QString());
        if (const auto audio = audioPlayer(); audio && isPlaying())
            audio->play();
    }
    setIsReady(true);
    refreshTitle();
}

void KavioVideoItem::ndiSourcesChanged(const Notification& notification)
{
    const QVariantList sources = notification.userInfo.value(StrevalDirectory::kSourcesKey).toList();
    const bool listed = std::any_of(sources.begin(), sources.end(), [&](const QVariant& source) {
        return source.toMap().value(StrevalDirectory::kSourceName).toString() == mediaPath();
    });
    // A missing cue connects when its source is back; a connected one lets go when it is gone.
    if (listed == isMissing())
        switchNDITo(mediaPath());
    refreshInspectorIfShowing(*this);
}
