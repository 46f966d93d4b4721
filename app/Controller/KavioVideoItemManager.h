#pragma once
// KavioVideoItemManager: the cue list controller, the heart of the show. It owns the ordered
// cues and the master clock, lays the cues end to end on the clock's timecode line, keeps the
// selection and the current cue, and drives the neighbours of the main window through their
// interfaces. The implementation is split by concern into KavioVideoItemManager+<Concern>.cpp
// (Setup, Timeline, Selection; later concerns add theirs).
//
// Ownership: the main window's set-up creates the one controller (init) and owns it; it owns
// the cues, the clock, the render clock, its queues and its OSC feedback messages. Neighbours
// (managers, views, the application controller) are held weakly; controls are non-owning
// pointers into the window, which outlives the controller's use of them.
//
// Threads. The cue list `items` is an immutable snapshot replaced whole: the clock, render and
// main threads read it at any time without a lock (items()). Every change and every walk that
// must see one consistent order runs on the serial items queue "com.kavio.itemsQueue"; an
// operation reachable from code already on that queue finds the queue's specific value and runs
// inline. The current cue is likewise a lock-free weak reference. Selection, layout and the
// interface run on the main thread (called elsewhere, the selection operations re-post
// themselves there). Scalars and flags are atomics, readable from any thread.

#include "Controller/KavioPlaylistRules.h"
#include "Controller/KavioVideoItemList.h"
#include "Controller/KavioProgressSheet.h"
#include "Controller/KavioVideoItemManagerInterface.h"
#include "Controller/QVTTimelineMarkerControllerInterface.h"
#include "Controller/QVTTranscoderInterface.h"
#include "Support/KavioSnapshotCell.h"
#include "ZelmoraDelegate.h"

#include <QPointF>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class DispatchQueue;
class QAction;
class QDialog;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QWidget;
class KavioAudioOutputManagerInterface;
class KavioAudioStreamersManagerInterface;
class KavioATEMManagerInterface;
class KavioButtonInterface;
class KavioColorWellInterface;
class KavioHyperDeckServerInterface;
class KavioFrameSlots;
class KavioItemsViewInterface;
class KavioMetalTransitionRendererInterface;
class KavioOverlayer;
class KavioNDIManagerInterface;
class KavioPopUpButtonInterface;
class KavioRenderClock;
class KavioSliderInterface;
class KavioTextFieldInterface;
class KavioVideoItemPreferencesControllerInterface;
class KavioVideoOutputManagerInterface;
class KavioWaveformManagerInterface;
class AppDelegateInterface;
class QVTClock;
class QVTClockTimeSource;
class QVTMIDINode;
class QVTMTKViewInterface;
class QVTMetalManager;
class QVTOSCMessage;
class QVTTimelineMarkerControllerInterface;
class UserDefaults;
struct Notification;

inline const QString kKavioItemsQueueLabel = QStringLiteral("com.kavio.itemsQueue");
inline const QString kKavioPixelBufferRenderingQueueLabel = QStringLiteral("com.dalvek.pixelbufferrendering");
// Posted on the default centre, no object: every row deselects itself / the selection changed.
inline const QString kKavioDeselectAllItemsNotification = QStringLiteral("DeselectAllItems");
inline const QString kKavioSelectionChangedNotification = QStringLiteral("KavioSelectionChanged");
// Posted on the default centre by the preview view, with itself as object, when its frame changed.
inline const QString kKavioViewFrameDidChangeNotification = QStringLiteral("KavioViewFrameDidChange");

// What the main window connects before initManager(). Main thread.
struct KavioVideoItemManagerOutlets {
    QAction* rewindCurrentItemMenuItem = nullptr;
    QAction* jumpToAnyPlayMenuItem = nullptr;  // used by the cue list view
    // The main window: the loading sheet opens window-modal on it.
    QWidget* window = nullptr;
    std::weak_ptr<KavioWaveformManagerInterface> waveformManager;
    std::weak_ptr<KavioAudioOutputManagerInterface> audioOutputManager;
    std::weak_ptr<QVTMTKViewInterface> mtkView;
    std::weak_ptr<KavioVideoOutputManagerInterface> videoOutputManager;
    std::weak_ptr<KavioATEMManagerInterface> atemManager;
    std::weak_ptr<KavioNDIManagerInterface> ndiManager;
    std::weak_ptr<KavioItemsViewInterface> itemsView;
    std::weak_ptr<QVTTimelineMarkerControllerInterface> markerController;
    std::weak_ptr<KavioVideoItemPreferencesControllerInterface> itemPreferencesController;
    // The process-wide HyperDeck-protocol server and audio streamers manager.
    std::weak_ptr<KavioHyperDeckServerInterface> hyperDeckServer;
    std::weak_ptr<KavioAudioStreamersManagerInterface> audioStreamersManager;

    KavioSliderInterface* masterSlider = nullptr;
    KavioButtonInterface* masterButton = nullptr;
    KavioPopUpButtonInterface* defaultTransitionPopup = nullptr;
    KavioPopUpButtonInterface* defaultCueViewStatePopup = nullptr;
    KavioPopUpButtonInterface* frameratePopup = nullptr;
    KavioPopUpButtonInterface* defaultFadeDurationPopup = nullptr;
    KavioPopUpButtonInterface* defaultTransitionDurationPopup = nullptr;
    KavioPopUpButtonInterface* jumpBehaviourPopup = nullptr;
    KavioPopUpButtonInterface* panicBehaviourPopup = nullptr;
    KavioPopUpButtonInterface* renderingDeinterlacePopup = nullptr;
    KavioPopUpButtonInterface* playbackModeOnOpen = nullptr;
    KavioPopUpButtonInterface* cueTimesOverlayPosition = nullptr;
    KavioPopUpButtonInterface* cueTimesOverlaySize = nullptr;
    KavioPopUpButtonInterface* cueTimesOverlayColor = nullptr;
    KavioPopUpButtonInterface* subtitleOverlaySize = nullptr;
    KavioPopUpButtonInterface* subtitleOverlayFont = nullptr;
    KavioButtonInterface* goto10Button = nullptr;
    KavioButtonInterface* goto20Button = nullptr;
    KavioButtonInterface* goto30Button = nullptr;
    KavioTextFieldInterface* startTimeField = nullptr;
    KavioTextFieldInterface* defaultNonMovieCueDurationField = nullptr;
    KavioTextFieldInterface* defaultBrowserSourceURLField = nullptr;
    KavioButtonInterface* defaultToggleAudio = nullptr;
    KavioButtonInterface* defaultToggleFadeIn = nullptr;
    KavioButtonInterface* defaultToggleFadeOut = nullptr;
    KavioButtonInterface* defaultToggleTransition = nullptr;
    KavioButtonInterface* defaultTogglePauseAtBeginning = nullptr;
    KavioButtonInterface* defaultTogglePauseAtEnd = nullptr;
    KavioButtonInterface* defaultToggleLoop = nullptr;
    KavioButtonInterface* defaultTogglePlaylistLoop = nullptr;
    KavioButtonInterface* defaultTogglePlaylistTransition = nullptr;
    KavioButtonInterface* autoStartButton = nullptr;
    KavioButtonInterface* autoFullscreenButton = nullptr;
    KavioColorWellInterface* subtitleOverlayBackgroundColor = nullptr;
    KavioColorWellInterface* subtitleOverlayFontColor = nullptr;
    KavioColorWellInterface* matteColorWell = nullptr;
};

// An atomic flag or scalar with its getter and setter, readable and writable from any thread.
#define KAVIO_ATOMIC_PROPERTY(Type, getter, setter, initial)                                    \
public:                                                                                         \
    Type getter() const { return getter##_.load(); }                                            \
    void setter(Type value) { getter##_.store(value); }                                         \
                                                                                                \
private:                                                                                        \
    std::atomic<Type> getter##_{initial};

class KavioVideoItemManager : public KavioVideoItemManagerInterface,
                              public QVTTimelineMarkerControllerDelegate,
                              public QVTTranscoderDelegate,
                              public ZelmoraDelegate,
                              public std::enable_shared_from_this<KavioVideoItemManager> {
public:
    // --- Set-up (main thread) -------------------------------------------------------------------
    // The first stage: queues, defaults registered where absent, the master clock and every
    // observation of it, the feedback messages. `Manager` lets tests observe the handlers; a
    // clock time source lets them step the master clock (nullptr: the host's).
    template <typename Manager = KavioVideoItemManager>
    static std::shared_ptr<Manager> init(UserDefaults& defaults,
                                         std::shared_ptr<QVTClockTimeSource> clockTimeSource = nullptr);
    static std::shared_ptr<KavioVideoItemManager> init();
    // Removes the controller's observers; the clock and the queues end with it.
    ~KavioVideoItemManager() override;
    KavioVideoItemManager(const KavioVideoItemManager&) = delete;
    KavioVideoItemManager& operator=(const KavioVideoItemManager&) = delete;

    void setOutlets(const KavioVideoItemManagerOutlets& outlets) { outlets_ = outlets; }
    const KavioVideoItemManagerOutlets& outlets() const { return outlets_; }
    // The application controller; set right after initManager().
    void setDelegate(std::weak_ptr<AppDelegateInterface> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<AppDelegateInterface> delegate() const { return delegate_.lock(); }

    // The second stage, once the outlets are connected: settings read into the controls (absent
    // or malformed ones written first), the transcoded-media folder, the render clock, the
    // neighbours started, the clock thread.
    void initManager();
    // The last stage, at the end of launch.
    void appLaunched();

    // The media file extensions accepted, lower case; each list is built once and shared.
    static const QStringList& supportedImageFormats();
    static const QStringList& supportedVideoFormats();
    static const QStringList& supportedAudioFormats();
    // Where transcoded media go: the XDG videos folder + "/Kavio/Transcoded".
    static QString transcodedVideosDir();
    // The waveform manager's queue, where cues build their waveforms; nullptr while no waveform
    // manager is connected. Any thread.
    DispatchQueue* waveformQueue() const override;
    // Cue audio: the output manager outlet and the playlist's default sound toggle.
    std::shared_ptr<KavioAudioOutputManagerInterface> audioOutputManager() const override
    {
        return outlets_.audioOutputManager.lock();
    }
    bool defaultToggleAudioIsOn() const override;

    // --- Owned objects --------------------------------------------------------------------------
    // The cues in list order: a snapshot that never changes. Any thread, lock-free.
    KavioVideoItemListSnapshot items() const override { return items_.load(); }
    std::shared_ptr<QVTClock> masterClock() const override { return masterClock_; }
    // The web page new browser-source cues open (playlist defaults). Any thread.
    QString defaultBrowserSourceURL() const { return defaultBrowserSourceURL_.load(); }
    void setDefaultBrowserSourceURL(const QString& url) { defaultBrowserSourceURL_.store(url); }
    std::shared_ptr<KavioRenderClock> renderClock() const { return renderClock_.load(); }
    // The set-up makes the clock; tests put one in that they step themselves.
    void setRenderClock(std::shared_ptr<KavioRenderClock> clock) { renderClock_.store(std::move(clock)); }
    DispatchQueue& itemsQueue() const { return *itemsQeue_; }
    DispatchQueue& pixelBufferRenderingQueue() const { return *pixelbufferrenderingqueue_; }
    // The four prepared feedback messages (current cue's running time, selected cue's name and
    // ID, the pong).
    const QVTOSCMessage& trtmsg() const { return *trtmsg_; }
    const QVTOSCMessage& selectedcuenamemsg() const { return *selectedcuenamemsg_; }
    const QVTOSCMessage& selectedcueidmsg() const { return *selectedcueidmsg_; }
    const QVTOSCMessage& pongmsg() const { return *pongmsg_; }

    // --- List primitives (any thread; they run on the items queue, inline when already there) ---
    // Adds the cue at 1-based `index`: unless a project loads, every cue at that index or after
    // moves one place down first. The order is rebuilt by the next buildItemQueue().
    void insertItem(const std::shared_ptr<KavioVideoItem>& item, std::uint64_t index);
    // Takes the cue out of the list; nothing when it is not in it.
    void removeItem(const std::shared_ptr<KavioVideoItem>& item);
    // Puts `item` where the cue at 1-based list position `position` stands, with its index;
    // nothing for a position outside 1..n.
    void replaceItemAtPosition(std::uint64_t position, const std::shared_ptr<KavioVideoItem>& item);

    // --- Timeline ---------------------------------------------------------------------------------
    // Orders the cues by index (stable) and lays them on the timecode line; with `changing` also
    // renumbers and relinks them. Then hands the list to the inspector and the HyperDeck server
    // and resends the current cue's feedback. Any thread.
    void buildItemQueue() { buildItemQueueWithChangingItems(true); }
    void buildItemQueueWithChangingItems(bool changing);
    // Recomputes the times of the cues after `item` (up to the list's first cue), then the clock's
    // maximum. The transition variant also resets their unshifted starts, realigns the current
    // cue and marks the project changed; it does nothing for no cue. Any thread.
    void rebuildItemTimesByLoopingItem(const std::shared_ptr<KavioVideoItem>& item);
    void rebuildItemTimesByTransitioningItem(const std::shared_ptr<KavioVideoItem>& item) override;
    // A cue's loop went on: only the clock's maximum follows. Off: the times after it are rebuilt.
    void loopingTurnedOnOnItem(const std::shared_ptr<KavioVideoItem>& item) override;
    void loopingTurnedOffOnItem(const std::shared_ptr<KavioVideoItem>& item) override;
    // A cue's transition length changed: the timeline marker follows when it is the current cue
    // (on the main queue; the times were rebuilt already when its transition is on). Any thread.
    void handleTransitionTimeChangeOnItem(const std::shared_ptr<KavioVideoItem>& item) override;
    // For every selected cue: its toggle operation of `code` with `state`, then its
    // validateToggles(). No undo. Main thread.
    void cueToggleChangedOnSelectedItems(int code, bool state) override;
    // The master fader's value; 1 without a fader. Any thread.
    float masterSliderValue() const override;
    // The query server the cues publish their OSC addresses in; nullptr (the default) publishes
    // nothing. The application controller hands it the shared one at launch. Any thread.
    void setOSCQueryServer(QVTOSCQueryServer* server) { oscQueryServer_.store(server); }
    QVTOSCQueryServer* oscQueryServer() const override { return oscQueryServer_.load(); }
    void handleItemLoopsAfterProjectLoadOrItemsUpdated();
    // The end of every edit: rebuild (renumbering and relinking), refresh the list view with the
    // scroll option (see refreshItemsViewWithScrollOption), realign the clock, mark the project
    // changed. The times-only variant keeps numbers and links and does not scroll. Main thread.
    void handleItemsUpdatedWithScrollOption(int scrollOption) { handleItemsUpdated(scrollOption, true); }
    void handleItemTimesUpdated() { handleItemsUpdated(0, false); }
    // Redraws the cue's row. Main thread.
    void refreshItem(const std::shared_ptr<KavioVideoItem>& item);
    // The show's running time as a timecode: the last cue's end frame counted from the show's
    // start; "00:00:00:00" for an empty list. Any thread.
    QString projectTRT() const;

    // --- Selection (main thread; selectItem, selectCurrentItem and the previous/next steps
    // re-post themselves there from other threads) ------------------------------------------------
    void selectItem(const std::shared_ptr<KavioVideoItem>& item) override;
    void selectCurrentItem();
    void selectPreviousCue();
    void selectNextCue();
    void selectItems(const KavioVideoItemList& items);
    void selectItemsByColorTag(std::int32_t colorTag);
    void selectAllItems();
    // Every cue whose index lies in location..location + length, both ends included.
    void selectItemsInPositionRange(std::uint64_t location, std::uint64_t length);
    void deselectItemsInPositionRange(std::uint64_t location, std::uint64_t length);
    void expandSelectionUp();
    void expandSelectionDown();
    void toggleSelectedItemsWithItem(const std::shared_ptr<KavioVideoItem>& item);
    void selectAndScrollToItemAtCueID(const QString& cueID) override;
    void checkIfNeedsToSelectNextItemToPlay();
    // The selected and the unselected cues in list order. Any thread, also from the items queue.
    KavioVideoItemList selectedItems() const override;
    // The context menu's "Show In File Manager...": each selected file-based cue's media.
    void showInFinderAllSelected() override;
    // The menu's collapse and expand: toggleSelectedItemsWithItem with one selected cue (none
    // selected: nullptr).
    void toggleCollapseExpandCues();
    // The current cue, if any, takes its thumbnail at its current time.
    void setThumbnailTime();
    KavioVideoItemList notSelectedItems() const;
    // Smallest / largest index among the selected cues; -1 when none is selected. Any thread.
    long indexOfFirstSelectedItem() const;
    long indexOfLastSelectedItem() const;
    // The anchor of range selection (the cue last clicked or selected by keyboard); setting it
    // restarts the range's moving end. Main thread.
    std::shared_ptr<KavioVideoItem> lastClickedItem() const { return lastClickedItem_.lock(); }
    void setLastClickedItem(const std::shared_ptr<KavioVideoItem>& item);

    // --- Lookups (first match in list order; exact, case-sensitive; nullptr when none). Any thread.
    std::shared_ptr<KavioVideoItem> itemWithUID(const QString& uid) const override;
    std::shared_ptr<KavioVideoItem> itemWithIndex(std::uint64_t index) const;
    std::shared_ptr<KavioVideoItem> itemWithName(const QString& name) const;
    // A cue whose cue ID equals the text wins over the cue whose index in decimal does.
    std::shared_ptr<KavioVideoItem> itemWithCueID(const QString& cueID) const;
    // Index of the first cue whose row contains the point; 0 when none.
    std::uint64_t itemIndexAtLocation(const QPointF& point) const;
    bool shouldShowColorTags() const;
    bool isCurrentItemIsAvailableForPlayback() const;

    // --- Moves and drops (main thread) -----------------------------------------------------------
    // Moves the cue to `toIndex` (kept within 1..n): moving up it lands before the cue there,
    // moving down after it. Rebuilds, lays out, realigns the clock, registers the move back with
    // the window's undo manager and marks the project changed (also for an unknown uid, which
    // moves nothing). Answers whether the position changed.
    bool moveItemWithUID(const QString& uid, std::uint64_t toIndex);
    // One uid moves as moveItemWithUID does. Several move as one block, in the given order, to
    // min(toIndex, n - count + 1), and the list is renumbered; one undoable step.
    void moveItemsWithUIDs(const QStringList& uids, std::uint64_t toIndex);
    // Renumbers the cues in the order of the uids (every cue's uid, once); the old order is the
    // undo. Nothing when the order is the same.
    void reorderItems(const QStringList& order);
    // The drop marker while files are dragged over the list: the row under the point shows it and
    // new cues go to that row's index; elsewhere they go to the end.
    void makeDragMarkerAtLocation(const QPointF& point);
    std::uint64_t newCueIndex() const { return newcueindex_.load(); }

    // --- Layout and scrolling, through the list view (main thread) -------------------------------
    QPointF rearrangeItemsWithAnimation(bool animate);
    void refreshItemsViewWithScrollOption(int option);
    void scrollToItem(const std::shared_ptr<KavioVideoItem>& item);
    // Scrolls to the current cue when "autoScrollToCurrentCue" is on.
    void scrollToCurrentItemIfNeeded();

    // --- The current cue --------------------------------------------------------------------------
    // Any thread, lock-free.
    std::shared_ptr<KavioVideoItem> currentItem() const override { return currentItem_.load().lock(); }
    // Makes the cue (or none) current. Callable from the clock thread: it stores the cue without
    // waiting on the items queue and touches no control there; goto buttons, throttlers,
    // waveform, deck A's channel mapping, inspector and marker are updated through the main queue.
    void setCurrentItem(const std::shared_ptr<KavioVideoItem>& item);
    // The position bar shows the current cue (or a 10-second placeholder). Main thread.
    void updateMarkerSettingsToCurrentItem();
    // Every cue re-applies its goto target. Main thread.
    void updateGotoItemUIDs();
    // The inspector makes a selected cue the current cue's goto target (undoable). Main thread.
    void setGotoOnCurrentToSelected();
    // The rows' state views around a transition of the current cue: while it runs, the current
    // row's state view returns to its origin and the next cue's is hidden; once the current cue
    // is no longer crossing into the next, the next cue also refreshes its meter. The views
    // change on the main queue. Any thread.
    void checkIfCurrentCueIsProcessingTransitionAndHandleStateView();
    void checkIfCurrentCueIsNotProcessingTransitionToNextCueAndHandleStateView();

    // --- What cues ask (KavioVideoItemManagerInterface) -------------------------------------------
    bool shouldEnablePauseAtEndBecauseOfOldProject() const override;
    void setHasUnsavedChanges(bool hasUnsavedChanges) override;
    QSizeF renderSize() const override;
    double secondsForSMPTEString(const QString& smpte) const override;
    bool useHighBitDepthRendering() const override;
    KavioVideoItemPreferencesControllerInterface* itemPreferencesController() const override;
    void stopPlaybackWithCompletedHandler(std::function<void()> handler) override;
    void replaceItem(const std::shared_ptr<KavioVideoItem>& item) override;

    // --- Handlers and steps that other concerns fill ------------------------------------------------
    // The clock's notifications, on the posting thread.
    virtual void processOnCurrentClockTime(const Notification& notification);
    virtual void handleClockStart();
    virtual void handleClockStop();
    virtual void handleClockRewind();
    virtual void handleExternalStartTimeSet(const Notification& notification);
    virtual void frameRateChangedByMTC();
    virtual void handleClockSlaveStateChanged();
    virtual void jumpToItemByClock(const Notification& notification);
    // A backup command of the network link; runs on the main thread.
    virtual void handleNMCBackupCommand(const Notification& notification);
    // --- Cue feedback over OSC (KavioVideoItemManager+OSCFeedback.cpp). Any thread; the runs
    // are serialised, as they share the prepared messages. ------------------------------------
    // "KavioCueOSCAddressSpaceChanged" (object: the cue): nothing while a project loads; the
    // current cue's feedback when it is the current cue, then the selected-cue feedback when it
    // is selected.
    virtual void handleOSCFeedbackOnCueChanges(const Notification& notification);
    // With a current cue C: the sender node's current prefix "/kavio/<C>/", C's values,
    // "/kavio/currentCueName", the running time, "/kavio/currentCueID" (cueIDForOSC), then
    // "/kavio/nextCueName" for nextItemToPlay() and "/kavio/previousCueName" for prevItem(); a
    // missing neighbour clears its prefix, zeroes its eight toggles under "/kavio/next/" or
    // "/kavio/previous/" and names "-". Without a current cue: the three prefixes cleared, the
    // three names "-", the toggles zeroed under previous, next, then current.
    virtual void sendCurrentCueOSCFeedback();
    // "/kavio/currentCueTRT" with the current cue's running time (SMPTE); nothing without one.
    void sendCurrentCueTRTOSCFeedback();
    // "/kavio/selectedCueName" and "/kavio/selectedCueID": the one selected cue's name and
    // cueIDForOSC, "-" for none or several. The inspector's refresh sends them. Main thread.
    virtual void sendSelectedCueOSCFeedback();
    // "/kavio/pong" 1.
    void sendPongOSCFeedback();
    virtual void validateTransport();
    virtual void setClockAndItemStartTimeAfterJump();
    virtual void loadPlaylistDefaults();
    virtual void createTextureCache();
    virtual void handleMiddleViewResize();
    // Stores the cue-time overlay popups' values.
    virtual void changeCueTimesOverlay();
    // The menu's "rewind the current cue".
    virtual void rewindCurrentItem();
    virtual void performGoto10();
    virtual void performGoto20();
    virtual void performGoto30();

    // --- Playlist archive and project loading (KavioVideoItemManager+Archive.cpp) --------------
    // The playlist archive: each cue's record under "1".."n" in list order, nothing else.
    // Serialises one snapshot of the list, so it may run while the list changes. Main thread.
    QVariantMap saveData() const;
    // Rebuilds cues from an archive, ten entries at a time behind the window-modal loading
    // sheet; each batch starts once every cue of the previous one is ready (or missing).
    // Entries go in the numeric order of their keys; an entry that is not a dictionary, has no
    // "mediaPath", sits under a non-numeric key or makes no cue is logged and skipped. Not
    // restoring, an entry is a path only: a PDF makes one cue per page. `completed` (may be
    // empty) runs once at the end, with isLoadingProject cleared. A value that is not a
    // dictionary changes nothing and runs nothing; a load asked for while one runs is refused
    // (logged). Answers whether the load started. Main thread.
    bool loadWithData(const QVariant& archive, bool restoreCues, std::function<void()> completed);
    bool isLoadingCues() const { return loadingRunning_; }
    const std::vector<std::uint64_t>& loadingBatchStarts() const { return loadingBatchStarts_; }
    // The loading sheet and its progress bar while a load runs, else nullptr.
    QDialog* loadingWindow() const;
    QProgressBar* loadingProgress() const { return loadingSheet_.bar; }
    // After a project's load completed and its other parts are restored: thumbnails, layout,
    // loops, transport, transitions, feedback, the current cue again, then the sync source of
    // "playbackmode" and "autoStart". Main thread.
    void handleThingsAfterProjectDataLoaded();
    // Stops playback, removes every cue, clears the preview, reloads the playlist defaults, then
    // runs `completed` (may be empty). Main thread.
    void clearPlaylistWithCompletedHandler(std::function<void()> completed);
    void clearPreview();
    // Copied records become cues after the last selected one, highest "index" first, each with
    // a fresh uid. Main thread.
    void pasteItemsWithData(const QVariantList& records);
    // The clipboard holds records of copied cues.
    bool canPaste() const override;
    // Steps of other concerns the project load runs. The sync source named by "playbackmode"
    // (1 MIDI time code, 2 LTC) is switched on (application controller); playback starts.
    virtual void switchSyncSourceOnOpen(std::int64_t playbackMode);

    // --- Creation (KavioVideoItemManager+Creation.cpp; main thread) -----------------------------
    // The one way a cue enters the list. `path` is a file path or a source token
    // ("KAVIO_CAMERA", "KAVIO_SYPHON", "KAVIO_NDI", "KAVIO_BROWSER", "KAVIO_WINDOW"); a record's
    // "mediaType" chooses the kind before the path does. A file not at its path is looked for in
    // the open project's "files" folder; found nowhere, the cue is missing and keeps its record.
    // The cue gets a fresh upper-case uid (a record's own uid comes back when it loads) and
    // the index newCueIndex(); a record holding "KavioItemPDFPageKey" sets only the page.
    // Registers its removal as "Add Cue" (mode 100) or "Duplicate Cue" (mode 200). Answers the
    // cue, nullptr when none could be made.
    enum : int { KavioCreateModeAdd = 100, KavioCreateModeDuplicate = 200 };
    // Vets files before an import: an image (by extension) passes whatever its bytes; a file
    // that does not open as media, holds no picture or sound, or whose first undecodable video
    // track is not Hap is rejected (logged). `completion` runs once, at once, with the paths in
    // order and "" for each rejected one. Answers whether any path passed.
    static bool preparePathes(const QStringList& paths, const std::function<void(const QStringList&)>& completion);
    // Imports the files that pass as new cues through the loader, in one undo group closed when
    // they are all ready. Answers false (no group opened) when none passes or a load runs.
    bool createItemsWithPathes(const QStringList& paths);
    std::shared_ptr<KavioVideoItem> createItemWithPath(const QString& path, const QVariantMap& restoreData = {},
                                                       int mode = KavioCreateModeAdd);
    std::shared_ptr<KavioVideoItem> restoreItemWithData(const QVariantMap& record);
    // The file chooser the create and replace actions ask: a name filter and whether several
    // files may be chosen; answers the chosen paths in the chooser's order, none on Cancel. A
    // QFileDialog on the main window unless set (tests give theirs). Main thread.
    using OpenPanel = std::function<QStringList(const QString& filter, bool multiple)>;
    void setOpenPanel(OpenPanel panel) { openPanel_ = std::move(panel); }
    // The menu's create actions: files chosen among the video, image and audio extensions
    // imported (createItemsWithPathes); a live-source cue of each kind through its token.
    void createVideoCue();
    void createCameraCue() { createItemWithPath(QStringLiteral("KAVIO_CAMERA")); }
    void createSyphonCue() { createItemWithPath(QStringLiteral("KAVIO_SYPHON")); }
    void createNDICue() { createItemWithPath(QStringLiteral("KAVIO_NDI")); }
    void createBrowserCue() { createItemWithPath(QStringLiteral("KAVIO_BROWSER")); }
    void createWindowSourceCue() { createItemWithPath(QStringLiteral("KAVIO_WINDOW")); }

    // Replacement (KavioVideoItemManager+Creation.cpp; main thread). replaceItem (what cues ask,
    // above) lets the operator choose one file; a file vetting rejects gets the "Unsupported
    // codec" alert and changes nothing. The new cue takes the old one's place, index and record
    // (a missing cue's kept record), with a fresh uid; its in and out points are dropped unless
    // `keepTiming` (a conversion of the same media). A playing current cue stops the clock first
    // and is reloaded from its start once the new cue has sent both its readiness messages.
    void replaceItemWithChosenPath(const std::shared_ptr<KavioVideoItem>& item, const QString& path);
    void replaceItemWithMovieAtPath(const std::shared_ptr<KavioVideoItem>& item, const QString& path,
                                    bool keepTiming = false);

    // --- Conversion (KavioVideoItemManager+Conversion.cpp; main thread) --------------------------
    // Where the jobs come from; without a factory of its own the controller runs the
    // transcoder's jobs (QVTTranscoder).
    void setTranscoderFactory(QVTTranscoderFactory factory) { transcoderFactory_ = std::move(factory); }
    // One job per selected movie cue, in list order, that is not in the target codec yet: code 10
    // makes "<name>_ProRes.mov" (ProRes 4444 with alpha, else 422), code 20 "<name>_HAP.mov" (Hap
    // Alpha or Hap), both in transcodedVideosDir(). With any job: isTranscoding, the window-modal
    // conversion sheet, every job started. Nothing to convert shows no sheet.
    void transcodeSelectedCuesToCodec(int codec) override;
    // The jobs' reports (any thread; handled on the main queue): the sheet's table follows the
    // progress; a finished job that was not cancelled puts its file into its cue keeping the in
    // and out points; the last job's end closes the sheet and clears isTranscoding.
    void updateConversionProgress() override;
    void transcodingFinished(const std::shared_ptr<QVTTranscoderInterface>& job) override;
    // One audio job: `item`'s media exported as M4A to `path`, shown in the same sheet; when it
    // ends (not cancelled) the cue's audio is replaced by the job's result, which is the source
    // itself when the export failed.
    void transcodeAudioOfItem(const std::shared_ptr<KavioVideoItem>& item, const QString& path) override;
    // Every selected cue normalises its volume (normalizeAudioVolume).
    void normalizeAudioOnSelectedItems() override;
    // The sheet's Cancel: every job is cancelled (each still reports its end).
    void cancelConversion();
    // Opens the folder of converted media in the desktop's file manager.
    void openTranscodeDirectory();
    // The sheet and its job table: one row per running job, the "path" column shows the source's
    // file name over its progress; other columns and rows beyond the jobs give an empty value.
    QDialog* convertWindow() const;
    int numberOfRowsInConversionTable() const { return int(transcodeData_.size()); }
    QString conversionTableValue(const QString& column, int row) const;

    // --- Editing (KavioVideoItemManager+Editing.cpp; main thread) -------------------------------
    // One copy of each selected cue right below it, the copies selected; one undo step.
    void duplicateSelectedItems() override;
    // A looping copy after the cue: it crosses with a transition back to the cue (its goto
    // target), so the pair plays as one endless loop. Undo "Make Seamless Loop".
    void makeSeamlessLoopOfItem(const std::shared_ptr<KavioVideoItem>& item) override;
    // Takes the cues out of the list one by one, kRemovalStepSeconds apart on the main queue,
    // behind the loading sheet; one undo step "Remove Cue" brings them all back. `completed`
    // (may be empty) runs after the last; for no cues at once, without a sheet.
    static constexpr double kRemovalStepSeconds = 0.01;
    void removeItems(const KavioVideoItemList& items, std::function<void()> completed);
    // Removes the selected cues (staggered, as above); answers whether any was selected.
    bool removeSelectedItems() override;
    // Removes one cue, its record's return registered as the undo. A current cue hands over to
    // the cue after it (or the first cue), which rewinds; the only cue leaves none current. Also
    // the undo of a creation.
    void undoRemoveItemWithUID(const QString& uid);
    // The time displays: the current cue's time left (the armed next cue's while a follow-on is
    // triggered; "-00:00:00:00" for none) and its elapsed time ("00:00:00:00" for none). Any thread.
    QString smpteTimeLeftOnCurrentItem() const;
    QString smpteTimeElapsedOnCurrentItem() const;

    // --- Clock control (KavioVideoItemManager+ClockControl.cpp) -------------------------------
    // GO from the controller: starts the master clock on the current cue. Nothing without a
    // current cue; refused (logged) while a jump is processed, since the clock's start would
    // cancel the stop that carries the jump. A cue standing outside its in and out points is
    // rewound first and the clock starts once its time jump has realigned the clock (unless a
    // next cue is armed or a global transition runs: then it starts at once). Any thread.
    void startClock();
    // Cancels a deferred start and stops the clock at the end of its current cycle; `handler`
    // (may be empty) runs on the clock thread once stopped, at once when it is stopped. Any thread.
    void stopClockWithCompletedHandler(std::function<void()> handler);
    // Moves the clock to `seconds`. A running clock is stopped, moved in the stop's completion
    // (clock thread) and started again once the show has sought there; a stopped one is moved
    // at once and stays stopped. `handler` (may be empty) runs after the move. Any thread.
    void locateClockToTime(double seconds, std::function<void()> handler);
    // The playlist loop: the last cue leads back to the first (a one-cue list sets up the
    // current cue's loop helper) or to nothing; the last cue then revalidates its toggles and
    // transition on the main queue. Any thread but the items queue.
    void shouldLoop(bool loop);
    // With the show stopped, an integration's request at a pause at end: load the next cue or
    // rewind the current one; then the current cue is selected and scrolled to. Main thread.
    void handleIntegrationsOnPauseAtEnd();
    // Sync-source changes made by the application controller (main thread): back to the own
    // clock (the stop's handling runs as if the clock had stopped), to following timecode, and
    // forced back to the own clock.
    void handleSwitchToStandaloneMode();
    void handleSwitchToSlaveMode();
    void handleFallbackToStandaloneMode();
    // The MIDI source whose time code the clock follows; nullptr follows none.
    void syncSourceChanged(const std::shared_ptr<QVTMIDINode>& node);
    // Stores the "mode on open" popup's tag under "playbackmode" and writes the defaults out.
    // Main thread.
    void changePlaybackModeOnOpen();
    // The stored "mode on open" (a KavioPlaybackMode code); a value outside 0..2 reads as 0.
    std::int64_t storedPlaybackModeOnOpen() const;
    // The time display shows the current cue's time left instead of the clock time. Read every
    // frame by the tick, so kept apart from the settings file; the setter writes the user
    // default "displayTimeLeft" as well (main thread).
    bool displayTimeLeft() const { return displayTimeLeft_.load(); }
    void setDisplayTimeLeft(bool timeLeft);

    // --- Sequencing (KavioVideoItemManager+Sequencing.cpp) ---------------------------------------
    // The tick (processOnCurrentClockTime above) runs on the clock thread on the internal clock,
    // on the main thread while following MTC or LTC. A throw from a cue is caught and logged
    // once; the clock goes on.
    //
    // Blocks the calling thread (the clock thread at a pause) until the current cue's movie has
    // reached its last frame, at most half a second, and advances its non-movie time as much.
    void failSafeMovieEnd();
    // A stopped show realigns the clock on its current cue when that cue reports a time jump,
    // and carries out a start that waited for it. Any thread.
    void timeJumpedOnItem(const std::shared_ptr<KavioVideoItem>& item) override;
    // Shows the time and makes the clock time the current cue's start time (the playlist start
    // without a current cue). Any thread; the marker follows on the main queue.
    void displayAndSetCurrentItemStartTime();

    // --- Jumps and transport the clock handlers call (filled by those concerns) -----------------
    // Makes the cue current (a cut or a crossover). Any thread.
    void jumpToItem(const std::shared_ptr<KavioVideoItem>& item, bool isRewind = false) override;
    // Locates the show to a time on the line. Main thread.
    virtual void seekToSMPTETime(const QString& smpte);
    // The transport's rewind action. Main thread.
    virtual void rewind();

    // --- Jumps and crossovers (KavioVideoItemManager+Jumps.cpp) -----------------------------------
    // jumpToItem: nothing for no cue, a cue not ready, or while canJump() is false. With the
    // global transition switch on, another cue than the current one, the master fader up, Shift
    // not held and no integration or panic load pending, it crosses over (startTransitionToItem)
    // when the current cue and the target's transition renderer exist; else it cuts: a playing
    // clock stops and the cut completes on the clock thread, a stopped one at once on the
    // caller's. The cut waits for the render pass, makes the target current and rewinds every
    // cue; the target's time jump then realigns the clock and starts it when asked.
    // The waits for the render pass poll isRendering every 1/600 s and give up after this long
    // (logged): a pass that never ends must not hang the show.
    static constexpr double kRenderPassWaitLimitSeconds = 1.0;
    // jumpToItemByClock (declared above): the clock's "jumpToItem" (0-based index in the user
    // info); an index outside the list is logged and ignored. Any thread.
    // The first cue rewinds; otherwise the cue before the current one. Nothing without a current cue.
    void jumpToPrevItem();
    // The last cue fast-forwards; otherwise the current cue's next one.
    void jumpToNextItem();
    void jumpToSelectedItem();
    // GO by selection, 1-based index, name and cue ID: on the main queue (re-posted there from
    // other threads); a name or cue ID that matches nothing does nothing.
    void jumpToAndPlaySelectedItem();
    void jumpToAndPlayItemAtIndex(std::uint64_t index);
    void jumpToAndPlayItemWithName(const QString& name);
    void jumpToAndPlayItemWithCueID(const QString& cueID);
    void jumpToItemWithName(const QString& name);
    // GO on a cue: another cue is jumped to and played; the current cue stopped at its end (or
    // the last cue at its very end) restarts from its in point; the current cue stopped
    // elsewhere resumes; the current cue playing is left alone. Main queue.
    void jumpToAndPlayItem(const std::shared_ptr<KavioVideoItem>& item) override;
    // A crossover from the current cue to `item` over the item's transition length; dropped for
    // no cue or while one runs. Any thread.
    void startTransitionToItem(const std::shared_ptr<KavioVideoItem>& item);
    // The operator toggled the global transition switch: the next jump reads it.
    void handleGlobalTransitionChanged() {}

    // --- Transport (KavioVideoItemManager+Transport.cpp) -----------------------------------------
    // rewind (declared above): a jump to the first cue, a rewind when it is the current cue.
    void fastForward();
    // A step would stay inside the current cue (not on its first / last frame).
    bool canStepPrevFrame() const;
    bool canStepNextFrame() const;
    void stepToPrevFrame();
    void stepToNextFrame();
    // One frame back (step < 1) or forward: a movie seeks one frame of its own, any other cue
    // moves the clock one frame when that stays inside the cue (else nothing happens and the
    // step's flag clears). Then the marker follows and the link is told. Main thread.
    void performFrameSteppingByValue(int step);
    // A new speed in percent for the cue; the current cue changes it inside a temporary stop.
    // `completed` (may be empty) runs at the end, at once when the speed is the same.
    void handleChangeOfPlaybackSpeedOnItem(const std::shared_ptr<KavioVideoItem>& item, std::int64_t speed,
                                           std::function<void()> completed) override;
    // The bracket of an edit: playback stops (the handler runs once stopped) and at the end
    // resumes when it played at the start (the handler, may be empty, runs once resumed).
    void handleTemporaryPlaybackStopWithCompletedHandler(std::function<void()> handler);
    void handleEndOfTemporaryPlaybackStopWithCompletedHandler(std::function<void()> handler);
    // Sets the clock's SMPTE format (a QVTClockSMPTEFormat code) and the frame-rate popup; the
    // caller rebuilds the cue times.
    void convertFramerateTo(std::int32_t format);
    // The master fader moved: the current cue's volume follows. Main thread.
    void masterSliderChanged();
    // The fade button: a timed fade out (fader up) or in (fader down); with Alt held a cut to
    // 0 or 1. Main thread.
    void doFade();
    // A fade to black of the default fade length that then stops (or leaves following
    // timecode) and applies the panic behaviour; the link is told.
    void doPanic();
    // Presses the play button (start) through the application controller. Main queue.
    virtual void startPlayback();

    // --- Seek, goto and markers (KavioVideoItemManager+Seek.cpp) --------------------------------
    // Locates the clock `seconds` before the current cue's end and tells the link; dropped
    // while a crossover runs. Main queue.
    void performGotoToFromEnd(double seconds);
    // The playhead drag's bracket (QVTTimelineMarkerControllerDelegate) and its state.
    void handleMarkerMouseDownWithCompletedHandler(std::function<void()> handler) override;
    void handleMarkerMouseUpWithCompletedHandler(std::function<void()> handler) override;
    bool isPlayheadMarkerDragging() const override { return cachedhandledraggingmarker_.load(); }
    // Locates the stopped clock to the playhead marker's frame in the current cue.
    void performGotoToByMarker() override;
    // The inspector takes the handles' new in and out points; a playing cue whose playhead
    // left the range rewinds.
    void handleMarkerThrottlerDragged() override;
    // seekToSMPTETime (declared above) walks the list for the cue holding the time (the later
    // of two overlapping cues, a looping cue's pass), seeks it there and makes it current.
    // A time counted from the current cue's start; past its length one frame and 1 ms short.
    void seekToSMPTETimeOnCurrentItem(const QString& smpte);
    // Both ends included; compared in single precision at timescale 1000. Any thread.
    bool smpteTimeIsBetweenStartAndEnd(const QString& time, const QString& start, const QString& end) const;
    // A typed time: "+T" / "-T" relative to the clock, "T" absolute. Text that is not a
    // timecode (digits and colons after one optional sign) is refused and the field shows the
    // clock time again; "-T" before the playlist start locates to the start. Main thread.
    void setClockToTime(const QString& text);
    // The in and out points back to the media's ends (undoable), and the inspector's call-backs
    // after an in, out or both changed (current cue only).
    void resetInOutTime();
    void handleInTimeResetOnItem(const std::shared_ptr<KavioVideoItem>& item);
    void handleOutTimeResetOnItem(const std::shared_ptr<KavioVideoItem>& item);
    void handleInOutTimeResetOnItem(const std::shared_ptr<KavioVideoItem>& item);
    // Neither MIDI timecode nor LTC is followed, nothing transcodes and one cue is selected.
    bool isJumpToSelectedItemEnabled() const;

    // --- HyperDeck-protocol answers (KavioVideoItemManager+HyperDeck.cpp; ZelmoraDelegate) ------
    // Called on the server's thread. The answers read the list, the current cue, the clock and the
    // Play and Loop buttons where they are asked; the clip lines are built on the items queue
    // (so never from it). The actions go to the main queue in the order asked and return at once.
    QString hyperdeck_playbackStatus() override;
    std::int32_t hyperdeck_playbackSpeed() override;
    std::int32_t hyperdeck_slotID() override { return 1; }
    // The current cue's index; "none" without one.
    QString hyperdeck_clipID() override;
    QString hyperdeck_displayTimecode() override;
    // "true" when the current cue pauses at its end.
    QString hyperdeck_isSingleClip() override;
    // "true" while the Loop button is on.
    QString hyperdeck_isLooping() override;
    QString hyperdeck_videoFormat() override { return QStringLiteral("1080p30"); }
    std::int32_t hyperdeck_clipCount() override;
    // "<index>: <name> <unshifted start> <running time>" per cue; CR and LF in a name become spaces.
    QStringList hyperdeck_clipsInfo() override;
    // Start while the Play button is off and enabled; stop while it is on (state 1) and enabled.
    void hyperdeck_startPlayback() override;
    void hyperdeck_stopPlayback() override;
    // jumpToItem of the cue with that index (none: nothing).
    void hyperdeck_gotoClip(std::uint64_t clipID) override;
    // "+t" / "-t": t after / before the current cue's start time (itemStartSMPTETime, where the
    // stopped cue stands; nothing without a current cue; see hyperdeckGotoOffset), sought with the
    // goto flag set. No sign: show time t (seekToSMPTETime).
    void hyperdeck_gotoWithTimecode(const QString& timecode) override;
    // Every cue: loop off and pause at end on / pause at end off; each then validates its toggles.
    void hyperdeck_makePauseAtEndOnAllItems() override;
    void hyperdeck_makePauseAtEndOffAllItems() override;
    // The current cue: pause at end off and loop on / loop off and pause at end on.
    void hyperdeck_makeLoopOnCurrentItem() override;
    void hyperdeck_makeLoopOffCurrentItem() override;
    // The Loop button on / off, then shouldLoop.
    void hyperdeck_makeLoopOnPlaylist() override;
    void hyperdeck_makeLoopOffPlaylist() override;
    // Where a signed goto lands, in seconds from the current cue's start time `start` (its running
    // time `runTime`, one frame `frame`, all seconds). Minus: back by `offset`, but no
    // earlier than 0.001 s of show time when the offset passes the cue start. Plus: forward by
    // `offset`, but no later than the cue's last frame (runTime − frame − 0.001 s, not below 0).
    static double hyperdeckGotoOffset(bool minus, double offset, double start, double runTime, double frame);

    // --- Frame composition (KavioVideoItemManager+Composition.cpp) ---------------------------------
    // One composition pass at the render clock's time, inside the frame's command buffer: the
    // cues' per-frame tasks, the master fade's step, then the current cue alone, or the two cues
    // of a running transition (the outgoing one into slot A, the incoming one into slot B)
    // through the transition renderer, with the audio crossfade. isRendering is on meanwhile;
    // while a jump is pending the pass changes nothing; what a cue throws ends the pass (logged).
    // Render thread.
    void createCurrentTextureAtTime(double time) override;
    // The picture of the last pass: the running transition's output, the current cue's layer,
    // or nullptr when no cue was current. Render thread.
    std::shared_ptr<GpuTexture> textureName() const override;
    // Brings the cue's frame of this pass into its layer renderer: a texture source's picture
    // directly, any other through its frame copy uploaded into slot A or B. A slot-A fetch comes
    // first in every pass and releases both slots. Nothing for nullptr. Render thread.
    void renderItem(const std::shared_ptr<KavioVideoItem>& item, bool isB = false);
    // The slot textures the current pass fetched (nullptr once released). Render thread.
    std::shared_ptr<GpuTexture> texA() const { return texA_; }
    std::shared_ptr<GpuTexture> texB() const { return texB_; }
    // The controller-driven crossover that is running (set by the jumps), held weakly. Any thread.
    std::shared_ptr<KavioMetalTransitionRendererInterface> currentTransition() const { return currentTransition_.load().lock(); }
    void setCurrentTransition(const std::shared_ptr<KavioMetalTransitionRendererInterface>& transition)
    {
        currentTransition_.store(transition);
    }
    // The overlays over the preview and the outputs: the current cue's elapsed and remaining
    // times, a frame-rate text and its caption, as the display defaults ("displayCueTimeOverlay",
    // "displayRenderingFPS", "displaySubtitles") and the output ask. nullptr without a current
    // cue, for a zero size, and for an output that asks for neither times nor caption. Render
    // thread.
    std::shared_ptr<GpuTexture> overlayPreviewTextureForSize(QSizeF size, bool useAbsoluteSize,
                                                             const QString& fps) override;
    std::shared_ptr<GpuTexture> overlayOutputTextureForSize(QSizeF size, bool useAbsoluteSize, bool renderTime,
                                                            bool renderCaption);
    std::shared_ptr<KavioVideoOutputManagerInterface> videoOutputManager() const override;
    std::int32_t renderingFPS() const override;
    // The per-output audio crossfades two cues (the audio streamers manager mixes). Any thread.
    bool isMixing() const override;
    // The GPU manager the frame slots and overlays render with; QVTMetalManager::sharedManager()
    // unless set. Main thread, before createTextureCache() and the first pass (tests give theirs).
    void setMetalManager(QVTMetalManager& manager);
    // Settings actions (main thread): each stores its control's value and synchronises the
    // defaults. The matte colour goes to the GPU manager (alpha 1.0); the overlay and caption
    // settings have both overlays redrawn; the caption settings also post
    // "KavioSubtitleSettingsChanged", and their colours reach KavioOverlayFontManager.
    void changeMatteColor();
    void changeSubtitlesOverlayFontSize();
    void changeSubtitlesOverlayFont();
    void changeSubtitlesOverlayBackgroundColor();
    void changeSubtitlesOverlayFontColor();
    // Steps of other concerns the pass runs.
    // One step of the master fade out / in (transport).
    virtual void processFadeOut();
    virtual void processFadeIn();
    // Ends the running crossover once its progress reached 1 (jumps).
    virtual void stopTransitionToItem();
    // The playhead marker follows the current cue and the meters redraw (seek). Main thread.
    virtual void redrawPlayheadAndMeters();

    // --- Playlist defaults (KavioVideoItemManager+Defaults.cpp; main thread) ---------------------
    // loadPlaylistDefaults (declared above) reads every playlist default into the controls and
    // properties, writing the absent ones, with undo registration off on both windows.
    // The coupling rules of the default toggles, applied to the four checkboxes.
    void handleDefaultCueToggleStates();
    void handleDefaultPauseToggleStates();
    void handleDefaultLoopAndTransitionToggleStates();
    // Writes seven of the default toggles (transition and loop have their own actions).
    void storePlaylistToggleDefaults();
    void changeDefaultTogglePauseAtBeginning();
    void changeDefaultTogglePauseAtEnd();
    void changeDefaultToggleTransition();
    void changeDefaultToggleLoop();
    // The field's SMPTE text as the default duration of cues without a media clock, undoable on
    // the preferences window ("Change Default non-Movie Cue Duration").
    void changeDefaultNonMovieCueDuration();
    void undoChangeDefaultNonMovieCueDuration(double seconds);
    // Stores the duration, at least one frame of the clock's format (NaN and negatives too),
    // and shows it in the field.
    void setDefaultNonMovieCueDuration(double seconds);
    // The field's address, undoable ("Change Default Browser Source URL").
    void changeDefaultBrowserSourceURL();
    void undoChangeDefaultBrowserSourceURL(const QString& url);
    void changeJumpBehaviour();
    void changePanicBehaviour();
    void changeDefaultCueViewStates();
    void changeAutoStart();
    void changeAutoFullscreen();
    // Stores the popup's tag, takes its low byte and posts "KavioDeinterlaceStateChanged".
    void changeRenderingDeinterlaceMode();
    // The View menu's display toggles: each flips its user default.
    void toggleTimeDisplay();
    void toggleTRTDisplay();
    void toggleCueAutoScroll();
    void toggleCueTimeOverlay();
    void toggleSubtitlesDisplay();
    void toggleRenderingFPSDisplay();
    // Whether a menu item of that action is enabled now, and its title (validateMenuAction on
    // the controller's state).
    KavioMenuValidation validateUserInterfaceItem(KavioMenuAction action) const;
    KavioMenuState menuState() const;

    // --- Playlist settings (KavioVideoItemManager+Settings.cpp; main thread) --------------------
    // The preferences window in front on its playlist pane, showing the clock's format and
    // offset (refreshStartTimeAndFPS).
    void editPlaylistSettings();
    // The frame-rate popup and the start-time field show the clock's format and offset.
    void refreshStartTimeAndFPS();
    // The start-time field's text as the clock's offset (undoable, "Change Playlist Start
    // Time"): a text that is not a timecode is refused and the field shows the offset again; the
    // same offset registers nothing; another rewinds and moves every cue time.
    void changeStartTime();
    void undoApplyStartTime(const QString& smpte);
    // The popup's format (at most 3), applied with playback stopped and restarted around it;
    // the cue times follow the new rate (undoable, "Change Playlist Frame rate").
    void changeFramerate();
    void undoApplyFramerate(std::int32_t format);
    // Post the default durations to the cues and store the popups' choices.
    void changeDefaultFadeDuration();
    void changeDefaultTransition();
    void changeDefaultTransitionDuration();
    // validateTransport (declared above): the transport controls follow the list
    // (transportControlsForState); nothing while a project loads; from another thread it runs
    // synchronously on the main queue.

    // --- Scalar settings ---------------------------------------------------------------------------
    KAVIO_ATOMIC_PROPERTY(std::int64_t, playbackMode, setPlaybackMode, 0)
    KAVIO_ATOMIC_PROPERTY(std::int32_t, jumpBehaviour, setJumpBehaviour, 1)
    KAVIO_ATOMIC_PROPERTY(std::int32_t, panicBehaviour, setPanicBehaviour, 10)
    KAVIO_ATOMIC_PROPERTY(std::int32_t, defaultCueViewState, setDefaultCueViewState, 10)
    KAVIO_ATOMIC_PROPERTY(double, defaultNonMovieCueDuration, storeDefaultNonMovieCueDuration, 2.0)
    KAVIO_ATOMIC_PROPERTY(double, defaultTransitionDuration, setDefaultTransitionDuration, 0.0)
    KAVIO_ATOMIC_PROPERTY(std::uint64_t, maxRenderSize, setMaxRenderSize, 16384)
    // The low byte of the deinterlace popup's tag; non-zero deinterlaces.
    KAVIO_ATOMIC_PROPERTY(long, deinterlaceMode, setDeinterlaceMode, 0)

    // --- Flags ----------------------------------------------------------------------------------
    KAVIO_ATOMIC_PROPERTY(bool, isLoadingProject, setIsLoadingProject, false)
    KAVIO_ATOMIC_PROPERTY(bool, isDroppingInMultipleFiles, setIsDroppingInMultipleFiles, false)
    KAVIO_ATOMIC_PROPERTY(bool, isPlaying, setIsPlaying, false)
    KAVIO_ATOMIC_PROPERTY(bool, isTranscoding, setIsTranscoding, false)
    KAVIO_ATOMIC_PROPERTY(bool, undoGroupingStarted, setUndoGroupingStarted, false)
    KAVIO_ATOMIC_PROPERTY(bool, shouldFadeIn, setShouldFadeIn, false)
    KAVIO_ATOMIC_PROPERTY(bool, shouldFadeOut, setShouldFadeOut, false)
    KAVIO_ATOMIC_PROPERTY(bool, shouldPanic, setShouldPanic, false)
    KAVIO_ATOMIC_PROPERTY(bool, shouldProcessPanicBehaviour, setShouldProcessPanicBehaviour, false)
    KAVIO_ATOMIC_PROPERTY(bool, shouldRestartClockByLoop, setShouldRestartClockByLoop, false)
    KAVIO_ATOMIC_PROPERTY(bool, shouldTriggerNextItem, setShouldTriggerNextItem, false)
    KAVIO_ATOMIC_PROPERTY(bool, shouldLoadNextCueByATEM, setShouldLoadNextCueByATEM, false)
    KAVIO_ATOMIC_PROPERTY(bool, shouldRewindCueByATEM, setShouldRewindCueByATEM, false)
    KAVIO_ATOMIC_PROPERTY(bool, shouldLoadNextCueByNDI, setShouldLoadNextCueByNDI, false)
    KAVIO_ATOMIC_PROPERTY(bool, shouldRewindCueByNDI, setShouldRewindCueByNDI, false)
    KAVIO_ATOMIC_PROPERTY(bool, isProcessingGlobalTransition, setIsProcessingGlobalTransition, false)
    KAVIO_ATOMIC_PROPERTY(bool, willProcessingGlobalTransition, setWillProcessingGlobalTransition, false)
    KAVIO_ATOMIC_PROPERTY(bool, shouldStartClockAfterStartTimeHasBeenSet, setShouldStartClockAfterStartTimeHasBeenSet, false)
    KAVIO_ATOMIC_PROPERTY(bool, shouldStartPlaybackAfterStartTimeHasBeenSet, setShouldStartPlaybackAfterStartTimeHasBeenSet, false)
    KAVIO_ATOMIC_PROPERTY(bool, shouldStartWhenTransitionStarts, setShouldStartWhenTransitionStarts, false)
    KAVIO_ATOMIC_PROPERTY(bool, shouldStopAfterTransitionStops, setShouldStopAfterTransitionStops, false)
    KAVIO_ATOMIC_PROPERTY(bool, shouldSkipRenderingBecauseOfProcessingJump, setShouldSkipRenderingBecauseOfProcessingJump, false)
    KAVIO_ATOMIC_PROPERTY(bool, shouldSkipIncreaseTimeBecauseOfFirstFrame, setShouldSkipIncreaseTimeBecauseOfFirstFrame, false)
    KAVIO_ATOMIC_PROPERTY(bool, isRendering, setIsRendering, false)
    KAVIO_ATOMIC_PROPERTY(bool, seekPerformedByGoto, setSeekPerformedByGoto, false)
    KAVIO_ATOMIC_PROPERTY(bool, seekPerformedByFrameSteps, setSeekPerformedByFrameSteps, false)

public:
    // --- Private state other concerns use (any thread) --------------------------------------------
    bool canJump() const { return canjump_.load(); }
    std::uint64_t lastExpandIndex() const { return lastexpandindex_.load(); }

protected:
    // A jump brackets itself with this: while it is set, the controller's startClock is refused.
    void setIsProcessingJump(bool processing) { isprocessingjump_ = processing; }
    explicit KavioVideoItemManager(UserDefaults& defaults, std::shared_ptr<QVTClockTimeSource> clockTimeSource = nullptr);

private:
    void finishInit();
    // The tick's steps on the SMPTE time `time` (see processOnCurrentClockTime).
    void processTick(const QString& time);
    // At a cue's end: the next cue becomes the selection after the stop when nothing, or only
    // the current cue, is selected.
    void chooseItemToSelectAfterStop(const std::shared_ptr<KavioVideoItem>& current);
    // A panic with this behaviour is being processed.
    bool isProcessingPanicBehaviour(std::int32_t behaviour) const;
    // Runs `body` on the items queue: inline when already there, else synchronously.
    void onItemsQueue(const std::function<void()>& body) const;
    void handleItemsUpdated(int scrollOption, bool itemsChanged);
    // Start frame of the cue after `item`: its end frame + 1, less its transition.
    std::int64_t nextStartFrameAfter(const KavioVideoItem& item) const;
    void rebuildItemTimesAfter(const std::shared_ptr<KavioVideoItem>& item, bool transitioning);
    void setMaxClockToLastItemEnd() const;
    void markProjectChangedForTRT() const;
    void postSelectionChanged() const;
    // Deselects all, selects the cue alone, redraws it and makes it the anchor.
    void selectAsAnchor(const std::shared_ptr<KavioVideoItem>& item);
    void stepSelection(bool forward);
    // Clears every cue's selection and posts "DeselectAllItems" for the rows.
    void deselectAllItems();
    // Off the main thread: posts `call` there (for this controller, while it lives) and answers
    // true; on the main thread answers false and the caller goes on.
    bool repostToMain(std::function<void(KavioVideoItemManager&)> call);
    // The cues whose selection is `selected`, in list order, gathered on the items queue.
    KavioVideoItemList itemsWithSelection(bool selected) const;
    void setSelectionInPositionRange(std::uint64_t location, std::uint64_t length, bool selected);
    // On the main queue: the current row's state view to its origin, the next row's hidden there.
    void resetStateViews(const std::shared_ptr<KavioVideoItem>& current, bool updateNextMeter);
    // The current cue's controls: waveform, goto buttons, throttlers, deck A's channel mapping.
    void updateControlsForCurrentItem(const std::shared_ptr<KavioVideoItem>& item);
    // Reads a colour default of 32 bytes; writes `fallback` when it is absent or malformed.
    QByteArray colorDefault(const QString& key, const QByteArray& fallback) const;

    // Jumps, transport and seeking.
    // Polls isRendering every 1/600 s until the pass ended, at most kRenderPassWaitLimitSeconds.
    void waitForRenderPass(const char* waiter) const;
    void performJump(const std::shared_ptr<KavioVideoItem>& item, bool isRewind, bool wasPlaying);
    bool shouldCrossOverTo(const std::shared_ptr<KavioVideoItem>& item) const;
    void startTransitionBody(const std::shared_ptr<KavioVideoItem>& item, bool startPlayers, bool pressPlay);
    void finishTransition(const std::shared_ptr<KavioVideoItem>& outgoing, const std::shared_ptr<KavioVideoItem>& incoming);
    bool globalTransitionIsOn() const;
    // The play button set without feedback, then the application controller's play toggle.
    void pressPlayButton(int state, std::function<void()> completed);
    // One step of the master fade (direction -1 out, +1 in), applied on the main queue.
    void stepMasterFade(float direction);
    void endPanic();
    void finishFrameStep(const std::shared_ptr<KavioVideoItem>& item, int step);
    // The inspector's shared tail of an in/out change on the current cue.
    void handleInOutChangeOnItem(const std::shared_ptr<KavioVideoItem>& item);

    UserDefaults& defaults_;
    KavioVideoItemManagerOutlets outlets_;
    std::weak_ptr<AppDelegateInterface> delegate_;

    // Owned. items_ is replaced on the items queue only; the clock outlives every thread but its own.
    KavioSnapshotCell<KavioVideoItemListSnapshot> items_{std::make_shared<const KavioVideoItemList>()};
    std::shared_ptr<QVTClock> masterClock_;
    KavioSnapshotCell<std::shared_ptr<KavioRenderClock>> renderClock_;
    std::unique_ptr<DispatchQueue> itemsQeue_;
    std::unique_ptr<DispatchQueue> pixelbufferrenderingqueue_;
    std::unique_ptr<QVTOSCMessage> trtmsg_, selectedcuenamemsg_, selectedcueidmsg_, pongmsg_;
    std::atomic<QVTOSCQueryServer*> oscQueryServer_{nullptr};
    // The prepared messages are shared: one feedback run at a time.
    std::recursive_mutex feedbackMutex_;
    KavioSnapshotCell<QString> defaultBrowserSourceURL_;

    // The current cue: written by setCurrentItem on any thread, read anywhere. The anchor: main thread.
    KavioSnapshotCell<std::weak_ptr<KavioVideoItem>> currentItem_;
    std::weak_ptr<KavioVideoItem> lastClickedItem_;
    KavioSnapshotCell<std::weak_ptr<KavioVideoItem>> lastrendereditem_;  // read by the renderer
    std::atomic<std::uint64_t> lastexpandindex_{0};
    std::atomic<std::uint64_t> newcueindex_{1};
    std::atomic<bool> canjump_{false};
    // What the next clock stop belongs to, and what the last frame showed (clock control, jumps,
    // transport, composition). Any thread.
    std::atomic<bool> isprocessingrewind_{false}, isprocessingtemporarystop_{false};
    std::atomic<bool> isprocessingjump_{false}, isprocessingtransitionfallback_{false};
    std::atomic<bool> renderedglobaltransition_{false}, renderedcuetransition_{false};
    std::atomic<bool> cachedwasplaying_{false}, cachedhandledraggingmarker_{false};
    std::atomic<double> temprendertime_{0.0};
    // The cue to select once the clock has stopped: chosen by the tick, taken by the stop's
    // handling (clock thread) and by jumps. Any thread.
    KavioSnapshotCell<std::shared_ptr<KavioVideoItem>> itemToSelectAfterStop_;
    std::atomic<bool> displayTimeLeft_{false};
    // A throw out of the tick, and ticks past the maximum, are logged once until a tick runs
    // through again.
    std::atomic<bool> tickfaultlogged_{false}, timeoverlogged_{false};
    // A running project load (project loading). Main thread.
    std::uint64_t waitforitemstobeready_ = 0, waitforitemstobeready_loadedalready_ = 0;
    std::uint64_t waitforitemstobeready_currentbatch_ = 0, waitforitemstobeready_messagesperitem_ = 0;
    QStringList sortedkeysforloading_;
    QVariantMap dataforloading_;
    std::function<void()> loadingcompletedblock_;
    bool loadingRunning_ = false, loadingRestores_ = false, loadingCreating_ = false;
    std::uint64_t loadingNextKey_ = 0;
    std::vector<std::weak_ptr<KavioVideoItem>> loadingPending_;  // created by the running batch
    // The loading sheet, also shown while cues are removed.
    KavioProgressSheet loadingSheet_;
    std::uint64_t loadingObserver_ = 0;
    // Batches the running load has started (tests read the first key of each).
    std::vector<std::uint64_t> loadingBatchStarts_;
    // Observes "KavioItemBecameReady" with `handler`, run from the main queue (never inside the
    // post: a cue posts while it is being made) while this controller lives.
    std::uint64_t observeReadiness(void (KavioVideoItemManager::*handler)());
    // The replaced current cue's readiness messages still awaited (replacement). Main thread.
    OpenPanel openPanel_;
    // Conversion jobs and their sheet. Main thread.
    QVTTranscoderFactory transcoderFactory_;
    std::vector<std::shared_ptr<QVTTranscoderInterface>> transcodeData_;
    QPointer<QDialog> convertWindow_;
    QTableWidget* convertTableView_ = nullptr;   // inside convertWindow_
    QPushButton* convertCancelButton_ = nullptr;  // inside convertWindow_
    void reloadConversionTable();
    std::shared_ptr<QVTTranscoderInterface> makeTranscodeJob(QVTTranscoderRequest request);
    // Lists the jobs, shows the sheet and starts each job with `start`.
    void runConversionJobs(const std::vector<std::shared_ptr<QVTTranscoderInterface>>& jobs,
                           const std::function<void(QVTTranscoderInterface&)>& start);
    QStringList runOpenPanel(bool multiple) const;
    std::uint64_t replacewaiting_ = 0;
    std::uint64_t replaceObserver_ = 0;
    void finishReplacingItem(const std::shared_ptr<KavioVideoItem>& item, const std::shared_ptr<KavioVideoItem>& cue,
                             bool keepTiming);
    void handleItemsStatusChangeOnReplace();
    // Opens the cue list's undo group unless one is open; answers whether it did. The end names
    // the step and closes a group this call opened (editing).
    bool beginEditGroup();
    void endEditGroup(bool opened, const QString& actionName);
    // Project loading's steps (KavioVideoItemManager+Archive.cpp).
    void processLoadingCuesFromNumber(std::uint64_t first, bool restoreCues);
    void handleItemsStatusChangeOnCreatingCues();
    void completeLoading();
    void advanceLoadingProgress(std::uint64_t messages);

    std::vector<std::uint64_t> observerTokens_;  // on the clock's centre

    // Frame composition. The overlayers and the GPU manager are set on the main thread before
    // rendering; the slots are made once (appLaunched) while the render thread may run already.
    void composeFrame(double time);
    // Crosses T's source (slot A) into its destination (slot B) at progress p.
    void renderTransition(KavioMetalTransitionRendererInterface& transition, float progress, bool global);
    QVTMetalManager& metalManager() const;
    // The shared tail of the caption settings actions.
    void captionSettingsChanged();
    // The display defaults the overlays follow, cached for the render thread: read at init and
    // at every "KavioUpdateUI" (main thread).
    void readOverlayDefaults();
    // Flips one of those display defaults; the preview's overlay clears.
    void flipOverlayDefault(const char* key);
    // Registers `undo` (run on this controller while it lives) under `name` on the preferences
    // window's undo manager, when there is one.
    void registerPreferencesUndo(std::function<void(KavioVideoItemManager&)> undo, const QString& name);
    std::atomic<bool> displayCueTimeOverlay_{false}, displayRenderingFPS_{false}, displaySubtitles_{false};
    QVTMetalManager* metalManager_ = nullptr;
    std::unique_ptr<KavioOverlayer> previewoverlayer_, outputoverlayer_;
    KavioSnapshotCell<std::shared_ptr<KavioFrameSlots>> textureCache_;
    std::shared_ptr<GpuTexture> texA_, texB_;  // render thread
    bool passFailureLogged_ = false;            // render thread
    KavioSnapshotCell<std::weak_ptr<KavioMetalTransitionRendererInterface>> currentTransition_;
};

#undef KAVIO_ATOMIC_PROPERTY

template <typename Manager>
std::shared_ptr<Manager> KavioVideoItemManager::init(UserDefaults& defaults,
                                                     std::shared_ptr<QVTClockTimeSource> clockTimeSource)
{
    std::shared_ptr<Manager> manager(new Manager(defaults, std::move(clockTimeSource)));
    manager->finishInit();
    return manager;
}
