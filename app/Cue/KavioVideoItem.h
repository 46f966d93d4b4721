#pragma once
// KavioVideoItem: one cue of the show. It carries what the cue plays and where that comes from,
// its place and name in the list, its timing, toggles, fades and transition, its picture and
// sound adjustments, and its prepared OSC feedback messages.
//
// The cue list controller owns its cues (std::shared_ptr) and each cue keeps a weak reference
// to it (`manager`). The implementation is split by concern into
// app/Cue/KavioVideoItem+<Concern>.cpp.
//
// Threads. Identity, name, index and OSC address-space operations, the record, the goto target
// and the row's toggles run on the main thread, where the cue's row lives; the links, the goto
// target and the toggles' states are read without a lock, so the clock thread may follow
// nextItemToPlay() every frame. The adjustment setters run on their caller's thread and take no lock; a
// cue's values are changed from one thread at a time (its feedback messages are shared state).
// Properties that the render and clock threads read while the main thread writes them are
// atomic: scalars are std::atomic, media times, sizes and the crop are sequence-locked (a
// reader never sees half a value and never blocks), strings and records are copied under a
// lock. The cue's frames are taken and rendered on its own serial queue
// "com.dalvek.kavio.pixelbufferqueue".
//
// Values that arrive from outside (OSC, records, the inspector) pass through the setters below:
// a NaN or infinite value is refused (logged, nothing stored, nothing sent); opacity and the
// fade factors are kept within 0..1 and the volume at 0 or above.

#include "Cue/KavioAtomicProperty.h"
#include "Support/KavioSnapshotCell.h"
#include "Controller/KavioVideoItemManagerInterface.h"
#include "MediaTime.h"
#include "Support/KavioColor.h"
#include "QVTOSCMessage.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

class DispatchQueue;
class FileWatch;
class GpuTexture;
class KavioMetalTransitionRendererInterface;
class FrameTransferSession;
class KavioAudioMeterInterface;
class KavioBrowserSourceInterface;
class KavioNDIReceiverInterface;
class KavioPlayerItemVideoOutput;
class KavioTextureSourceInterface;
class KavioVideoItemView;
class QWindow;
class QVTMetalLayerRendererInterface;
class MediaAsset;
class AudioAnalyzer;
class KavioAudioOutputManagerInterface;
class KavioAudioPlayer;
class KavioAudioPlayerCue;
class PcmBuffer;
class QImage;
class MediaPlayer;
class PcmBuffer;
class QImage;
class QMenu;
class QVTCaption;
class QVTCaptionReader;
struct QVTLayerSettings;
struct QVTPlaneTextures;
class VideoFrame;
struct MediaTrack;
struct Notification;
enum class MediaPixelFormat : std::uint32_t;

// What a cue plays (`mediaType`); the codes are stored in cue records.
enum KavioMediaType : int {
    KavioMediaTypeMovie = 0,    // movie file, Hap included; mediaPath is the file path
    KavioMediaTypeCamera = 1,   // capture device; mediaPath is the source name
    KavioMediaTypeSyphon = 2,   // frame-sharing input; source name
    KavioMediaTypeNDI = 3,      // NDI source; source name
    KavioMediaTypeStill = 4,    // still image or one PDF page; file path
    KavioMediaTypeBrowser = 5,  // web page rendered off-screen; URL
    KavioMediaTypeWindow = 6,   // capture of another program's window; source name
    KavioMediaTypeAudio = 10,   // audio-only file; file path
};

// Transition codes (`transitionType`), stored in cue records.
enum KavioTransitionType : int {
    KavioTransitionTypeDissolve = 10,
    KavioTransitionTypeWipeRight = 20,
    KavioTransitionTypeWipeLeft = 30,
    KavioTransitionTypeWipeUp = 40,
    KavioTransitionTypeWipeDown = 50,
    KavioTransitionTypeRipple = 60,
};

// Posted by the controller when the playlist's default transition length changed; user info
// {"KavioDefaultTransitionDuration": seconds}.
inline const QString kKavioDefaultTransitionDurationChangedNotification =
    QStringLiteral("KavioDefaultTransitionDurationChanged");
inline const QString kKavioDefaultTransitionDurationKey = QStringLiteral("KavioDefaultTransitionDuration");

// Posted by the controller, object the controller, when the playlist's default fade length
// changed; user info {"KavioDefaultFadeDuration": single-precision seconds}.
inline const QString kKavioDefaultFadeDurationChangedNotification = QStringLiteral("KavioDefaultFadeDurationChanged");
inline const QString kKavioDefaultFadeDurationKey = QStringLiteral("KavioDefaultFadeDuration");

// The fade toggles' images.
inline const QString kKavioCutInImage = QStringLiteral("kavio_cut_in");
inline const QString kKavioCutOutImage = QStringLiteral("kavio_cut_out");
inline const QString kKavioFadeInImage = QStringLiteral("kavio_fadein");
inline const QString kKavioFadeOutImage = QStringLiteral("kavio_fadeout");

// A loop count that means "loop for ever", not a number of plays.
inline constexpr std::int32_t KavioLoopCountEndless = 2147483647;

inline const QString kKavioPixelBufferQueueLabel = QStringLiteral("com.dalvek.kavio.pixelbufferqueue");
inline const QString kKavioNDISourceQueueLabel = QStringLiteral("com.dalvek.kavio.ndisource");
// Posted on the default centre when the render size or the deinterlace mode changed.
inline const QString kKavioRenderSizeChangedNotification = QStringLiteral("KavioRenderSizeChanged");
inline const QString kKavioDeinterlaceStateChangedNotification = QStringLiteral("KavioDeinterlaceStateChanged");

// The four crop edges, each the share of HALF the render size cut from that edge
// (1.0 cuts half the frame). Kept in this order: top, right, bottom, left.
struct KavioGeometryCrop {
    float top = 0.0f;
    float right = 0.0f;
    float bottom = 0.0f;
    float left = 0.0f;
};

// Hands one prepared feedback message to the OSC kit. The message is read during the call only.
using KavioOSCFeedbackSender = std::function<void(const QVTOSCMessage&)>;

// Posted on the default centre, no object, when a cue has read its record.
inline const QString kKavioItemBecameReadyNotification = QStringLiteral("KavioItemBecameReady");
// Posted on the default centre with the cue as object when the cue its feedback names changed.
inline const QString kKavioCueOSCAddressSpaceChangedNotification = QStringLiteral("KavioCueOSCAddressSpaceChanged");

// Posted on the default centre, no object, when the first colour tag of the list was given or
// the last one cleared; every cue shows or hides its tag column.
inline const QString kKavioColorTagsShouldToggleNotification = QStringLiteral("KavioColorTagsShouldToggle");
inline const QString kKavioColorTagsToggleDesiredStateKey = QStringLiteral("KavioColorTagsToggleDesiredState");

// Goto icons: the target lies below the cue in the list, or not.
inline const QString kKavioGotoDownImage = QStringLiteral("kavio_goto_down");
inline const QString kKavioGotoUpImage = QStringLiteral("kavio_goto_up");

// One button of the cue's row as the cue keeps it. The toggles' states are the truth the record
// saves and the playback reads; the row view presents them. A disabled button refuses clicks,
// but the cue may still set its state. Main thread only.
struct KavioRowButton {
    // The clock thread reads the goto toggle's state and enabled through nextItemToPlay().
    KavioAtomicField<int> state = 0;  // 0 off, 1 on
    KavioAtomicField<bool> enabled = true;
    bool hidden = false;
    QString title;
    QString imageName;
    QString toolTip;
    // The OSC address the toggle reports its state on; empty until the cue has an address space.
    QString oscAddress;
};

// The row's eight playback toggles, by the codes the controller's
// cueToggleChangedOnSelectedItems() takes.
enum KavioToggleCode : int {
    KavioToggleSound = 5,
    KavioToggleFadeIn = 6,
    KavioToggleFadeOut = 7,
    KavioTogglePauseAtBeginning = 10,
    KavioTogglePauseAtEnd = 20,
    KavioToggleLoop = 30,
    KavioToggleTransition = 40,
    KavioToggleGoto = 50,
};

// Where a toggle action came from: a click on the row's button (which has flipped its state
// already) or an entry of the row's context menu (the action flips it).
enum class KavioToggleSender { Button, MenuItem };

// The cue's audio player as the record and the routing see it; the audio engine's player
// implements it. Main thread.
class KavioCueAudioPlayer {
public:
    virtual ~KavioCueAudioPlayer() = default;
    // Per device channel, the 1-based source channel that plays there; 0 is silent.
    virtual QList<int> channelMapping() const = 0;
    // The number of device channels the player feeds.
    virtual int deviceChannels() const = 0;
    // Takes a new mapping for at most `maxChannels` device channels.
    virtual void setOutputChannelMapping(const QList<int>& mapping, int maxChannels) = 0;
    // Media facts and timing
    // Length of the file in seconds; 0 for a live player.
    virtual double duration() const = 0;
    // The file's channels that play: its channel count, at most the device's.
    virtual int realChannels() const = 0;
    // Playback rate, 1.0 normal.
    virtual void setRate(float rate) = 0;
    // Stops playback; the player can start again.
    virtual void stop() = 0;
    // Cue position, preroll and start
    // Starts playback at the stored time.
    virtual void play() = 0;
    // Moves to media time `seconds`; a playing player plays on from there.
    virtual void setCurrentTime(double seconds) = 0;
    // Lets go of the device and the file; the player is not used again.
    virtual void removeResources() = 0;
    // Clock-driven sequencing
    // The player node's volume, handed to the output streamers when the cue takes over or
    // crosses in. Any thread: the clock thread reads it.
    virtual float volume() const = 0;
    // Cue audio and routing. The defaults suit a player that has no output of its own.
    // The playing gain; changes under 0.0001 are ignored; the loop helper's player takes the
    // normal one's. Any thread (the render path sets it).
    virtual void setVolume(float /*volume*/) {}
    // The output delay in milliseconds for the next start.
    virtual void setDelay(int /*delayMs*/) {}
    // A live buffer to play (live players, while playing). The source's thread.
    virtual void scheduleBuffer(const std::shared_ptr<const PcmBuffer>& /*buffer*/) {}
    // Mutes or unmutes the device output for the output's kind. Any thread.
    virtual void checkForAudioKindChanged() {}
    virtual bool isUsingStereoDownMix() const { return false; }
    // The row's level meter: the player refreshes its meters and answers one level in dB per
    // device channel (empty: no levels to show).
    virtual QList<float> channelMeters() { return {}; }
};

// What the cue's layer renderer is made with; the renderer is made from these by the cue's frame
// supply.
struct KavioLayerRendererSettings {
    QSizeF outputSize;  // the render size
    bool yuvToRGB = false;
    bool highBitDepth = false;
    bool shouldFlip = false;
    bool deinterlace = false;
    QSizeF inputSize;  // empty until the source's size is known
};

// The texts of the cue row's time fields (main thread).
struct KavioRowTimes {
    QString start;
    QString endLabel;
    QString endLabelToolTip;
    QString end;
    QString loop;
};

// Posted on the default centre, no object, for the timeline to redraw the current cue's waveform.
inline const QString kKavioRefreshWaveformViewNotification = QStringLiteral("KavioRefreshWaveformView");
// Posted by the path watcher, user info {"KavioChangedFilepathKey": the changed path}.
inline const QString kKavioWatchedFilepathChangedNotification = QStringLiteral("KavioWatchedFilepathChanged");
inline const QString kKavioChangedFilepathKey = QStringLiteral("KavioChangedFilepathKey");

// A live source that keeps its own settings in the cue's record (the web-page and window
// sources). Main thread.
class KavioRecordedSource {
public:
    virtual ~KavioRecordedSource() = default;
    virtual QVariantMap saveData() const = 0;
    virtual void loadWithData(const QVariantMap& data) = 0;
    // Lets the source produce frames (true) or pauses it.
    virtual void setShouldRender(bool shouldRender) = 0;
    // Paces the source at the output's frame rate; a source that is not paced ignores it.
    virtual void setRenderingFPS(std::int32_t /*fps*/) {}
    // The newest captured frame, or nullptr. Render thread.
    virtual std::shared_ptr<GpuTexture> texture() { return nullptr; }
};

// The cue's hold on its row: the row lives in the list view (its Qt parent) while listed, and
// goes with the cue (deleted on the main queue) whatever thread ends the cue.
struct KavioRowHandle {
    KavioRowHandle() = default;
    KavioRowHandle(const KavioRowHandle&) = delete;
    KavioRowHandle& operator=(const KavioRowHandle&) = delete;
    ~KavioRowHandle();
    QPointer<QObject> view;
};

class KavioVideoItem : public std::enable_shared_from_this<KavioVideoItem> {
public:
    // A cue with every default of generalInit(). Its feedback goes through `sender`, by default
    // QVTOSCManager::sharedManager(); creating a cue sends the default values' feedback once,
    // at index 0.
    explicit KavioVideoItem(KavioOSCFeedbackSender sender = {});
    virtual ~KavioVideoItem();
    KavioVideoItem(const KavioVideoItem&) = delete;
    KavioVideoItem& operator=(const KavioVideoItem&) = delete;

    // Sets every default, in an order that lets the setters' feedback run (see the .cpp). Run by
    // the constructor; the initialisers then set the manager, media type and path. Keeps the
    // frame queue when the cue already has one.
    void generalInit();

    // --- Controller -------------------------------------------------------------------------
    // Set once by the initialiser, before the cue is shared with other threads.
    std::shared_ptr<KavioVideoItemManagerInterface> manager() const { return manager_.lock(); }
    void setManager(std::weak_ptr<KavioVideoItemManagerInterface> manager) { manager_ = std::move(manager); }

    // --- Identity and place in the list (main thread) ----------------------------------------
    QString uid() const { return uid_.load(); }
    void setUid(const QString& uid) { uid_.store(uid); }

    // 1-based list position. Moving to a new position re-addresses the cue: when it has no cue
    // ID, its OSC address space is rebuilt for the new index. The same position again changes
    // nothing.
    std::uint64_t index() const { return index_.load(); }
    void setIndex(std::uint64_t index);

    // Stored upper-cased. Every call rebuilds the OSC address space, for the cue ID, or for the
    // index when the cue ID is empty.
    QString cueID() const { return cueID_; }
    void setCueID(const QString& cueID);
    // The cue's identifier in OSC input addresses: the cue ID, or the index in decimal when the
    // cue ID is empty. (Value feedback always uses the index.)
    QString cueIDForOSC() const;

    // The name the row shows. Storing a name sends it to "/kavio/<index>/cueName", unless the
    // name message already carries this very name at this very address.
    QString cueName() const { return cueName_; }
    void setCueName(const QString& cueName);
    // Sends the name to "/kavio/<index>/cueName"; nothing while the controller loads a project.
    void sendCueNameOSCFeedback();

    QString displayTitle() const { return displayTitle_.load(); }
    void setDisplayTitle(const QString& title) { displayTitle_.store(title); }
    bool hasCustomTitle() const { return hasCustomTitle_.load(); }
    void setHasCustomTitle(bool value) { hasCustomTitle_.store(value); }
    // The cue's title: displayTitle when it is not empty; else, for a file-based cue, the file
    // name of the resolved media path; else the resolved media path whole (source name or URL).
    QString title() const;
    // The title without a custom title (the last two rules of title()).
    QString defaultTitle() const;

    QString cueNotes() const { return cueNotes_.load(); }
    void setCueNotes(const QString& notes) { cueNotes_.store(notes); }
    // uid of the goto target; empty for none.
    QString gotoItemUID() const { return gotoItemUID_.load(); }
    std::int32_t colorTag() const { return colorTag_.load(); }
    // Stores the tag; the row's colour-tag dot shows for any tag but 0. Main thread.
    void setColorTag(std::int32_t tag);
    bool isCollapsed() const { return isCollapsed_.load(); }
    void setIsCollapsed(bool value) { isCollapsed_.store(value); }
    // Opens a collapsed row; nothing when it is open already.
    void expand();

    int mediaType() const { return mediaType_.load(); }
    void setMediaType(int type) { mediaType_.store(type); }
    // File path, source name or URL (see KavioMediaType).
    QString mediaPath() const { return mediaPath_.load(); }
    void setMediaPath(const QString& path) { mediaPath_.store(path); }
    QString deviceUID() const { return deviceUID_.load(); }
    void setDeviceUID(const QString& uid) { deviceUID_.store(uid); }
    // True for movie, still and audio cues; every other type is a live source.
    bool isFileBased() const;
    static bool isFileBasedMediaType(int mediaType);
    // The path a symbolic link (the platform's alias file) points to, for titles and file
    // access; a copy of `path` when it is no link; empty, with a log entry, when the link
    // cannot be resolved.
    static QString resolvedPathForPath(const QString& path);

    // The following cue of the list (the first one for the last cue while the playlist loops).
    std::shared_ptr<KavioVideoItem> nextItem() const { return nextItem_.load().lock(); }
    // Set by the controller when it rebuilds the order: stores the cue weakly, re-creates the
    // transition when the cue has one, and refreshes the transition icon.
    void setNextItem(const std::shared_ptr<KavioVideoItem>& item);
    std::shared_ptr<KavioVideoItem> prevItem() const { return prevItem_.load().lock(); }
    void setPrevItem(const std::shared_ptr<KavioVideoItem>& item) { prevItem_.store(item); }

    // --- OSC address space (main thread; KavioVideoItem+OSCAddressSpace.cpp) --------------------
    // Makes `identifier` (cueIDForOSC()) the cue's identifier in OSC input addresses: the 63
    // addresses "/kavio/<identifier>/<command>" are registered in the controller's query server
    // (with their types, ranges, help texts; the pixel ranges from the render size now), the
    // row's toggles take theirs, and the cue listens on the OSC kit's centre. The previous
    // identifier's space goes first; the same identifier again does nothing.
    //
    // The cue answers its index form "/kavio/<index>/…" too, also while it has a cue ID: the role
    // prefixes ("current", "all" …) and all feedback use the index form. The query server lists
    // only the identifier's form.
    virtual void buildOSCAddressSpaceForID(const QString& identifier);
    // Removes the space's root "/kavio/<identifier>" from the query server and stops listening;
    // the identifier is kept (the caller replaces or clears it).
    virtual void removeOSCAddressSpaceForID(const QString& identifier);
    // The identifier the address space was last built for; empty before the first build.
    QString oscAddressIdentifier() const { return oscAddressIdentifier_; }

    // --- OSC commands (KavioVideoItem+OSCCommands.cpp) ------------------------------------------
    // Whether `address` is "/kavio/<cue ID>/<command>" (with a cue ID) or
    // "/kavio/<index>/<command>"; exact comparison. Any thread.
    bool canHandleOSCAddress(const QString& address, const QString& command) const;
    // One message addressed to the cue (notification name: the address; user info as the kit
    // delivers it), on the kit's receiving thread. Value, scale and crop commands apply at once
    // through the setters (opacity and brightness without echo), mark the project changed and
    // have the inspector follow on the main queue; toggles, goto, selection and speed run as one
    // main-queue step each, in order. Missing or unreadable arguments, unknown commands, a
    // volume without audio player and pixel values without a render size change nothing.
    void receivedOSC(const Notification& notification);

    // --- Media facts ---------------------------------------------------------------------------
    bool hasAlpha() const { return hasAlpha_.load(); }
    void setHasAlpha(bool v) { hasAlpha_.store(v); }
    bool isFullRange() const { return isFullRange_.load(); }
    void setIsFullRange(bool v) { isFullRange_.store(v); }
    bool isProRes() const { return isProRes_.load(); }
    void setIsProRes(bool v) { isProRes_.store(v); }
    bool isInterlaced() const { return isInterlaced_.load(); }
    void setIsInterlaced(bool v) { isInterlaced_.store(v); }
    bool isYUV() const { return isYUV_.load(); }
    void setIsYUV(bool v) { isYUV_.store(v); }
    bool isHAP() const { return isHAP_.load(); }
    void setIsHAP(bool v) { isHAP_.store(v); }
    bool isPDF() const { return isPDF_.load(); }
    void setIsPDF(bool v) { isPDF_.store(v); }
    bool isDeckLinkDevice() const { return isDeckLinkDevice_.load(); }
    void setIsDeckLinkDevice(bool v) { isDeckLinkDevice_.store(v); }
    bool isSecondaryCamera() const { return isSecondaryCamera_.load(); }
    bool hasAudioChannels() const { return hasAudioChannels_.load(); }
    // Orientation code of the source; 10 draws the picture flipped.
    std::int32_t preferedTransform() const { return preferedTransform_.load(); }
    void setPreferedTransform(std::int32_t v) { preferedTransform_.store(v); }
    QString bitDepthString() const { return bitDepthString_.load(); }
    void setBitDepthString(const QString& v) { bitDepthString_.store(v); }
    QString decklinkFormatString() const { return decklinkFormatString_.load(); }
    void setDecklinkFormatString(const QString& v) { decklinkFormatString_.store(v); }
    // Sizes in pixels: as encoded, as presented, and as the cue renders its source.
    QSizeF videoEncodedSize() const { return videoEncodedSize_.load(); }
    void setVideoEncodedSize(const QSizeF& v) { videoEncodedSize_.store(v); }
    QSizeF videoPresentationSize() const { return videoPresentationSize_.load(); }
    void setVideoPresentationSize(const QSizeF& v) { videoPresentationSize_.store(v); }
    QSizeF sourceSize() const { return sourceSize_.load(); }
    // Stores the size and passes it to both layer renderers, each that exists.
    void setSourceSize(const QSizeF& v);
    float pixelAspect() const { return pixelAspect_.load(); }
    void setPixelAspect(float v) { pixelAspect_.store(v); }
    // PDF pages count from 1. Setting a page reloads the still from it and, unless a project
    // loads, regenerates the thumbnail.
    std::uint64_t pdfPage() const { return pdfPage_.load(); }
    void setPdfPage(std::uint64_t page);
    std::uint64_t pdfPageCount() const { return pdfPageCount_.load(); }
    // Bookmark of the media file.
    QByteArray bookmarkdata() const { return bookmarkdata_.load(); }
    void setBookmarkdata(const QByteArray& v) { bookmarkdata_.store(v); }
    // 1 when the movie's colour matrix is ITU-R BT.2020, else 0.
    int workingcolorspace() const { return workingcolorspace_.load(); }

    // --- Timing (media times at timescale 600 where made from seconds) -------------------------
    MediaTime inTime() const { return inTime_.load(); }
    void setInTime(const MediaTime& t) { inTime_.store(t); }
    // The length cut off before the media's end.
    MediaTime outTime() const { return outTime_.load(); }
    void setOutTime(const MediaTime& t) { outTime_.store(t); }
    MediaTime thumbTime() const { return thumbTime_.load(); }
    void setThumbTime(const MediaTime& t) { thumbTime_.store(t); }
    // The cue's start on the show clock.
    MediaTime itemStartCMTime() const { return itemStartCMTime_.load(); }
    void setItemStartCMTime(const MediaTime& t) { itemStartCMTime_.store(t); }
    MediaTime preloadedTime() const { return preloadedTime_.load(); }
    void setPreloadedTime(const MediaTime& t) { preloadedTime_.store(t); }
    QString itemStartSMPTETime() const { return itemStartSMPTETime_.load(); }
    void setItemStartSMPTETime(const QString& v) { itemStartSMPTETime_.store(v); }
    QString itemEndSMPTETime() const { return itemEndSMPTETime_.load(); }
    void setItemEndSMPTETime(const QString& v) { itemEndSMPTETime_.store(v); }
    QString originalItemStartSMPTETime() const { return originalItemStartSMPTETime_.load(); }
    void setOriginalItemStartSMPTETime(const QString& v) { originalItemStartSMPTETime_.store(v); }
    // Playable duration in seconds at the playback speed.
    float itemDuration() const { return itemDuration_.load(); }
    void setItemDuration(float v) { itemDuration_.store(v); }
    // Running time of a still or live source, seconds.
    float durationOfNonMovies() const { return durationOfNonMovies_.load(); }
    void setDurationOfNonMovies(float v) { durationOfNonMovies_.store(v); }
    // Last good duration, used while the media is missing; -1.0 for none.
    float cachedGoodDurationWhenMissing() const { return cachedGoodDurationWhenMissing_.load(); }
    void setCachedGoodDurationWhenMissing(float v) { cachedGoodDurationWhenMissing_.store(v); }
    std::int32_t autoAlignToDuration() const { return autoAlignToDuration_.load(); }
    void setAutoAlignToDuration(std::int32_t v) { autoAlignToDuration_.store(v); }
    // Playback speed in whole percent; 100 is normal.
    std::int64_t playbackRateAsPercent() const { return playbackRateAsPercent_.load(); }
    double playbackRate() const { return double(playbackRateAsPercent()) / 100.0; }
    // Running time of a cue without a media clock (stills, live sources), seconds.
    double tempCurrentTimeForNonMovies() const { return tempCurrentTimeForNonMovies_.load(); }
    double captionDelaySeconds() const { return captionDelaySeconds_.load(); }
    // The chosen caption track; -1 for none.
    std::int32_t selectedCaptionTrack() const { return selectedCaptionTrack_.load(); }
    // Selects a track by its position in availableCaptions() (-1 none) and sets the caption
    // delay back to 0; a valid position rebuilds both caption readers (font sizes 20 and 10),
    // -1 drops them, an index out of range keeps them (the value is stored all the same).
    void setSelectedCaptionTrack(std::int32_t track);
    // Positive values show each caption later. Not saved.
    void setCaptionDelaySeconds(double seconds) { captionDelaySeconds_.store(seconds); }
    // The caption tracks of the media file, sorted (embedded ones and caption files beside it).
    QStringList availableCaptions() const;
    // Rebuilds the readers of the selected track; handler of "KavioSubtitleSettingsChanged".
    void reloadCaption();
    // The file has caption tracks and one is selected.
    bool hasCaption() const { return hascaption_.load() && selectedCaptionTrack() != -1; }
    // The selected track's first caption time as SMPTE text, and the same plus the delay;
    // time zero without a track.
    QString originalCaptionStartTimeSMTPE() const;
    QString actualCaptionStartTimeSMTPE() const;

    // --- Toggles, looping, fades, transition -------------------------------------------------
    bool isLooping() const { return isLooping_.load(); }
    void setIsLooping(bool v) { isLooping_.store(v); }
    // Number of plays; KavioLoopCountEndless loops for ever.
    std::int32_t loopCount() const { return loopCount_.load(); }
    void setLoopCount(std::int32_t v) { loopCount_.store(v); }
    // Loop passes begun after the first since the cue was last rewound.
    std::uint64_t loopCounter() const { return loopCounter_.load(); }
    void setLoopCounter(std::uint64_t v) { loopCounter_.store(v); }
    // The media can loop seamlessly.
    bool canLoop() const { return canLoop_.load(); }
    void setCanLoop(bool v) { canLoop_.store(v); }
    bool hasTransition() const { return hasTransition_.load(); }
    void setHasTransition(bool v) { hasTransition_.store(v); }
    std::int32_t transitionType() const { return transitionType_.load(); }
    void setTransitionType(std::int32_t v) { transitionType_.store(v); }
    double transitionTime() const { return transitionTime_.load(); }
    // Stores the length limited to this cue and the next: a length above half of this cue, or
    // above half of nextItemToPlay(), is halved until it fits, and exactly half of this cue loses
    // two frames of the master clock (never going below 0). Lengths below 0.001 s, and any
    // length on a cue shorter than that, are stored as they are. A non-finite or negative length
    // is refused (logged, the length kept). Then the controller rebuilds the following cues'
    // times when the transition is on, and is told of the change in every case.
    void setTransitionTime(double seconds);
    bool isUsingDefaultTransitionDuration() const { return isUsingDefaultTransitionDuration_.load(); }
    void setIsUsingDefaultTransitionDuration(bool v) { isUsingDefaultTransitionDuration_.store(v); }
    bool shouldOperateWithTransitionHelper() const { return shouldOperateWithTransitionHelper_.load(); }
    void setShouldOperateWithTransitionHelper(bool v) { shouldOperateWithTransitionHelper_.store(v); }
    // Fade length, seconds.
    float fadetime() const { return fadetime_.load(); }
    // Stores the length; crossing 0.1 s (strictly, either way) switches the row's fade toggles
    // between cut and fade icons. Any thread.
    void setFadetime(float seconds);
    // The fade toggles' images: cut or fade; only while both toggles are enabled; on the main
    // thread (queued there from elsewhere).
    void changeToCutIcons();
    void changeToFadeIcons();
    // Observer of "KavioDefaultFadeDurationChanged": a cue on the default takes the user info's
    // "KavioDefaultFadeDuration".
    void changeDefaultFadeDuration(const Notification& notification);
    bool isUsingDefaultFadeDuration() const { return isUsingDefaultFadeDuration_.load(); }
    void setIsUsingDefaultFadeDuration(bool v) { isUsingDefaultFadeDuration_.store(v); }
    bool shouldStopAtBeginning() const { return shouldStopAtBeginning_.load(); }
    void setShouldStopAtBeginning(bool v) { shouldStopAtBeginning_.store(v); }
    bool shouldStopAtEnd() const { return shouldStopAtEnd_.load(); }
    void setShouldStopAtEnd(bool v) { shouldStopAtEnd_.store(v); }
    // The pause toggles as they were before a rule of the toggles overrode them.
    bool cachedShouldStopAtBeginning() const { return cachedShouldStopAtBeginning_.load(); }
    void setCachedShouldStopAtBeginning(bool v) { cachedShouldStopAtBeginning_.store(v); }
    bool cachedShouldStopAtEnd() const { return cachedShouldStopAtEnd_.load(); }
    void setCachedShouldStopAtEnd(bool v) { cachedShouldStopAtEnd_.store(v); }
    // Current fade factors of picture and sound, 0..1; written per frame by the fades.
    float fadeOpacity() const { return fadeOpacity_.load(); }
    void setFadeOpacity(float v);
    float audioFade() const { return audioFade_.load(); }
    void setAudioFade(float v);

    // --- Audio ---------------------------------------------------------------------------------
    bool isUsingDefaultAudioChannels() const { return isUsingDefaultAudioChannels_.load(); }
    void setIsUsingDefaultAudioChannels(bool v) { isUsingDefaultAudioChannels_.store(v); }
    // Set the volume from the loudness analysis once the cue's audio is loaded; read from the
    // user default "audioVolumeNormalization" when the cue is made.
    bool shouldsetvolumetorms() const { return shouldsetvolumetorms_.load(); }
    bool isBuildingAudioWaveform() const { return isBuildingAudioWaveform_.load(); }
    void setIsBuildingAudioWaveform(bool v) { isBuildingAudioWaveform_.store(v); }
    bool hasAudioError() const { return hasaudioerror_.load(); }
    bool hasVideoError() const { return hasvideoerror_.load(); }

    // --- State ---------------------------------------------------------------------------------
    bool isReady() const { return isReady_.load(); }
    bool isPlaying() const { return isPlaying_.load(); }
    void setIsPlaying(bool v) { isPlaying_.store(v); }
    bool isSeeking() const { return isSeeking_.load(); }
    void setIsSeeking(bool v) { isSeeking_.store(v); }
    bool isMissing() const { return isMissing_.load(); }
    // Stores the state; the row follows later on the main queue. Missing: the error button
    // shows, enabled, with the tool tip "Source unavailable..." in the warning colour, and the
    // level meter hides (a current cue posts "KavioRefreshWaveformView"). Not missing: the error
    // button hides. Any thread.
    void setIsMissing(bool missing);
    bool isSelected() const { return isSelected_.load(); }
    void setIsSelected(bool v) { isSelected_.store(v); }
    bool isCurrent() const { return isCurrent_.load(); }
    bool sentBecameAvailableMessage() const { return sentBecameAvailableMessage_.load(); }
    void setSentBecameAvailableMessage(bool v) { sentBecameAvailableMessage_.store(v); }
    bool shouldFillbuffersAfterRewind() const { return shouldFillbuffersAfterRewind_.load(); }
    void setShouldFillbuffersAfterRewind(bool v) { shouldFillbuffersAfterRewind_.store(v); }
    // The whole saved record of a cue whose media is missing, written back unchanged on save.
    QVariantMap dataForRestoreIfMissing() const { return dataForRestoreIfMissing_.load(); }
    void setDataForRestoreIfMissing(const QVariantMap& v) { dataForRestoreIfMissing_.store(v); }
    QVariantMap cachedRestoreData() const { return cachedRestoreData_.load(); }
    void setCachedRestoreData(const QVariantMap& v) { cachedRestoreData_.store(v); }

    // The cue's serial frame queue "com.dalvek.kavio.pixelbufferqueue"; lives as long as the cue.
    DispatchQueue& pixelBufferQueue() const { return *pixelBufferQueue_; }

    // --- Geometry and colour adjustments ---------------------------------------------------------
    // Each setter stores the value; unless the parameter's skip flag is set it sends the value
    // read back to "/kavio/<index>/<parameter>" as a float; it always clears the flag; and
    // unless a feedback resend is running (isProcessingOSCFeedbacks) it marks the project as
    // changed. The renderer reads the values at any time.
    //
    // Scales are offsets from 100 %: 0 = 100 %, -1 = 0 %, 1 = 200 %. Positions are fractions of
    // the render width and height. Colour values are offsets, 0 = unchanged. Volume is a linear
    // gain (1 = unchanged; may exceed 1 after loudness normalisation); setVolume() does not reach
    // the audio players by itself.
    float opacity() const { return opacity_.load(); }
    void setOpacity(float value);
    float brightness() const { return brightness_.load(); }
    void setBrightness(float value);
    float contrast() const { return contrast_.load(); }
    void setContrast(float value);
    float hue() const { return hue_.load(); }
    void setHue(float value);
    float saturation() const { return saturation_.load(); }
    void setSaturation(float value);
    float vibrance() const { return vibrance_.load(); }
    void setVibrance(float value);
    float volume() const { return volume_.load(); }
    void setVolume(float value);
    // While the scales are linked both setters send "/kavio/<index>/scale" with the horizontal
    // scale; otherwise each sends its own scaleH or scaleV. Neither changes the other scale.
    float geometryScaleH() const { return geometryScaleH_.load(); }
    void setGeometryScaleH(float value);
    float geometryScaleV() const { return geometryScaleV_.load(); }
    void setGeometryScaleV(float value);
    bool geometryScaleLink() const { return geometryScaleLink_.load(); }
    void setGeometryScaleLink(bool v) { geometryScaleLink_.store(v); }
    // In the unit the layer renderer takes.
    float geometryRotate() const { return geometryRotate_.load(); }
    void setGeometryRotate(float value);
    float geometryPosX() const { return geometryPosX_.load(); }
    void setGeometryPosX(float value);
    float geometryPosY() const { return geometryPosY_.load(); }
    void setGeometryPosY(float value);
    // Layer renderer codes: sizing mode and transform origin.
    std::int32_t geometryScaleMode() const { return geometryScaleMode_.load(); }
    void setGeometryScaleMode(std::int32_t v) { geometryScaleMode_.store(v); }
    std::int32_t geometryOrigin() const { return geometryOrigin_.load(); }
    void setGeometryOrigin(std::int32_t v) { geometryOrigin_.store(v); }
    // Stored in one piece. Each edge that differs from the stored one (left, right, top, bottom,
    // in that order) sends its own "/kavio/<index>/cropLeft" ... message unless its skip flag is
    // set, and clears that flag; an unchanged edge sends nothing and keeps its flag. The project
    // is marked as changed even when no edge changed.
    KavioGeometryCrop geometryCrop() const { return geometryCrop_.load(); }
    void setGeometryCrop(const KavioGeometryCrop& crop);

    // Read-outs for the inspector and OSC. The pixel values use the render size read afresh from
    // the controller, truncated to whole pixels; a zero render size gives 0 throughout.
    long geometryScaleHAsPercent() const;
    long geometryScaleVAsPercent() const;
    long geometryPosXAsPixels() const;
    long geometryPosYAsPixels() const;
    // x of the left crop edge.
    long geometryCropLeftAsPixels() const;
    // x of the right crop edge (the render width with no crop).
    long geometryCropRightAsPixels() const;
    // y of the top crop edge counted from the bottom (the render height with no crop).
    long geometryCropTopAsPixels() const;
    // y of the bottom crop edge.
    long geometryCropBottomAsPixels() const;
    // 20 log10(volume): 0 dB at 1, minus infinity at 0.
    float volumeAsDecibels() const;

    // --- OSC feedback ----------------------------------------------------------------------------
    // Resends the cue's state: the playback speed as an integer, then volume, opacity,
    // brightness, contrast, hue, saturation, vibrance, horizontal scale, X and Y position through
    // their setters, then the name. The skip flags of those parameters are cleared first (the
    // crop flags are left). Does not mark the project as changed. Handler of the default
    // centre's "processOSCFeedback".
    void sendOSCFeedback();
    // On only while sendOSCFeedback() runs.
    bool isProcessingOSCFeedbacks() const { return isProcessingOSCFeedbacks_.load(); }

    // A caller that applies a value received over OSC sets the parameter's flag first, so the
    // setter does not echo it; the setter clears it. The two scales share one flag.
    bool volumeFeedbackShouldSkip() const { return volumeFeedbackShouldSkip_.load(); }
    void setVolumeFeedbackShouldSkip(bool v) { volumeFeedbackShouldSkip_.store(v); }
    bool opacityFeedbackShouldSkip() const { return opacityFeedbackShouldSkip_.load(); }
    void setOpacityFeedbackShouldSkip(bool v) { opacityFeedbackShouldSkip_.store(v); }
    bool brightnessFeedbackShouldSkip() const { return brightnessFeedbackShouldSkip_.load(); }
    void setBrightnessFeedbackShouldSkip(bool v) { brightnessFeedbackShouldSkip_.store(v); }
    bool contrastFeedbackShouldSkip() const { return contrastFeedbackShouldSkip_.load(); }
    void setContrastFeedbackShouldSkip(bool v) { contrastFeedbackShouldSkip_.store(v); }
    bool hueFeedbackShouldSkip() const { return hueFeedbackShouldSkip_.load(); }
    void setHueFeedbackShouldSkip(bool v) { hueFeedbackShouldSkip_.store(v); }
    bool saturationFeedbackShouldSkip() const { return saturationFeedbackShouldSkip_.load(); }
    void setSaturationFeedbackShouldSkip(bool v) { saturationFeedbackShouldSkip_.store(v); }
    bool vibranceFeedbackShouldSkip() const { return vibranceFeedbackShouldSkip_.load(); }
    void setVibranceFeedbackShouldSkip(bool v) { vibranceFeedbackShouldSkip_.store(v); }
    bool scaleFeedbackShouldSkip() const { return scaleFeedbackShouldSkip_.load(); }
    void setScaleFeedbackShouldSkip(bool v) { scaleFeedbackShouldSkip_.store(v); }
    bool rotateFeedbackShouldSkip() const { return rotateFeedbackShouldSkip_.load(); }
    void setRotateFeedbackShouldSkip(bool v) { rotateFeedbackShouldSkip_.store(v); }
    bool posXFeedbackShouldSkip() const { return posXFeedbackShouldSkip_.load(); }
    void setPosXFeedbackShouldSkip(bool v) { posXFeedbackShouldSkip_.store(v); }
    bool posYFeedbackShouldSkip() const { return posYFeedbackShouldSkip_.load(); }
    void setPosYFeedbackShouldSkip(bool v) { posYFeedbackShouldSkip_.store(v); }
    bool cropTopFeedbackShouldSkip() const { return cropTopFeedbackShouldSkip_.load(); }
    void setCropTopFeedbackShouldSkip(bool v) { cropTopFeedbackShouldSkip_.store(v); }
    bool cropRightFeedbackShouldSkip() const { return cropRightFeedbackShouldSkip_.load(); }
    void setCropRightFeedbackShouldSkip(bool v) { cropRightFeedbackShouldSkip_.store(v); }
    bool cropBottomFeedbackShouldSkip() const { return cropBottomFeedbackShouldSkip_.load(); }
    void setCropBottomFeedbackShouldSkip(bool v) { cropBottomFeedbackShouldSkip_.store(v); }
    bool cropLeftFeedbackShouldSkip() const { return cropLeftFeedbackShouldSkip_.load(); }
    void setCropLeftFeedbackShouldSkip(bool v) { cropLeftFeedbackShouldSkip_.store(v); }

    // The prepared feedback messages, owned by the cue and re-addressed with the current index
    // before each send; nullptr before generalInit() made them.
    const QVTOSCMessage* cueNameMsg() const { return cueNameMsg_.get(); }
    const QVTOSCMessage* playbackSpeedMsg() const { return playbackSpeedMsg_.get(); }
    const QVTOSCMessage* volumeMsg() const { return volumeMsg_.get(); }
    const QVTOSCMessage* opacityMsg() const { return opacityMsg_.get(); }
    const QVTOSCMessage* brightnessMsg() const { return brightnessMsg_.get(); }
    const QVTOSCMessage* contrastMsg() const { return contrastMsg_.get(); }
    const QVTOSCMessage* hueMsg() const { return hueMsg_.get(); }
    const QVTOSCMessage* saturationMsg() const { return saturationMsg_.get(); }
    const QVTOSCMessage* vibranceMsg() const { return vibranceMsg_.get(); }
    const QVTOSCMessage* scaleMsg() const { return scaleMsg_.get(); }
    const QVTOSCMessage* scaleHMsg() const { return scaleHMsg_.get(); }
    const QVTOSCMessage* scaleVMsg() const { return scaleVMsg_.get(); }
    const QVTOSCMessage* rotateMsg() const { return rotateMsg_.get(); }
    const QVTOSCMessage* posXMsg() const { return posXMsg_.get(); }
    const QVTOSCMessage* posYMsg() const { return posYMsg_.get(); }
    const QVTOSCMessage* cropTopMsg() const { return cropTopMsg_.get(); }
    const QVTOSCMessage* cropRightMsg() const { return cropRightMsg_.get(); }
    const QVTOSCMessage* cropBottomMsg() const { return cropBottomMsg_.get(); }
    const QVTOSCMessage* cropLeftMsg() const { return cropLeftMsg_.get(); }

    // --- The row's toggles (main thread) --------------------------------------------------------
    KavioRowButton& soundButton() { return soundButton_; }
    KavioRowButton& fadeInButton() { return fadeInButton_; }
    KavioRowButton& fadeOutButton() { return fadeOutButton_; }
    KavioRowButton& transitionButton() { return transitionButton_; }
    KavioRowButton& loopButton() { return loopButton_; }
    KavioRowButton& pauseAtBeginningButton() { return pauseAtBeginningButton_; }
    KavioRowButton& pauseAtEndButton() { return pauseAtEndButton_; }
    // Starts disabled: there is no target yet.
    KavioRowButton& gotoButton() { return gotoButton_; }
    // The label that names the goto target; starts disabled and hidden.
    KavioRowButton& gotoTargetButton() { return gotoTargetButton_; }
    // Hidden while the tag is 0.
    const KavioRowButton& colorTagButton() const { return colorTagButton_; }
    // The box around the toggles: 34 points wider while the goto target label shows.
    QSizeF togglesBoxSize() const { return togglesBoxSize_; }
    void setTogglesBoxSize(const QSizeF& size) { togglesBoxSize_ = size; }

    // --- Audio player and recorded sources (main thread) ---------------------------------------
    // The audio player in use; nullptr while the cue has none. Read on any thread (the clock
    // thread hands its volume and mapping to the output streamers); set on the main thread.
    std::shared_ptr<KavioCueAudioPlayer> audioPlayer() const { return audioPlayer_.load(); }
    // Any player but the loop helper's also becomes the normal player.
    void setAudioPlayer(std::shared_ptr<KavioCueAudioPlayer> player)
    {
        if (!player || player != loopHelperAudioPlayer_)
            normalAudioPlayer_.store(player);
        audioPlayer_.store(std::move(player));
    }
    std::shared_ptr<KavioRecordedSource> browserSource() const { return browserSource_; }
    void setBrowserSource(std::shared_ptr<KavioRecordedSource> source) { browserSource_ = std::move(source); }
    std::shared_ptr<KavioRecordedSource> windowSource() const { return windowSource_; }
    void setWindowSource(std::shared_ptr<KavioRecordedSource> source) { windowSource_ = std::move(source); }

    // --- The record (main thread) ----------------------------------------------------------------
    // The cue's record: the only form in which a cue is stored, copied, duplicated or restored.
    // Numbers keep the widths files of the program have always had: qint32 for 32-bit integers,
    // float for single precision (the scale link too, as 0.0 or 1.0), qint64 and quint64 for
    // 64-bit values, bool for toggles. Media times ("_intime", "_outtime" of movie and audio
    // cues, "_thumbtime") are their 24-byte form and the crop ("geometrycrop") is four
    // little-endian floats top, right, bottom, left. The defaults of fade and transition length
    // are not written. Toggles of the row ("fadein", "fadeout", "gotoitemstate", "soundbutton")
    // are written from the buttons, the others from the cue's properties. A movie that still
    // keeps its record (its media is not ready yet) writes the kept volume, fade and sound
    // toggles and channel mapping, not the defaults it shows meanwhile.
    QVariantMap saveData() const;

    // Reading a record runs in stages; the controller's create request first chooses the
    // initialiser by "mediaType" and gives the cue its path, a fresh uid and an index.
    //
    // The file-cue initialiser's part, run right after generalInit() once the media path is set:
    // "_intime", "playbackrate" (stored as it stands, without re-timing), "isLooping" (on turns
    // looping on), and "bookmarkdata" only when no file exists at the media path.
    void applyImportantDataToRestoreOnInit(const QVariantMap& data);
    // Reads the rest of the record in a fixed order through the setters, so their side effects
    // run; keeps the record as cachedRestoreData(); validates the toggles; for every type but a
    // movie applies the kept record at once (applyCachedLoadData()); for a movie selects the
    // caption track; for a missing cue sets its transition time again; finally posts
    // "KavioItemBecameReady". An empty record does nothing.
    //
    // Older records load as they always did: an absent "stopatend" turns pause at end on only
    // while the controller says the project is an older one that asked for it; "geometryscale"
    // sets both scales while linked; a scale mode above 5 is divided by 10; "channelmap"
    // without "maxchannels" takes its last entry plus 1 as channel count; an absent image
    // adjustment ("opacity" ... "vibrance") or "duration" reads as 0; "cueid" keeps its first
    // six characters.
    //
    // A value of the wrong kind (a string for a number, a number for a string), a blob of the
    // wrong length, a NaN or infinity, a negative loop count other than the endless one, an
    // index or PDF page below 1, a playback rate or channel count below 1, a channel number or
    // count above 1024 (more than any device has), a negative fade or
    // transition length, an empty uid: that key is skipped (logged where the value is of the
    // wrong kind or range) and the cue keeps the value it had; the rest of the record loads.
    void loadWithData(const QVariantMap& data);
    // Applies what needs the loaded media (channel mapping, volume, the fade and sound toggles,
    // the web-page and window source settings), drops the kept record and recomputes the
    // players' volume. Nothing without a kept record. A movie runs it after its first preroll.
    void applyCachedLoadData();

    // The clipboard's summary: {"name": the custom title or else the default title,
    // "time": the unshifted start on the show clock in seconds, as a float}.
    QVariantMap sharedCueData() const;

    // --- Sync modes (any thread; the work runs on the main thread, asynchronously when called
    // from elsewhere) -----------------------------------------------------------------------------
    // Following external timecode: both pause buttons off and disabled; the pause properties keep
    // their values.
    void handleSwitchToSlaveMode();
    // Back on the own clock: the toggles are validated again, then video and audio prerolled at
    // the current time.
    void handleSwitchToStandaloneMode();

    // --- Goto target and next cue (main thread) -------------------------------------------------
    // The controller's cue whose uid is gotoItemUID(), resolved on every call; nullptr for none.
    std::shared_ptr<KavioVideoItem> gotoItem() const;
    // Stores the target and brings the goto toggle and label up to date. An empty value clears
    // the target: toggle and label off, disabled, the label emptied and hidden. Otherwise goto is
    // allowed unless the loop toggle is on with an endless count (or in a mixed state): allowed
    // enables toggle and label (states kept), not allowed disables and switches both off; then
    // the icon and label are refreshed and the label shown. When an existing target is replaced
    // by another while goto is enabled and on, posts "KavioCueOSCAddressSpaceChanged".
    void setGotoItemUID(const QString& uid);
    // The goto icon ("kavio_goto_down" for a target below this cue, else "kavio_goto_up") and
    // the label (the target's cue ID, or its index). A target that no longer exists is dropped,
    // except while a project loads (its cue may come later).
    void updateGotoItemIconAndButtonIfNeeded();
    // Re-creates the transition when the cue leads to its goto target with a transition; always
    // refreshes the transition icon.
    void updateTransitionOnGotoItemChangeIfNeeded();
    void hideGotoTargetButton();
    void showGotoTargetButton();
    // The context menu's "Select & Show Goto Target": asks the controller to select the cue the
    // label names.
    void selectAndShowGotoTarget();
    // The goto target while the goto toggle is enabled and on (nullptr when it no longer
    // resolves), else nextItem(). Any thread; takes no lock.
    std::shared_ptr<KavioVideoItem> nextItemToPlay() const;

    // --- Playback toggles (main thread) ------------------------------------------------------------
    // The row's toggle actions (buttons and context-menu entries): nothing while the toggle's
    // button is disabled; a menu entry flips the button first; an unselected cue becomes the only
    // selected one; then the controller applies the button's new state to every selected cue
    // (cueToggleChangedOnSelectedItems).
    void changeAudioOnSelectedItemsFromUI(KavioToggleSender sender);
    void changeFadeInOnSelectedItemsFromUI(KavioToggleSender sender);
    void changeFadeOutOnSelectedItemsFromUI(KavioToggleSender sender);
    void changePauseAtBeginningOnSelectedItemsFromUI(KavioToggleSender sender);
    void changePauseAtEndOnSelectedItemsFromUI(KavioToggleSender sender);
    void changeLoopOnSelectedItemsFromUI(KavioToggleSender sender);
    void changeTransitionOnSelectedItemsFromUI(KavioToggleSender sender);
    void changeGotoOnSelectedItemsFromUI(KavioToggleSender sender);
    // The per-cue operations: nothing while the button is disabled; otherwise the button takes
    // the state and the playback field follows (sound: the volume is recomputed when there is an
    // audio player; pauses: shouldStopAtBeginning / shouldStopAtEnd; loop: isLooping, and on a
    // change the loop helper and the controller's loopingTurnedOn/OffOnItem; transition:
    // hasTransition, and on a change setupTransition() and the controller's rebuild and
    // transition-change calls; goto: the transition rebuilt when on, the icon, the target label's
    // state and "KavioCueOSCAddressSpaceChanged"). All but the transition mark the project
    // changed.
    void changeAudioToState(bool state);
    void changeFadeInToState(bool state);
    void changeFadeOutToState(bool state);
    void changePauseAtBeginningToState(bool state);
    void changePauseAtEndToState(bool state);
    void changeLoopToState(bool state);
    void changeTransitionToState(bool state);
    void changeGotoToState(bool state);
    // The per-cue operation of a toggle code; other codes do nothing.
    void changeToggleToState(int code, bool state);

    // --- Steps of other concerns that the record and goto run ------------------------------------
    // Re-applies the rules between the loop, transition, goto and pause toggles: a cue that is its
    // own next cue has loop, transition, goto and both pauses off (all but goto disabled);
    // otherwise an endless loop and a transition exclude each other, looping excludes pause at
    // beginning, pause at end and a transition exclude each other, and pause at end goes with a
    // finite loop only. The buttons change; hasTransition follows through validateTransition().
    virtual void validateToggles();
    // Builds a fresh transition renderer for the render size, bit depth and transitionType() (the
    // old one's resources are removed), the loop-helper layer renderer when there is none, and
    // binds it (resetTransition).
    virtual void setupTransition();
    // Binds the renderer: source this cue, destination nextItemToPlay(), duration transitionTime().
    void resetTransition();
    // Observer of "KavioDefaultTransitionDurationChanged": a cue that follows the default takes
    // the user info's "KavioDefaultTransitionDuration" as its length.
    void changeDefaultTransitionDuration(const Notification& notification);
    // The transition toggle's icon: whole when the cue has a cue to play next, broken otherwise.
    virtual void updateTransitionIcon();
    // Recomputes the players' volume from the cue's volume, sound toggle and fades.
    virtual void volumeChanged();
    // Puts the audio players at the current position and, standalone, prerolls the movie player
    // there and refills the frame source (the current cue's on its pixelBufferQueue); inside
    // the transition to the next cue the next cue is filled too. `completed` (may be empty) runs
    // once all that is done, on the main queue, at once in the timecode-following modes or
    // without a movie player. Main thread.
    virtual void fillVideoAndAudioBuffersAtCurrentTimeWithCompletedHandler(std::function<void()> completed = {});
    // Redraws the row's title and reports the name (setCueName with title()).
    virtual void refreshTitle();

    // --- Creation and media loading ------------------------------------------------------------
    // The initialisers make a cue of one kind of source under `manager`, on the caller's thread
    // (the controller's, normally the main thread). The file initialiser answers nullptr when the
    // cue's row cannot be loaded. A movie is not ready when its initialiser returns: its "tracks"
    // and "status" steps are queued on the main queue and make it ready (or missing) later.
    // `restoreRecord` is the record the cue is restored from, or empty.
    static std::shared_ptr<KavioVideoItem> initWithMoviePath(
        const QString& path, const std::shared_ptr<KavioVideoItemManagerInterface>& manager,
        const QVariantMap& restoreRecord = {});
    static std::shared_ptr<KavioVideoItem> initWithCamera(
        const QString& deviceName, const std::shared_ptr<KavioVideoItemManagerInterface>& manager);
    static std::shared_ptr<KavioVideoItem> initWithSyphon(
        const QString& serverName, const std::shared_ptr<KavioVideoItemManagerInterface>& manager);
    static std::shared_ptr<KavioVideoItem> initWithNDI(
        const QString& sourceName, const std::shared_ptr<KavioVideoItemManagerInterface>& manager);
    static std::shared_ptr<KavioVideoItem> initWithBrowser(
        const QString& url, const std::shared_ptr<KavioVideoItemManagerInterface>& manager);
    static std::shared_ptr<KavioVideoItem> initWithWindow(
        const QString& windowName, const std::shared_ptr<KavioVideoItemManagerInterface>& manager);
    // The initialisers' steps on a cue that a std::shared_ptr already owns (the initialisers
    // above make a plain cue and run these; a subclass runs them on itself). initMovieCue answers
    // false where initWithMoviePath answers nullptr.
    bool initMovieCue(const QString& path, const std::shared_ptr<KavioVideoItemManagerInterface>& manager,
                      const QVariantMap& restoreRecord);
    void initLiveCue(KavioMediaType type, const QString& source,
                     const std::shared_ptr<KavioVideoItemManagerInterface>& manager);

    // Opens the movie: its asset, and a player decoding in the format chosen from the first video
    // track (decodeFormatWithFormatDescription). False for no asset, no tracks or no player (a
    // missing cue then); true with media type 10 and no player for a file holding only audio.
    bool loadMovieAtPath(const QString& path);
    // Decodes the picture of an image or of page pdfPage() of a PDF into stillPixelBuffer();
    // shows the size alert for a picture beyond 16384 pixels a side (unless the user default
    // "KavioSuppressionImageExceedsLimit" is on) and shrinks it to 16383. False when nothing
    // could be decoded (the old picture is gone then).
    bool loadStillAtPath(const QString& path);
    // An audio-only cue: its audio player (setupAudioWithFileURL) and a 320 x 240 transparent
    // picture. False only when no file is at the path; a file the player cannot read leaves the
    // cue missing.
    bool loadAudioAtPath(const QString& path);
    // The "tracks" step: movie sound plays only through the cue's own audio player, made here
    // when the cue has none.
    void handleTracksLoaded();
    // The "status" step: waits (on the main queue) for the first decoded frame; then runs the
    // ready-to-play analysis once, or, when decoding failed for good first, makes the cue missing
    // and drops its audio player.
    void observePlayerStatus();
    // The ready-to-play analysis of the movie's first video track (orientation, sizes, range,
    // alpha, fields, matrix, bit depth), then the first preparation and the layer renderer's
    // settings.
    void handleReadyToPlay();
    void handlePlayerFailed(const QString& reason);

    // Stores the value. The first time the cue is ready, posts "KavioItemBecameReady" (no
    // object) on the default centre; never again in the cue's life. Any thread.
    void setIsReady(bool ready);
    // The row's error button: shown while the cue is missing; a click runs replaceMedia(). It
    // draws in the warning colour once the cue was missing.
    const KavioRowButton& errorButton() const { return errorButton_; }
    std::optional<KavioColor> errorButtonDrawColor() const { return errorButtonDrawColor_; }
    bool isAudioMeterHidden() const { return audioMeterHidden_; }
    // The error button's action: marks the project changed and asks the controller to replace
    // the media of a movie, still or audio cue. Main thread.
    void replaceMedia();

    // --- Context actions and release (main thread) -------------------------------------------
    // The list actions act on the controller's selection: cut, copy, paste, duplicate, delete.
    void cutSelf();
    void copySelf();
    void pasteSelf();
    void duplicateSelf();
    void deleteSelf();
    // The clipboard then holds only plain text: the display title (the default title when it is
    // empty), or the cue ID (the index when there is none).
    void copyNameToClipboard();
    void copyCueIDToClipboard();
    // Loop, both pauses and goto off, the transition on, then the controller clones the cue
    // (makeSeamlessLoopOfItem).
    void makeSeamlessLoop();
    // Lets go of everything the cue holds before the controller drops it: players, frame
    // sources, renderers, live sources, observers, OSC addresses, links and the controller; sends
    // the name to "/kavio/<index>/deleted" first; afterwards no feedback leaves the cue. Safe to
    // call twice and on a cue whose media never loaded. The caption readers and the queues stay.
    void removeResources();

    // --- Context menu, colour tags and media path (main thread) --------------------------------
    // The row's context menu, built afresh at each call; the caller owns it. Its entries act on
    // this cue or on the selected cues through the controller; the "Color Tag" entry holds the
    // colour-tag strip, which applies the tag to the selected cues.
    std::unique_ptr<QMenu> rightClickMenu();
    // Gives every selected cue the tag and marks the project changed when a tag changed. Posts
    // "KavioColorTagsShouldToggle" with "KavioColorTagsToggleDesiredState" YES when the first
    // tag of the list was given, NO when the last one was cleared.
    void handleColorTagSwitchTo(std::int32_t tag);
    // The same for this cue alone (the inspector's undoable step, whose undo gives every cue its
    // own tag back).
    void handleOwnColorTagSwitchTo(std::int32_t tag);
    // resolvedPathForPath() of the media path.
    QString resolvedMediaPath() const;
    // Shows the media file in the desktop's file manager; nothing for a live source or a file
    // that is missing.
    void showInFinder() const;
    // The context menu's transcode entries: ProRes (10) or Hap (20) for the selected cues.
    void transcodeVideo(int codec);
    // Whether Ctrl (the original's Command key) is held now.
    static bool cmdState();

    // The movie's asset (nullptr for other cues) and its players. The normal player is owned by
    // the cue; videoPlayer() is the one in use (the loop helper's while it plays). Main thread.
    std::shared_ptr<const MediaAsset> asset() const { return asset_; }
    MediaPlayer* normalVideoPlayer() const { return normalVideoPlayer_.get(); }
    MediaPlayer* loopHelperVideoPlayer() const { return loopHelperVideoPlayer_.get(); }
    MediaPlayer* videoPlayer() const { return playerSet_.load().player.get(); }
    std::shared_ptr<KavioCueAudioPlayer> loopHelperAudioPlayer() const { return loopHelperAudioPlayer_; }
    // The one picture of a still, PDF page or audio-only cue; nullptr for none. Any thread.
    std::shared_ptr<const VideoFrame> stillPixelBuffer() const { return stillPixelBuffer_.load(); }
    // Made by the first movie load; nullptr before. Caption reading runs on it.
    DispatchQueue* captionQueue() const { return captionQueue_.get(); }
    // What the layer renderer is to be made with; empty until a load or initialiser set it.
    std::optional<KavioLayerRendererSettings> layerRendererSettings() const { return layerRendererSettings_; }
    // Seconds of the movie's asset; 0 without one. Any thread.
    double itemAssetDuration() const { return assetDuration_.load(); }
    // The pixel format movie frames are decoded in (a four-character code).
    std::uint32_t videoPixelFormat() const { return videoPixelFormat_; }

    // Steps owned by other concerns, run by the loading above.
    // Loads the cue's row; false when it cannot be loaded.
    virtual bool loadNib();
    // Makes the cue's audio player for the file (an empty path: the live player).
    virtual void setupAudioWithFileURL(const QString& path);
    // An audio player for the cue with the audio output's settings: for an empty path a live
    // player with `deviceChannels` channels, else a file player over `path`; nullptr when none
    // can be made. The loop helper makes its second player with it.
    virtual std::shared_ptr<KavioCueAudioPlayer> makeAudioPlayer(const QString& path, int deviceChannels);
    virtual void searchForCaptions();
    virtual void generateThumbnailAsync();
    // First preparation of a loaded movie (nothing once ready): loop counter 0, start and end
    // rebuilt, the audio player at the in point, the movie player sought there exactly and
    // prerolled; then the frame source filled, the kept record applied, ready (even after a
    // failed preroll, with preloadedTime() indefinite) and the loop helper built when looping.
    // Main thread; the completions hold the cue weakly.
    virtual void rewindAndPrerollWhenNotIsReady();
    // Attaches the cue's frame source to the movie player; false when it cannot be made.
    virtual bool setupVideoOutputForItem();
    // The time of `source` moved other than by playing (nullptr: the cue's own seek of a cue
    // without a movie player). A source other than the player in use, and a movie still loading,
    // are ignored. Following timecode it only reports the jump; standalone it re-aims a next cue
    // (seek inside the transition, else rewind it unless it stands rewound and prerolled), stops
    // the audio player, refills the buffers (unless the marker is dragged) and then reports
    // timeJumpedOnItem to the controller, while reports are allowed. From another thread it
    // runs synchronously on the main queue.
    virtual void timeJumped(const MediaPlayer* source = nullptr);
    // Marks the cue not playing; a playing cue pauses its movie player (media present) and stops
    // both audio players, and with `preroll` prerolls video and audio at the paused position,
    // so preloadedTime() holds it and the next start shows the paused frame first. A cue that
    // was not playing changes no player. From another thread it runs synchronously on the main
    // queue (the caller waits).
    virtual void pausePlayersWithPreroll(bool preroll);
    // The live sources' starts, switches and source-list handlers (KavioVideoItem+LiveSources).
    // A start never fails: a source that cannot be found leaves the cue missing. A switch makes
    // the cue not ready until it ends, missing or not. Main thread.
    virtual void startCameraWithName(const QString& name, const QString& deviceUID);
    // Capture cues only: leaves the old device and starts the new one.
    void switchCameraTo(const QString& name, const QString& deviceUID);
    // Observer of "KavioCameraSourcesChanged": the missing flag follows the camera manager.
    void cameraSourcesChanged();
    // A capture cue made current makes its device the camera manager's current device.
    void liveSourceMarkedCurrent();
    // Leaves the camera manager and drops the cue's source objects (removeResources).
    void releaseLiveSources();
    // Window cues: the window titled `name` ("%@ / %@" of owner and window name) gets a new
    // source that keeps the old one's cursor setting and renders at once.
    void switchWindowSourceTo(const QString& name);
    // Observer of "KavioWindowSourcesChangedNotification": a renamed window is followed by its
    // id; a window gone makes the cue missing and drops its source; one back restarts it.
    void windowSourcesChanged();
    // The window source's cursor setting; false without a source.
    void setWindowSourceShowCursor(bool showCursor);
    bool windowSourceShowCursor() const;
    // Web-page cues: mediaPath takes the URL and the existing source loads it.
    void switchBrowserTo(const QString& url);
    // Frame-sharing cues: `name` is "<application> - <server>" (split at the first " - "); the
    // first server of the directory that matches gets a new client, else the cue is missing.
    void switchSyphonTo(const QString& name);
    // Observer of the directory's announce and retire: a missing cue whose server is announced
    // connects again; one whose server retires is missing and drops its client.
    void syphonSourcesChanged(const Notification& notification);
    // NDI cues: the live audio player and the receiver are remade for the source of that exact
    // name; without one the cue is missing.
    void switchNDITo(const QString& name);
    // Observer of "kQVTNDISourcesChangedNotification": a missing cue whose source is listed
    // connects; a connected cue whose source is no longer listed becomes missing.
    void ndiSourcesChanged(const Notification& notification);
    virtual void startSyphonWithName(const QString& name);
    virtual void startNDIWithName(const QString& name);
    virtual void startBrowserWithURL(const QString& url);
    virtual void startWindowSourceWithName(const QString& name);
    virtual void liveSourcesChanged(const Notification& notification);

    // --- Media facts and times at speed -------------------------------------------------------
    // Frames per second of the movie's first video track; 0 when missing or not a movie.
    float videoFPS() const;
    // "-" for cues other than movies and capture devices, else videoFPS() as "%g".
    QString videoFPSString() const;
    // 60000 for cues other than movies and capture devices, else videoFPS() x 1000 truncated.
    long fpsForNDIOutput() const;
    // "<video> / <audio> " for the inspector; "-" when missing or nothing is known.
    QString codecString() const;
    // Codec name of a track's subtype; "Unknown" for none or an unknown one.
    QString codecWithFormatDescription(const MediaTrack* track) const;
    // Pixel format (four-character code) to decode a video track in; sets isYUV and, for ProRes,
    // isProRes.
    std::uint32_t decodeFormatWithFormatDescription(const MediaTrack* track);
    std::uint32_t defaultDecodeFormatYUV() const;
    std::uint32_t defaultDecodeFormatRGB() const;
    // "-" for audio only, else the source size as "%.0f x %.0f".
    QString videoDimensions() const;
    // The whole media length at speed as "MM:SS.mmm".
    QString videoDurationString() const;
    // getGoodDuration() as SMPTE; "00:00:00:00" without a master clock.
    QString videoTRTSMPTE() const;
    double videoTRT() const;
    // getGoodDuration() + the in and out points at speed: the whole media length at speed.
    double videoDuration() const;
    MediaTime videoDurationCMTime() const;
    MediaTime absoluteEndCMTime() const;
    MediaTime inTimeAtCurrentPlaybackSpeed() const;
    MediaTime outTimeAtCurrentPlaybackSpeed() const;
    void setInTimeAtCurrentPlaybackSpeed(const MediaTime& time);
    void setOutTimeAtCurrentPlaybackSpeed(const MediaTime& time);
    // The out point on the media's time line at speed.
    MediaTime endCMTime() const;
    std::int64_t inTimeFramesForDisplay() const;
    std::int64_t outTimeFramesForDisplay() const;
    // The cue time: currentCMTimeWithEffectivePlaybackRate(true). Any thread.
    virtual MediaTime currentCMTime() const;
    MediaTime absoluteCurrentCMTime() const;
    MediaTime absoluteCurrentCMTimeAtCurrentRate() const;
    // The in point was edited: a looping cue whose loop helper is prerolled (canLoop()) sets the
    // idle set's audio player to the new in point and parks its movie player there, prerolled,
    // its frame source refilled; the set in use stays where it plays. Main thread.
    void handleInTimeChange();
    // The current audio player's realChannels(); 0 without one.
    int audioChannels() const;

    // --- Timing on the timecode line ------------------------------------------------------------
    // Every SMPTE step goes through the controller's master clock; without one the times are
    // left as they are. Run on the caller's thread (main, or the clock thread for a loop pass).
    // The cue's length on the line in seconds: media minus in and out, at speed, auto-aligned.
    double getGoodDuration() const;
    std::uint64_t itemDurationFrames() const;
    // Start and end from itemStartCMTime (the first cue of the list).
    virtual void setupSMPTEStartAndEndTimes();
    // Start and end from a start frame (every following cue); originalItemStartSMPTETime is
    // the caller's.
    virtual void setupSMPTEEndTimeWithStartFrames(std::int64_t startFrames);
    // The end after one more completed loop pass.
    void setupNewSMPTEEndTimeAfterLooping();
    // Moves the end one frame back (never below frame 0).
    void handleZeroFrameOnSMPTEEndTime();
    // An end equal to the start becomes the start plus one frame.
    void safetySMPTEChecks();
    // Back to the first pass's start, then setupSMPTEEndTimeWithStartFrames.
    virtual void rebuildStartAndEndTime();
    // A new speed in percent: re-times the cue and its players. 0 or less is refused (logged,
    // speed kept). `completed` (may be empty) runs once the players are refilled, at once when
    // nothing changed.
    void setPlaybackRatePercent(std::int64_t percent, std::function<void()> completed = {});
    // Refreshes rowTimes() on the main queue (inline on the main thread).
    void displayItemTimes();
    const KavioRowTimes& rowTimes() const { return rowTimes_; }

    // --- File bookmark and watch (main thread) ---------------------------------------------------
    // Bookmark of the file at mediaPath(); emptied when bookmarking fails.
    void bookmarkMediaPath();
    // Bookmarks, registers for path changes and watches the open file for deletion.
    void startWatcher();
    // Ends the file watch, releasing the players.
    void stopWatcher();
    void startWatchForPatchChange();
    // Follows a moved file through the bookmark, or makes the cue missing when it is gone.
    void handleFileRemoved();
    bool isWatchingFile() const;

    // --- Pictures the transition renderer reads (render thread) ---------------------------------
    // The cue's picture of this frame: the normal layer renderer's texture (cleared first while
    // the renderer reports it blank); nullptr before the first render.
    virtual std::shared_ptr<GpuTexture> displayTexture() const;
    // The loop-helper side's picture, which a cue crossing into its own next pass shows.
    virtual std::shared_ptr<GpuTexture> helperTexture() const;

    // --- What the frame composition calls on a cue (render thread unless said) ------------------
    // The cue's current frame, or nullptr while none is available; dropping it releases it.
    // Called inside a synchronous block on pixelBufferQueue(), where the frame source writes too.
    // Movie: the read-ahead ring at exactly 100 % on the own clock while the marker is not
    // dragged, else a direct read, at the player's time (the other player's ring while
    // shouldOperateWithTransitionHelper()); capture device: the camera manager's newest frame
    // ('v210' under high-bit-depth rendering unless a DeckLink device; a frame that cannot be
    // converted is dropped); NDI: the receiver's frame, taken on the NDI queue; still and audio:
    // the still. Missing cues and live cues without a frame set the source size to 1 x 1.
    virtual std::shared_ptr<const VideoFrame> pixelBufferCopy();
    // The current frame of a Hap movie, a frame-sharing, a web-page and a window source; nullptr
    // for none. The frame-sharing texture sets the source size.
    virtual std::shared_ptr<GpuTexture> hapTexture();
    virtual std::shared_ptr<GpuTexture> syphonSourceTexture();
    virtual std::shared_ptr<GpuTexture> browserSourceTexture();
    virtual std::shared_ptr<GpuTexture> windowSourceTexture();
    // The Hap frame's size in powers of two; sourceSize() while the media is missing.
    QSizeF hapTextureSize() const;
    // Draws the source picture through the cue's layer renderer (the helper's while
    // shouldOperateWithTransitionHelper()) with the cue's geometry, colour and opacity x fade x
    // master fader, encoding into the frame's command buffer. Both layer renderers are made on
    // the first picture and remade when the cue's YUV flag differs from theirs or a deinterlace
    // change asked for it. Nothing for nullptr.
    virtual void renderLayerControlsWithMTLTexture(const std::shared_ptr<GpuTexture>& texture);
    // The same for a movie frame given as its decoder's planes (KavioFrameSlots::uploadPlanes):
    // the renderer converts them with their own matrix and range. Nothing without a luma plane.
    virtual void renderLayerControlsWithPlanes(const QVTPlaneTextures& planes);
    // The layer renderers of the normal (A) and the loop-helper (B) side; nullptr before they
    // are made.
    std::shared_ptr<QVTMetalLayerRendererInterface> metalRenderer() const;
    std::shared_ptr<QVTMetalLayerRendererInterface> metalRendererHelper() const;
    // The frame sources of the normal and the loop-helper player and the one in use; nullptr
    // before the movie is ready.
    KavioPlayerItemVideoOutput* normalVideoOutput() const { return normalVideoOutput_.get(); }
    KavioPlayerItemVideoOutput* loopHelperVideoOutput() const { return loopHelperVideoOutput_.get(); }
    KavioPlayerItemVideoOutput* videoOutput() const { return playerSet_.load().output.get(); }

    // --- Live sources and the render size -------------------------------------------------------
    // The NDI receiver, replaced on the cue's NDI queue "com.dalvek.kavio.ndisource" (made on
    // first use); startNDIWithName and switchNDITo make it from the NDI directory.
    void setNDIReceiver(std::shared_ptr<KavioNDIReceiverInterface> receiver);
    // The frame-sharing client; startSyphonWithName and switchSyphonTo make it from the
    // frame-sharing directory.
    void setSyphonClient(std::shared_ptr<KavioTextureSourceInterface> client) { syphonClient_.store(std::move(client)); }
    // Observer of "KavioRenderSizeChanged": the web-page source and both layer renderers take the
    // controller's render size and the cue's pixel-valued OSC addresses ("/kavio/<cue ID or
    // index>/posXAsPixels" ...) their ranges. A size of 0 or above 16384 is ignored (logged).
    void renderSizeChanged();
    // Observer of "KavioDeinterlaceStateChanged": an interlaced cue remakes its layer renderers at
    // the next render.
    void deinterlaceModeChanged();
    // The web-page source's settings, passed through; without such a source the setters do
    // nothing and the getters answer empty, false, 0 and nullptr. A new multiplier resizes the
    // page capture at once.
    QString browserCustomCSS() const;
    void setBrowserCustomCSS(const QString& css);
    bool browserNeedsOnloadOnPause() const;
    void setBrowserNeedsUnloadOnPause(bool unload);
    std::int32_t browserRenderSizeMultiplierTag() const;
    void setBrowserRenderSizeMultiplierTag(std::int32_t tag);
    QWindow* browserWindow() const;
    void putBrowserWindowToSafeArea();
    // After a project load: the page source takes the render size; a cue that is not current
    // unloads its page (when it unloads on pause) or stops rendering.
    void handleBrowserSourceAfterLoading();
    // The renderer of the cue's transition into nextItemToPlay() (this cue its source), or
    // nullptr before setupTransition(). Replaced whole by setupTransition(): a reader holds the
    // old renderer or the new one.
    virtual std::shared_ptr<KavioMetalTransitionRendererInterface> transition() const;
    // How far the cue's own transition has run: (current time - (itemDuration() -
    // transitionTime())) / transitionTime(), 0 at least and without upper bound; 1.0 while the
    // cue pauses at its end and the clock stands on its end frame; 0 without a renderer or for
    // a length of 0.
    virtual double transitionProgress() const;
    // The same in seconds; 0 without a renderer or while isProcessingTransition() is false.
    double transitionProgressInSeconds() const;
    // Once per rendered frame, for every cue (the composition's items queue): the fade levels
    // from the cue's position (each frame starts from 1.0; the fade-out wins where both apply)
    // and the volume they give, an NDI cue's newest audio (on its NDI queue) and the web-page
    // and window sources' frame rate.
    virtual void processTasksOnDisplayLink();
    // fadeOpacity rises from 0 to opacity() over the fade time from the cue's start; position 0
    // is black for any fade time.
    void processFadeIn();
    // fadeOpacity falls from 1.0 to 0 over the last fade time, regardless of opacity(); 0 while
    // the master clock stands on the cue's end time.
    void processFadeOut();
    // Live audio pushed to the current audio player; dropped without one. The source's thread.
    virtual void receivedAudioPCMBuffer(const std::shared_ptr<const PcmBuffer>& buffer);
    // The row's current-state indicator slides off (the outgoing cue) or on (the incoming cue)
    // from direction 20 (down the list) or 10 (up) by a transition's progress 0..1. Any thread:
    // the row moves on the main queue.
    virtual void animateCurrentStateOffFromDirection(int direction, float progress);
    virtual void animateCurrentStateOnFromDirection(int direction, float progress);
    // The caption to show now on the preview and on the outputs, or nullptr: none between
    // captions, without a track, and while the controller mixes two cues. The lookup time is
    // the cue's media time at its speed less the caption delay. Any thread: the readers are
    // replaced and queried only on the caption queue.
    virtual std::shared_ptr<QVTCaption> currentCaptionPreview();
    virtual std::shared_ptr<QVTCaption> currentCaptionOutput();

    // --- Timeline steps the controller calls -----------------------------------------------------
    // Applies the length limits again (setTransitionTime with the current length), then switches
    // the transition off when its length exceeds itemDuration() (the toggle keeps its state), else
    // takes the transition toggle's state (on the main queue when called elsewhere).
    virtual void validateTransition();
    // Prepares seamless looping for a cue that plays to itself.
    virtual void setupLoopHelper();
    // Lets the cue report its time jumps to the controller again (timeJumpedOnItem) until the
    // next startPlayers(). Any thread.
    virtual void allowTimeChangedNotifications();
    // The position bar's figures in frames of the composition: where the transition starts
    // (4294967295 for none) and the playhead.
    virtual std::int64_t transitionStartTimeFrames() const;
    virtual std::int64_t currentPlayhead() const;
    // Transition state the current cue's row follows. isProcessingTransition: the master clock
    // stands inside this cue's transition (never on a loop pass before the last, never without
    // the toggle, a renderer or a next cue; during a global transition only until the next cue's
    // start). isProcessingTransitionToNextCueAtCurrentTime: the current cue's own playhead lies
    // inside the transition and the next cue is not playing yet.
    virtual bool isProcessingTransition() const;
    virtual bool isProcessingTransitionToNextCueAtCurrentTime() const;
    // `smpte` lies before this cue's start and at or after nextItemToPlay()'s: a next cue that
    // lies earlier on the line.
    bool shouldHandleSpecialCaseWithLoopingAndTransitionAtTime(const QString& smpte) const;
    // The row's audio meter shows the cue's present level.
    virtual void updateAudioMeter();

    // --- Position, seeking and rewinding -------------------------------------------------------
    // Three measures: media time (the movie player's), time at the current speed (media time /
    // playbackRate()) and cue time ((media time - inTime) / playbackRate(), 0 at the in point).
    // rewind() = rewindWithRebuildStartAndEndTimes(true). Back to the in point: loop counter 0,
    // start and end rebuilt when asked, a playing audio player stopped, the movie player sought
    // to the in point, or, when it stands there already, the audio players set there and the
    // controller told at once. Nothing while not ready. From another thread it runs
    // synchronously on the main queue.
    virtual void rewind();
    void rewindWithRebuildStartAndEndTimes(bool rebuild);
    // Seeks to an SMPTE text read as a time at the current speed.
    void seekToSMPTETime(const QString& smpte);
    // Seeks to `time` at the current speed: the target media time is time x playbackRate() at
    // timescale 600 (below 0: 0; past the movie's end: its end); a non-finite time is refused
    // (logged). Sets the non-movie time; moves the audio player of an audio-only cue (of any cue
    // following timecode) unless the target lies at or past its duration; seeks the movie player
    // frame-exact unless it stands at the target already, pausing it, cancelling pending seeks,
    // with isSeeking() until the completion and preloadedTime() indefinite. A cue without a movie
    // player (or with its media missing) reports the jump through timeJumped() when standalone.
    // Starts nothing. The caller's thread; the completion runs on the main queue.
    void seekToCMTime(const MediaTime& time);
    // The position since the in point: raw (the movie player's time, a timescale of 1 read as
    // 600; the non-movie time for types 0 without a player, 1 to 6 and 10; zero otherwise) less
    // inTime, divided by the speed when `effective` and the speed is not 100 % (then at
    // timescale 600; at 100 % the difference is exact). Any thread.
    MediaTime currentCMTimeWithEffectivePlaybackRate(bool effective) const;
    // Media seconds where `player` should stand: the current media time for the audio player in
    // use, the in point for the idle one.
    double currentTimeForAudioWithPlayer(const KavioCueAudioPlayer* player) const;
    // The movie's asset while the cue has a movie player, else nullptr.
    std::shared_ptr<const MediaAsset> itemAsset() const;
    // currentCMTime() as the clock's SMPTE text ("00:00:00:00" without a clock).
    virtual QString currentTimeSMPTE() const;
    // "-" and the SMPTE text of itemDuration() - currentCMTime(); "-00:00:00:00" while not ready.
    virtual QString timeLeftSMPTE() const;
    // The time left on the frame grid, less the transition when the cue has one (never below 0).
    double timeLeftUntilEndOrTransition() const;
    // loopCounter() x itemDuration(), multiplied in double precision, at timescale 600.
    MediaTime loopedCMTime() const;
    // The tick's step for cues without a media clock; also advances the next cue's non-movie
    // time while it plays in this cue's transition (into the first cue of the list always, into
    // others only outside a global transition). Clock thread or main thread.
    virtual void increaseTimeForNonMovies(double seconds);
    void increaseTimeForNonMoviesNonRecursively(double seconds);
    // Sets both audio players (each that exists) to media time `seconds`. Main thread.
    void setCurrentTimeOnAudioPlayers(double seconds);

    // --- Preroll, start and pause (main thread unless said) ----------------------------------------
    // Both audio players at the current media time, or, while looping, the one in use there and
    // the idle one at the in point.
    void prerollAudioAtCurrentTime();
    // Prerolls the movie player at the current position. `completed` (may be empty) gets true
    // 1/60 s after a successful preroll, on the main queue (preloadedTime() is then that
    // position), true at once without a movie player, false at once when the cue is not ready or
    // is prerolled there already, false when the preroll fails (preloadedTime() indefinite).
    void prerollVideoAtCurrentTimeWithCompletedHandler(std::function<void(bool prerolled)> completed = {});
    // Parks `player` at the in point, frame-exact, and prerolls it; then `completed` (may be
    // empty), also after a failure. Nothing without a player.
    void prerollVideoPlayer(MediaPlayer* player, std::function<void()> completed = {});
    // The cue time lies before the in point or past the out point. Any thread.
    virtual bool needsRewindBeforeStartPlayback() const;
    // The cue stands at its in point and was prerolled there. Any thread.
    bool itemIsRewindedAndPreloaded() const;
    // A web-page or window-capture cue lets its source render; others nothing.
    virtual void shouldStartRenderItemIfNotFileBased();
    // Marks the cue playing and starts its players from where they stand ("play now"): fade 1
    // unless fade-in is on, time-jump reports off, the next cue started first inside a
    // transition, the idle player of a looping cue parked at the in point unless it stands
    // there, audio fade 1 and the volume (unless a global transition runs), start time back to
    // the unshifted one when not looping, preloadedTime() indefinite. A cue whose media is
    // missing starts no player. From another thread it runs synchronously on the main queue.
    virtual void startPlayers();
    // The time jumps are reported to the controller.
    bool shouldForwardTimeJumpedMessages() const { return shouldforwardtimejumpedmessages_.load(); }

    // --- Frame-source steps the transport calls ---------------------------------------------------
    // The frame source of `player` (given this cue as its item) refills its read-ahead from
    // `time`; nothing for a player that is not the cue's.
    virtual void fillVideoOutputOfPlayerFromCMTime(MediaPlayer& player, const MediaTime& time);
    // The current frame source repairs its read-ahead after a pause.
    virtual void fillVideoOutputAfterPauseIfNeeded();

    // --- Clock-driven sequencing: what the controller's tick and clock handlers call ----------
    // Any thread unless said: the tick runs on the clock thread (internal clock) or the main
    // thread (following timecode).
    // Marks the cue current or not; the row's title follows on the main queue.
    void markAsCurrent(bool current);
    // The camera cue that plays next is marked secondary; its device becomes the camera
    // manager's secondary device.
    void setIsSecondaryCamera(bool secondary);
    // Where on the line the transition of the current pass starts; "" without a transition.
    virtual QString transitionStartSMPTETime() const;
    // The current audio player's channel mapping; empty without a player.
    QList<int> channelMapping() const;
    // The current audio player's volume; 0 without a player.
    float audioPlayerVolume() const;
    // Loop decisions: another pass follows this one; this is the last pass of a looping cue;
    // a loop was taken since the last rewind. A loop count below 1 counts as 1 (one pass): a
    // negative count must never loop for ever.
    bool shouldLoop() const
    {
        return loopCount() == KavioLoopCountEndless || loopCounter() + 1 < std::uint64_t(effectiveLoopCount());
    }
    bool isLastLoop() const
    {
        return isLooping() && loopCount() != KavioLoopCountEndless &&
               loopCounter() == std::uint64_t(effectiveLoopCount() - 1);
    }
    bool wasLooping() const { return loopCounter() != 0; }
    // One more pass, from the clock thread (or the main thread): counts it, swaps the player
    // sets, goes back to the in point, stretches the end by one duration, undoes a fade-out and
    // starts the new set. The swap and the start run synchronously on the main queue.
    virtual void handleLooping();
    // Swaps the video sets (when the helper is ready, canLoop()) and the audio players. From
    // another thread it runs synchronously on the main queue. With no loop-helper audio player
    // the normal one stays current, stopped and set to the in point, for startPlayers() to
    // restart.
    virtual void switchPlayersOnLoop();
    // The row's open-file button: disabled once playback started, enabled after a stop (unless
    // the controller is about to start or is processing a jump). Any thread.
    virtual void setUIStateAfterPlayback();
    virtual void setUIStateAfterStop();
    // The loop-helper set. Main thread.
    // Takes the loop helper down (resource release): its players stop, its frame source goes;
    // the helper video player stays referenced until the cue goes.
    void removeLoopHelper();
    // The row's open-file button.
    const KavioRowButton& openButton() const { return openButton_; }

    // --- Cue audio: its player, delay, live buffers, normalising and waveform ------------------
    // The waveform image, one lane per played channel, channel 0 on top.
    static constexpr int kWaveformWidth = 1200;
    static constexpr int kWaveformHeight = 84;
    // The normal audio player: the one setAudioPlayer() last gave other than the loop helper's,
    // made by setupAudioWithFileURL (audioPlayer() is it, or the loop helper's).
    std::shared_ptr<KavioCueAudioPlayer> normalAudioPlayer() const { return normalAudioPlayer_.load(); }
    void setNormalAudioPlayer(std::shared_ptr<KavioCueAudioPlayer> player) { normalAudioPlayer_.store(std::move(player)); }
    // Looping cues' second player (the loop helper makes it).
    void setLoopHelperAudioPlayer(std::shared_ptr<KavioCueAudioPlayer> player) { loopHelperAudioPlayer_ = std::move(player); }
    // The level meter is re-made for this many channels (0 before the first player).
    int audioMeterChannels() const { return audioMeterChannels_; }
    // Stops and releases the current player, clears the row's error button (main queue), then
    // sets the audio up again from `path`. Main thread.
    void replaceAudioWithFileURL(const QString& path);
    // Asks the controller to transcode the cue's audio to audioTranscodeURL().
    void transcodeAudio();
    // <transcoded folder>/<file name without extension>-<short date of the file>.m4a; the
    // date's "/", "\" and ":" become "-" so the name stays one file.
    QString audioTranscodeURL() const;
    // "KavioAudioDelayChanged": the current player takes the output's delay, paused and
    // restarted around it when playing.
    void audioDelayChanged();
    // A live buffer for the current player; dropped without one. The source's thread.
    // Sets the cue volume to bring the analysed level to -18 dBFS (analysing first when no
    // analysis exists; a request while one runs is dropped). Main thread.
    void normalizeAudioVolume();
    // The row's menu entry: selects the cue when needed and has the selected cues normalised.
    void normalizeAudioOnSelectedItemsFromUI();
    // Starts a new analysis of the media file on the waveform queue; its end draws the
    // waveform (and normalises when asked). Main thread.
    virtual void generateAudioWaveform();
    // Draws audioWaveform() from the finished analysis. Main thread.
    void drawAudioWaveform();
    // Buckets per second for the cue's length: 160, 100, 60 or 30.
    float waveformBucketResolution() const;
    // One lane of `size` from `length` peaks; nullptr for no peaks, a player without length
    // or a cancelled analysis.
    std::shared_ptr<QImage> waveformFromPeaks(const float* peaks, uint32_t length, QSizeF size) const;
    // nullptr while none is drawn. Any thread.
    std::shared_ptr<const QImage> audioWaveform() const { return audioWaveform_.load(); }
    // The running or finished analysis; nullptr once drawn or cancelled.
    std::shared_ptr<AudioAnalyzer> analyzer() const { return analyzer_.load(); }

    // --- Cue audio routing and volume -----------------------------------------------------------
    // "KavioAudioChannelsChanged" with its user info: default-routed players take the mapping
    // under "KavioAudioChannelMapping"; the volume, meter and (on a channel or down-mix change)
    // the waveform follow.
    void audioChannelsChanged(const QVariantMap& userInfo);
    // "KavioAudioRoutingChanged".
    void audioOutputRoutingChangedGlobally();
    // The output's mapping for the players of a default-routed cue.
    void setPlayersToDefaultChannelMapping();
    // `mapping` for both players, over the output's channel count.
    void setChannelMappingForPlayers(const QList<int>& mapping);

    // --- The cue's row (KavioVideoItem+Row.cpp; main thread unless said) ----------------------
    // The row view; nullptr before loadNib() or without a widget application (headless runs).
    // A row in the cue list gets its subviews only when it comes near the list's visible part;
    // other rows get them in loadNib().
    KavioVideoItemView* view() const;
    // The row once its subviews are made; nullptr before.
    KavioVideoItemView* filledRow() const;
    // Makes the row's subviews showing the cue as it is now; nothing when made already.
    void buildRowSubviews();
    // Presents the toggles' KavioRowButton states on the row's buttons; the cue calls it after
    // each change.
    void refreshRowButtons();
    // The current-cue indicator: blue at the row's origin while current, hidden otherwise. Any
    // thread (re-posted to the main queue).
    void handleStateDisplay();
    // The type column's icon by media type.
    void setMediaTypeIcon();
    // Closes the row to 30 px; nothing when closed already.
    void collapse();
    // The collapse button: the selected cues collapse or expand together with this one.
    void toggleCollapse();
    // Flips the media-type column (shown: index 25 px right, name 25 px narrower).
    void toggleCueTypes();
    // Opens or closes the colour-tag column (21 px); nothing when it is in that state already.
    void toggleColorTagsToState(bool shown);
    bool colorTagsShown() const { return colortagshown_; }
    // A reorder drag hides the index number of the dragged cues and shows it again at its end.
    void hideIndexNumberBecauseOfDrag();
    void restoreIndexNumberAfterDrag();
    // The row's level meter; the cue builds it for its channels and writes levels in dB.
    // loadNib gives the row a QVTAudioMeteringView, hidden until the audio is set up; the cue
    // writes its levels on every "KavioUpdateUI" while the row lives. Not owned.
    void setAudioMeter(KavioAudioMeterInterface* meter) { audioMeter_ = meter; }
    KavioAudioMeterInterface* audioMeter() const { return audioMeter_; }
    // Re-makes the meter for audioMeterChannels() and shows it unless isAudioMeterHidden().
    // Main thread.
    void rebuildAudioMeter();
    // The row's time fields show rowTimes().
    void refreshRowTimes();
    // Places the row's subviews for its width and the open columns.
    void layoutRow();
    // The type column's icon for a media type; a null image for an unknown type.
    static QImage mediaTypeIconImage(int mediaType);

    // --- Thumbnail (KavioVideoItem+Thumbnail.cpp) ---------------------------------------------
    // The cached thumbnail (a PDF page fitted into 288 x 162 on white); nullptr before the first
    // one. Any thread.
    std::shared_ptr<const QImage> thumbnailImage() const { return thumbnailimage_.load(); }
    // Makes the thumbnail on the caller's thread: a movie's frame at thumbTime() (time zero when
    // that lies at or past the known duration), exact and turned by the track's rotation; a
    // still or PDF page; else the type icon. A missing cue makes none; a failure keeps the old
    // one (logged). The row shows it on the main queue; a current cue posts
    // "KavioCurrentItemThumbnailChanged".
    void generateThumbnail();
    // A movie cue that is not missing takes its player's current time as thumbTime() and makes
    // its thumbnail in the background.
    void setAndGenerateThumbnailAtCurrentTime();

private:
    // Gives the tag to this cue (ownOnly) or to every selected cue, then the untagged-count
    // notification and the unsaved mark.
    void switchColorTag(std::int32_t tag, bool ownOnly);
    // Cue audio
    std::shared_ptr<KavioAudioOutputManagerInterface> audioOutputManager() const;
    void observeAudioOutput();
    // Drops `analysis` when it is still the cue's (a newer one may have replaced it).
    std::shared_ptr<KavioAudioPlayer> playerOnOutput(const KavioAudioOutputManagerInterface& output,
                                                     const QString& path, int deviceChannels);
    void dropAnalyzer(const AudioAnalyzer* analysis);
    void refreshWaveformViewIfCurrent();
    void pullInspectorIfCurrent();
    std::shared_ptr<KavioAudioPlayerCue> audioPlayerCue_;  // what the players ask of the cue
    KavioSnapshotCell<std::shared_ptr<KavioCueAudioPlayer>> normalAudioPlayer_;
    KavioSnapshotCell<std::shared_ptr<AudioAnalyzer>> analyzer_;
    KavioSnapshotCell<std::shared_ptr<const QImage>> audioWaveform_;
    int audioMeterChannels_ = 0;
    bool observesAudioOutput_ = false;

    using FeedbackMessage = std::unique_ptr<QVTOSCMessage>;

    // The float setters' shared steps: refuse a non-finite value, store it kept within
    // lowest..highest, echo it unless skipped, clear the flag, mark the project as changed.
    void applyFeedbackValue(std::atomic<float>& field, float value, std::atomic<bool>& skip,
                            QVTOSCMessage& message, const char* parameter,
                            float lowest = -std::numeric_limits<float>::max(),
                            float highest = std::numeric_limits<float>::max());
    void applyScale(std::atomic<float>& field, float value, QVTOSCMessage& ownMessage,
                    const char* ownParameter);
    // "/kavio/<index>/<parameter>" for the cue's current index.
    QString feedbackAddress(const char* parameter) const;
    // Re-addresses the message to feedbackAddress(parameter), replaces its value, sends it.
    void sendFeedback(QVTOSCMessage& message, const char* parameter, const QVariant& value);
    void markProjectChangedUnlessResending();
    QSize truncatedRenderSize() const;

    KavioOSCFeedbackSender sender_;
    std::weak_ptr<KavioVideoItemManagerInterface> manager_;
    std::unique_ptr<DispatchQueue> pixelBufferQueue_;

    // Identity and place
    KavioSnapshotCell<QString> uid_;  // the clock thread finds goto targets by uid
    std::atomic<std::uint64_t> index_{0};
    QString cueID_;
    QString cueName_;
    KavioLockedValue<QString> displayTitle_;
    std::atomic<bool> hasCustomTitle_{false};
    KavioLockedValue<QString> cueNotes_;
    // The links and the goto target are read by the clock thread (nextItemToPlay) while the
    // controller or the main thread replaces them: read without a lock.
    KavioSnapshotCell<QString> gotoItemUID_;
    std::atomic<std::int32_t> colorTag_{0};
    std::atomic<bool> isCollapsed_{false};
    std::atomic<int> mediaType_{0};
    KavioLockedValue<QString> mediaPath_;
    KavioLockedValue<QString> deviceUID_;
    KavioSnapshotCell<std::weak_ptr<KavioVideoItem>> nextItem_;
    KavioSnapshotCell<std::weak_ptr<KavioVideoItem>> prevItem_;
    QString oscAddressIdentifier_;
    KavioSnapshotCell<QString> oscCueID_;  // cueID_ for the kit's receiving thread
    std::uint64_t oscObserver_ = 0;        // on the OSC kit's centre while a space is built

    // Media facts
    std::atomic<bool> hasAlpha_{false}, isFullRange_{false}, isProRes_{false}, isInterlaced_{false};
    std::atomic<bool> isYUV_{false}, isHAP_{false}, isPDF_{false}, isDeckLinkDevice_{false};
    std::atomic<bool> isSecondaryCamera_{false}, hasAudioChannels_{false};
    std::atomic<std::int32_t> preferedTransform_{0};
    KavioLockedValue<QString> bitDepthString_;
    KavioLockedValue<QString> decklinkFormatString_;
    KavioSeqLocked<QSizeF> videoEncodedSize_, videoPresentationSize_, sourceSize_;
    std::atomic<float> pixelAspect_{0.0f};
    std::atomic<std::uint64_t> pdfPage_{0}, pdfPageCount_{0};
    KavioLockedValue<QByteArray> bookmarkdata_;
    std::atomic<int> workingcolorspace_{0};

    // Timing
    KavioSeqLocked<MediaTime> inTime_, outTime_, thumbTime_, itemStartCMTime_, preloadedTime_;
    // Compared by the clock thread every frame: read without a lock.
    KavioSnapshotCell<QString> itemStartSMPTETime_, itemEndSMPTETime_, originalItemStartSMPTETime_;
    std::atomic<float> itemDuration_{0.0f}, durationOfNonMovies_{0.0f}, cachedGoodDurationWhenMissing_{0.0f};
    std::atomic<std::int32_t> autoAlignToDuration_{0};
    std::atomic<std::int64_t> playbackRateAsPercent_{0};
    std::atomic<double> tempCurrentTimeForNonMovies_{0.0}, captionDelaySeconds_{0.0};
    std::atomic<std::int32_t> selectedCaptionTrack_{0};

    // Toggles, looping, fades, transition
    std::atomic<bool> isLooping_{false}, canLoop_{false}, hasTransition_{false};
    std::atomic<std::int32_t> loopCount_{0}, transitionType_{0};
    std::atomic<std::uint64_t> loopCounter_{0};
    std::atomic<double> transitionTime_{0.0};
    std::atomic<bool> isUsingDefaultTransitionDuration_{false}, shouldOperateWithTransitionHelper_{false};
    std::atomic<float> fadetime_{0.0f};
    std::atomic<bool> isUsingDefaultFadeDuration_{false};
    std::atomic<bool> shouldStopAtBeginning_{false}, shouldStopAtEnd_{false};
    std::atomic<bool> cachedShouldStopAtBeginning_{false}, cachedShouldStopAtEnd_{false};
    std::atomic<float> fadeOpacity_{0.0f}, audioFade_{0.0f};

    // Adjustments
    std::atomic<float> opacity_{0.0f}, brightness_{0.0f}, contrast_{0.0f}, hue_{0.0f};
    std::atomic<float> saturation_{0.0f}, vibrance_{0.0f}, volume_{0.0f};
    std::atomic<float> geometryScaleH_{0.0f}, geometryScaleV_{0.0f}, geometryRotate_{0.0f};
    std::atomic<float> geometryPosX_{0.0f}, geometryPosY_{0.0f};
    std::atomic<bool> geometryScaleLink_{false};
    std::atomic<std::int32_t> geometryScaleMode_{0}, geometryOrigin_{0};
    KavioSeqLocked<KavioGeometryCrop> geometryCrop_;

    // Audio
    std::atomic<bool> isUsingDefaultAudioChannels_{false}, shouldsetvolumetorms_{false};
    std::atomic<bool> isBuildingAudioWaveform_{false}, hasaudioerror_{false}, hasvideoerror_{false};

    // State
    std::atomic<bool> isReady_{false}, isPlaying_{false}, isSeeking_{false}, isMissing_{false};
    std::atomic<bool> isSelected_{false}, isCurrent_{false};
    std::atomic<bool> sentBecameAvailableMessage_{false}, shouldFillbuffersAfterRewind_{false};
    KavioLockedValue<QVariantMap> dataForRestoreIfMissing_, cachedRestoreData_;

    // OSC feedback
    std::atomic<bool> isProcessingOSCFeedbacks_{false};
    std::atomic<bool> volumeFeedbackShouldSkip_{false}, opacityFeedbackShouldSkip_{false};
    std::atomic<bool> brightnessFeedbackShouldSkip_{false}, contrastFeedbackShouldSkip_{false};
    std::atomic<bool> hueFeedbackShouldSkip_{false}, saturationFeedbackShouldSkip_{false};
    std::atomic<bool> vibranceFeedbackShouldSkip_{false}, scaleFeedbackShouldSkip_{false};
    std::atomic<bool> rotateFeedbackShouldSkip_{false}, posXFeedbackShouldSkip_{false};
    std::atomic<bool> posYFeedbackShouldSkip_{false}, cropTopFeedbackShouldSkip_{false};
    std::atomic<bool> cropRightFeedbackShouldSkip_{false}, cropBottomFeedbackShouldSkip_{false};
    std::atomic<bool> cropLeftFeedbackShouldSkip_{false};
    FeedbackMessage cueNameMsg_, playbackSpeedMsg_, volumeMsg_, opacityMsg_, brightnessMsg_;
    FeedbackMessage contrastMsg_, hueMsg_, saturationMsg_, vibranceMsg_, scaleMsg_, scaleHMsg_;
    FeedbackMessage scaleVMsg_, rotateMsg_, posXMsg_, posYMsg_, cropTopMsg_, cropRightMsg_;
    FeedbackMessage cropBottomMsg_, cropLeftMsg_;

    // The row's toggles and sources
    KavioRowButton soundButton_, fadeInButton_, fadeOutButton_, transitionButton_, loopButton_;
    KavioRowButton pauseAtBeginningButton_, pauseAtEndButton_;
    KavioRowButton gotoButton_{0, false, false, {}, {}, {}, {}};
    KavioRowButton gotoTargetButton_{0, false, true, {}, {}, {}, {}};
    KavioRowButton colorTagButton_{0, true, true, {}, {}, {}, {}};
    QSizeF togglesBoxSize_;
    KavioSnapshotCell<std::shared_ptr<KavioCueAudioPlayer>> audioPlayer_;
    std::shared_ptr<KavioRecordedSource> browserSource_, windowSource_;

    // Media loading
    // Runs `step` on the main queue later, while the cue lives.
    void queueOnMain(std::function<void(KavioVideoItem&)> step);
    void applyMissingToRow(bool missing);
    KavioLayerRendererSettings makeRendererSettings(bool deinterlace) const;
    MediaPixelFormat stillPixelFormat() const;
    bool loadPdfPage(const QString& path);
    void releasePlayers();
    void writeRowTimes();
    std::shared_ptr<const MediaAsset> asset_;
    // The asset's length, for the clock thread's timing steps (the asset pointer is main-thread).
    std::atomic<double> assetDuration_{0.0};
    std::shared_ptr<MediaPlayer> normalVideoPlayer_, loopHelperVideoPlayer_;
    int timeJumpedToken_ = 0;
    MediaPlayer* timeJumpedPlayer_ = nullptr;  // the player timeJumpedToken_ belongs to
    std::shared_ptr<KavioCueAudioPlayer> loopHelperAudioPlayer_;
    KavioRowButton openButton_;
    std::atomic<std::shared_ptr<const VideoFrame>> stillPixelBuffer_;
    std::unique_ptr<DispatchQueue> captionQueue_;
    // Touched only inside synchronous blocks on captionQueue_.
    std::shared_ptr<QVTCaptionReader> captionReaderOutput_, captionReaderPreview_;
    std::atomic<bool> hascaption_{false};
    std::shared_ptr<QVTCaption> currentCaption(bool output);
    MediaTime captionStartTime(bool withDelay) const;
    std::optional<KavioLayerRendererSettings> layerRendererSettings_;
    std::uint32_t videoPixelFormat_ = 0;
    bool avplayeritemstatusreadytoplayposted_ = false;
    KavioRowButton errorButton_{0, true, true, {}, {}, {}, {}};
    std::optional<KavioColor> errorButtonDrawColor_;
    bool audioMeterHidden_ = false;
    KavioRowTimes rowTimes_;
    // File bookmark and watch
    std::unique_ptr<FileWatch> fileWatch_;
    std::uint64_t pathChangeToken_ = 0;
    // Position, preroll and start
    // The movie player in use while the media is present; nullptr otherwise.
    MediaPlayer* presentVideoPlayer() const;
    // `player` is still one of the cue's own (a completion may outlive a released player).
    bool ownsPlayer(const MediaPlayer* player) const;
    // Runs a frame-source step: for the current cue synchronously on pixelBufferQueue().
    void runFrameSourceStep(const std::function<void()>& step);
    void reportTimeJumpIfAllowed();
    void parkIdlePlayerAtInPoint();
    // Pauses `player`, seeks it to the in point frame-exact, prerolls it and refills its frame
    // source from where it then stands, also after a failure (each logged with its text; no
    // text logs nothing).
    void parkPlayerAtInPoint(MediaPlayer* player, const char* seekFailure, const char* prerollFailure);
    std::atomic<bool> shouldforwardtimejumpedmessages_{false};

    // Playback toggles
    // Makes the cue the selection unless it is selected; the controller, nullptr without one.
    std::shared_ptr<KavioVideoItemManagerInterface> selectItemIfNotSelected();
    void toggleActionFromUI(KavioRowButton& button, KavioToggleCode code, KavioToggleSender sender);
    void markToggleChanged();
    // Sets the button's state; false, changing nothing, while it is disabled.
    static bool takeToggleState(KavioRowButton& button, bool state);

    // Transition and frames
    std::shared_ptr<const VideoFrame> moviePixelBufferCopy();
    std::shared_ptr<const VideoFrame> cameraPixelBufferCopy();
    std::shared_ptr<const VideoFrame> ndiPixelBufferCopy();
    // A new frame-sharing client for the first server matching `name`; missing without one.
    // mediaPath takes the name.
    void connectSyphonServer(const QString& name);
    // Drops the NDI receiver and, for a source dictionary, makes one for it on the NDI queue;
    // true when one was made.
    bool replaceNDIReceiver(const QVariantMap& source);
    // The receiver of the source named `name`; missing without one. mediaPath takes the name.
    void connectNDISource(const QString& name);
    KavioPlayerItemVideoOutput* videoOutputOfPlayer(const MediaPlayer* player) const;
    std::shared_ptr<QVTMetalLayerRendererInterface> makeLayerRenderer() const;
    // The renderer this frame draws with (rebuilt first when needed) and the cue's settings.
    std::shared_ptr<QVTMetalLayerRendererInterface> layerRendererForFrame();
    QVTLayerSettings layerSettings() const;
    std::shared_ptr<KavioBrowserSourceInterface> browserSourceInterface() const;
    std::shared_ptr<class KavioWindowSource> windowCaptureSource() const;
    // A new window source for the window titled `name` (empty: the first listed); mediaPath
    // takes the title.
    void makeWindowSource(const QString& name);
    // Registers renderSizeChanged, deinterlaceModeChanged, changeDefaultTransitionDuration and
    // changeDefaultFadeDuration.
    void observeRenderingNotifications();
    // Drops the frame sources on pixelBufferQueue(), before their players go.
    void releaseVideoOutputs();
    // Runs `step` on pixelBufferQueue(): inline when already there, else synchronously.
    void onPixelBufferQueue(const std::function<void()>& step);
    // Declared last: the frame sources read the players and go before them. The renderers are
    // replaced whole on the main or render thread while the render and clock threads read them.
    KavioSnapshotCell<std::shared_ptr<KavioMetalTransitionRendererInterface>> transition_;
    KavioSnapshotCell<std::shared_ptr<QVTMetalLayerRendererInterface>> metalRenderer_, metalRendererHelper_;
    std::atomic<bool> shouldrebuildlayerrenderer_{false};
    std::shared_ptr<KavioPlayerItemVideoOutput> normalVideoOutput_, loopHelperVideoOutput_;
    // Live sources. The camera's frame and the transfer session are touched on
    // pixelBufferQueue() only, the NDI receiver on the NDI queue only.
    std::shared_ptr<const VideoFrame> copiedSampleBuffer_;
    std::shared_ptr<FrameTransferSession> inputTransferSession_;
    std::shared_ptr<DispatchQueue> ndiQueueOwner_;
    std::atomic<DispatchQueue*> ndiQueue_{nullptr};
    std::shared_ptr<KavioNDIReceiverInterface> ndiReceiver_;
    KavioSnapshotCell<std::shared_ptr<KavioTextureSourceInterface>> syphonClient_;

    // Looping
    std::int32_t effectiveLoopCount() const { return loopCount() < 1 ? 1 : loopCount(); }
    // The player and frame source in use, published whole on the main thread: the render thread
    // takes one copy per frame, so it never pairs one set's player with the other's frame
    // source, and a swap or a release never frees what a frame still uses. Declared last, it
    // drops its references first.
    struct PlayerSet {
        std::shared_ptr<MediaPlayer> player;
        std::shared_ptr<KavioPlayerItemVideoOutput> output;
    };
    KavioSnapshotCell<PlayerSet> playerSet_;
    void setPlayerSet(std::shared_ptr<MediaPlayer> player, std::shared_ptr<KavioPlayerItemVideoOutput> output)
    {
        playerSet_.store({std::move(player), std::move(output)});
    }
    // Moves the time-jump observation to `player` (nullptr: none).
    void observeTimeJumpsOf(MediaPlayer* player);
    // The helper player became ready (prerolled) or failed.
    void loopHelperPlayerLoaded(MediaPlayer* player, bool ready);
    // The row (KavioVideoItem+Row.cpp): 30 px closed, 90 px open; nothing when already so.
    void setRowCollapsed(bool collapsed);
    KavioRowHandle row_;
    KavioLockedValue<std::shared_ptr<const QImage>> thumbnailimage_;
    // A thumbnail made off the cue: what the row shows and what is cached.
    struct Thumbnail;
    // The making, with the cue's facts copied now; runs anywhere without the cue.
    std::function<Thumbnail()> thumbnailWork() const;
    void applyThumbnail(const Thumbnail& made);
    KavioAudioMeterInterface* audioMeter_ = nullptr;
    bool colortagshown_ = false;
    bool showsCueTypes_ = false;
};
