// The playlist pane's actions and the cue list controller's items of the View menu.

#include "Shell/KavioMainInterface.h"

#include "Controller/KavioVideoItemManager.h"
#include "Views/KavioButton.h"
#include "Views/KavioColorWell.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioTextField.h"
#include "UndoManager.h"

#include <QAction>
#include <QMenu>
#include <QShortcut>

#include <utility>

namespace {

using Action = void (KavioVideoItemManager::*)();

// What a control's action runs: the controller's step, while the controller lives.
std::function<void()> run(const std::weak_ptr<KavioVideoItemManager>& controller, Action action)
{
    return [controller, action] {
        if (const auto self = controller.lock())
            ((*self).*action)();
    };
}

template <typename Control, typename Interface>
void setAction(Interface* control, const std::weak_ptr<KavioVideoItemManager>& controller, Action action)
{
    if (auto* widget = dynamic_cast<Control*>(control))
        widget->setAction(run(controller, action));
}

}  // namespace

void KavioMainInterface::connectPlaylistPane(const KavioVideoItemManagerOutlets& c)
{
    const std::weak_ptr<KavioVideoItemManager> controller = controller_;
    using M = KavioVideoItemManager;
    for (const auto& [popup, action] : {std::pair{c.frameratePopup, &M::changeFramerate},
                                        {c.playbackModeOnOpen, &M::changePlaybackModeOnOpen},
                                        {c.defaultTransitionPopup, &M::changeDefaultTransition},
                                        {c.defaultTransitionDurationPopup, &M::changeDefaultTransitionDuration},
                                        {c.defaultFadeDurationPopup, &M::changeDefaultFadeDuration},
                                        {c.defaultCueViewStatePopup, &M::changeDefaultCueViewStates},
                                        {c.jumpBehaviourPopup, &M::changeJumpBehaviour},
                                        {c.panicBehaviourPopup, &M::changePanicBehaviour},
                                        {c.renderingDeinterlacePopup, &M::changeRenderingDeinterlaceMode},
                                        {c.cueTimesOverlayPosition, &M::changeCueTimesOverlay},
                                        {c.cueTimesOverlaySize, &M::changeCueTimesOverlay},
                                        {c.cueTimesOverlayColor, &M::changeCueTimesOverlay},
                                        {c.subtitleOverlaySize, &M::changeSubtitlesOverlayFontSize},
                                        {c.subtitleOverlayFont, &M::changeSubtitlesOverlayFont}})
        setAction<KavioPopUpButton>(popup, controller, action);
    for (const auto& [well, action] : {std::pair{c.matteColorWell, &M::changeMatteColor},
                                       {c.subtitleOverlayFontColor, &M::changeSubtitlesOverlayFontColor},
                                       {c.subtitleOverlayBackgroundColor, &M::changeSubtitlesOverlayBackgroundColor}})
        setAction<KavioColorWell>(well, controller, action);
    for (const auto& [toggle, action] : {std::pair{c.defaultToggleAudio, &M::storePlaylistToggleDefaults},
                                         {c.defaultToggleFadeIn, &M::storePlaylistToggleDefaults},
                                         {c.defaultToggleFadeOut, &M::storePlaylistToggleDefaults},
                                         {c.defaultTogglePlaylistLoop, &M::storePlaylistToggleDefaults},
                                         {c.defaultTogglePlaylistTransition, &M::storePlaylistToggleDefaults},
                                         {c.defaultToggleTransition, &M::changeDefaultToggleTransition},
                                         {c.defaultToggleLoop, &M::changeDefaultToggleLoop},
                                         {c.defaultTogglePauseAtBeginning, &M::changeDefaultTogglePauseAtBeginning},
                                         {c.defaultTogglePauseAtEnd, &M::changeDefaultTogglePauseAtEnd},
                                         {c.autoStartButton, &M::changeAutoStart},
                                         {c.autoFullscreenButton, &M::changeAutoFullscreen}})
        if (toggle)
            toggle->setAction(run(controller, action));
    for (const auto& [field, action] : {std::pair{c.startTimeField, &M::changeStartTime},
                                        {c.defaultNonMovieCueDurationField, &M::changeDefaultNonMovieCueDuration},
                                        {c.defaultBrowserSourceURLField, &M::changeDefaultBrowserSourceURL}})
        if (auto* edit = dynamic_cast<KavioTextField*>(field))
            QObject::connect(edit, &QLineEdit::editingFinished, edit, run(controller, action));

    UndoManager& undo = *preferencesUndoManager_;
    auto* undoShortcut = new QShortcut(QKeySequence::Undo, preferencesWindow_.get());
    QObject::connect(undoShortcut, &QShortcut::activated, undoShortcut, [&undo] { undo.undo(); });
    auto* redoShortcut = new QShortcut(QKeySequence::Redo, preferencesWindow_.get());
    QObject::connect(redoShortcut, &QShortcut::activated, redoShortcut, [&undo] { undo.redo(); });
}

void KavioMainInterface::addPlaylistViewItems(QMenu* view)
{
    const std::weak_ptr<KavioVideoItemManager> controller = controller_;
    using M = KavioVideoItemManager;
    // Titled before the menu shows by the controller's validation.
    for (const auto& [menuAction, action] :
         {std::pair{KavioMenuAction::ToggleTimeDisplay, &M::toggleTimeDisplay},
          {KavioMenuAction::ToggleTRTDisplay, &M::toggleTRTDisplay},
          {KavioMenuAction::ToggleCueTimeOverlay, &M::toggleCueTimeOverlay},
          {KavioMenuAction::ToggleSubtitlesDisplay, &M::toggleSubtitlesDisplay},
          {KavioMenuAction::ToggleRenderingFPSDisplay, &M::toggleRenderingFPSDisplay},
          {KavioMenuAction::ToggleCueAutoScroll, &M::toggleCueAutoScroll}}) {
        QAction* item = view->addAction(controller_->validateUserInterfaceItem(menuAction).title, run(controller, action));
        item->setProperty("kavioMenuAction", int(menuAction));
    }
}
