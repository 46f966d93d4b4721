#include "Controller/KavioVideoItemManager.h"

#include "Audio/KavioWaveformManagerInterface.h"
#include "Clock/QVTClock.h"
#include "Controller/QVTTimelineMarkerControllerInterface.h"
#include "Cue/KavioVideoItem.h"
#include "Inspector/KavioVideoItemPreferencesControllerInterface.h"
#include "Outputs/KavioNDIManagerInterface.h"
#include "Outputs/KavioVideoOutputManagerInterface.h"
#include "Remote/KavioATEMManagerInterface.h"
#include "Rendering/KavioOverlayFontManager.h"
#include "Rendering/KavioOverlayer.h"
#include "Rendering/KavioRenderClock.h"
#include "Rendering/QVTMTKViewInterface.h"
#include "Rendering/QVTMetalManager.h"
#include "Shell/AppDelegateInterface.h"
#include "Support/KavioButtonInterface.h"
#include "Support/KavioColor.h"
#include "Support/KavioColorWellInterface.h"
#include "Support/KavioPopUpButtonInterface.h"
#include "Support/KavioSliderInterface.h"
#include "DispatchQueue.h"
#include "GpuDevice.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "QVTOSCMessage.h"
#include "StrevalDirectory.h"
#include "UserDefaults.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <tuple>

namespace {

// The items queue carries this key's own address as its specific value.
const char kItemsQueueKey = 0;

// Whether a stored default can be read as the kind of `fallback`. Scalars come back from the
// settings file as text, so text that converts counts as the kind.
bool isOfKind(const QVariant& stored, const QVariant& fallback)
{
    switch (fallback.typeId()) {
    case QMetaType::Bool: {
        if (stored.typeId() == QMetaType::Bool)
            return true;
        const QString text = stored.toString();
        return text == u"true" || text == u"false" || text == u"YES" || text == u"NO" || text == u"1" || text == u"0";
    }
    case QMetaType::Int:
    case QMetaType::LongLong: {
        bool ok = false;
        stored.toString().toLongLong(&ok);
        return ok;
    }
    case QMetaType::QByteArray:
        return stored.typeId() == QMetaType::QByteArray;
    default:
        return stored.canConvert<QString>();
    }
}

// Writes `fallback` when the key is absent or holds a value of another kind; answers whether
// it wrote.
bool ensureDefault(UserDefaults& defaults, const QString& key, const QVariant& fallback)
{
    if (defaults.hasKey(key)) {
        if (isOfKind(defaults.objectForKey(key), fallback))
            return false;
        KLOG_WARN("user default {} holds a value of the wrong kind; writing its default", key.toStdString());
    }
    defaults.setObject(fallback, key);
    return true;
}

std::unique_ptr<QVTOSCMessage> feedbackMessage(const QString& address, int type, const QVariant& value)
{
    auto message = std::make_unique<QVTOSCMessage>(address);
    message->addOSCValue(std::make_shared<QVTOSCValue>(type, value));
    return message;
}

}  // namespace

std::shared_ptr<KavioVideoItemManager> KavioVideoItemManager::init()
{
    return init(UserDefaults::standardUserDefaults());
}

KavioVideoItemManager::KavioVideoItemManager(UserDefaults& defaults, std::shared_ptr<QVTClockTimeSource> clockTimeSource)
    : defaults_(defaults),
      pixelbufferrenderingqueue_(std::make_unique<DispatchQueue>(kKavioPixelBufferRenderingQueueLabel.toStdString()))
{
    KLOG_VERBOSE("init");
    itemsQeue_ = std::make_unique<DispatchQueue>(kKavioItemsQueueLabel.toStdString());
    itemsQeue_->setSpecific(&kItemsQueueKey, const_cast<char*>(&kItemsQueueKey));

    for (const auto& [key, value] : {std::pair{"displayTimeLeft", false}, {"displayTRT", true},
                                     {"displayCueTimeOverlay", true}, {"displaySubtitles", true},
                                     {"displayRenderingFPS", true}, {"autoScrollToCurrentCue", true}})
        ensureDefault(defaults_, QString::fromLatin1(key), value);

    masterClock_ = QVTClock::initClock(std::move(clockTimeSource));
    displayTimeLeft_ = defaults_.boolForKey(QStringLiteral("displayTimeLeft"));
}

void KavioVideoItemManager::finishInit()
{
    const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
    NotificationCenter& clockCenter = masterClock_->notificationCenter();
    const auto observeClock = [&](const char* name, void (KavioVideoItemManager::*handler)(const Notification&)) {
        observerTokens_.push_back(clockCenter.addObserver(this, QString::fromLatin1(name), masterClock_.get(),
                                                          [weakSelf, handler](const Notification& n) {
                                                              if (const auto self = weakSelf.lock())
                                                                  ((*self).*handler)(n);
                                                          }));
    };
    using Plain = void (KavioVideoItemManager::*)();
    const auto observeClockPlain = [&](const char* name, Plain handler) {
        observerTokens_.push_back(clockCenter.addObserver(this, QString::fromLatin1(name), masterClock_.get(),
                                                          [weakSelf, handler](const Notification&) {
                                                              if (const auto self = weakSelf.lock())
                                                                  ((*self).*handler)();
                                                          }));
    };
    observeClock(QVTClockNotification::TimeChanged, &KavioVideoItemManager::processOnCurrentClockTime);
    observeClockPlain(QVTClockNotification::Started, &KavioVideoItemManager::handleClockStart);
    observeClockPlain(QVTClockNotification::Stopped, &KavioVideoItemManager::handleClockStop);
    observeClockPlain(QVTClockNotification::Rewinded, &KavioVideoItemManager::handleClockRewind);
    observeClock(QVTClockNotification::ExtStartTimeSet, &KavioVideoItemManager::handleExternalStartTimeSet);
    observeClockPlain(QVTClockNotification::MTCFramerateChanged, &KavioVideoItemManager::frameRateChangedByMTC);
    observeClockPlain(QVTClockNotification::SlaveStateChanged, &KavioVideoItemManager::handleClockSlaveStateChanged);
    observeClock(QVTClockNotification::JumpToItem, &KavioVideoItemManager::jumpToItemByClock);
    for (const char* name : {QVTClockNotification::SeekNMCCommand, QVTClockNotification::GotoNMCCommand,
                             QVTClockNotification::JumpNMCCommand, QVTClockNotification::JumpAndPlayNMCCommand,
                             QVTClockNotification::PlayNMCCommand, QVTClockNotification::StopNMCCommand,
                             QVTClockNotification::PanicNMCCommand, QVTClockNotification::RewindNMCCommand})
        observeClock(name, &KavioVideoItemManager::handleNMCBackupCommand);

    NotificationCenter::defaultCenter().addObserver(this, kKavioCueOSCAddressSpaceChangedNotification, nullptr,
                                                    [weakSelf](const Notification& n) {
                                                        if (const auto self = weakSelf.lock())
                                                            self->handleOSCFeedbackOnCueChanges(n);
                                                    });

    trtmsg_ = feedbackMessage(QStringLiteral("/kavio/currentCueTRT"), QVTOSCValueTypeString, QStringLiteral("00:00:00:00"));
    selectedcuenamemsg_ = feedbackMessage(QStringLiteral("/kavio/selectedCueName"), QVTOSCValueTypeString, QStringLiteral("-"));
    selectedcueidmsg_ = feedbackMessage(QStringLiteral("/kavio/selectedCueID"), QVTOSCValueTypeString, QStringLiteral("-"));
    pongmsg_ = feedbackMessage(QStringLiteral("/kavio/pong"), QVTOSCValueTypeInteger, 1);

    previewoverlayer_ = std::make_unique<KavioOverlayer>();
    outputoverlayer_ = std::make_unique<KavioOverlayer>();
    readOverlayDefaults();
    NotificationCenter::defaultCenter().addObserver(this, QStringLiteral("KavioUpdateUI"), nullptr,
                                                    [weakSelf](const Notification&) {
                                                        if (const auto self = weakSelf.lock())
                                                            self->readOverlayDefaults();
                                                    },
                                                    &DispatchQueue::main());
}

KavioVideoItemManager::~KavioVideoItemManager()
{
    // Tests make many controllers: none may be called back once it is gone.
    NotificationCenter::defaultCenter().removeObserver(this);
    delete loadingSheet_.window.data();
    delete convertWindow_.data();
    if (masterClock_)
        masterClock_->notificationCenter().removeObserver(this);
}

void KavioVideoItemManager::onItemsQueue(const std::function<void()>& body) const
{
    if (DispatchQueue::getSpecific(&kItemsQueueKey) == &kItemsQueueKey)
        body();
    else
        itemsQeue_->sync(body);
}

QByteArray KavioVideoItemManager::colorDefault(const QString& key, const QByteArray& fallback) const
{
    if (defaults_.hasKey(key) && defaults_.dataForKey(key).size() != KavioColor::kRecordBytes) {
        KLOG_WARN("user default {} is not a colour of {} bytes; writing its default", key.toStdString(), KavioColor::kRecordBytes);
        defaults_.removeObjectForKey(key);
    }
    if (ensureDefault(defaults_, key, fallback))
        defaults_.synchronize();
    return defaults_.dataForKey(key);
}

void KavioVideoItemManager::initManager()
{
    const KavioVideoItemManagerOutlets& o = outlets_;
    itemToSelectAfterStop_.store(nullptr);
    newcueindex_ = 1;
    setMaxRenderSize(16384);
    setJumpBehaviour(1);
    setPanicBehaviour(10);

    if (ensureDefault(defaults_, QStringLiteral("playbackmode"), 0))
        defaults_.synchronize();
    if (o.playbackModeOnOpen)
        o.playbackModeOnOpen->selectItemWithTag(storedPlaybackModeOnOpen());

    for (const auto& [key, button] : {std::pair{"autoStart", o.autoStartButton}, {"autoFullscreen", o.autoFullscreenButton}}) {
        const QString name = QString::fromLatin1(key);
        if (ensureDefault(defaults_, name, false))
            defaults_.synchronize();
        if (button)
            button->setState(defaults_.boolForKey(name) ? 1 : 0);
    }

    const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
    if (o.rewindCurrentItemMenuItem)
        QObject::connect(o.rewindCurrentItemMenuItem, &QAction::triggered, [weakSelf] {
            if (const auto self = weakSelf.lock())
                self->rewindCurrentItem();
        });

    bool overlayStored = true;
    for (const auto& [key, popup] : {std::pair{"cueTimesOverlayPosition", o.cueTimesOverlayPosition},
                                     {"cueTimesOverlaySize", o.cueTimesOverlaySize},
                                     {"cueTimesOverlayColor", o.cueTimesOverlayColor}}) {
        const QString name = QString::fromLatin1(key);
        if (defaults_.hasKey(name) && isOfKind(defaults_.objectForKey(name), 0)) {
            if (popup)
                popup->selectItemWithTag(defaults_.integerForKey(name));
        } else {
            overlayStored = false;
        }
    }
    if (!overlayStored)
        changeCueTimesOverlay();

    const QString fontSizeKey = QStringLiteral("subtitlesFontSize");
    if (o.subtitleOverlaySize) {
        ensureDefault(defaults_, fontSizeKey, qlonglong(o.subtitleOverlaySize->selectedTag()));
        o.subtitleOverlaySize->selectItemWithTag(defaults_.integerForKey(fontSizeKey));
    }

    // Caption text is always drawn opaque; the background keeps its stored alpha.
    KavioColor text = KavioColor::fromRecord(colorDefault(QStringLiteral("subtitlesFontColor"), KavioColor{1.0, 1.0, 1.0, 1.0}.toRecord()));
    text.alpha = 1.0;
    const KavioColor background = KavioColor::fromRecord(colorDefault(QStringLiteral("subtitlesBackgroundColor"), KavioColor{0.0, 0.0, 0.0, 0.65}.toRecord()));
    if (o.subtitleOverlayFontColor)
        o.subtitleOverlayFontColor->setColor(text.toQColor());
    if (o.subtitleOverlayBackgroundColor)
        o.subtitleOverlayBackgroundColor->setColor(background.toQColor());
    KavioOverlayFontManager::sharedManager().setSubtitleFontColor(text);
    KavioOverlayFontManager::sharedManager().setSubtitleBackgroundColor(background);

    const QString fontKey = QStringLiteral("subtitlesFont");
    ensureDefault(defaults_, fontKey, QStringLiteral("Helvetica Neue"));
    if (o.subtitleOverlayFont)
        o.subtitleOverlayFont->selectItemWithTitle(defaults_.stringForKey(fontKey));

    const QString deinterlaceKey = QStringLiteral("deinterlaceMode");
    if (o.renderingDeinterlacePopup) {
        const bool stored = defaults_.hasKey(deinterlaceKey) && isOfKind(defaults_.objectForKey(deinterlaceKey), 0);
        o.renderingDeinterlacePopup->selectItemWithTag(stored ? defaults_.integerForKey(deinterlaceKey) : 10);
        setDeinterlaceMode(o.renderingDeinterlacePopup->selectedTag() & 0xff);
    }

    const QString transcoded = transcodedVideosDir();
    if (!QFileInfo(transcoded).isDir()) {
        if (QDir().mkpath(transcoded))
            KLOG_INFO("::: app-support directories created!");
        else
            KLOG_ERROR("::: ERROR: cannot create app support dir: {}", ("cannot create " + transcoded).toStdString());
    }

    if (o.masterSlider)
        o.masterSlider->setOSCAddress(QStringLiteral("/kavio/mainFader"));
    const auto marker = o.markerController.lock();
    if (marker)
        marker->setEnabled(false);
    if (o.masterButton)
        o.masterButton->setButtonType(KavioButtonType::MomentaryPushIn);

    auto renderClock = std::make_shared<KavioRenderClock>();
    renderClock->setDelegate(o.mtkView);
    renderClock_.store(std::move(renderClock));

    if (const auto outputs = o.videoOutputManager.lock())
        outputs->initManager();
    if (const auto inspector = o.itemPreferencesController.lock())
        inspector->loadPreferenceItems();
    StrevalDirectory::sharedDirectory();  // discovery of NDI sources begins

    for (KavioButtonInterface* toggle : {o.defaultToggleAudio, o.defaultToggleFadeIn, o.defaultToggleFadeOut,
                                         o.defaultToggleTransition, o.defaultTogglePauseAtBeginning,
                                         o.defaultTogglePauseAtEnd, o.defaultToggleLoop,
                                         o.defaultTogglePlaylistLoop, o.defaultTogglePlaylistTransition})
        if (toggle)
            toggle->setButtonType(KavioButtonType::OnOff);
    for (const auto& [button, seconds, handler] :
         {std::tuple{o.goto10Button, 10, &KavioVideoItemManager::performGoto10},
          {o.goto20Button, 20, &KavioVideoItemManager::performGoto20},
          {o.goto30Button, 30, &KavioVideoItemManager::performGoto30}}) {
        if (!button)
            continue;
        button->setButtonType(KavioButtonType::MomentaryPushIn);
        button->setAction([weakSelf, handler = handler] {
            if (const auto self = weakSelf.lock())
                ((*self).*handler)();
        });
        button->setOSCAddress(QStringLiteral("/kavio/goto%1").arg(seconds));
    }

    masterClock_->runClockRenderer();
    storeDefaultNonMovieCueDuration(2.0);
    if (const auto view = o.mtkView.lock())
        setMaxRenderSize(view->maxRenderSize());
    KLOG_INFO("_maxRenderSize: {}", maxRenderSize());
    if (marker) {
        marker->addMarkerAndThrottler();
        marker->redrawMarkerView();
    }
    canjump_ = true;

    const auto resized = [weakSelf](const Notification&) {
        if (const auto self = weakSelf.lock())
            self->handleMiddleViewResize();
    };
    NotificationCenter& center = NotificationCenter::defaultCenter();
    if (const auto view = o.mtkView.lock())
        center.addObserver(this, kKavioViewFrameDidChangeNotification, view.get(), resized);
    center.addObserver(this, QStringLiteral("WindowResized"), nullptr, resized);

    if (const auto atem = o.atemManager.lock()) {
        atem->setDelegate(weakSelf);
        atem->startManager();
    }
    if (const auto ndi = o.ndiManager.lock()) {
        ndi->setDelegate(weakSelf);
        ndi->startManager();
    }
}

void KavioVideoItemManager::appLaunched()
{
    createTextureCache();
    setIsProcessingGlobalTransition(false);
    setWillProcessingGlobalTransition(false);
    validateTransport();
    loadPlaylistDefaults();
    const auto& device = QVTMetalManager::sharedManager().device();
    KLOG_INFO("main screen rendering is on {}", device ? device->name() : std::string("no GPU"));
}

const QStringList& KavioVideoItemManager::supportedImageFormats()
{
    static const QStringList formats{"jpg", "gif", "png", "jpeg", "tiff", "tif", "bmp", "pdf", "heif", "heic"};
    return formats;
}

const QStringList& KavioVideoItemManager::supportedVideoFormats()
{
    static const QStringList formats{"mov", "mp4", "m4v", "mxf", "avi", "mpg", "dxv", "dv", "hevc"};
    return formats;
}

const QStringList& KavioVideoItemManager::supportedAudioFormats()
{
    static const QStringList formats{"m4a", "mp3", "caf", "wav", "aif", "aiff", "flac"};
    return formats;
}

QString KavioVideoItemManager::transcodedVideosDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::MoviesLocation) + QStringLiteral("/Kavio/Transcoded");
}

DispatchQueue* KavioVideoItemManager::waveformQueue() const
{
    const auto waveform = outlets_.waveformManager.lock();
    return waveform ? &waveform->waveformQueue() : nullptr;
}

bool KavioVideoItemManager::defaultToggleAudioIsOn() const
{
    return outlets_.defaultToggleAudio && outlets_.defaultToggleAudio->state() == 1;
}

// --- What cues ask ----------------------------------------------------------------------------

bool KavioVideoItemManager::shouldEnablePauseAtEndBecauseOfOldProject() const
{
    const auto app = delegate();
    return app && app->shouldEnablePauseAtEndBecauseOfOldProject();
}

void KavioVideoItemManager::setHasUnsavedChanges(bool hasUnsavedChanges)
{
    if (const auto app = delegate())
        app->setHasUnsavedChanges(hasUnsavedChanges);
}

QSizeF KavioVideoItemManager::renderSize() const
{
    const auto outputs = outlets_.videoOutputManager.lock();
    return outputs ? outputs->renderSize() : QSizeF();
}

double KavioVideoItemManager::secondsForSMPTEString(const QString& smpte) const
{
    return masterClock_->secondsForSMPTEString(smpte);
}

bool KavioVideoItemManager::useHighBitDepthRendering() const
{
    const auto outputs = outlets_.videoOutputManager.lock();
    return outputs && outputs->useHighBitDepthRendering();
}

KavioVideoItemPreferencesControllerInterface* KavioVideoItemManager::itemPreferencesController() const
{
    return outlets_.itemPreferencesController.lock().get();
}


// --- Handlers the owning concerns fill ----------------------------------------------------------

