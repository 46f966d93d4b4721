// The main window's shell as the interface description lays it out: the background view with
// the two side panels, their dividers, the centre area and the waveform strip; the time display,
// the panel buttons and the transport's actions; the View and Playback menus.

#include "Shell/KavioMainInterface.h"

#include "Controller/KavioVideoItemManager.h"
#include "Shell/AppDelegate.h"
#include "Shell/KavioMasterView.h"
#include "Shell/KavioWindow.h"
#include "Views/KavioButton.h"
#include "Views/KavioTimecodeTextField.h"
#include "Views/KavioHidingView.h"

#include <QAction>
#include <QBoxLayout>
#include <QListWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QMenu>
#include <QMenuBar>

namespace {

constexpr int kLeftPanelWidth = 300;
constexpr int kRightPanelWidth = 346;
constexpr int kDividerWidth = 4;
constexpr int kWaveformHeight = 100;
// The size the panels are first placed for; the background reports every change from it.
constexpr QSize kLaidOutSize(1280, 700);

void fillWithGrey(QWidget* view, double white)
{
    view->setAutoFillBackground(true);
    QPalette palette = view->palette();
    palette.setColor(QPalette::Window, QColor::fromRgbF(float(white), float(white), float(white), 1.0f));
    view->setPalette(palette);
}

template <typename View>
View* addPanel(QWidget* parent, const QRect& frame, double white)
{
    auto* view = new View(parent);
    view->setGeometry(frame);
    fillWithGrey(view, white);
    return view;
}

KavioButton* addOnOff(QBoxLayout* layout, const QString& title, std::function<void()> action)
{
    auto* button = new KavioButton;
    button->setTitle(title);
    button->setButtonType(KavioButtonType::OnOff);
    button->setState(1);
    button->setAction(std::move(action));
    layout->addWidget(button);
    return button;
}

QAction* addCheckable(QMenu* menu, const QString& title, bool checked, std::function<void(QAction*)> action)
{
    QAction* item = menu->addAction(title);
    item->setCheckable(true);
    item->setChecked(checked);
    QObject::connect(item, &QAction::triggered, item, [item, action = std::move(action)] { action(item); });
    return item;
}

// A control's action: the controller's step, while the controller lives.
std::function<void()> controllerStep(std::weak_ptr<KavioVideoItemManager> controller,
                                     void (KavioVideoItemManager::*step)())
{
    return [controller = std::move(controller), step] {
        if (const auto manager = controller.lock())
            (manager.get()->*step)();
    };
}

}  // namespace

KavioHidingView* KavioMainInterface::buildShell(QBoxLayout* column, QBoxLayout* transport, AppDelegateOutlets& outlets)
{
    AppDelegate* app = appDelegate_.get();
    // The transport row stands on the window's own dark ground, as the controls are drawn for
    // it: on the light default their resting grey reads as disabled.
    if (QWidget* central = column->parentWidget())
        fillWithGrey(central, 0.18);
    auto* background = new KavioMasterView;
    column->addWidget(background, 1);
    background->resize(kLaidOutSize);
    background->setLaidOutSize(kLaidOutSize);
    background->setOnResize([app](QSize oldSize, QSize newSize) { app->masterViewResized(oldSize, newSize); });

    const int w = kLaidOutSize.width();
    const int h = kLaidOutSize.height();
    const int middleX = kLeftPanelWidth + kDividerWidth;
    const int middleWidth = w - middleX - kDividerWidth - kRightPanelWidth;
    outlets.leftView = addPanel<KavioHidingView>(background, {0, 0, kLeftPanelWidth, h}, 0.15);
    outlets.leftView->setMaxWidth(kLeftPanelWidth);
    outlets.verticalPlaceholderLeft = addPanel<QWidget>(background, {kLeftPanelWidth, 0, kDividerWidth, h}, 0.1);
    outlets.middleView = new KavioHidingView(background);
    outlets.middleView->setGeometry(middleX, 0, middleWidth, h - kWaveformHeight);
    outlets.waveformView = addPanel<QWidget>(background, {middleX, h - kWaveformHeight, middleWidth, kWaveformHeight}, 0.12);
    outlets.verticalPlaceholderRight =
        addPanel<QWidget>(background, {w - kRightPanelWidth - kDividerWidth, 0, kDividerWidth, h}, 0.1);
    // The cue inspector fills the right panel (buildMainWindow).
    outlets.rightView = addPanel<KavioHidingView>(background, {w - kRightPanelWidth, 0, kRightPanelWidth, h}, 0.15);
    outlets.rightView->setMaxWidth(kRightPanelWidth);

    auto* field = new KavioTimecodeTextField;
    field->setStringValue(QStringLiteral("00:00:00:00"));
    field->setEditable(false);
    field->setMaximumWidth(140);
    transport->addWidget(field);
    outlets.mainTimecodeField = field;
    outlets.leftViewButton = addOnOff(transport, QStringLiteral("Playlist"), [app] { app->toggleLeftView(); });
    outlets.waveformViewButton = addOnOff(transport, QStringLiteral("Waveform"), [app] { app->toggleWaveformView(); });
    outlets.rightViewButton = addOnOff(transport, QStringLiteral("Inspector"), [app] { app->toggleRightView(); });

    outlets.playButton->setAction([app] { app->togglePlay(); });
    outlets.loopButton->setAction([app] { app->toggleLoop(); });
    outlets.globalTransitionButton->setAction([app] { app->toggleGlobalTransition(); });
    outlets.playButton->setImageName(QStringLiteral("kavio_play"));
    outlets.playButton->setToolTip(QStringLiteral("Play"));
    const std::weak_ptr<KavioVideoItemManager> controller = outlets.controller;
    outlets.prevItemButton->setAction(controllerStep(controller, &KavioVideoItemManager::jumpToPrevItem));
    outlets.nextItemButton->setAction(controllerStep(controller, &KavioVideoItemManager::jumpToNextItem));
    outlets.rewindButton->setAction(controllerStep(controller, &KavioVideoItemManager::rewind));
    outlets.fastforwardButton->setAction(controllerStep(controller, &KavioVideoItemManager::fastForward));
    return outlets.middleView;
}

QList<QMenu*> KavioMainInterface::buildShellMenus(QAction* newProject, QAction* loadProject)
{
    KavioWindow& window = *window_;
    AppDelegate* app = appDelegate_.get();
    AppDelegateOutlets outlets = app->outlets();
    outlets.newProjectMenuItem = newProject;
    outlets.loadProjectMenuItem = loadProject;

    QMenu* view = window.menuBar()->addMenu(QStringLiteral("View"));
    outlets.showHidePlaylist = addCheckable(view, QStringLiteral("Show Playlist"), true,
                                            [app](QAction* item) { app->toggleLeftView(item); });
    outlets.showHideCuePreferences = addCheckable(view, QStringLiteral("Hide Cue Preferences"), false,
                                                  [app](QAction* item) { app->toggleRightView(item); });
    outlets.showHideWaveform = addCheckable(view, QStringLiteral("Hide Waveform"), false,
                                            [app](QAction* item) { app->toggleWaveformView(item); });
    view->addSeparator();
    outlets.toggleCueTypesMenuItem = view->addAction(QStringLiteral("Show Cue Types"), [app] { app->toggleCueTypes(); });
    outlets.alwaysOnTopMenuItem = addCheckable(view, QStringLiteral("Always on Top"), false,
                                               [app](QAction*) { app->changeAlwaysOnTop(); });
    view->addSeparator();
    addPlaylistViewItems(view);

    QMenu* playback = window.menuBar()->addMenu(QStringLiteral("Playback"));
    const auto source = [&](const QString& title, bool checked) {
        return addCheckable(playback, title, checked, [app](QAction* item) { app->toggleSourceMode(item); });
    };
    outlets.standaloneSource = source(QStringLiteral("Standalone"), true);
    outlets.mtcSource = source(QStringLiteral("Follow MIDI Time Code"), false);
    outlets.ltcSource = source(QStringLiteral("Follow LTC"), false);

    // The controller's items: each is named after its action and carries the action the
    // controller validates it by ("kavioMenuAction"), enabled and titled before its menu shows.
    const std::weak_ptr<KavioVideoItemManager> controller = outlets.controller;
    using M = KavioVideoItemManager;
    using A = KavioMenuAction;
    struct ControllerItem {
        const char* title;
        const char* name;
        void (M::*action)();
        KavioMenuAction validatedAs;
    };
    const auto addControllerItems = [&controller](QMenu* menu, std::initializer_list<ControllerItem> items) {
        for (const ControllerItem& entry : items) {
            QAction* item = menu->addAction(QString::fromUtf8(entry.title), controllerStep(controller, entry.action));
            item->setObjectName(QLatin1String(entry.name));
            item->setProperty("kavioMenuAction", int(entry.validatedAs));
        }
    };
    playback->addSeparator();
    addControllerItems(playback, {{"Rewind Current Cue", "rewindCurrentItem", &M::rewindCurrentItem, A::RewindCurrentItem},
                                  {"Step to Next Frame", "stepToNextFrame", &M::stepToNextFrame, A::StepToNextFrame},
                                  {"Step to Previous Frame", "stepToPrevFrame", &M::stepToPrevFrame, A::StepToPrevFrame},
                                  {"Jump to Selected Cue", "jumpToSelectedItem", &M::jumpToSelectedItem,
                                   A::JumpToSelectedItem},
                                  {"Jump to and Play Selected Cue", "jumpToAndPlaySelectedItem",
                                   &M::jumpToAndPlaySelectedItem, A::JumpToAndPlaySelectedItem},
                                  {"Panic", "doPanic", &M::doPanic, A::DoPanic}});

    QMenu* cue = window.menuBar()->addMenu(QStringLiteral("Cue"));
    addControllerItems(cue, {{"Add Media Cue…", "createVideoCue", &M::createVideoCue, A::CreateVideoCue},
                             {"Add Camera Cue", "createCameraCue", &M::createCameraCue, A::CreateCameraCue},
                             {"Add Frame-Sharing Cue", "createSyphonCue", &M::createSyphonCue, A::CreateSyphonCue},
                             {"Add NDI Cue", "createNDICue", &M::createNDICue, A::CreateNDICue},
                             {"Add Web Page Cue", "createBrowserCue", &M::createBrowserCue, A::Other},
                             {"Add Window Cue", "createWindowSourceCue", &M::createWindowSourceCue,
                              A::CreateWindowSourceCue}});
    cue->addSeparator();
    addControllerItems(cue, {{"Select Previous Cue", "selectPreviousCue", &M::selectPreviousCue, A::SelectPreviousCue},
                             {"Select Next Cue", "selectNextCue", &M::selectNextCue, A::SelectNextCue},
                             {"Set Goto on Current Cue to Selected", "setGotoOnCurrentToSelected",
                              &M::setGotoOnCurrentToSelected, A::SetGotoOnCurrentToSelected},
                             {"Reset In and Out Points", "resetInOutTime", &M::resetInOutTime, A::ResetInOutTime},
                             {"Set Thumbnail to Current Frame", "setThumbnailTime", &M::setThumbnailTime,
                              A::SetThumbnailTime},
                             {"Collapse or Expand Selected Cues", "toggleCollapseExpandCues",
                              &M::toggleCollapseExpandCues, A::ToggleCollapseExpandCues}});

    QMenu* help = window.menuBar()->addMenu(QStringLiteral("Help"));
    help->addAction(QStringLiteral("Kavio Manual"), [app] { app->showOnlineDocumentation(); });
    help->addAction(QStringLiteral("Getting Started"), [app] { app->openGettingStartedPage(); });
    help->addSeparator();
    help->addAction(QStringLiteral("Collect Logs…"), [app] { app->collectAndSaveLogs(); });
    help->addAction(QStringLiteral("Send Feedback…"), [app] { app->showFeedbackDialog(); });
    help->addAction(QStringLiteral("Check for Updates…"), [app] { app->checkForUpdates(); });
    app->setOutlets(outlets);
    window.setMenuItemValidator([app](QAction* item) { return app->validateMenuItem(item); });
    return {view, playback, cue, help};
}

void KavioMainInterface::buildPreferencesTabList(QBoxLayout* layout)
{
    AppDelegate* app = appDelegate_.get();
    auto* list = new QListWidget;
    list->setFixedWidth(150);
    AppDelegateOutlets outlets = app->outlets();
    outlets.preferencesTabView = preferencesTabs_;
    outlets.preferencesTableView = list;
    app->setOutlets(outlets);
    for (int row = 0; row < app->numberOfRowsInTableView(); ++row)
        list->addItem(app->tableViewObjectValueForRow(row));
    list->setCurrentRow(0);
    QObject::connect(list, &QListWidget::currentRowChanged, list, [app] { app->tableViewSelectionDidChange(); });
    // The list chooses the tab; the tabs' own bar goes.
    preferencesTabs_->tabBar()->hide();
    layout->removeWidget(preferencesTabs_);
    auto* row = new QHBoxLayout;
    row->addWidget(list);
    row->addWidget(preferencesTabs_, 1);
    layout->addLayout(row);
}
