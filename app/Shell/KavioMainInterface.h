#pragma once
// The main interface, described in code: creates the application delegate, the main window,
// the cue list controller, the video and audio output managers, the preview, the preferences and
// start-up windows and their controls, connects the outlets, and runs the delegate's
// awakeFromNib. Owns all of it for the run; the managers end before the windows they point into,
// the video outputs after the controller (whose render clock calls into them). Main thread.

#include <QList>

#include <functional>
#include <memory>

class AppDelegate;
struct AppDelegateOutlets;
class KavioHidingView;
class KavioItemsView;
class QVTTimelineMarkerController;
class QVTTimelineMarkerView;
class QAction;
class QBoxLayout;
class QMenu;
class KavioATEMManager;
class KavioAudioOutputManager;
class KavioWaveformManager;
class KavioWaveformStripOutlet;
class KavioAudioStreamersManagerInterface;
class KavioHyperDeckServer;
class KavioVideoOutputManager;
class KavioVideoItemManager;
struct KavioVideoItemManagerOutlets;
class KavioWindow;
class KavioNDIManager;
class QTabWidget;
class QWidget;
class UndoManager;
class UserDefaults;
class KavioVideoItemPreferencesController;

class KavioMainInterface {
public:
    explicit KavioMainInterface(UserDefaults& defaults);
    ~KavioMainInterface();
    KavioMainInterface(const KavioMainInterface&) = delete;
    KavioMainInterface& operator=(const KavioMainInterface&) = delete;

    AppDelegate& appDelegate() const { return *appDelegate_; }
    KavioWindow& window() const { return *window_; }
    QWidget& preferencesWindow() const { return *preferencesWindow_; }
    UndoManager& preferencesUndoManager() const { return *preferencesUndoManager_; }
    QWidget& startupWindow() const { return *startupWindow_; }
    const std::shared_ptr<KavioVideoItemManager>& controller() const { return controller_; }
    const std::shared_ptr<KavioVideoOutputManager>& videoOutputManager() const { return videoOutputManager_; }
    const std::shared_ptr<KavioATEMManager>& atemManager() const { return atemManager_; }

private:
    void buildMenus();
    void buildMainWindow();
    // The panels, dividers and waveform strip on the window's background under `column`'s
    // transport row, the time display and panel buttons in `transport`; answers the centre area.
    KavioHidingView* buildShell(QBoxLayout* column, QBoxLayout* transport, AppDelegateOutlets& outlets);
    // The View and Playback menus and the delegate's menu validation; answers the menus made.
    QList<QMenu*> buildShellMenus(QAction* newProject, QAction* loadProject);
    void buildPreferencesWindow();
    // The playlist pane's controls run the cue list controller's settings actions; undo and redo
    // in the preferences window use its own undo manager.
    void connectPlaylistPane(const KavioVideoItemManagerOutlets& controls);
    // The cue list controller's display toggles in the View menu, validated by the controller.
    void addPlaylistViewItems(QMenu* view);
    // The list beside the preferences tabs that chooses among them.
    void buildPreferencesTabList(QBoxLayout* layout);
    void buildStartupWindow();
    // --- The preferences' sync, trigger and interface pane (KavioMainInterface+Sync.cpp) -----
    // The source pop-ups with their fixed entries, the trigger fields with their Learn and Clear
    // buttons, the Art-Net interface, sub-net and universe, each running the delegate's action.
    void buildSyncPane(AppDelegateOutlets& outlets);
    // The main window's network link controls: the master switch and the masters menu, shown
    // from the link manager's menu state.
    void buildNetworkLinkControls(QBoxLayout* transport, AppDelegateOutlets& outlets);
    // --- The cue list (KavioMainInterface+CueList.cpp) ---------------------------------------
    // The list view in the left panel's scroll area, connected to the controller.
    void buildCueList(KavioHidingView* leftView, QWidget* mainTimecodeField);
    // Cut, copy, paste, select all and duplicate in the edit menu; answers their validation.
    std::function<void()> addCueListEditItems(QMenu* edit);
    // The position bar over the waveform strip with its marker controller, connected to the
    // cue list controller.
    void buildPositionBar(QWidget* waveformStrip);

    std::unique_ptr<UndoManager> undoManager_;
    std::unique_ptr<UndoManager> preferencesUndoManager_;
    // Widgets first, so they are destroyed last.
    std::unique_ptr<KavioWindow> window_;
    std::unique_ptr<QWidget> preferencesWindow_;
    std::unique_ptr<QWidget> startupWindow_;
    // The cue list view, owned by its panel; the controller reaches it through this handle,
    // which ends before the window.
    std::shared_ptr<KavioItemsView> itemsView_;
    std::shared_ptr<QVTTimelineMarkerView> markerView_;
    // The waveform manager's outlets (it holds them weakly).
    std::shared_ptr<KavioWaveformStripOutlet> waveformStrip_;
    std::shared_ptr<QVTTimelineMarkerController> markerController_;
    QTabWidget* preferencesTabs_ = nullptr;
    std::shared_ptr<KavioAudioStreamersManagerInterface> audioStreamersManager_;
    // The process-wide HyperDeck-protocol server; the cue list answers it.
    std::shared_ptr<KavioHyperDeckServer> hyperDeckServer_;
    std::shared_ptr<KavioVideoOutputManager> videoOutputManager_;
    std::shared_ptr<KavioVideoItemManager> controller_;
    std::shared_ptr<KavioAudioOutputManager> audioOutputManager_;
    std::shared_ptr<KavioWaveformManager> waveformManager_;
    std::shared_ptr<KavioATEMManager> atemManager_;
    std::shared_ptr<AppDelegate> appDelegate_;
    // NDI tally's integration; its switch and pop-up sit in the preferences' NDI pane.
    std::shared_ptr<KavioNDIManager> ndiManager_;
    // The cue inspector in the right panel; ends first, while its widgets still exist.
    std::shared_ptr<KavioVideoItemPreferencesController> inspector_;
};
