#include "Shell/AppDelegate.h"

#include "Audio/KavioAudioOutputManager.h"
#include "Audio/KavioAudioOutputPanel.h"
#include "Controller/KavioVideoItemManager.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "Outputs/KavioDeckLinkBrowser.h"
#include "Outputs/KavioVideoOutputManager.h"
#include "QVTLightingManager.h"
#include "QVTMIDIManager.h"
#include "QVTOSCManager.h"
#include "Remote/KavioHyperDeckServerInterface.h"
#include "Remote/KavioOSCQueryServer.h"
#include "Remote/KavioNMCManager.h"
#include "Rendering/KavioRenderClock.h"
#include "Shell/KavioCrashReports.h"
#include "Shell/KavioNetworkWatch.h"
#include "Shell/KavioProjectLock.h"
#include "Shell/KavioSleepWatch.h"
#include "Shell/KavioWindow.h"
#include "Support/KavioAlert.h"
#include "Support/KavioButtonInterface.h"
#include "UndoManager.h"
#include "UserDefaults.h"
#include "Views/KavioItemsViewInterface.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>

namespace {

// The application-wide key monitor: Alt stands for Option, Ctrl for Command. Events pass on
// unchanged. A key event is seen once per receiver it propagates to, so only a change of the
// modifiers counts, and a key press only where it enters the program: at its window.
class KeyMonitor : public QObject {
public:
    using Handler = std::function<void(Qt::KeyboardModifiers)>;
    KeyMonitor(QObject* parent, Handler handler, std::function<void()> escape)
        : QObject(parent), handler_(std::move(handler)), escape_(std::move(escape))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
            const auto* key = static_cast<QKeyEvent*>(event);
            Qt::KeyboardModifiers modifiers = key->modifiers();
            // X reports a modifier's own press and release with the flags from before the event.
            const Qt::KeyboardModifier own = key->key() == Qt::Key_Alt       ? Qt::AltModifier
                                             : key->key() == Qt::Key_Control ? Qt::ControlModifier
                                             : key->key() == Qt::Key_Shift   ? Qt::ShiftModifier
                                                                             : Qt::NoModifier;
            if (own != Qt::NoModifier)
                modifiers.setFlag(own, key->type() == QEvent::KeyPress);
            if (modifiers != last_) {
                last_ = modifiers;
                handler_(modifiers);
            }
            if (event->type() == QEvent::KeyPress && key->key() == Qt::Key_Escape && watched->isWindowType())
                escape_();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    Handler handler_;
    std::function<void()> escape_;
    Qt::KeyboardModifiers last_;
};

}  // namespace

AppDelegate::AppDelegate(UserDefaults& defaults, UndoManager& undoManager)
    : defaults_(defaults), undoManager_(undoManager)
{
}

AppDelegate::~AppDelegate()
{
    NotificationCenter::defaultCenter().removeObserver(this);
    oscKit().oscKitNotificationCenter().removeObserver(this);
    QVTLightingManager::sharedManager().lightingKitNotificationCenter().removeObserver(this);
    if (midiManager_)
        midiManager_->midiKitNotificationCenter()->removeObserver(this);
    // Both live on the application object and call back into this delegate.
    delete keyMonitor_;
    delete uiupdatetimer_;
}

void AppDelegate::awakeFromNib()
{
    shouldEnablePauseAtEnd_ = false;
    shouldForceDisplay_.store(false);
    shouldUseSynchronousAnimationOnLeft_ = false;
    shouldUseSynchronousAnimationOnRight_ = false;

    networkWatch_ = std::make_unique<KavioNetworkWatch>();
    if (networkWatch_->start([this] {
            NotificationCenter::defaultCenter().post(kKavioNetworkConfigurationDidChangeNotification, this);
        })) {
        NotificationCenter::defaultCenter().addObserver(this, kKavioNetworkConfigurationDidChangeNotification, nullptr,
                                                        [this](const Notification&) { refreshNetworkInterfaceList(); });
    } else {
        networkWatch_.reset();
    }

    const QString showCueTypes = QStringLiteral("toggleShowCueTypes");
    if (!defaults_.hasKey(showCueTypes))
        defaults_.setBool(false, showCueTypes);

    if (KavioWindow* window = outlets_.window) {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            window->move(screen->availableGeometry().center() - window->rect().center());
    }
    sleepWatch_ = std::make_unique<KavioSleepWatch>();
    sleepWatch_->start([this] { receivedSleepNote(); }, [this] { receivedWakeNote(); });
}

void AppDelegate::applicationWillFinishLaunching()
{
    isLoadingProject_ = false;
    if (const std::string logs = KavioLog::setupFileLogging(); !logs.empty())
        KavioCrashReports::installHandlers(QString::fromStdString(logs), versionInformationString());
    projectURL_.clear();
    lastInterfaces_ = {};
    KavioDeckLinkBrowser::sharedBrowser();  // the device list runs from launch
    KLOG_INFO("DeckLinkInformation: API version {}", decklink::apiVersion());
    appStarted_ = false;
    hasUnsavedChanges_.store(false);

    for (KavioButtonInterface* button : {outlets_.playButton, outlets_.loopButton, outlets_.globalTransitionButton})
        if (button)
            button->setButtonType(KavioButtonType::OnOff);
    for (KavioButtonInterface* button :
         {outlets_.rewindButton, outlets_.prevItemButton, outlets_.nextItemButton, outlets_.fastforwardButton})
        if (button)
            button->setButtonType(KavioButtonType::MomentaryPushIn);
    cachedLoopstate_ = false;
    installKeyMonitors();
}

void AppDelegate::installKeyMonitors()
{
    keyMonitor_ = new KeyMonitor(qApp, [this](Qt::KeyboardModifiers modifiers) {
        altPressed_ = modifiers.testFlag(Qt::AltModifier);
        NotificationCenter::defaultCenter().post(kKavioAltPressedNotification, nullptr,
                                                 {{QStringLiteral("state"), altPressed_}});
        cmdPressed_ = modifiers.testFlag(Qt::ControlModifier);
        shiftPressed_ = modifiers.testFlag(Qt::ShiftModifier);
    }, [this] {
        // Escape takes the outputs off when one covers the main display; the key still reaches
        // the focused control.
        const auto outputs = outlets_.videoOutputManager.lock();
        if (outputs && outputs->isMainDisplayOnFullscreen())
            outputs->toggleFullscreen();
    });
    qApp->installEventFilter(keyMonitor_);
}

void AppDelegate::applicationDidFinishLaunching()
{
    if (sleepWatch_)
        sleepWatch_->beginActivity();
    if (KavioWindow* window = outlets_.window)
        window->setCloseButtonHandler([this] { return quitByCloseButton(); });
    selectedMTCSyncSource_ = selectedMMCSource_ = selectedMSCSource_ = selectedMIDISource_ = QString();
    selectedLTCSyncSource_ = QStringLiteral("Disabled");
    ltcInput_.reset();
    refreshMenuForSelectedLTCSource();
    validateLTCSyncSource();

    if (KavioWindow* window = outlets_.window)
        window->setMinimumSize(layOutPanelsAtLaunch(), 210);

    if (outlets_.audioOutputManager)
        outlets_.audioOutputManager->startManager();
    const auto controller = outlets_.controller;
    if (controller) {
        controller->initManager();
        controller->setDelegate(weak_from_this());
    }
    NotificationCenter::defaultCenter().addObserver(
        this, KavioAudioNotification::SetupChanged, nullptr, [weakSelf = weak_from_this()](const Notification&) {
            DispatchQueue::main().async([weakSelf] {
                if (const auto self = weakSelf.lock())
                    self->buildLTCSourcesList();
            });
        });
    buildLTCSourcesList();
    if (controller) {
        // The main window's master switch and masters menu show the manager's menu (the main
        // interface gave it their handler) and call setMasterSwitch and selectServer.
        KavioNMCManager& link = KavioNMCManager::sharedManager();
        link.setDelegate(controller->masterClock());
        link.startManager();
    }
    if (QVTMIDIManager* midi = QVTMIDIManager::sharedManager()) {
        setMIDIManager(midi);
        midi->startManagerWithName(QStringLiteral("Kavio"));
    }
    QVTLightingManager& lighting = QVTLightingManager::sharedManager();
    lighting.setPortName(QStringLiteral("Kavio"));
    lighting.lightingKitNotificationCenter().addObserver(
        this, QVTLightingReceivedDMXNotification, &lighting, [weakSelf = weak_from_this()](const Notification& n) {
            if (const auto self = weakSelf.lock())
                self->receivedDMX(n.userInfo);
        });
    refreshNetworkInterfaceList();
    appStarted_ = true;
    if (controller)
        controller->appLaunched();
    // Remote control: the cues publish their addresses in the program's query server.
    if (controller)
        controller->setOSCQueryServer(&KavioOSCQueryServer::sharedServer());
    oscqueryserver_ = nullptr;
    oscSettingsChanged();
    for (const auto& [button, address] : {std::pair{outlets_.playButton, "/kavio/togglePlay"},
                                          {outlets_.loopButton, "/kavio/toggleLoop"},
                                          {outlets_.globalTransitionButton, "/kavio/toggleGlobalTransition"}})
        if (button)
            button->setOSCAddress(QLatin1String(address));

    const QString showStartup = QStringLiteral("showStartupWindow");
    if (!defaults_.hasKey(showStartup) || defaults_.boolForKey(showStartup)) {
        openStartupWindow();
    } else if (outlets_.startupShowWindowButton) {
        outlets_.startupShowWindowButton->setState(0);
    }
    const QString betaUpdates = QStringLiteral("SUUpdaterChecksForBetaUpdates");
    if (defaults_.hasKey(betaUpdates) && defaults_.boolForKey(betaUpdates) && outlets_.enableBetaUpdatesButton)
        outlets_.enableBetaUpdatesButton->setState(1);
    const QString noConfirm = QStringLiteral("disableConfirmOnQuit");
    if (defaults_.hasKey(noConfirm) && defaults_.boolForKey(noConfirm) && outlets_.disableConfirmOnQuit)
        outlets_.disableConfirmOnQuit->setState(1);

    NotificationCenter::defaultCenter().addObserver(this, kKavioProjectHasUnsavedChangesNotification, nullptr,
                                                    [this](const Notification&) { makeHasUnsavedChanges(); });

    // A main-thread timer also fires while a modal dialog or a menu runs its own event loop.
    uiupdatetimer_ = new QTimer(qApp);
    uiupdatetimer_->setTimerType(Qt::PreciseTimer);
    uiupdatetimer_->setInterval(1000 / 15);
    QObject::connect(uiupdatetimer_, &QTimer::timeout, [this] { updateUI(); });
    uiupdatetimer_->start();

    const QString appSetup = QStringLiteral("appSetup");
    if (!projectURL_.isEmpty()) {
        KLOG_INFO("load project on startup!");
        const QString path = projectURL_;
        projectURL_.clear();
        loadProjectWithURL(path);
    } else if (defaults_.hasKey(appSetup)) {
        loadWithData(defaults_.dictionaryForKey(appSetup));
    }
    displayProjectName();

    // No update channel: automatic checks are recorded as off and nothing is checked.
    defaults_.setBool(false, QStringLiteral("checkForUpdates"));
    reportIfCrash();
    if (const auto list = cueListView())
        list->becomeFirstResponder(false);
}

std::shared_ptr<KavioItemsViewInterface> AppDelegate::cueListView() const
{
    return outlets_.controller ? outlets_.controller->outlets().itemsView.lock() : nullptr;
}

bool AppDelegate::isCueListFirstResponder() const
{
    const auto list = cueListView();
    return list && list->isFirstResponder();
}

void AppDelegate::updateUI()
{
    NotificationCenter::defaultCenter().post(kKavioUpdateUINotification);
}

bool AppDelegate::isRendering() const
{
    return sleepWatch_ && sleepWatch_->holdsActivity();
}

bool AppDelegate::isTicking() const
{
    return uiupdatetimer_ && uiupdatetimer_->isActive();
}

void AppDelegate::receivedSleepNote()
{
    KLOG_INFO("!! will going to SLEEP!");
    const auto controller = outlets_.controller;
    if (controller && controller->isPlaying()) {
        KLOG_INFO("playback should pause...");
        controller->stopPlaybackWithCompletedHandler([] { KLOG_INFO("playback stopped!"); });
    }
}

void AppDelegate::stopClockByManagerIfNeeded()
{
    // Following time code, the clock belongs to its source.
    const auto controller = outlets_.controller;
    if (controller && controller->playbackMode() == 0)
        controller->stopClockWithCompletedHandler({});
}

void AppDelegate::preferencesWindowWillClose()
{
    disableLearns();
    if (outlets_.preferencesUndoManager && outlets_.controller)
        outlets_.preferencesUndoManager->removeAllActionsWithTarget(outlets_.controller.get());
}

void AppDelegate::receivedWakeNote()
{
    KLOG_INFO("!! did WAKE!");
}

AppDelegate::TerminateReply AppDelegate::applicationShouldTerminate()
{
    if (outlets_.disableConfirmOnQuit && outlets_.disableConfirmOnQuit->state() == 1)
        return TerminateReply::Now;
    if (!askForNewProject())
        return TerminateReply::Cancel;
    if (outlets_.controller && outlets_.controller->isPlaying()) {
        const KavioAlertAnswer answer = KavioAlert::runModal(
            {QStringLiteral("Are you sure you want to Quit?"),
             QStringLiteral("Although you don't have any unsaved changes, Kavio is currently playing."),
             {QStringLiteral("Quit"), QStringLiteral("Cancel")},
             QString()});
        if (answer.response == KavioAlert::SecondButtonReturn)
            return TerminateReply::Cancel;
    }
    KLOG_INFO("::: Quit, so bye-bye!");
    return TerminateReply::Now;
}

void AppDelegate::applicationWillTerminate()
{
    terminating_ = true;
    storeApplicationSettings();

    KLOG_INFO("will quit!");
    // Rendering stops at the end of the pass in progress; the tick and the activity belong to
    // the main thread and end here.
    if (const auto renderClock = outlets_.controller ? outlets_.controller->renderClock() : nullptr) {
        const std::weak_ptr<KavioRenderClock> weakClock = renderClock;
        renderClock->addCompletedHandlerForCurrentRenderPass([weakClock] {
            if (const auto clock = weakClock.lock())
                clock->stopRendering();
        });
    }
    if (uiupdatetimer_) {
        uiupdatetimer_->stop();
        uiupdatetimer_->deleteLater();
        uiupdatetimer_ = nullptr;
    }
    if (sleepWatch_)
        sleepWatch_->endActivity();
    projectLock_.reset();
}

void AppDelegate::terminate()
{
    if (terminating_ || applicationShouldTerminate() == TerminateReply::Cancel)
        return;
    applicationWillTerminate();
    // Quitting closes the windows; the main window lets itself close now.
    QCoreApplication::quit();
}

bool AppDelegate::quitByCloseButton()
{
    terminate();
    return terminating_;
}
