#include "Shell/KavioMainInterface.h"

#include "Audio/KavioAudioOutputManager.h"
#include "Audio/KavioAudioOutputPanel.h"
#include "Outputs/KavioNDIManager.h"
#include "Audio/KavioAudioStreamersManager.h"
#include "Audio/KavioWaveformManager.h"
#include "Controller/KavioVideoItemManager.h"
#include "Inspector/KavioVideoItemPreferencesController.h"
#include "Outputs/KavioOutputSetupControls.h"
#include "Outputs/KavioVideoOutputManager.h"
#include "Remote/KavioATEMManager.h"
#include "Remote/KavioATEMPreferencesPane.h"
#include "Remote/KavioHyperDeckServer.h"
#include "Rendering/KavioRenderClock.h"
#include "Rendering/QVTMTKView.h"
#include "Rendering/QVTMetalManager.h"
#include "Shell/AppDelegate.h"
#include "Shell/KavioMasterView.h"
#include "Shell/KavioRecentProjectsView.h"
#include "Shell/KavioPlaylistSettingsItems.h"
#include "Shell/KavioWindow.h"
#include "Support/KavioTimecodeTextFieldInterface.h"
#include "Views/KavioHidingView.h"
#include "UndoManager.h"
#include "Views/KavioButton.h"
#include "Views/KavioColorWell.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioScrollView.h"
#include "Views/KavioSlider.h"
#include "Views/KavioStylishButtonCell.h"
#include "Views/KavioTextField.h"

#include <QEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <chrono>
#include <functional>
#include <thread>

namespace {

template <typename Control>
Control* addRow(QFormLayout* form, const QString& label)
{
    auto* control = new Control;
    form->addRow(label, control);
    return control;
}

KavioButton* makeButton(const QString& title, QLayout* layout)
{
    auto* button = new KavioButton;
    button->setTitle(title);
    layout->addWidget(button);
    return button;
}

// Tells of a window closing; the close goes on.
class CloseWatch : public QObject {
public:
    CloseWatch(QObject* window, std::function<void()> willClose) : QObject(window), willClose_(std::move(willClose))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Close)
            willClose_();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> willClose_;
};

// A check box whose clicks flip its state.
KavioButton* addToggle(QFormLayout* form, const QString& title)
{
    auto* button = new KavioButton(nullptr, std::make_unique<KavioStylishButtonCell>());
    button->setTitle(title);
    button->setButtonType(KavioButtonType::OnOff);
    form->addRow(QString(), button);
    return button;
}

}  // namespace

KavioMainInterface::KavioMainInterface(UserDefaults& defaults)
    : undoManager_(std::make_unique<UndoManager>()),
      preferencesUndoManager_(std::make_unique<UndoManager>()),
      window_(std::make_unique<KavioWindow>(*undoManager_)),
      preferencesWindow_(std::make_unique<QWidget>()),
      startupWindow_(std::make_unique<QWidget>()),
      // The process-wide streamers manager, held without owning it so outlets can point at it.
      audioStreamersManager_(&KavioAudioStreamersManager::sharedManager(), [](KavioAudioStreamersManagerInterface*) {}),
      hyperDeckServer_(std::make_shared<KavioHyperDeckServer>()),
      videoOutputManager_(std::make_shared<KavioVideoOutputManager>(QVTMetalManager::sharedManager(),
                                                                    audioStreamersManager_, nullptr, &defaults)),
      controller_(KavioVideoItemManager::init(defaults)),
      audioOutputManager_(std::make_shared<KavioAudioOutputManager>()),
      waveformManager_(std::make_shared<KavioWaveformManager>()),
      atemManager_(std::make_shared<KavioATEMManager>(defaults)),
      appDelegate_(std::make_shared<AppDelegate>(defaults, *undoManager_)),
      ndiManager_(std::make_shared<KavioNDIManager>(&defaults)),
      inspector_(KavioVideoItemPreferencesController::create(defaults, controller_))
{
    audioOutputManager_->setController(controller_);
    // The cue list answers the HyperDeck server's questions; the switcher manager's switch
    // turns the server on and off.
    hyperDeckServer_->setDelegate(controller_);
    waveformManager_->awakeFromNib();
    videoOutputManager_->setVideoManager(controller_);
    buildMainWindow();
    buildMenus();
    buildPreferencesWindow();
    buildStartupWindow();
    appDelegate_->awakeFromNib();
}

KavioMainInterface::~KavioMainInterface()
{
    // The rendering thread holds the controller and the outputs while it renders a frame: it
    // stops at the end of the frame in progress, before any of them ends here (the last hold
    // must not be the rendering thread's). Quitting has asked for that stop already.
    const auto clock = controller_->renderClock();
    if (!clock || (clock->isStopped() && !appDelegate_->isTerminating()))
        return;
    if (!appDelegate_->isTerminating()) {
        const std::weak_ptr<KavioRenderClock> weakClock = clock;
        clock->addCompletedHandlerForCurrentRenderPass([weakClock] {
            if (const auto stopping = weakClock.lock())
                stopping->stopRendering();
        });
    }
    // A clock that renders nothing ends no frame: the wait is bounded.
    for (int waited = 0; waited < 2000 && !clock->isStopped(); ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void KavioMainInterface::buildMainWindow()
{
    KavioWindow& window = *window_;
    window.setWindowTitle(AppDelegate::versionInformationString());
    window.resize(1280, 800);

    auto* central = new QWidget;
    auto* column = new QVBoxLayout(central);
    auto* transport = new QHBoxLayout;
    AppDelegateOutlets outlets = appDelegate_->outlets();
    outlets.window = &window;
    outlets.preferencesWindow = preferencesWindow_.get();
    outlets.preferencesUndoManager = preferencesUndoManager_.get();
    outlets.startupWindow = startupWindow_.get();
    outlets.controller = controller_;
    outlets.audioOutputManager = audioOutputManager_;
    outlets.videoOutputManager = videoOutputManager_;
    outlets.atemManager = atemManager_;
    outlets.ndiManager = ndiManager_;
    outlets.rewindButton = makeButton(QStringLiteral("Rewind"), transport);
    outlets.prevItemButton = makeButton(QStringLiteral("Previous"), transport);
    outlets.playButton = makeButton(QStringLiteral("Play"), transport);
    outlets.nextItemButton = makeButton(QStringLiteral("Next"), transport);
    outlets.fastforwardButton = makeButton(QStringLiteral("Fast Forward"), transport);
    outlets.loopButton = makeButton(QStringLiteral("Loop"), transport);
    outlets.globalTransitionButton = makeButton(QStringLiteral("Transition"), transport);
    transport->addStretch();
    column->addLayout(transport);

    KavioHidingView* middleView = buildShell(column, transport, outlets);
    buildNetworkLinkControls(transport, outlets);
    auto* middle = new QHBoxLayout(middleView);
    // The preview is a GL window of its own inside the main window.
    auto* preview = new QVTMTKView(controller_);
    QWidget* previewContainer = QWidget::createWindowContainer(preview);
    previewContainer->setMinimumSize(320, 180);
    middle->addWidget(previewContainer, 1);
    outlets.preview = preview;
    auto* masterSlider = new KavioSlider;
    masterSlider->setDoubleValue(1.0);
    middle->addWidget(masterSlider);
    window.setCentralWidget(central);
    appDelegate_->setOutlets(outlets);

    KavioVideoItemManagerOutlets controls = controller_->outlets();
    controls.mtkView = preview->renderClockDelegate();
    controls.audioOutputManager = audioOutputManager_;
    controls.videoOutputManager = videoOutputManager_;
    controls.audioStreamersManager = audioStreamersManager_;
    controls.hyperDeckServer = hyperDeckServer_;
    controls.waveformManager = waveformManager_;
    controls.atemManager = atemManager_;
    controls.ndiManager = ndiManager_;
    controls.masterSlider = masterSlider;
    controls.window = &window;
    controls.itemPreferencesController = inspector_;
    controller_->setOutlets(controls);
    auto* inspectorColumn = new QVBoxLayout(outlets.rightView);
    inspectorColumn->setContentsMargins(0, 0, 0, 0);
    inspectorColumn->addWidget(inspector_->outlets().scrollView);
    buildCueList(outlets.leftView, dynamic_cast<QWidget*>(outlets.mainTimecodeField));
    buildPositionBar(outlets.waveformView);
}

void KavioMainInterface::buildMenus()
{
    KavioWindow& window = *window_;
    AppDelegate* app = appDelegate_.get();
    QMenu* file = window.menuBar()->addMenu(QStringLiteral("File"));
    QAction* newProject = file->addAction(QStringLiteral("New Project"), QKeySequence::New, [app] { app->newProject(); });
    QAction* loadProject = file->addAction(QStringLiteral("Open…"), QKeySequence::Open, [app] { app->loadProject(); });
    file->addAction(QStringLiteral("Save"), QKeySequence::Save, [app] { app->saveProject(); });
    file->addAction(QStringLiteral("Save As…"), QKeySequence::SaveAs, [app] { app->saveProjectAs(); });
    file->addAction(QStringLiteral("Bundle Project…"), [app] { app->bundlePlaylist(); });
    file->addSeparator();
    window.setPerformCloseItem(file->addAction(QStringLiteral("Close"), QKeySequence::Close, &window, &QWidget::close));
    file->addAction(QStringLiteral("Quit Kavio"), QKeySequence::Quit, [app] { app->terminate(); });

    QMenu* edit = window.menuBar()->addMenu(QStringLiteral("Edit"));
    UndoManager& undo = *undoManager_;
    QAction* undoItem = edit->addAction(undo.undoMenuItemTitle(), QKeySequence::Undo, [&undo] { undo.undo(); });
    QAction* redoItem = edit->addAction(undo.redoMenuItemTitle(), QKeySequence::Redo, [&undo] { undo.redo(); });
    const std::function<void()> validateCueListItems = addCueListEditItems(edit);
    // The inspector's playhead buttons as commands, enabled exactly as the buttons are.
    edit->addSeparator();
    const std::weak_ptr<KavioVideoItemPreferencesController> inspector = inspector_;
    QAction* setInItem = edit->addAction(QStringLiteral("Set In Point from Playhead"), [inspector] {
        if (const auto panel = inspector.lock())
            panel->setInTimeOnCurrentCue();
    });
    QAction* setOutItem = edit->addAction(QStringLiteral("Set Out Point from Playhead"), [inspector] {
        if (const auto panel = inspector.lock())
            panel->setOutTimeOnCurrentCue();
    });

    QMenu* windows = window.menuBar()->addMenu(QStringLiteral("Window"));
    QWidget* preferences = preferencesWindow_.get();
    windows->addAction(QStringLiteral("Preferences…"), QKeySequence::Preferences, [preferences] {
        preferences->show();
        preferences->raise();
    });
    windows->addAction(QStringLiteral("Playlist Settings…"), [weak = std::weak_ptr(controller_)] {
        if (const auto controller = weak.lock())
            controller->editPlaylistSettings();
    });
    windows->addAction(QStringLiteral("Start-up Window"), [app] { app->openStartupWindow(); });
    windows->addSeparator();
    KavioVideoOutputManager* outputs = videoOutputManager_.get();
    windows->addAction(QStringLiteral("Video Output Set-up…"), [outputs] { outputs->orderFrontVideoOutputSetupWindow(); });
    // Outputs on and off; checked while they are on.
    windows->addAction(outputs->controls().fullscreenMenuItem);

    QList<QMenu*> menus = buildShellMenus(newProject, loadProject);
    menus << file << edit << windows;
    // Items are checked just before a menu opens or a shortcut fires.
    window.setMenuItemsRefresh([&undo, undoItem, redoItem, validateCueListItems, inspector, setInItem, setOutItem] {
        validateCueListItems();
        const auto panel = inspector.lock();
        setInItem->setProperty("kavioOwnEnabled",
                               panel && panel->validateUserInterfaceItem(KavioInspectorMenuAction::SetInTimeOnCurrentCue));
        setOutItem->setProperty("kavioOwnEnabled",
                                panel && panel->validateUserInterfaceItem(KavioInspectorMenuAction::SetOutTimeOnCurrentCue));
        undoItem->setText(undo.undoMenuItemTitle());
        undoItem->setProperty("kavioOwnEnabled", undo.canUndo());
        redoItem->setText(undo.redoMenuItemTitle());
        redoItem->setProperty("kavioOwnEnabled", undo.canRedo());
    });
    for (QMenu* menu : menus)
        QObject::connect(menu, &QMenu::aboutToShow, &window, &KavioWindow::validateMenuItems);
}

void KavioMainInterface::buildPreferencesWindow()
{
    QWidget& window = *preferencesWindow_;
    window.setWindowTitle(QStringLiteral("Preferences"));
    AppDelegate* app = appDelegate_.get();
    new CloseWatch(&window, [app] { app->preferencesWindowWillClose(); });
    window.setAutoFillBackground(true);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor::fromRgbF(0.18f, 0.18f, 0.18f, 1.0f));
    window.setPalette(palette);
    auto* layout = new QVBoxLayout(&window);
    preferencesTabs_ = new QTabWidget;
    layout->addWidget(preferencesTabs_);

    auto* playlist = new QWidget;
    auto* form = new QFormLayout(playlist);
    KavioVideoItemManagerOutlets c = controller_->outlets();
    c.frameratePopup = addRow<KavioPopUpButton>(form, QStringLiteral("Frame rate"));
    c.startTimeField = addRow<KavioTextField>(form, QStringLiteral("Start time"));
    c.playbackModeOnOpen = addRow<KavioPopUpButton>(form, QStringLiteral("Sync mode on open"));
    c.defaultTransitionPopup = addRow<KavioPopUpButton>(form, QStringLiteral("Default transition"));
    c.defaultTransitionDurationPopup = addRow<KavioPopUpButton>(form, QStringLiteral("Transition duration"));
    c.defaultFadeDurationPopup = addRow<KavioPopUpButton>(form, QStringLiteral("Fade duration"));
    c.defaultCueViewStatePopup = addRow<KavioPopUpButton>(form, QStringLiteral("Cue view"));
    c.jumpBehaviourPopup = addRow<KavioPopUpButton>(form, QStringLiteral("Jump behaviour"));
    c.panicBehaviourPopup = addRow<KavioPopUpButton>(form, QStringLiteral("Panic behaviour"));
    c.renderingDeinterlacePopup = addRow<KavioPopUpButton>(form, QStringLiteral("Deinterlace"));
    c.defaultNonMovieCueDurationField = addRow<KavioTextField>(form, QStringLiteral("Still duration"));
    c.defaultBrowserSourceURLField = addRow<KavioTextField>(form, QStringLiteral("Browser source URL"));
    c.cueTimesOverlayPosition = addRow<KavioPopUpButton>(form, QStringLiteral("Cue times overlay"));
    c.cueTimesOverlaySize = addRow<KavioPopUpButton>(form, QStringLiteral("Cue times size"));
    c.cueTimesOverlayColor = addRow<KavioPopUpButton>(form, QStringLiteral("Cue times colour"));
    c.subtitleOverlaySize = addRow<KavioPopUpButton>(form, QStringLiteral("Subtitle size"));
    c.subtitleOverlayFont = addRow<KavioPopUpButton>(form, QStringLiteral("Subtitle font"));
    c.subtitleOverlayFontColor = addRow<KavioColorWell>(form, QStringLiteral("Subtitle colour"));
    c.subtitleOverlayBackgroundColor = addRow<KavioColorWell>(form, QStringLiteral("Subtitle background"));
    c.matteColorWell = addRow<KavioColorWell>(form, QStringLiteral("Matte"));
    c.defaultToggleAudio = addToggle(form, QStringLiteral("Audio"));
    c.defaultToggleFadeIn = addToggle(form, QStringLiteral("Fade in"));
    c.defaultToggleFadeOut = addToggle(form, QStringLiteral("Fade out"));
    c.defaultToggleTransition = addToggle(form, QStringLiteral("Transition"));
    c.defaultTogglePauseAtBeginning = addToggle(form, QStringLiteral("Pause at beginning"));
    c.defaultTogglePauseAtEnd = addToggle(form, QStringLiteral("Pause at end"));
    c.defaultToggleLoop = addToggle(form, QStringLiteral("Loop"));
    c.defaultTogglePlaylistLoop = addToggle(form, QStringLiteral("Loop playlist"));
    c.defaultTogglePlaylistTransition = addToggle(form, QStringLiteral("Playlist transitions"));
    // The interface starts on the defaults' table; stored values replace these at launch.
    for (KavioButtonInterface* on : {c.defaultToggleAudio, c.defaultTogglePauseAtEnd, c.defaultTogglePlaylistTransition})
        on->setState(1);
    c.autoStartButton = addToggle(form, QStringLiteral("Start playing on open"));
    c.autoFullscreenButton = addToggle(form, QStringLiteral("Full screen on open"));
    addPlaylistSettingsItems(c);
    controller_->setOutlets(c);
    connectPlaylistPane(c);
    playlist->setObjectName(QStringLiteral("playlist"));
    preferencesTabs_->addTab(playlist, QStringLiteral("Playlist"));

    auto* general = new QWidget;
    auto* generalForm = new QFormLayout(general);
    AppDelegateOutlets outlets = appDelegate_->outlets();
    outlets.disableConfirmOnQuit = addToggle(generalForm, QStringLiteral("Quit without asking"));
    outlets.enableBetaUpdatesButton = addToggle(generalForm, QStringLiteral("Beta updates"));
    outlets.disableConfirmOnQuit->setAction([app] { app->changeDisableConfirmOnQuit(); });
    outlets.enableBetaUpdatesButton->setAction([app] { app->changeMiscSettings(); });
    auto* resetWarnings = new KavioButton;
    resetWarnings->setTitle(QStringLiteral("Reset Warnings"));
    resetWarnings->setAction([app] { app->resetWarnings(); });
    generalForm->addRow(QString(), resetWarnings);
    preferencesTabs_->addTab(general, QStringLiteral("General"));

    auto* ndi = new QWidget;
    auto* ndiForm = new QFormLayout(ndi);
    KavioButton* ndiSwitch = addToggle(ndiForm, QStringLiteral("NDI tally starts and stops the show"));
    auto* ndiBehaviour = addRow<KavioPopUpButton>(ndiForm, QStringLiteral("Going off program"));
    ndiBehaviour->addItem(QStringLiteral("Keeps playing"), KavioNDIOnSwitchBehaviourNothing);
    ndiBehaviour->addItem(QStringLiteral("Stops"), 5);
    ndiBehaviour->addItem(QStringLiteral("Stops and loads the next cue"), KavioNDIOnSwitchBehaviourLoadNextCue);
    ndiBehaviour->addItem(QStringLiteral("Stops and rewinds the cue"), KavioNDIOnSwitchBehaviourRewindCue);
    ndiBehaviour->selectItemWithTag(KavioNDIOnSwitchBehaviourLoadNextCue);
    ndiManager_->setNdiIntegrationEnabledButton(ndiSwitch);
    ndiManager_->setNdiOnSwitchBehaviour(ndiBehaviour);
    KavioNDIManager* ndiManager = ndiManager_.get();
    ndiSwitch->setAction([ndiManager] { ndiManager->ndiIntegrationEnabledChanged(); });
    ndiBehaviour->setAction([ndiManager] { ndiManager->ndiOnSwitchBehaviourChanged(); });
    preferencesTabs_->addTab(ndi, QStringLiteral("NDI"));

    buildSyncPane(outlets);
    auto* osc = new QWidget;
    auto* oscForm = new QFormLayout(osc);
    auto* oscEnable = addToggle(oscForm, QStringLiteral("OSC input"));
    outlets.oscEnableButton = oscEnable;
    auto* oscTarget = addRow<KavioPopUpButton>(oscForm, QStringLiteral("Feedback target"));
    outlets.oscFeedbackTargetPopup = oscTarget;
    // Three fixed entries; the OSC clients found on the network follow them.
    oscTarget->addItem(QStringLiteral("Disabled"), 0);
    oscTarget->addItem(QStringLiteral("Custom"), 1);
    oscTarget->insertSeparatorItem(2);
    auto* oscIP = addRow<KavioTextField>(oscForm, QStringLiteral("Feedback IP"));
    auto* oscPort = addRow<KavioTextField>(oscForm, QStringLiteral("Feedback port"));
    outlets.oscFeedbackTargetIP = oscIP;
    outlets.oscFeedbackTargetPort = oscPort;
    {
        const std::weak_ptr<AppDelegate> app = appDelegate_;
        const auto run = [app](auto call) {
            return [app, call] {
                if (const auto self = app.lock())
                    call(*self);
            };
        };
        oscEnable->setAction(run([](AppDelegate& a) { a.oscEnableButtonChanged(); }));
        oscTarget->setAction(run([](AppDelegate& a) { a.oscFeedbackTargetSelected(); }));
        for (KavioTextField* field : {oscIP, oscPort})
            QObject::connect(field, &QLineEdit::editingFinished, field,
                             run([field](AppDelegate& a) { a.oscFeedbackTargetSettingsChanged(field); }));
    }
    preferencesTabs_->addTab(osc, QStringLiteral("OSC"));
    appDelegate_->setOutlets(outlets);

    KavioATEMManagerOutlets atem;
    preferencesTabs_->addTab(buildATEMPreferencesPane(atem, &window), QStringLiteral("ATEM"));
    atemManager_->setOutlets(atem);
    atemManager_->setHyperDeckServer(hyperDeckServer_);

    if (KavioAudioOutputPanel* audio = audioOutputManager_->panel())
        preferencesTabs_->addTab(audio, QStringLiteral("Audio"));
    buildPreferencesTabList(layout);
    window.resize(560, 720);
}

void KavioMainInterface::buildStartupWindow()
{
    QWidget& window = *startupWindow_;
    window.setWindowTitle(QStringLiteral("Welcome to Kavio"));
    auto* layout = new QVBoxLayout(&window);
    AppDelegate* app = appDelegate_.get();
    AppDelegateOutlets outlets = app->outlets();
    auto* tiles = new QHBoxLayout;
    for (KavioRecentProjectsView*& tile : outlets.recentViews) {
        tile = new KavioRecentProjectsView;
        tile->setFixedSize(220, 160);
        tiles->addWidget(tile);
    }
    layout->addLayout(tiles);

    auto* buttons = new QHBoxLayout;
    auto* lastProject = makeButton(QStringLiteral("Open Last Project"), buttons);
    lastProject->setAction([app] { app->loadLastProject(); });
    lastProject->setEnabled(false);
    auto* newProject = makeButton(QStringLiteral("New Project"), buttons);
    newProject->setAction([app] { app->newProject(); });
    auto* support = makeButton(QStringLiteral("Getting Started"), buttons);
    support->setAction([app] { app->openGettingStartedPage(); });
    buttons->addStretch();
    outlets.startupOpenLastProjectButton = lastProject;
    outlets.startupNewProjectButton = newProject;
    outlets.startupSupportButton = support;
    outlets.openFacebookPageButton = makeButton(QStringLiteral("Facebook"), buttons);
    outlets.openFacebookPageButton->setAction([app] { app->openFacebookPage(); });
    outlets.openTwitterPageButton = makeButton(QStringLiteral("Twitter"), buttons);
    outlets.openTwitterPageButton->setAction([app] { app->openTwitterPage(); });
    outlets.openInstagramPageButton = makeButton(QStringLiteral("Instagram"), buttons);
    outlets.openInstagramPageButton->setAction([app] { app->openInstagramPage(); });
    layout->addLayout(buttons);

    auto* footer = new QHBoxLayout;
    auto* showAtLaunch = new KavioButton;
    showAtLaunch->setTitle(QStringLiteral("Show this window at launch"));
    showAtLaunch->setButtonType(KavioButtonType::OnOff);
    showAtLaunch->setState(1);
    showAtLaunch->setAction([app] { app->changeShowStartupWindow(); });
    footer->addWidget(showAtLaunch);
    footer->addStretch();
    outlets.versionInfo = new QLabel;
    footer->addWidget(outlets.versionInfo);
    layout->addLayout(footer);
    outlets.startupShowWindowButton = showAtLaunch;
    app->setOutlets(outlets);
}
