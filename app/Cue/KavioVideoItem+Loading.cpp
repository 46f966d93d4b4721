#include "Cue/KavioVideoItem.h"

#include "Sources/KavioCameraManager.h"
#include "Sources/KavioWindowSourceManager.h"

#include "Support/KavioAlert.h"

#include "DispatchQueue.h"
#include "FileBookmark.h"
#include "Log.h"
#include "MediaPlayer.h"
#include "NotificationCenter.h"
#include "StillImage.h"
#include "UserDefaults.h"

#include <QFileInfo>
#include <QImage>

#include <cmath>

namespace {

const QStringList kSupportedImageFormats = {"jpg",  "gif", "png", "jpeg", "tiff",
                                            "tif",  "bmp", "pdf", "heif", "heic"};
const QStringList kSupportedAudioFormats = {"m4a", "mp3", "caf", "wav", "aif", "aiff", "flac"};

const QString kSuppressionImageExceedsLimitKey = QStringLiteral("KavioSuppressionImageExceedsLimit");
constexpr int kStillSizeLimit = 16384;
// The renderer's textures end at 16384: a shrunk picture stays one pixel inside.
constexpr int kShrunkStillLongestSide = 16383;
const QSizeF kAudioPictureSize(320, 240);
const KavioColor kMissingWarningColor{0.98, 0.822, 0.0, 1.0};

bool isCurrentItemOf(const KavioVideoItem& cue, const std::shared_ptr<KavioVideoItemManagerInterface>& controller)
{
    return controller && controller->currentItem().get() == &cue;
}

bool isLoading(const std::shared_ptr<KavioVideoItemManagerInterface>& controller)
{
    return controller && controller->isLoadingProject();
}

std::shared_ptr<KavioVideoItem> makeLiveCue(KavioMediaType type, const QString& source,
                                            const std::shared_ptr<KavioVideoItemManagerInterface>& manager)
{
    auto cue = std::make_shared<KavioVideoItem>();
    cue->initLiveCue(type, source, manager);
    return cue;
}

}  // namespace

// --- Initialisers ------------------------------------------------------------------------------

std::shared_ptr<KavioVideoItem> KavioVideoItem::initWithMoviePath(
    const QString& path, const std::shared_ptr<KavioVideoItemManagerInterface>& manager,
    const QVariantMap& restoreRecord)
{
    auto cue = std::make_shared<KavioVideoItem>();
    return cue->initMovieCue(path, manager, restoreRecord) ? cue : nullptr;
}

std::shared_ptr<KavioVideoItem> KavioVideoItem::initWithCamera(
    const QString& deviceName, const std::shared_ptr<KavioVideoItemManagerInterface>& manager)
{
    return makeLiveCue(KavioMediaTypeCamera, deviceName, manager);
}

std::shared_ptr<KavioVideoItem> KavioVideoItem::initWithSyphon(
    const QString& serverName, const std::shared_ptr<KavioVideoItemManagerInterface>& manager)
{
    return makeLiveCue(KavioMediaTypeSyphon, serverName, manager);
}

std::shared_ptr<KavioVideoItem> KavioVideoItem::initWithNDI(
    const QString& sourceName, const std::shared_ptr<KavioVideoItemManagerInterface>& manager)
{
    return makeLiveCue(KavioMediaTypeNDI, sourceName, manager);
}

std::shared_ptr<KavioVideoItem> KavioVideoItem::initWithBrowser(
    const QString& url, const std::shared_ptr<KavioVideoItemManagerInterface>& manager)
{
    return makeLiveCue(KavioMediaTypeBrowser, url, manager);
}

std::shared_ptr<KavioVideoItem> KavioVideoItem::initWithWindow(
    const QString& windowName, const std::shared_ptr<KavioVideoItemManagerInterface>& manager)
{
    return makeLiveCue(KavioMediaTypeWindow, windowName, manager);
}

void KavioVideoItem::initLiveCue(KavioMediaType type, const QString& source,
                                 const std::shared_ptr<KavioVideoItemManagerInterface>& manager)
{
    setMediaType(type);
    if (manager)
        setDurationOfNonMovies(manager->defaultNonMovieCueDuration());
    if (type == KavioMediaTypeSyphon) {
        setPreferedTransform(10);
        setHasAlpha(true);
    } else if (type == KavioMediaTypeBrowser) {
        setHasAlpha(true);
        setSourceSize(manager ? manager->renderSize() : QSizeF());
    } else if (type == KavioMediaTypeWindow) {
        setHasAlpha(false);
        setSourceSize(manager ? manager->renderSize() : QSizeF());
    }
    setManager(manager);
    observeRenderingNotifications();
    // Under high-bit-depth rendering cameras connect for 10-bit formats (the cue's transfer
    // session is made with its first frame).
    if (type == KavioMediaTypeCamera && manager && manager->useHighBitDepthRendering())
        KavioCameraManager::sharedManager()->setIsHighBitDepth(true);
    if (!loadNib())
        return;

    switch (type) {
    case KavioMediaTypeCamera:
        startCameraWithName(source, QString());
        break;
    case KavioMediaTypeSyphon:
        startSyphonWithName(source);
        break;
    case KavioMediaTypeNDI:
        startNDIWithName(source);
        break;
    case KavioMediaTypeBrowser:
        startBrowserWithURL(source);
        break;
    default:
        startWindowSourceWithName(source);
        break;
    }
    if (type == KavioMediaTypeCamera || type == KavioMediaTypeNDI)
        setupAudioWithFileURL(QString());
    layerRendererSettings_ = makeRendererSettings(false);
    refreshTitle();
    if (type == KavioMediaTypeBrowser || type == KavioMediaTypeWindow)
        setSourceSize(manager ? manager->renderSize() : QSizeF());
    setupTransition();
    if (!isLoading(manager))
        setIsReady(true);

    QStringList observed;
    if (type == KavioMediaTypeCamera)
        observed << QStringLiteral("KavioCameraSourcesChanged");
    else if (type == KavioMediaTypeSyphon)
        observed << QStringLiteral("SyphonServerAnnounceNotification")
                 << QStringLiteral("SyphonServerRetireNotification");
    else if (type == KavioMediaTypeNDI)
        observed << QStringLiteral("kQVTNDISourcesChangedNotification");
    else if (type == KavioMediaTypeWindow)
        observed << QStringLiteral("KavioWindowSourcesChangedNotification");
    if (type == KavioMediaTypeWindow)
        KavioWindowSourceManager::sharedManager().increaseNumberOfListeners();
    for (const QString& name : observed) {
        NotificationCenter::defaultCenter().addObserver(
            this, name, nullptr, [weak = weak_from_this()](const Notification& notification) {
                if (const auto cue = weak.lock())
                    cue->liveSourcesChanged(notification);
            });
    }
}

bool KavioVideoItem::initMovieCue(const QString& path,
                                  const std::shared_ptr<KavioVideoItemManagerInterface>& manager,
                                  const QVariantMap& restoreRecord)
{
    setManager(manager);
    observeRenderingNotifications();
    // The restore keys read the path to decide whether the record's bookmark is needed.
    setMediaPath(path);
    applyImportantDataToRestoreOnInit(restoreRecord);
    QString workingPath = resolvedPathForPath(path);
    if (!QFileInfo::exists(path) && !bookmarkdata().isEmpty()) {
        const auto resolved = FileBookmark::resolve(bookmarkdata());
        if (resolved && QFileInfo(resolved->path).isFile()) {
            setMediaPath(resolved->path);
            workingPath = resolvedPathForPath(resolved->path);
        }
    }
    if (manager)
        setDurationOfNonMovies(manager->defaultNonMovieCueDuration());
    setIsPDF(false);

    const QString extension = QFileInfo(workingPath).suffix().toLower();
    if (kSupportedImageFormats.contains(extension)) {
        setMediaType(KavioMediaTypeStill);
        if (!loadStillAtPath(workingPath))
            setIsMissing(true);
    } else if (kSupportedAudioFormats.contains(extension)) {
        setMediaType(KavioMediaTypeAudio);
    } else {
        setMediaType(KavioMediaTypeMovie);
        if (!loadMovieAtPath(workingPath)) {
            normalVideoPlayer_.reset();
            setPlayerSet(nullptr, nullptr);
            setIsMissing(true);
            setInTime(MediaTime::zero());
        }
    }

    if (!loadNib())
        return false;
    loopButton_.state = isLooping() ? 1 : 0;
    if (mediaType() == KavioMediaTypeStill) {
        layerRendererSettings_ = makeRendererSettings(false);
        layerRendererSettings_->inputSize = sourceSize();
    }
    if (mediaType() == KavioMediaTypeAudio && !loadAudioAtPath(workingPath))
        setIsMissing(true);
    refreshTitle();

    const bool missing = isMissing();
    if (mediaType() == KavioMediaTypeStill || mediaType() == KavioMediaTypeAudio || missing) {
        setupTransition();
        // A missing movie never reaches its ready step, so it is ready now even while a project
        // loads: the show can run past it.
        if (!isLoading(manager) || (missing && mediaType() == KavioMediaTypeMovie))
            setIsReady(true);
        if (missing)
            KLOG_VERBOSE("missing item: {}", mediaPath().toStdString());
    }
    if (!missing)
        startWatcher();
    return true;
}

// --- Movies ------------------------------------------------------------------------------------

bool KavioVideoItem::loadMovieAtPath(const QString& path)
{
    if (!captionQueue_)
        captionQueue_ = std::make_unique<DispatchQueue>("com.dalvek.kavio.captionqueue");
    MediaError error;
    const auto asset = MediaAsset::open(path.toStdString(), &error);
    if (!asset) {
        KLOG_VERBOSE("cannot open movie: {}", error.message);
        return false;
    }
    asset_ = asset;
    const MediaTime duration = asset->duration();
    assetDuration_ = duration.isNumeric() ? duration.seconds() : 0.0;
    setItemDuration(float(assetDuration_.load()));
    KLOG_VERBOSE("::: asset duration: {} (timescale:{})", itemDuration(), duration.timescale);
    setIsHAP(asset->isHap());

    if (!asset->hasVideo()) {
        if (asset->hasAudio()) {
            KLOG_VERBOSE("no video, so might be an audio only file...");
            setMediaType(KavioMediaTypeAudio);
            return true;
        }
        KLOG_VERBOSE("no video!");
        return false;
    }
    // The decode format sets the cue's YUV and ProRes facts. The player itself hands on the
    // decoder's own planes, which the layer renderer converts on the GPU: no CPU conversion per
    // frame (pictures without YCbCr planes still come as BGRA; Hap frames stay compressed).
    videoPixelFormat_ = decodeFormatWithFormatDescription(asset->firstVideoTrack());
    MediaPlayerOptions options;
    options.pixelFormat = MediaPixelFormat::Native;
    normalVideoPlayer_ = MediaPlayer::open(path.toStdString(), options, &error);
    if (!normalVideoPlayer_) {
        KLOG_VERBOSE("cannot make a player: {}", error.message);
        setIsMissing(true);
        return false;
    }
    setPlayerSet(normalVideoPlayer_, nullptr);
    if (isHAP())
        setupVideoOutputForItem();
    queueOnMain([](KavioVideoItem& cue) { cue.handleTracksLoaded(); });
    queueOnMain([](KavioVideoItem& cue) { cue.observePlayerStatus(); });
    searchForCaptions();
    return true;
}

void KavioVideoItem::handleTracksLoaded()
{
    if (!asset_ || !normalVideoPlayer_)
        return;
    KLOG_VERBOSE("tracks: {}", asset_->tracks().size());
    // The player decodes pictures only: the movie's sound plays through the cue's own player.
    if (!asset_->hasAudio())
        return;
    KLOG_VERBOSE("audio has been disabled on video!");
    if (!audioPlayer())
        setupAudioWithFileURL(resolvedPathForPath(mediaPath()));
}

void KavioVideoItem::observePlayerStatus()
{
    MediaPlayer* player = normalVideoPlayer_.get();
    if (!player)
        return;
    player->prerollAtRate(float(playbackRate()), DispatchQueue::main(),
                          [weak = weak_from_this(), player](bool decoded) {
                              const auto cue = weak.lock();
                              // A player released or replaced meanwhile has nothing to report.
                              if (!cue || cue->normalVideoPlayer_.get() != player)
                                  return;
                              if (decoded)
                                  cue->handleReadyToPlay();
                              else
                                  cue->handlePlayerFailed(QStringLiteral("no picture could be decoded"));
                          });
}

void KavioVideoItem::handleReadyToPlay()
{
    KLOG_VERBOSE("status change -> AVPlayerItemStatusReadyToPlay {}", title().toStdString());
    if (avplayeritemstatusreadytoplayposted_ || !asset_)
        return;
    avplayeritemstatusreadytoplayposted_ = true;
    const MediaTrack* track = asset_->firstVideoTrack();
    if (!track)
        return;
    const auto controller = manager();

    setPixelAspect(float(track->pixelAspect));
    KLOG_VERBOSE("pixelAspect: {}", pixelAspect());
    setVideoEncodedSize(QSizeF(track->width, track->height));
    setVideoPresentationSize(QSizeF(std::floor(track->width * track->pixelAspect), track->height));
    setSourceSize(videoPresentationSize());
    KLOG_VERBOSE("presentationSize: {} x {}", videoPresentationSize().width(), videoPresentationSize().height());

    const double angle = track->rotationDegrees;
    KLOG_VERBOSE("preferedTransform: {}", angle);
    const QSizeF render = controller ? controller->renderSize() : QSizeF();
    const float turnedScale = render.width() > 0 ? float(render.height() / render.width() - 1.0) : 0.0f;
    const auto turn = [&](std::int32_t code, float rotation) {
        setPreferedTransform(code);
        if (isLoading(controller))
            return;
        setGeometryRotate(rotation);
        setGeometryScaleH(turnedScale);
        setGeometryScaleV(turnedScale);
    };
    // Half a turn may be told as +180 or -180.
    if (std::fabs(angle) >= 179.0 && std::fabs(angle) <= 181.0)
        setPreferedTransform(10);
    else if (angle >= 89.0 && angle <= 91.0)
        turn(20, 90.0f);
    else if (angle >= -91.0 && angle <= -89.0)
        turn(30, -90.0f);

    if (track->fullRange) {
        setIsFullRange(true);
        KLOG_VERBOSE("movie is full range!");
    }
    if (track->hasAlpha) {
        setHasAlpha(true);
        KLOG_VERBOSE(isHAP() ? "HAP movie has alpha channel!" : "movie has alpha channel!");
    }
    if (track->interlaced) {
        setIsInterlaced(true);
        KLOG_VERBOSE("field count: 2");
    }
    workingcolorspace_ = track->colorMatrix == MediaColorMatrix::ITU_R_2020 ? 1 : 0;

    if (setupVideoOutputForItem()) {
        observeTimeJumpsOf(normalVideoPlayer_.get());
        KLOG_VERBOSE("video output has been set!");
    } else {
        KLOG_VERBOSE("cannot setup video output!");
    }

    const int bitDepth = track->bitsPerComponent > 0 ? track->bitsPerComponent : 8;
    KLOG_VERBOSE("bitdepth: {}", bitDepth);
    setBitDepthString(isProRes() ? QStringLiteral("up to %1").arg(bitDepth) : QString::number(bitDepth));
    if (controller && !controller->isLoadingProject())
        generateThumbnailAsync();
    rewindAndPrerollWhenNotIsReady();
    setupTransition();
    layerRendererSettings_ = makeRendererSettings(isInterlaced() && controller && controller->deinterlaceMode() != 0);
    layerRendererSettings_->inputSize = sourceSize();
}

void KavioVideoItem::handlePlayerFailed(const QString& reason)
{
    KLOG_VERBOSE("cannot load AVPlayer, reason: {}", reason.toStdString());
    setIsMissing(true);
    if (const auto player = audioPlayer()) {
        player->removeResources();
        setAudioPlayer(nullptr);
    }
    queueOnMain([](KavioVideoItem& cue) {
        cue.soundButton_.enabled = false;
        cue.soundButton_.state = 0;
    });
}

// --- Stills, PDF pages and audio-only pictures ----------------------------------------------------

MediaPixelFormat KavioVideoItem::stillPixelFormat() const
{
    const auto controller = manager();
    return controller && controller->useHighBitDepthRendering() ? MediaPixelFormat::RGBAHalf : MediaPixelFormat::BGRA;
}

bool KavioVideoItem::loadStillAtPath(const QString& path)
{
    if (QFileInfo(path).suffix().toLower() == QLatin1String("pdf"))
        return loadPdfPage(path);
    stillPixelBuffer_.store(nullptr);
    QString error;
    const auto size = StillImage::imageSize(path, &error);
    if (!size) {
        KLOG_VERBOSE("cannot read image: {}", error.toStdString());
        return false;
    }
    int longestSide = 0;
    if (size->width() > kStillSizeLimit || size->height() > kStillSizeLimit) {
        UserDefaults& defaults = UserDefaults::standardUserDefaults();
        if (!defaults.boolForKey(kSuppressionImageExceedsLimitKey)) {
            KavioAlertSpec alert;
            alert.messageText = QStringLiteral("Image dimension exceeds limit.");
            alert.informativeText =
                QStringLiteral("The dimension of this image is %1x%2 which exceeds limit (16384x16384).\n"
                               "Kavio automatically downscaling it below limit, but please consider using a "
                               "smaller image to avoid performance problems.")
                    .arg(size->width())
                    .arg(size->height());
            alert.suppressionText = QStringLiteral("Do not show this warning again.");
            if (KavioAlert::runModal(alert).suppressed) {
                defaults.setBool(true, kSuppressionImageExceedsLimitKey);
                KLOG_VERBOSE("KavioSuppressionImageExceedsLimit is on!");
            }
        }
        longestSide = kShrunkStillLongestSide;
    }
    const auto still = StillImage::readImage(path, stillPixelFormat(), longestSide, &error);
    if (!still) {
        if (longestSide)
            KLOG_VERBOSE("error, couldn't create smaller CGImageRef... {}", error.toStdString());
        else
            KLOG_VERBOSE("cannot decode image: {}", error.toStdString());
        return false;
    }
    setBitDepthString(QString::number(still->bitsPerSample));
    if (still->hasAlpha)
        setHasAlpha(true);
    stillPixelBuffer_.store(still->frame);
    setSourceSize(QSizeF(still->frame->width(), still->frame->height()));
    KLOG_VERBOSE("still image rendersize: {} x {}", still->frame->width(), still->frame->height());
    return true;
}

bool KavioVideoItem::loadPdfPage(const QString& path)
{
    setIsPDF(true);
    pdfPageCount_ = 0;
    stillPixelBuffer_.store(nullptr);
    std::uint64_t count = 0;
    QString error;
    const auto page =
        StillImage::renderPdfPage(path, pdfPage(), stillPixelFormat(), kShrunkStillLongestSide, &count, &error);
    pdfPageCount_ = count;
    if (!page) {
        KLOG_VERBOSE("cannot show PDF page: {}", error.toStdString());
        return false;
    }
    setHasAlpha(true);
    stillPixelBuffer_.store(page->frame);
    setSourceSize(QSizeF(page->frame->width(), page->frame->height()));
    KLOG_VERBOSE("pdf page sourcesize: {} x {}", page->frame->width(), page->frame->height());
    return true;
}

void KavioVideoItem::setPdfPage(std::uint64_t page)
{
    pdfPage_.store(page);
    if (!isPDF())
        return;
    loadStillAtPath(resolvedPathForPath(mediaPath()));
    const auto controller = manager();
    if (!isLoading(controller))
        generateThumbnailAsync();
}

bool KavioVideoItem::loadAudioAtPath(const QString& path)
{
    if (!QFileInfo::exists(path))
        return false;
    setupAudioWithFileURL(path);
    if (!audioPlayer()) {
        setIsMissing(true);
        // Follows, and so replaces, the tool tip the missing state gives.
        queueOnMain([](KavioVideoItem& cue) { cue.errorButton_.toolTip = QStringLiteral("Audio file is unreadable..."); });
    }
    QImage transparent(kAudioPictureSize.toSize(), QImage::Format_ARGB32_Premultiplied);
    transparent.fill(Qt::transparent);
    stillPixelBuffer_.store(StillImage::frameFromImage(transparent, stillPixelFormat()));
    KLOG_VERBOSE("cvpixelbuffer for audio is ready...");
    setSourceSize(kAudioPictureSize);
    return true;
}

// --- Ready and missing --------------------------------------------------------------------------

void KavioVideoItem::setIsReady(bool ready)
{
    isReady_ = ready;
    if (ready && !sentBecameAvailableMessage_.exchange(true))
        NotificationCenter::defaultCenter().post(kKavioItemBecameReadyNotification);
}

void KavioVideoItem::setIsMissing(bool missing)
{
    isMissing_ = missing;
    queueOnMain([missing](KavioVideoItem& cue) { cue.applyMissingToRow(missing); });
}

void KavioVideoItem::applyMissingToRow(bool missing)
{
    if (!missing) {
        errorButton_.hidden = true;
        return;
    }
    audioMeterHidden_ = true;
    rebuildAudioMeter();
    audioWaveform_.store(nullptr);
    if (isCurrentItemOf(*this, manager()))
        NotificationCenter::defaultCenter().post(kKavioRefreshWaveformViewNotification);
    errorButton_.enabled = true;
    errorButton_.toolTip = QStringLiteral("Source unavailable...");
    errorButton_.hidden = false;
    if (errorButtonDrawColor_ != kMissingWarningColor)
        errorButtonDrawColor_ = kMissingWarningColor;
}

void KavioVideoItem::replaceMedia()
{
    const auto controller = manager();
    if (!controller)
        return;
    controller->setHasUnsavedChanges(true);
    if (isFileBased()) {
        controller->replaceItem(shared_from_this());
        return;
    }
    // A live source is chosen in the inspector, which shows the selected cue.
    controller->selectItem(shared_from_this());
}

// --- Shared steps -------------------------------------------------------------------------------

void KavioVideoItem::queueOnMain(std::function<void(KavioVideoItem&)> step)
{
    DispatchQueue::main().async([weak = weak_from_this(), step = std::move(step)] {
        if (const auto cue = weak.lock())
            step(*cue);
    });
}

KavioLayerRendererSettings KavioVideoItem::makeRendererSettings(bool deinterlace) const
{
    const auto controller = manager();
    KavioLayerRendererSettings settings;
    settings.outputSize = controller ? controller->renderSize() : QSizeF();
    settings.yuvToRGB = isYUV();
    settings.highBitDepth = controller && controller->useHighBitDepthRendering();
    settings.shouldFlip = preferedTransform() == 10;
    settings.deinterlace = deinterlace;
    return settings;
}
