#include "Shell/KavioMainInterface.h"

#include "Audio/KavioAudioOutputManager.h"
#include "Audio/KavioAudioOutputPanel.h"
#include "Controller/KavioVideoItemManager.h"
#include "Rendering/QVTMTKView.h"
#include "Shell/AppDelegate.h"
#include "Shell/KavioWindow.h"
#include "UndoManager.h"
#include "Views/KavioButton.h"
#include "Views/KavioColorWell.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioSlider.h"
#include "Views/KavioStylishButtonCell.h"
#include "Views/KavioTextField.h"

#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QVBoxLayout>

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
      window_(std::make_unique<KavioWindow>(*undoManager_)),
      preferencesWindow_(std::make_unique<QWidget>()),
      startupWindow_(std::make_unique<QWidget>()),
      controller_(KavioVideoItemManager::init(defaults)),
      audioOutputManager_(std::make_shared<KavioAudioOutputManager>()),
      appDelegate_(std::make_shared<AppDelegate>(defaults, *undoManager_))
{
    audioOutputManager_->setController(controller_);
    buildMainWindow();
    buildMenus();
    buildPreferencesWindow();
    buildStartupWindow();
    appDelegate_->awakeFromNib();
}

KavioMainInterface::~KavioMainInterface() = default;

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
    outlets.startupWindow = startupWindow_.get();
    outlets.controller = controller_;
    outlets.audioOutputManager = audioOutputManager_;
    // TODO(outputs): the video output manager, once it has landed.
    outlets.rewindButton = makeButton(QStringLiteral("Rewind"), transport);
    outlets.prevItemButton = makeButton(QStringLiteral("Previous"), transport);
    outlets.playButton = makeButton(QStringLiteral("Play"), transport);
    outlets.nextItemButton = makeButton(QStringLiteral("Next"), transport);
    outlets.fastforwardButton = makeButton(QStringLiteral("Fast Forward"), transport);
    outlets.loopButton = makeButton(QStringLiteral("Loop"), transport);
    outlets.globalTransitionButton = makeButton(QStringLiteral("Transition"), transport);
    transport->addStretch();
    column->addLayout(transport);

    auto* middle = new QHBoxLayout;
    // The preview is a GL window of its own inside the main window.
    auto* preview = new QVTMTKView(controller_);
    QWidget* previewContainer = QWidget::createWindowContainer(preview);
    previewContainer->setMinimumSize(320, 180);
    middle->addWidget(previewContainer, 1);
    auto* masterSlider = new KavioSlider;
    masterSlider->setDoubleValue(1.0);
    transport->addWidget(masterSlider);
    column->addLayout(middle, 1);
    window.setCentralWidget(central);
    appDelegate_->setOutlets(outlets);

    KavioVideoItemManagerOutlets controls = controller_->outlets();
    controls.mtkView = preview->renderClockDelegate();
    controls.audioOutputManager = audioOutputManager_;
    controls.masterSlider = masterSlider;
    controller_->setOutlets(controls);
}

void KavioMainInterface::buildMenus()
{
    KavioWindow& window = *window_;
    AppDelegate* app = appDelegate_.get();
    QMenu* file = window.menuBar()->addMenu(QStringLiteral("File"));
    file->addAction(QStringLiteral("New Project"), QKeySequence::New, [app] { app->newProject(); });
    file->addAction(QStringLiteral("Open…"), QKeySequence::Open, [app] { app->loadProject(); });
    file->addAction(QStringLiteral("Save"), QKeySequence::Save, [app] { app->saveProject(); });
    file->addAction(QStringLiteral("Save As…"), QKeySequence::SaveAs, [app] { app->saveProjectAs(); });
    file->addSeparator();
    window.setPerformCloseItem(file->addAction(QStringLiteral("Close"), QKeySequence::Close, &window, &QWidget::close));
    file->addAction(QStringLiteral("Quit Kavio"), QKeySequence::Quit, [app] { app->terminate(); });

    QMenu* edit = window.menuBar()->addMenu(QStringLiteral("Edit"));
    UndoManager& undo = *undoManager_;
    QAction* undoItem = edit->addAction(undo.undoMenuItemTitle(), QKeySequence::Undo, [&undo] { undo.undo(); });
    QAction* redoItem = edit->addAction(undo.redoMenuItemTitle(), QKeySequence::Redo, [&undo] { undo.redo(); });

    QMenu* windows = window.menuBar()->addMenu(QStringLiteral("Window"));
    QWidget* preferences = preferencesWindow_.get();
    windows->addAction(QStringLiteral("Preferences…"), QKeySequence::Preferences, [preferences] {
        preferences->show();
        preferences->raise();
    });
    QWidget* startup = startupWindow_.get();
    windows->addAction(QStringLiteral("Start-up Window"), [startup] { startup->show(); });

    // Items are checked just before a menu opens or a shortcut fires.
    for (QMenu* menu : {file, edit, windows})
        QObject::connect(menu, &QMenu::aboutToShow, &window, [&window, &undo, undoItem, redoItem] {
            undoItem->setText(undo.undoMenuItemTitle());
            undoItem->setProperty("kavioOwnEnabled", undo.canUndo());
            redoItem->setText(undo.redoMenuItemTitle());
            redoItem->setProperty("kavioOwnEnabled", undo.canRedo());
            window.validateMenuItems();
        });
}

void KavioMainInterface::buildPreferencesWindow()
{
    QWidget& window = *preferencesWindow_;
    window.setWindowTitle(QStringLiteral("Preferences"));
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
    c.autoStartButton = addToggle(form, QStringLiteral("Start playing on open"));
    c.autoFullscreenButton = addToggle(form, QStringLiteral("Full screen on open"));
    controller_->setOutlets(c);
    preferencesTabs_->addTab(playlist, QStringLiteral("Playlist"));

    auto* general = new QWidget;
    auto* generalForm = new QFormLayout(general);
    AppDelegateOutlets outlets = appDelegate_->outlets();
    outlets.disableConfirmOnQuit = addToggle(generalForm, QStringLiteral("Quit without asking"));
    outlets.enableBetaUpdatesButton = addToggle(generalForm, QStringLiteral("Beta updates"));
    appDelegate_->setOutlets(outlets);
    preferencesTabs_->addTab(general, QStringLiteral("General"));

    if (KavioAudioOutputPanel* audio = audioOutputManager_->panel())
        preferencesTabs_->addTab(audio, QStringLiteral("Audio"));
    window.resize(560, 720);
}

void KavioMainInterface::buildStartupWindow()
{
    // TODO(start-up window): the recent-project tiles; until then the two buttons and the
    // show-at-launch toggle.
    QWidget& window = *startupWindow_;
    window.setWindowTitle(QStringLiteral("Welcome to Kavio"));
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(AppDelegate::versionInformationString()));
    AppDelegate* app = appDelegate_.get();
    auto* newProject = makeButton(QStringLiteral("New Project"), layout);
    newProject->setAction([app] { app->newProject(); });
    auto* lastProject = makeButton(QStringLiteral("Open Last Project"), layout);
    lastProject->setAction([app] { app->loadLastProject(); });
    lastProject->setEnabled(!app->recentProjects().isEmpty());
    auto* showAtLaunch = makeButton(QStringLiteral("Show this window at launch"), layout);
    showAtLaunch->setButtonType(KavioButtonType::OnOff);
    showAtLaunch->setState(1);
    AppDelegateOutlets outlets = appDelegate_->outlets();
    outlets.startupShowWindowButton = showAtLaunch;
    appDelegate_->setOutlets(outlets);
}
