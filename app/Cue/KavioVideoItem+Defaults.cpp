#include "Cue/KavioVideoItem.h"

#include "DispatchQueue.h"
#include "FileWatch.h"
#include "Log.h"
#include "MediaPlayer.h"
#include "NotificationCenter.h"
#include "QVTOSCManager.h"
#include "UserDefaults.h"

namespace {

std::unique_ptr<QVTOSCMessage> makeFeedbackMessage(const char* parameter, int type, const QVariant& value)
{
    auto message = std::make_unique<QVTOSCMessage>(QStringLiteral("/kavio/0/") + QLatin1String(parameter));
    message->addOSCValue(std::make_shared<QVTOSCValue>(type, value));
    return message;
}

std::unique_ptr<QVTOSCMessage> makeFloatMessage(const char* parameter, float value)
{
    return makeFeedbackMessage(parameter, QVTOSCValueTypeFloat, value);
}

}  // namespace

KavioVideoItem::KavioVideoItem(KavioOSCFeedbackSender sender) : sender_(std::move(sender))
{
    if (!sender_)
        sender_ = [](const QVTOSCMessage& message) { QVTOSCManager::sharedManager().sendOSCMessage(message); };
    generalInit();
}

KavioVideoItem::~KavioVideoItem()
{
    KLOG_VERBOSE("KavioVideoItem dealloc");
    // Source-list and path-change registrations hold this cue as their owner tag.
    NotificationCenter::defaultCenter().removeObserver(this);
    if (oscObserver_)
        QVTOSCManager::sharedManager().oscKitNotificationCenter().removeObserver(oscObserver_);
}

void KavioVideoItem::generalInit()
{
    // 1. Plain fields.
    captionDelaySeconds_ = 0.0;
    bookmarkdata_.store({});
    playbackRateAsPercent_ = 100;
    bitDepthString_.store(QStringLiteral("8"));
    selectedCaptionTrack_ = -1;
    isReady_ = false;
    isPlaying_ = false;
    isSeeking_ = false;
    isMissing_ = false;
    sentBecameAvailableMessage_ = false;
    isProcessingOSCFeedbacks_ = false;
    shouldFillbuffersAfterRewind_ = false;
    shouldsetvolumetorms_ = UserDefaults::standardUserDefaults().boolForKey(QStringLiteral("audioVolumeNormalization"));
    geometryScaleLink_ = true;
    hasaudioerror_ = false;
    hasvideoerror_ = false;
    loopCount_ = KavioLoopCountEndless;
    decklinkFormatString_.store({});
    transitionType_ = KavioTransitionTypeDissolve;
    cueID_ = QString();
    cueNotes_.store(QString());
    gotoItemUID_.store(QString());
    for (auto* flag : {&hasAlpha_, &isFullRange_, &isProRes_, &isInterlaced_, &isYUV_, &isHAP_,
                       &isDeckLinkDevice_, &isSecondaryCamera_, &hasAudioChannels_})
        flag->store(false);
    preferedTransform_ = 0;
    nextItem_.store({});
    prevItem_.store({});
    cueNameMsg_.reset();
    cueName_ = QString();
    videoEncodedSize_.store(QSizeF(0, 0));
    videoPresentationSize_.store(QSizeF(0, 0));
    sourceSize_.store(QSizeF(0, 0));
    displayTitle_.store(QString());
    hasCustomTitle_ = false;
    isLooping_ = false;
    loopCounter_ = 0;
    index_ = 0;
    geometryScaleMode_ = 0;
    geometryOrigin_ = 0;
    pixelAspect_ = 1.0f;
    inTime_.store(MediaTime::zero());
    outTime_.store(MediaTime::zero());
    transitionTime_ = 2.0;
    thumbTime_.store(MediaTime::make(2 * MediaTime::kCueTimescale, MediaTime::kCueTimescale));
    itemDuration_ = 0.0f;
    itemStartCMTime_.store(MediaTime::zero());
    itemEndSMPTETime_.store(QString());
    isUsingDefaultAudioChannels_ = true;
    fadetime_ = 1.0f;
    hasTransition_ = false;
    isUsingDefaultFadeDuration_ = true;
    isUsingDefaultTransitionDuration_ = true;

    // 2. The prepared feedback messages, each at index 0 with a placeholder value. The volume
    // message exists before the first setter runs, so that setter already sends.
    cueNameMsg_ = makeFeedbackMessage("cueName", QVTOSCValueTypeString, QStringLiteral("-"));
    volumeMsg_ = makeFloatMessage("volume", 1.0f);
    setVolume(1.0f);
    playbackSpeedMsg_ = makeFeedbackMessage("playbackSpeed", QVTOSCValueTypeInteger, 100);
    opacityMsg_ = makeFloatMessage("opacity", 1.0f);
    brightnessMsg_ = makeFloatMessage("brightness", 0.0f);
    contrastMsg_ = makeFloatMessage("contrast", 0.0f);
    hueMsg_ = makeFloatMessage("hue", 0.0f);
    saturationMsg_ = makeFloatMessage("saturation", 1.0f);
    vibranceMsg_ = makeFloatMessage("vibrance", 0.0f);
    scaleMsg_ = makeFloatMessage("scale", 1.0f);
    scaleHMsg_ = makeFloatMessage("scaleH", 1.0f);
    scaleVMsg_ = makeFloatMessage("scaleV", 1.0f);
    rotateMsg_ = makeFloatMessage("rotate", 0.0f);
    posXMsg_ = makeFloatMessage("posX", 0.0f);
    posYMsg_ = makeFloatMessage("posY", 0.0f);
    cropTopMsg_ = makeFloatMessage("cropTop", 1.0f);
    cropRightMsg_ = makeFloatMessage("cropRight", 1.0f);
    cropBottomMsg_ = makeFloatMessage("cropBottom", 0.0f);
    cropLeftMsg_ = makeFloatMessage("cropLeft", 0.0f);

    // 3. No echo is suppressed yet.
    for (auto* flag : {&volumeFeedbackShouldSkip_, &opacityFeedbackShouldSkip_, &brightnessFeedbackShouldSkip_,
                       &contrastFeedbackShouldSkip_, &hueFeedbackShouldSkip_, &saturationFeedbackShouldSkip_,
                       &vibranceFeedbackShouldSkip_, &scaleFeedbackShouldSkip_, &rotateFeedbackShouldSkip_,
                       &posXFeedbackShouldSkip_, &posYFeedbackShouldSkip_, &cropTopFeedbackShouldSkip_,
                       &cropRightFeedbackShouldSkip_, &cropBottomFeedbackShouldSkip_, &cropLeftFeedbackShouldSkip_})
        flag->store(false);

    // 4. Through the setters, so the clients learn the neutral values.
    setFadeOpacity(1.0f);
    setAudioFade(1.0f);
    setOpacity(1.0f);
    setBrightness(0.0f);
    setContrast(0.0f);
    setHue(0.0f);
    setSaturation(0.0f);
    setVibrance(0.0f);
    setGeometryScaleH(0.0f);
    setGeometryScaleV(0.0f);
    setGeometryPosX(0.0f);
    setGeometryPosY(0.0f);
    setGeometryRotate(0.0f);
    setGeometryCrop(KavioGeometryCrop{});

    // 5. Sources, missing state and the duration of cues without their own.
    cachedShouldStopAtBeginning_ = false;
    cachedShouldStopAtEnd_ = false;
    isMissing_ = false;
    cachedGoodDurationWhenMissing_ = -1.0f;
    cachedRestoreData_.store({});
    uid_.store(QString());
    deviceUID_.store(QString());
    durationOfNonMovies_ = 2.0f;
    pdfPage_ = 1;
    isPDF_ = false;
    pdfPageCount_ = 0;
    preloadedTime_.store(MediaTime::indefinite());
    autoAlignToDuration_ = 0;

    // 6. The frame queue outlives a repeated generalInit.
    if (!pixelBufferQueue_)
        pixelBufferQueue_ = std::make_unique<DispatchQueue>(kKavioPixelBufferQueueLabel.toStdString());
}
