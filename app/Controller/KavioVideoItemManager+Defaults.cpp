#include "Controller/KavioVideoItemManager.h"

#include "Clock/QVTClock.h"
#include "Cue/KavioVideoItem.h"
#include "Rendering/QVTMTKViewInterface.h"
#include "Rendering/QVTMetalManager.h"
#include "Shell/AppDelegateInterface.h"
#include "Support/KavioButtonInterface.h"
#include "Support/KavioColor.h"
#include "Support/KavioColorWellInterface.h"
#include "Support/KavioPopUpButtonInterface.h"
#include "Support/KavioTextFieldInterface.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "UndoManager.h"
#include "UserDefaults.h"

#include <QGuiApplication>

#include <cmath>
#include <tuple>

// The playlist defaults: read at launch into the controls, written back by each control at once.

namespace {

int stateOf(const KavioButtonInterface* button)
{
    return button && button->state() != 0 ? 1 : 0;
}

// Both windows' undo managers, for switching registration off around the load.
std::vector<UndoManager*> windowUndoManagers(AppDelegateInterface* app)
{
    if (!app)
        return {};
    std::vector<UndoManager*> managers{&app->undoManager()};
    if (UndoManager* preferences = app->preferencesUndoManager())
        managers.push_back(preferences);
    return managers;
}

}  // namespace

void KavioVideoItemManager::loadPlaylistDefaults()
{
    const KavioVideoItemManagerOutlets& o = outlets_;
    const auto app = delegate();
    const std::vector<UndoManager*> undoManagers = windowUndoManagers(app.get());
    for (UndoManager* undo : undoManagers)
        undo->disableUndoRegistration();

    const KavioColor matte = KavioColor::fromRecord(colorDefault(QStringLiteral("matteColor"), KavioColor{0.0, 1.0, 0.0, 1.0}.toRecord()));
    if (o.matteColorWell)
        o.matteColorWell->setColor(KavioColor{matte.red, matte.green, matte.blue, 1.0}.toQColor());
    metalManager().setMatteColor({matte.red, matte.green, matte.blue, matte.alpha});

    for (const auto& [key, toggle, fallback] :
         {std::tuple{"defaultToggleAudio", o.defaultToggleAudio, true},
          {"defaultToggleFadeIn", o.defaultToggleFadeIn, false},
          {"defaultToggleFadeOut", o.defaultToggleFadeOut, false},
          {"defaultToggleTransition", o.defaultToggleTransition, false},
          {"defaultTogglePauseAtBeginning", o.defaultTogglePauseAtBeginning, false},
          {"defaultTogglePauseAtEnd", o.defaultTogglePauseAtEnd, true},
          {"defaultToggleLoop", o.defaultToggleLoop, false},
          {"defaultTogglePlaylistLoop", o.defaultTogglePlaylistLoop, false},
          {"defaultTogglePlaylistTransition", o.defaultTogglePlaylistTransition, true}}) {
        const QString name = QString::fromLatin1(key);
        if (!defaults_.hasKey(name))
            defaults_.setBool(fallback, name);
        else if (toggle)
            toggle->setState(defaults_.boolForKey(name) ? 1 : 0);
    }

    // Popups matched by title: a stored title no item carries gives way to the selection.
    const auto restoreTitle = [this](const char* key, KavioPopUpButtonInterface* popup) {
        const QString name = QString::fromLatin1(key);
        if (!popup)
            return;
        if (defaults_.hasKey(name) && popup->selectItemWithTitle(defaults_.stringForKey(name)))
            return;
        defaults_.setString(popup->titleOfSelectedItem(), name);
    };
    restoreTitle("defaultFrameRate", o.frameratePopup);
    const QString startTimeKey = QStringLiteral("defaultPlaylistStartTime");
    if (!defaults_.hasKey(startTimeKey))
        defaults_.setString(QStringLiteral("00:00:00:00"), startTimeKey);
    else if (o.startTimeField)
        o.startTimeField->setStringValue(defaults_.stringForKey(startTimeKey));
    restoreTitle("defaultFadeDuration", o.defaultFadeDurationPopup);
    restoreTitle("defaultTransitionDuration", o.defaultTransitionDurationPopup);

    const QString durationKey = QStringLiteral("defaultNonMovieCueDuration");
    // Absent, the current value is stored; either way the field shows it.
    if (!defaults_.hasKey(durationKey))
        defaults_.setFloat(float(defaultNonMovieCueDuration()), durationKey);
    setDefaultNonMovieCueDuration(defaults_.doubleForKey(durationKey));

    const QString viewStateKey = QStringLiteral("defaultCueViewState");
    if (defaults_.hasKey(viewStateKey))
        setDefaultCueViewState(std::int32_t(defaults_.integerForKey(viewStateKey)));
    else
        defaults_.setInteger(defaultCueViewState(), viewStateKey);

    const QString urlKey = QStringLiteral("defaultBrowserSourceURL");
    if (!defaults_.hasKey(urlKey))
        defaults_.setString(o.defaultBrowserSourceURLField ? o.defaultBrowserSourceURLField->stringValue() : QString(), urlKey);
    setDefaultBrowserSourceURL(defaults_.stringForKey(urlKey));
    if (o.defaultBrowserSourceURLField)
        o.defaultBrowserSourceURLField->setStringValue(defaultBrowserSourceURL());

    if (o.defaultCueViewStatePopup)
        o.defaultCueViewStatePopup->selectItemWithTag(defaultCueViewState());
    handleDefaultCueToggleStates();

    // Popups matched by tag: a tag no item carries leaves the popup, the property takes it.
    for (const auto& [key, popup, get, set] :
         {std::tuple{"defaultJumpBehaviour", o.jumpBehaviourPopup, &KavioVideoItemManager::jumpBehaviour,
                     &KavioVideoItemManager::setJumpBehaviour},
          {"defaultPanicBehaviour", o.panicBehaviourPopup, &KavioVideoItemManager::panicBehaviour,
           &KavioVideoItemManager::setPanicBehaviour}}) {
        const QString name = QString::fromLatin1(key);
        if (defaults_.hasKey(name)) {
            (this->*set)(std::int32_t(defaults_.integerForKey(name)));
            if (popup)
                popup->selectItemWithTag((this->*get)());
        } else {
            defaults_.setInteger((this->*get)(), name);
        }
    }
    const QString transitionKey = QStringLiteral("defaultTransitionType");
    if (!defaults_.hasKey(transitionKey))
        defaults_.setInteger(KavioTransitionTypeDissolve, transitionKey);
    else if (o.defaultTransitionPopup)
        o.defaultTransitionPopup->selectItemWithTag(defaults_.integerForKey(transitionKey));

    if (app) {
        const int playlistLoop = stateOf(o.defaultTogglePlaylistLoop);
        KavioButtonInterface* loop = app->loopButton();
        if (loop && loop->state() != playlistLoop)
            loop->setState(playlistLoop);
        shouldLoop(playlistLoop != 0);
        KavioButtonInterface* global = app->globalTransitionButton();
        const int playlistTransition = stateOf(o.defaultTogglePlaylistTransition);
        if (global && global->state() != playlistTransition)
            global->setState(playlistTransition);
    }
    defaults_.synchronize();

    changeFramerate();
    changeStartTime();
    changeDefaultFadeDuration();
    changeDefaultTransitionDuration();
    for (UndoManager* undo : undoManagers)
        undo->enableUndoRegistration();
}

// --- Coupling rules of the default toggles --------------------------------------------------------

namespace {

using ToggleRule = KavioDefaultToggleStates (*)(KavioDefaultToggleStates);

void applyToggleRule(const KavioVideoItemManagerOutlets& o, ToggleRule rule)
{
    KavioButtonInterface* const buttons[] = {o.defaultToggleTransition, o.defaultToggleLoop,
                                             o.defaultTogglePauseAtBeginning, o.defaultTogglePauseAtEnd};
    const auto read = [](const KavioButtonInterface* b) {
        return KavioDefaultToggleStates::Toggle{b && b->state() != 0, !b || b->isEnabled()};
    };
    KavioDefaultToggleStates states{read(buttons[0]), read(buttons[1]), read(buttons[2]), read(buttons[3])};
    states = rule(states);
    const KavioDefaultToggleStates::Toggle result[] = {states.transition, states.loop, states.pauseAtBeginning,
                                                       states.pauseAtEnd};
    for (int i = 0; i < 4; ++i) {
        if (!buttons[i])
            continue;
        buttons[i]->setState(result[i].on ? 1 : 0);
        buttons[i]->setEnabled(result[i].enabled);
    }
}

}  // namespace

void KavioVideoItemManager::handleDefaultCueToggleStates()
{
    applyToggleRule(outlets_, &::handleDefaultCueToggleStates);
}

void KavioVideoItemManager::handleDefaultPauseToggleStates()
{
    applyToggleRule(outlets_, &::handleDefaultPauseToggleStates);
}

void KavioVideoItemManager::handleDefaultLoopAndTransitionToggleStates()
{
    applyToggleRule(outlets_, &::handleDefaultLoopAndTransitionToggleStates);
}

void KavioVideoItemManager::storePlaylistToggleDefaults()
{
    const KavioVideoItemManagerOutlets& o = outlets_;
    for (const auto& [key, toggle] : {std::pair{"defaultToggleAudio", o.defaultToggleAudio},
                                      {"defaultToggleFadeIn", o.defaultToggleFadeIn},
                                      {"defaultToggleFadeOut", o.defaultToggleFadeOut},
                                      {"defaultTogglePauseAtBeginning", o.defaultTogglePauseAtBeginning},
                                      {"defaultTogglePauseAtEnd", o.defaultTogglePauseAtEnd},
                                      {"defaultTogglePlaylistLoop", o.defaultTogglePlaylistLoop},
                                      {"defaultTogglePlaylistTransition", o.defaultTogglePlaylistTransition}})
        if (toggle)
            defaults_.setBool(toggle->state() != 0, QString::fromLatin1(key));
    defaults_.synchronize();
}

namespace {

void storeToggle(UserDefaults& defaults, const char* key, const KavioButtonInterface* toggle)
{
    defaults.setBool(stateOf(toggle) != 0, QString::fromLatin1(key));
    defaults.synchronize();
}

// Transition and loop exclude each other: the one switched on turns the other off and disables it.
void excludeOther(const KavioButtonInterface* changed, KavioButtonInterface* other)
{
    if (!other)
        return;
    if (stateOf(changed)) {
        other->setState(0);
        other->setEnabled(false);
    } else {
        other->setEnabled(true);
    }
}

}  // namespace

void KavioVideoItemManager::changeDefaultTogglePauseAtBeginning()
{
    handleDefaultLoopAndTransitionToggleStates();
    storeToggle(defaults_, "defaultTogglePauseAtBeginning", outlets_.defaultTogglePauseAtBeginning);
}

void KavioVideoItemManager::changeDefaultTogglePauseAtEnd()
{
    handleDefaultLoopAndTransitionToggleStates();
    storeToggle(defaults_, "defaultTogglePauseAtEnd", outlets_.defaultTogglePauseAtEnd);
}

void KavioVideoItemManager::changeDefaultToggleTransition()
{
    excludeOther(outlets_.defaultToggleTransition, outlets_.defaultToggleLoop);
    handleDefaultPauseToggleStates();
    storeToggle(defaults_, "defaultToggleTransition", outlets_.defaultToggleTransition);
}

void KavioVideoItemManager::changeDefaultToggleLoop()
{
    excludeOther(outlets_.defaultToggleLoop, outlets_.defaultToggleTransition);
    handleDefaultPauseToggleStates();
    storeToggle(defaults_, "defaultToggleLoop", outlets_.defaultToggleLoop);
}

// --- Default durations and addresses ---------------------------------------------------------------

void KavioVideoItemManager::changeDefaultNonMovieCueDuration()
{
    if (!outlets_.defaultNonMovieCueDurationField)
        return;
    undoChangeDefaultNonMovieCueDuration(masterClock_->secondsForSMPTEString(outlets_.defaultNonMovieCueDurationField->stringValue()));
    if (const auto app = delegate())
        app->endPreferencesEditing();
}

void KavioVideoItemManager::undoChangeDefaultNonMovieCueDuration(double seconds)
{
    const double old = defaultNonMovieCueDuration();
    setDefaultNonMovieCueDuration(seconds);
    registerPreferencesUndo([old](KavioVideoItemManager& self) { self.undoChangeDefaultNonMovieCueDuration(old); },
                            QStringLiteral("Change Default non-Movie Cue Duration"));
    defaults_.setFloat(float(defaultNonMovieCueDuration()), QStringLiteral("defaultNonMovieCueDuration"));
    defaults_.synchronize();
}

void KavioVideoItemManager::setDefaultNonMovieCueDuration(double seconds)
{
    // NaN fails every comparison: it takes the one frame too.
    const double frame = masterClock_->frameTimeOfCurrentSMPTEFormat();
    storeDefaultNonMovieCueDuration(seconds > frame ? seconds : frame);
    if (outlets_.defaultNonMovieCueDurationField)
        outlets_.defaultNonMovieCueDurationField->setStringValue(masterClock_->smpteRepresentationOfTime(defaultNonMovieCueDuration()));
}

void KavioVideoItemManager::changeDefaultBrowserSourceURL()
{
    if (!outlets_.defaultBrowserSourceURLField)
        return;
    undoChangeDefaultBrowserSourceURL(outlets_.defaultBrowserSourceURLField->stringValue());
    if (const auto app = delegate())
        app->endPreferencesEditing();
}

void KavioVideoItemManager::undoChangeDefaultBrowserSourceURL(const QString& url)
{
    const QString old = defaultBrowserSourceURL();
    setDefaultBrowserSourceURL(url);
    // An undo also puts the address back into the field.
    if (outlets_.defaultBrowserSourceURLField && outlets_.defaultBrowserSourceURLField->stringValue() != url)
        outlets_.defaultBrowserSourceURLField->setStringValue(url);
    registerPreferencesUndo([old](KavioVideoItemManager& self) { self.undoChangeDefaultBrowserSourceURL(old); },
                            QStringLiteral("Change Default Browser Source URL"));
    defaults_.setString(url, QStringLiteral("defaultBrowserSourceURL"));
    defaults_.synchronize();
}

// --- Behaviour popups and switches -------------------------------------------------------------------

namespace {

// The popup's selected tag into the property and the default; nothing without the popup.
template <typename Set>
void storeTag(UserDefaults& defaults, const KavioPopUpButtonInterface* popup, const char* key, Set set)
{
    if (!popup)
        return;
    const auto tag = std::int32_t(popup->selectedTag());
    set(tag);
    defaults.setInteger(tag, QString::fromLatin1(key));
    defaults.synchronize();
}

}  // namespace

void KavioVideoItemManager::changeJumpBehaviour()
{
    storeTag(defaults_, outlets_.jumpBehaviourPopup, "defaultJumpBehaviour", [this](std::int32_t t) { setJumpBehaviour(t); });
}

void KavioVideoItemManager::changePanicBehaviour()
{
    storeTag(defaults_, outlets_.panicBehaviourPopup, "defaultPanicBehaviour", [this](std::int32_t t) { setPanicBehaviour(t); });
}

void KavioVideoItemManager::changeDefaultCueViewStates()
{
    storeTag(defaults_, outlets_.defaultCueViewStatePopup, "defaultCueViewState",
             [this](std::int32_t t) { setDefaultCueViewState(t); });
}

void KavioVideoItemManager::changeAutoStart()
{
    storeToggle(defaults_, "autoStart", outlets_.autoStartButton);
}

void KavioVideoItemManager::changeAutoFullscreen()
{
    storeToggle(defaults_, "autoFullscreen", outlets_.autoFullscreenButton);
}

void KavioVideoItemManager::changeRenderingDeinterlaceMode()
{
    storeTag(defaults_, outlets_.renderingDeinterlacePopup, "deinterlaceMode",
             [this](std::int32_t t) { setDeinterlaceMode(t & 0xff); });
    if (outlets_.renderingDeinterlacePopup)
        NotificationCenter::defaultCenter().post(kKavioDeinterlaceStateChangedNotification, this);
}

// --- The View menu's display toggles --------------------------------------------------------------------

namespace {

bool flipDefault(UserDefaults& defaults, const char* key)
{
    const QString name = QString::fromLatin1(key);
    const bool on = !defaults.boolForKey(name);
    defaults.setBool(on, name);
    defaults.synchronize();
    return on;
}

}  // namespace

void KavioVideoItemManager::toggleTimeDisplay()
{
    const bool timeLeft = !displayTimeLeft();
    setDisplayTimeLeft(timeLeft);
    const auto current = currentItem();
    if (const auto app = delegate(); app && current)
        app->displayTimeIfNeeded(timeLeft ? current->timeLeftSMPTE() : masterClock_->clockSMPTETime());
}

void KavioVideoItemManager::toggleTRTDisplay()
{
    flipDefault(defaults_, "displayTRT");
    onItemsQueue([this] {
        for (const auto& item : *items())
            item->displayItemTimes();
    });
}

void KavioVideoItemManager::toggleCueAutoScroll()
{
    flipDefault(defaults_, "autoScrollToCurrentCue");
}

void KavioVideoItemManager::flipOverlayDefault(const char* key)
{
    flipDefault(defaults_, key);
    readOverlayDefaults();
    if (const auto view = outlets_.mtkView.lock())
        view->setShouldClear(true);
}

void KavioVideoItemManager::toggleCueTimeOverlay()
{
    flipOverlayDefault("displayCueTimeOverlay");
}

void KavioVideoItemManager::toggleSubtitlesDisplay()
{
    flipOverlayDefault("displaySubtitles");
}

void KavioVideoItemManager::toggleRenderingFPSDisplay()
{
    flipOverlayDefault("displayRenderingFPS");
}

// --- Menu validation ------------------------------------------------------------------------------------

KavioMenuState KavioVideoItemManager::menuState() const
{
    KavioMenuState s;
    s.markerDragging = isPlayheadMarkerDragging();
    s.slave = masterClock_->isMTCSlave() || masterClock_->isLTCSlave();
    s.transcoding = isTranscoding();
    s.playing = isPlaying();
    s.loadingProject = isLoadingProject();
    s.masterFader = masterSliderValue();
    s.jumpToSelectedEnabled = isJumpToSelectedItemEnabled();
    s.canStepPrev = canStepPrevFrame();
    s.canStepNext = canStepNextFrame();
    s.windowCaptureAvailable = QGuiApplication::platformName() == QLatin1String("xcb");
    const auto app = delegate();
    s.cueListIsFirstResponder = app && app->isCueListFirstResponder();

    const auto list = items();
    s.listEmpty = list->empty();
    s.anySelected = std::any_of(list->begin(), list->end(), [](const auto& item) { return item->isSelected(); });
    const auto current = currentItem();
    const auto reference = lastClickedItem() ? lastClickedItem() : current;
    const auto at = std::find(list->begin(), list->end(), reference);
    if (reference && at != list->end()) {
        s.referenceHasPrevious = at != list->begin();
        s.referenceHasNext = std::next(at) != list->end();
    }
    if (current) {
        s.hasCurrent = true;
        s.currentMediaType = current->mediaType();
        s.currentIsMissing = current->isMissing();
        s.currentIsSelected = current->isSelected();
        s.currentHasInOrOutPoint = current->inTimeAtCurrentPlaybackSpeed().seconds() != 0.0 ||
                                   current->outTimeAtCurrentPlaybackSpeed().seconds() != 0.0;
    }
    s.displayTimeLeft = displayTimeLeft();
    s.displayTRT = defaults_.boolForKey(QStringLiteral("displayTRT"));
    s.displayCueTimeOverlay = defaults_.boolForKey(QStringLiteral("displayCueTimeOverlay"));
    s.displaySubtitles = defaults_.boolForKey(QStringLiteral("displaySubtitles"));
    s.displayRenderingFPS = defaults_.boolForKey(QStringLiteral("displayRenderingFPS"));
    s.autoScrollToCurrentCue = defaults_.boolForKey(QStringLiteral("autoScrollToCurrentCue"));
    return s;
}

KavioMenuValidation KavioVideoItemManager::validateUserInterfaceItem(KavioMenuAction action) const
{
    return validateMenuAction(action, menuState());
}
