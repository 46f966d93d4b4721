#pragma once
// AppDelegate: the application controller. It brings the program up in a fixed order, ticks the
// interface, saves and opens the project file, and quits safely. It is the cue list
// controller's `delegate`. The implementation is split by concern into AppDelegate+<Concern>.cpp
// (Lifecycle, Project).
//
// Ownership: KavioMainInterface creates the one delegate and every object it points to, and
// keeps them for the run; the outlets are non-owning (widgets) or shared (managers).
// Threads: main thread, except where an operation says otherwise.

#include "Shell/AppDelegateInterface.h"
#include "Shell/KavioTriggerMatching.h"

#include <QByteArray>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

class KavioATEMManager;
class KavioAudioOutputManager;
class KavioItemsViewInterface;
class KavioHidingView;
class KavioRecentProjectsView;
class KavioRecentProjectsViewDelegate;
class KavioTimecodeTextFieldInterface;
class KavioTimeFeedbackSender;
class KavioNetworkWatch;
class KavioPopUpButtonInterface;
class KavioProjectLock;
class KavioSleepWatch;
class KavioTextFieldInterface;
class KavioVideoItemManager;
class KavioVideoOutputManager;
class KavioNDIManager;
class KavioWindow;
class QVTAudioInput;
class QVTMIDIManager;
class QVTMIDIReceiverNode;
class QAbstractAnimation;
class QAction;
class QLabel;
class QListWidget;
class QObject;
class QVTOSCManager;
class QTabWidget;
class QTimer;
class QVTMTKView;
class QVTOSCQueryServer;
class QWidget;
class UserDefaults;

// Posted on the default centre.
inline const QString kKavioUpdateUINotification = QStringLiteral("KavioUpdateUI");
// userInfo "state": whether Alt (the Option key) is held now.
inline const QString kKavioAltPressedNotification = QStringLiteral("AltPressed");
inline const QString kKavioNetworkConfigurationDidChangeNotification =
    QStringLiteral("KavioNetworkConfigurationDidChangeNotification");
inline const QString kKavioProjectHasUnsavedChangesNotification = QStringLiteral("ProjectHasUnsavedChanges");
// Posted on the default centre, no object, after "toggleShowCueTypes" flipped.
inline const QString kKavioCueTypesToggledNotification = QStringLiteral("KavioCueTypesToggled");

// The trigger fields, in the preferences record's order; they index the Learn and Clear buttons.
enum class KavioTriggerField {
    MidiStart, MidiStop, MidiPrevious, MidiNext, MidiMainFader,
    DmxStartStop, DmxPrevious, DmxNext, DmxMainFader,
};
inline constexpr int kKavioTriggerFieldCount = 9;
inline constexpr int kKavioFirstDmxTriggerField = int(KavioTriggerField::DmxStartStop);

// The four functions a MIDI source is chosen for.
enum class KavioMIDISourceKind { MTC, MMC, MSC, MIDI };

// What the main interface connects before launch. Main thread.
struct AppDelegateOutlets {
    KavioWindow* window = nullptr;
    QWidget* preferencesWindow = nullptr;
    // The preferences window's own undo steps (the playlist settings register there).
    UndoManager* preferencesUndoManager = nullptr;
    QWidget* startupWindow = nullptr;
    std::shared_ptr<KavioVideoItemManager> controller;
    std::shared_ptr<KavioAudioOutputManager> audioOutputManager;
    std::weak_ptr<KavioVideoOutputManager> videoOutputManager;
    std::weak_ptr<KavioATEMManager> atemManager;
    std::weak_ptr<KavioNDIManager> ndiManager;  // its record travels in the project
    QVTMTKView* preview = nullptr;

    KavioButtonInterface* playButton = nullptr;
    KavioButtonInterface* loopButton = nullptr;
    KavioButtonInterface* globalTransitionButton = nullptr;
    KavioButtonInterface* rewindButton = nullptr;
    KavioButtonInterface* prevItemButton = nullptr;
    KavioButtonInterface* nextItemButton = nullptr;
    KavioButtonInterface* fastforwardButton = nullptr;
    KavioButtonInterface* startupShowWindowButton = nullptr;
    KavioButtonInterface* enableBetaUpdatesButton = nullptr;
    KavioButtonInterface* disableConfirmOnQuit = nullptr;

    // The main window's shell: time display, panels and their buttons and menu twins.
    KavioTimecodeTextFieldInterface* mainTimecodeField = nullptr;
    KavioHidingView* leftView = nullptr;
    KavioHidingView* rightView = nullptr;
    KavioHidingView* middleView = nullptr;
    QWidget* verticalPlaceholderLeft = nullptr;
    QWidget* verticalPlaceholderRight = nullptr;
    QWidget* waveformView = nullptr;
    KavioButtonInterface* leftViewButton = nullptr;
    KavioButtonInterface* rightViewButton = nullptr;
    KavioButtonInterface* waveformViewButton = nullptr;
    QAction* showHidePlaylist = nullptr;
    QAction* showHideCuePreferences = nullptr;
    QAction* showHideWaveform = nullptr;
    QAction* standaloneSource = nullptr;
    QAction* mtcSource = nullptr;
    QAction* ltcSource = nullptr;
    QAction* toggleCueTypesMenuItem = nullptr;
    QAction* newProjectMenuItem = nullptr;
    QAction* loadProjectMenuItem = nullptr;

    // The start-up window: the recent-project tiles, most recent first, and its buttons.
    std::array<KavioRecentProjectsView*, 4> recentViews{};
    KavioButtonInterface* startupOpenLastProjectButton = nullptr;
    KavioButtonInterface* startupNewProjectButton = nullptr;
    KavioButtonInterface* startupSupportButton = nullptr;
    KavioButtonInterface* openFacebookPageButton = nullptr;
    KavioButtonInterface* openTwitterPageButton = nullptr;
    KavioButtonInterface* openInstagramPageButton = nullptr;
    QLabel* versionInfo = nullptr;

    // The preferences window's tabs and the list that chooses among them.
    QTabWidget* preferencesTabView = nullptr;
    QListWidget* preferencesTableView = nullptr;
    QAction* alwaysOnTopMenuItem = nullptr;  // checked while the main window stays on top

    // The preferences window's sync, trigger and OSC controls, as the preferences record keeps
    // them. The source pop-ups list the sources there are now.
    KavioPopUpButtonInterface* mtcSourcePopup = nullptr;
    KavioPopUpButtonInterface* mmcSourcePopup = nullptr;
    KavioPopUpButtonInterface* mscSourcePopup = nullptr;
    KavioPopUpButtonInterface* midiSourcePopup = nullptr;
    KavioPopUpButtonInterface* ltcSourcePopup = nullptr;
    KavioPopUpButtonInterface* ltcSourceChannelPopup = nullptr;
    KavioPopUpButtonInterface* freeWheelTimePopup = nullptr;
    KavioTextFieldInterface* midiStartField = nullptr;
    KavioTextFieldInterface* midiStopField = nullptr;
    KavioTextFieldInterface* midiPreviousField = nullptr;
    KavioTextFieldInterface* midiNextField = nullptr;
    KavioTextFieldInterface* midiMainFaderField = nullptr;
    KavioTextFieldInterface* dmxStartStopField = nullptr;
    KavioTextFieldInterface* dmxPreviousField = nullptr;
    KavioTextFieldInterface* dmxNextField = nullptr;
    KavioTextFieldInterface* dmxMainFaderField = nullptr;
    KavioPopUpButtonInterface* dmxSourcePopup = nullptr;
    KavioPopUpButtonInterface* dmxSubNetPopup = nullptr;
    KavioPopUpButtonInterface* dmxUniversePopup = nullptr;
    KavioButtonInterface* oscEnableButton = nullptr;
    KavioPopUpButtonInterface* oscFeedbackTargetPopup = nullptr;
    KavioTextFieldInterface* oscFeedbackTargetPort = nullptr;
    KavioTextFieldInterface* oscFeedbackTargetIP = nullptr;
    // Beside each trigger field (indexed by KavioTriggerField): its Learn toggle and its Clear
    // button.
    std::array<KavioButtonInterface*, kKavioTriggerFieldCount> learnTriggerButtons{};
    std::array<KavioButtonInterface*, kKavioTriggerFieldCount> clearTriggerButtons{};

    // The main window's network link controls: the master switch and the masters menu.
    KavioButtonInterface* nmcEnableButton = nullptr;
    KavioPopUpButtonInterface* nmcServersPopup = nullptr;

    // The OSC kit; the process-wide one when null (tests give one on a stand-in zeroconf).
    QVTOSCManager* oscKit = nullptr;
};

// The source each kind of input had last, as the preferences record gave it (a missing source
// with its " - DISCONNECTED" marker); the source lists find their device again by it.
struct AppDelegateLastInterfaces {
    QString mtc, ltc, msc, mmc, midi, dmx;
};

class AppDelegate : public AppDelegateInterface, public std::enable_shared_from_this<AppDelegate> {
public:
    // `defaults` (the program's settings) and `undoManager` (the main window's) outlive the delegate.
    AppDelegate(UserDefaults& defaults, UndoManager& undoManager);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    void setOutlets(const AppDelegateOutlets& outlets) { outlets_ = outlets; }
    const AppDelegateOutlets& outlets() const { return outlets_; }

    // --- Launch, in this order ------------------------------------------------------------------
    // Once the interface exists: flags, the network watch, defaults, centring, sleep and wake.
    void awakeFromNib();
    // Before the event loop: logging, initial state, button types, key monitors.
    void applicationWillFinishLaunching();
    // On the event loop's first turn: audio, cue list controller, remote control, start-up
    // window, the interface tick, then the project opened at launch or the stored settings.
    void applicationDidFinishLaunching();

    // --- Running --------------------------------------------------------------------------------
    // The interface tick (15 a second, also inside modal dialogs and menus): posts "KavioUpdateUI".
    void updateUI();
    bool isTicking() const;
    // The computer is about to sleep: playback stops. Waking only logs.
    void receivedSleepNote();
    void receivedWakeNote();
    // The "rendering" activity (an idle inhibitor) is held from launch to quit.
    bool isRendering() const;
    // The preferences window closes: the cue list controller's steps leave its undo list.
    void preferencesWindowWillClose();

    // --- Quitting -------------------------------------------------------------------------------
    enum class TerminateReply { Cancel, Now };
    // The quit questions: none with "disableConfirmOnQuit" on; else the save question, then,
    // while playing, "Are you sure you want to Quit?".
    TerminateReply applicationShouldTerminate();
    // Stores the application-wide settings and stops rendering and the tick.
    void applicationWillTerminate();
    // Quit, the close button and SIGINT/SIGTERM: asks, and on yes ends the event loop.
    void terminate();
    // The main window's close button: asks to quit; true once the program is quitting.
    bool quitByCloseButton();

    // --- Project file ---------------------------------------------------------------------------
    QString projectURL() const override { return projectURL_; }
    // Save: to the open file ("kavio" becomes "kavio2" beside it), else Save As. True when a
    // file was written.
    bool saveProject();
    // Save As through the save panel; true when a file was written.
    bool saveProjectAs();
    // Writes the project atomically: a temporary file beside the target, flushed, then renamed
    // over it. On failure logs "error on save: …", beeps and changes nothing.
    bool processSaveWithURL(const QString& path);
    // {"QLIMAGE": PNG of the main window}, empty when no image could be taken.
    QVariantMap quickLookData() const;
    // The platform's open request: false for a file that is not a project; before launch ends
    // it only records the file, which launch opens at its end.
    bool openFile(const QString& path);
    // Open: the save question, the open panel, then the load.
    void loadProject();
    // Opens the newest recent project (after the save question).
    void loadLastProject();
    // Reads the file whole first: an unreadable file or one whose root is not a dictionary
    // leaves the open project as it is and shows an alert naming the file and the reason.
    virtual void loadProjectWithURL(const QString& path);
    // Bundle: the save panel names a folder F; the project is saved as F/F.kavio2 (going on when
    // that fails) and every file-based cue's media file, and a movie's caption files beside it,
    // are copied once each into F/files under their own names. Live cues copy nothing. Files
    // that could not be copied (another file of that name is there already, a failed copy) are
    // logged and named together in one alert at the end.
    void bundlePlaylist();
    // New: the save question, then an empty untitled project.
    void newProject();
    // YES when the open project may be discarded: nothing to lose, "Don't Save", or a
    // successful "Save".
    bool askForNewProject();
    void makeHasUnsavedChanges() { setHasUnsavedChanges(true); }
    // "Kavio <version> (<build>) - <name or Untitled Project> - (TRT: <time>)" plus " *" while
    // dirty; any thread (moves itself to the main queue).
    void displayProjectName();
    QString windowTitleText() const;
    static QString versionInformationString();
    // The recent projects, newest first, at most 10, files that went dropped.
    QStringList recentProjects() const;

    // --- Start-up window (AppDelegate+StartupWindow.cpp) ------------------------------------------
    // Fills the tiles from the recent projects and shows the window, centred, in front.
    void openStartupWindow();
    // The four tiles: a project that is gone becomes a new-project tile, one without a readable
    // preview shows its name and "Preview not available".
    void buildRecentsViews();
    // The checkbox's action: its state is stored under "showStartupWindow".
    void changeShowStartupWindow();
    // "CFBundleShortVersionString" and "CFBundleVersion" of this build.
    static QString shortVersionString();
    static QString bundleVersion();

    // --- Support (AppDelegate+Support.cpp) --------------------------------------------------------
    // The program's log files, oldest first, each followed by "---"; an unreadable (or not
    // UTF-8) file gives "couldn't get log data, error: …" in its place. Empty without files.
    QString getLogFilesContent() const;
    // The entries of the log files written by the network link (last hour), the OSC kit and the
    // Art-Net framework (last 12 hours), one a line; no value when a log file is not UTF-8.
    std::optional<QString> nmcLog() const;
    std::optional<QString> oscLog() const;
    std::optional<QString> artnetLog() const;
    // The bundle: "DDLOG", "NMC_LOG", "OSC_LOG", "ARTNET_LOG", "FRFeedback" in this order, a key
    // whose value cannot be produced left out (the others kept), as an XML property list.
    QByteArray logBundle() const;
    // Asks where, then writes the bundle there atomically; false (after an alert when the
    // target cannot be written) when nothing was written.
    bool collectAndSaveLogs();
    // The crash reports' text, oldest first.
    QString logsForSave() const;
    // Offers each crash report the last runs left, once (save a copy, or dismiss).
    void reportIfCrash();
    // Composes a feedback report from customParametersForFeedbackReport and saves it where the
    // operator chooses; true when written.
    bool showFeedbackDialog();
    QVariantMap customParametersForFeedbackReport() const;
    // The update check's parameters for that beta state; pure.
    static QVariantList feedParametersForUpdater(bool betaUpdates);
    QVariantList feedParametersForUpdater() const;
    // There is no update channel: says so.
    void checkForUpdates();
    // The preferences window's tab list.
    int numberOfRowsInTableView() const;
    QString tableViewObjectValueForRow(int row) const;
    void tableViewSelectionDidChange();
    void resetWarnings();
    void changeMiscSettings();
    void changeDisableConfirmOnQuit();
    // The help and social-media pages, in the default browser.
    void showOnlineDocumentation();
    void openGettingStartedPage();
    void openFacebookPage();
    void openTwitterPage();
    void openInstagramPage();

    // --- Preferences record (the show's settings) -------------------------------------------------
    virtual QVariantMap saveData() const;
    virtual void loadWithData(const QVariantMap& record);

    // --- State ----------------------------------------------------------------------------------
    bool appStarted() const { return appStarted_; }
    // From applicationWillTerminate on; rendering then stops at the end of the frame in progress.
    bool isTerminating() const { return terminating_; }
    bool isLoadingProject() const { return isLoadingProject_; }
    bool hasUnsavedChanges() const { return hasUnsavedChanges_.load(); }
    bool cmdPressed() const { return cmdPressed_; }
    bool shiftPressed() const override { return shiftPressed_; }
    const AppDelegateLastInterfaces& lastInterfaces() const { return lastInterfaces_; }

    // --- AppDelegateInterface -------------------------------------------------------------------
    KavioButtonInterface* loopButton() const override { return outlets_.loopButton; }
    void setShouldForceDisplayBecauseOfTRTChange(bool force) override { shouldForceDisplay_.store(force); }
    void setHasUnsavedChanges(bool hasUnsavedChanges) override;
    bool altPressed() const override { return altPressed_; }
    bool shouldEnablePauseAtEndBecauseOfOldProject() const override { return shouldEnablePauseAtEnd_; }
    UndoManager& undoManager() override { return undoManager_; }
    KavioButtonInterface* playButton() const override { return outlets_.playButton; }
    void setMainUIStateAfterPlaybackChanged() override;
    void displayTimeIfNeeded(const QString& smpte) override;
    void stopClockByManagerIfNeeded() override;
    // The play decision; see AppDelegate+Transport.cpp. `handler` runs on the main queue: at once
    // when there is nothing to do, after the clock stopped for a stop.
    void performTogglePlayWithCompletedHandler(std::function<void()> handler) override;

    // --- The playlist settings' reach into the windows (AppDelegate+Preferences.cpp) -----------
    UndoManager* preferencesUndoManager() override { return outlets_.preferencesUndoManager; }
    KavioButtonInterface* rewindButton() const override { return outlets_.rewindButton; }
    KavioButtonInterface* fastforwardButton() const override { return outlets_.fastforwardButton; }
    KavioButtonInterface* prevItemButton() const override { return outlets_.prevItemButton; }
    KavioButtonInterface* nextItemButton() const override { return outlets_.nextItemButton; }
    void setMainTimecodeFieldEnabled(bool enabled) override;
    bool isPreferencesWindowVisible() const override;
    // The preferences table takes the focus, which ends the edit of a field.
    void endPreferencesEditing() override;
    // Shows the preferences window in front with the row of the "playlist" tab selected.
    void showPlaylistPreferences() override;
    // The cue list view is the main window's focus widget (whether or not the window is active).
    bool isCueListFirstResponder() const override;

    // --- Transport and main-window shell (AppDelegate+Transport.cpp, +Panels.cpp) ---------------
    // The play button's action. Any thread: off the main thread it moves itself to the main queue.
    void togglePlay() override;
    // Switches the sync source to the mode of `sender` (standaloneSource, mtcSource or
    // ltcSource), passing through standalone and stopping a playing show first.
    void toggleSourceMode(QAction* sender);
    // The same by playback mode code: 0 standalone, 1 MIDI time code, 2 LTC; others do nothing.
    void toggleSourceMode(std::int64_t playbackMode) override;
    KavioButtonInterface* globalTransitionButton() const override { return outlets_.globalTransitionButton; }
    void toggleLoop();
    void toggleGlobalTransition();
    // The panel buttons' actions; `sender` is the menu twin when the menu asked, else nullptr.
    void toggleLeftView(QAction* sender = nullptr);
    void toggleRightView(QAction* sender = nullptr);
    void toggleWaveformView(QAction* sender = nullptr);
    void toggleCueTypes();
    void changeAlwaysOnTop();
    // 25 (the status-window level) while the main window stays on top, else 0.
    int mainWindowLevel() const;
    // Whether the menu item may run now; also retitles the cue-types item.
    bool validateMenuItem(QAction* item);
    // The OSC time feedback: the clock time, the current cue's time left and elapsed. Any thread
    // but a real-time one: it allocates and takes the OSC kit's lock.
    void sendTimeRelatedOSCFeedback();
    // A running panel animation (tests wait for it); nullptr when none runs.
    QAbstractAnimation* runningPanelAnimation() const;
    void setShouldUseSynchronousAnimationOnLeft(bool on) { shouldUseSynchronousAnimationOnLeft_ = on; }
    void setShouldUseSynchronousAnimationOnRight(bool on) { shouldUseSynchronousAnimationOnRight_ = on; }
    bool shouldUseSynchronousAnimationOnLeft() const { return shouldUseSynchronousAnimationOnLeft_; }
    bool shouldUseSynchronousAnimationOnRight() const { return shouldUseSynchronousAnimationOnRight_; }
    // Launch: the right panel's width is 346, the left panel's its width now; answers the main
    // window's minimum width (both panels, both dividers and 200 for the centre).
    int layOutPanelsAtLaunch();
    // The preferences record's panel entries: both widths and the three panel buttons; a restore
    // clicks a button whose stored state differs, the side panels without animation.
    void savePanels(QVariantMap& record) const;
    void restorePanels(const QVariantMap& record);
    // The main interface's master view resized: the panels follow (left fixed, centre
    // stretching, right pinned to the right edge, all stretching in height).
    void masterViewResized(QSize oldSize, QSize newSize);

    // --- OSC remote control (AppDelegate+OSC.cpp) --------------------------------------------
    // Rebuilds the OSC input "Kavio" on UDP 51000, its observation and the global addresses in
    // the query server from the enable button: off leaves no input and the query server stopped.
    // The feedback output is removed here and rebuilt only from the target. Main thread.
    void oscSettingsChanged();
    // The kit of the outlets, else the process-wide one.
    QVTOSCManager& oscKit() const;
    // The enable button's action: the settings rebuilt, and switched on, the feedback output too.
    void oscEnableButtonChanged();
    // One received message ("QVTOSC-RECEIVED" user info), on the kit's receiving thread. Dropped
    // while a project loads. Addresses of up to three parts are the global commands, carried out
    // in one main-queue step per message, in arrival order; longer ones are handed to the cues
    // on the kit's centre (the role prefixes rewritten, see KavioOSCCueAddressing.h),
    // synchronously, with the user info unchanged.
    void receivedOSC(const QVariantMap& userInfo);
    // The target pop-up's client items follow the kit's detected clients (this program's own
    // input left out; the last record of a display name wins); the selected title stays when it
    // is still there, else "Custom". Main thread.
    void oscClientsDetected();
    // The target pop-up's action: the host and port fields from the choice, then the output.
    void oscFeedbackTargetSelected();
    // Recreates the feedback output "Kavio" from the host and port fields (51000 to one of this
    // computer's own addresses becomes 51001); an unusable target leaves none and beeps, except
    // for "Disabled". On success every feedback source resends ("processOSCFeedback").
    // `sender`, when given, is a field whose editing ends.
    void oscFeedbackTargetSettingsChanged(KavioTextFieldInterface* sender = nullptr);
    // "processOSCFeedback", the current cue's feedback, then the time feedback. Any thread.
    void resendAllOSCFeedback();
    // Registers the global addresses in the shared query server the first time, restarts it
    // afterwards; removeDefaultOSCAddresses only stops it.
    void addDefaultOSCAddresses();
    void removeDefaultOSCAddresses();
    // The query server once the global addresses were registered; nullptr before.
    QVTOSCQueryServer* oscQueryServer() const { return oscqueryserver_; }

    // --- MIDI and DMX triggers (AppDelegate+Triggers.cpp) --------------------------------------
    // The MIDI manager the sources and triggers come from: the process's shared one from launch
    // on; a test gives one of its own. Observes its set-up changes and runs midiSetupChanged.
    void setMIDIManager(QVTMIDIManager* manager);
    QVTMIDIManager* midiManager() const { return midiManager_; }
    // Attaches the triggers to the source node chosen for them (currentMIDISource): only its
    // notes and control changes reach receivedMIDINoteOrCC; the MIDI Learn buttons are enabled
    // exactly while it exists.
    void setupMIDIListener();
    // A note or control change ("CH", "NOTE" or "CC", "VAL", "TYPE"), and a DMX channel change
    // ("updatedChannel": [channel, value]), on the delivering thread. The bindings are matched
    // there (over the copy triggerFieldsChanged made); the effect (the learned text, the Play
    // button's target, a click on Previous or Next, the master fader) runs on the main thread, one
    // main-queue step per event in arrival order. Events without their keys are ignored.
    void receivedMIDINoteOrCC(const QVariantMap& userInfo);
    void receivedDMX(const QVariantMap& userInfo);
    // The Learn toggles' action: ends any learning, then, when `sender` was switched on, learns
    // into its field (each event overwrites the text until learning ends).
    void learnTrigger(KavioTriggerField field);
    // The Clear buttons' action: empties the field and marks the project changed.
    void clearTrigger(KavioTriggerField field);
    // Switches every Learn toggle off; nothing is learned afterwards.
    void disableLearns();
    // A trigger field's text changed (edited, learned, cleared, loaded): the receive threads
    // match against the new texts from now on.
    void triggerFieldsChanged();
    // The field learning now, if any.
    std::optional<KavioTriggerField> learnDestination() const;

    // --- Sync sources and interfaces (AppDelegate+SyncSources.cpp) --------------------------
    // The MIDI set-up changed: the four MIDI pop-ups list the sources there are (after their
    // two fixed entries), a remembered missing source stays shown with " - DISCONNECTED", and
    // every MIDI listener is attached again. Main thread (called elsewhere it moves there).
    void midiSetupChanged();
    // A MIDI pop-up's action (the user's choice, or the loader's).
    void midiSourceSelected(KavioMIDISourceKind kind);
    void mtcSourceSelected() { midiSourceSelected(KavioMIDISourceKind::MTC); }
    void mmcSourceSelected() { midiSourceSelected(KavioMIDISourceKind::MMC); }
    void mscSourceSelected() { midiSourceSelected(KavioMIDISourceKind::MSC); }
    void midiTriggerSourceSelected() { midiSourceSelected(KavioMIDISourceKind::MIDI); }
    // The pop-up shows the selection, or the selection falls back to the first source.
    void refreshMenuForSelectedSource(KavioMIDISourceKind kind);
    // The chosen source name of a kind (null: none chosen yet) and its node (null when no source
    // has that name: "Disabled" or a disconnected entry).
    QString selectedSource(KavioMIDISourceKind kind) const;
    std::shared_ptr<QVTMIDIReceiverNode> currentSource(KavioMIDISourceKind kind) const;
    std::shared_ptr<QVTMIDIReceiverNode> currentMIDISource() const { return currentSource(KavioMIDISourceKind::MIDI); }
    // Stores the MTC source and hands its node to the clock; the "Follow MIDI Time Code" item is
    // enabled exactly while that node exists.
    void setSelectedMTCSyncSource(const QString& name);
    void setupMMCListener();
    void setupMSCListener();

    // The audio inputs there are (input channels, a name other than the UID) after the LTC
    // pop-up's two fixed entries, the default input selected, a remembered one kept.
    void buildLTCSourcesList();
    // The LTC pop-up's action: a device opens (or moves) the LTC input and hands it to the clock;
    // "Disabled" forgets the device; a disconnected entry keeps it remembered, without input.
    void ltcSourceSelected();
    // The channel pop-up lists 1..N of the input's channels ("None", disabled, without input).
    void refreshMenuForSelectedLTCSource();
    void ltcSourceChannelSelected();
    void changeFreeWheelTime();
    QString selectedLTCSyncSource() const { return selectedLTCSyncSource_; }
    std::shared_ptr<QVTAudioInput> ltcInput() const { return ltcInput_; }

    // A new network interface snapshot; when it differs from the last, the DMX pop-up is rebuilt.
    void refreshNetworkInterfaceList();
    // The snapshot is read through this (tests give their own interfaces).
    using NetworkInterfacesProvider = std::function<QVariantMap()>;
    void setNetworkInterfacesProvider(NetworkInterfacesProvider provider);
    QVariantMap currentNetworkConfiguration() const { return currentNetworkConfiguration_; }
    void rebuildNetworkInterfacesMenu();
    // The DMX pop-up's action, and the sub-net's and universe's: a real interface receives
    // Art-Net there (OEM code 5112, Net 0, the Sub-Uni the two titles add up to) and enables the
    // DMX Learn buttons; "Disable" and a disconnected entry stop reception and learning. An
    // interface already received on keeps its receiver (its channel values), so a rebuild does
    // not fire every bound trigger again. `markChanged`: the project counts as changed.
    void dmxSourceSelected(bool markChanged = true);

    // Tests: the save and open panels answer with these instead of a dialog; an empty answer is
    // Cancel.
    using PanelAnswerer = std::function<QString()>;
    void setPanelAnswerer(PanelAnswerer answerer) { panelAnswerer_ = std::move(answerer); }

private:
    void installKeyMonitors();
    // The cue list controller's list view; nullptr before the main window is built.
    std::shared_ptr<KavioItemsViewInterface> cueListView() const;
    // The record's sources, trigger messages and OSC settings.
    void loadRemoteControlSettings(const QVariantMap& record);
    void noteRecentProject(const QString& path);
    enum class Panel { Save, Open, Bundle };
    QString runPanel(Panel panel);
    // Clears the show between two frames and then runs `done` on the main thread: rendering
    // stops at the end of the pass in progress (at once when it is stopped), the preview shows a
    // blank frame, the list empties, the outputs are reset for a load or take the stored set-up
    // for a new project, the project becomes untitled. Rendering stays stopped for a load until
    // the load restarts it.
    void clearProject(bool forProjectLoad, std::function<void()> done);
    void clearProjectWhileRenderIsStopped(bool forProjectLoad, const std::function<void()>& done);
    // The rest of the clearing, once the cue list is empty.
    void finishClearingProject(bool forProjectLoad, const std::function<void()>& done);
    // The application-wide settings take the open show's: "videoOutputSetup" and "appSetup".
    void storeApplicationSettings();
    // A save panel for files of that extension (added when missing); empty for Cancel.
    QString runSavePanel(const QString& type);
    // Writes all of `data` to `path` or nothing; an alert says why nothing.
    bool saveWithAlert(const QString& path, const QByteArray& data);
    // Step 4 of the sync-source switch.
    void enterSourceMode(QAction* sender);
    // Runs a panel animation group of frame moves; `done` runs at its end.
    void animatePanels(bool synchronous, const std::vector<std::pair<QWidget*, QRect>>& frames,
                       std::function<void()> done);

    UserDefaults& defaults_;
    UndoManager& undoManager_;
    AppDelegateOutlets outlets_;
    PanelAnswerer panelAnswerer_;

    QString projectURL_;
    AppDelegateLastInterfaces lastInterfaces_;
    std::shared_ptr<KavioProjectLock> projectLock_;
    std::unique_ptr<KavioNetworkWatch> networkWatch_;
    std::unique_ptr<KavioSleepWatch> sleepWatch_;
    QTimer* uiupdatetimer_ = nullptr;
    QObject* keyMonitor_ = nullptr;

    bool appStarted_ = false;
    bool terminating_ = false;
    bool isLoadingProject_ = false;
    bool altPressed_ = false;
    bool cmdPressed_ = false;
    bool shiftPressed_ = false;
    bool shouldEnablePauseAtEnd_ = false;
    bool shouldUseSynchronousAnimationOnLeft_ = false;
    bool shouldUseSynchronousAnimationOnRight_ = false;
    bool cachedLoopstate_ = false;
    std::atomic<bool> hasUnsavedChanges_{false};
    std::atomic<bool> shouldForceDisplay_{false};
    QPointer<QAbstractAnimation> panelAnimation_;
    // OSC remote control. Main thread.
    void runGlobalOSCCommand(const QString& address, const QVariantMap& userInfo);
    QVTOSCQueryServer* oscqueryserver_ = nullptr;
    std::map<QString, QVariantList> oscClients_;  // client item title → the kit's record
    // MIDI and DMX triggers. The bindings and the learn destination are read by the receive
    // threads, so they are copied here under the lock; the widgets are read on the main thread.
    std::pair<KavioTriggerBindings, std::optional<KavioTriggerField>> triggerState() const;
    bool followsTimecode() const;  // the clock follows MTC or LTC; any thread
    KavioTextFieldInterface* triggerField(KavioTriggerField field) const;
    void applyTriggerEffect(const KavioTriggerEffect& effect);
    void learned(KavioTriggerField field, const QString& key);
    void setLearnButtonsEnabled(bool dmx, bool enabled);
    mutable std::mutex triggersMutex_;
    KavioTriggerBindings bindings_;
    std::optional<KavioTriggerField> learnDestination_;
    QVTMIDIManager* midiManager_ = nullptr;
    std::shared_ptr<QVTMIDIReceiverNode> midiTriggerSource_;  // observed for the triggers

    // Sync sources and interfaces. Main thread.
    struct MIDISourceChoice {
        KavioPopUpButtonInterface* popup = nullptr;
        QString* selected = nullptr;
        QString* lastInterface = nullptr;
    };
    MIDISourceChoice midiSourceChoice(KavioMIDISourceKind kind);
    void validateMIDISyncSource();
    void validateLTCSyncSource();
    QString selectedMTCSyncSource_, selectedMMCSource_, selectedMSCSource_, selectedMIDISource_;
    QString selectedLTCSyncSource_;
    std::vector<std::pair<QString, QString>> ltcDevices_;  // the LTC pop-up's (name, UID)
    std::shared_ptr<QVTAudioInput> ltcInput_;
    QVariantMap currentNetworkConfiguration_;
    bool hasNetworkConfiguration_ = false;
    QStringList dmxTitles_, dmxAddresses_;  // the DMX pop-up's entries and their addresses
    NetworkInterfacesProvider networkInterfaces_;

    // Sends the time feedback that displayTimeIfNeeded asks for from the clock thread. Last, so
    // its thread ends before the rest of the delegate.
    static std::shared_ptr<KavioTimeFeedbackSender> makeTimeFeedbackSender(AppDelegate* app);
    // What the start-up tiles ask for, with the save question first.
    std::shared_ptr<KavioRecentProjectsViewDelegate> recentsDelegate_;
    std::shared_ptr<KavioTimeFeedbackSender> timeFeedback_ = makeTimeFeedbackSender(this);
};
