#pragma once
// KavioVideoItemPreferencesController: the cue inspector, the scrolling panel of the main window
// that shows the selected cues' settings in eleven collapsible sections and applies each edit to
// all of them as one undoable change. The implementation is split by concern:
//   +Interface  the panel's controls, described in code (the outlets below)
//   +Sections   building the sections, collapsed flags, stacking, heights, predicates, observers
//   +Refresh    pullCurrentItemData: which sections and boxes show, every control refilled
//   +General    the undoable-edit pattern; title, cue ID, loop count, colour tag, notes, goto
//   +Timing     in and out points, duration and alignment, playback speed
//
// Edit pattern. An edit action (change…) reads its control once, opens an undo group on the main
// window's undo manager, runs the per-cue step (undoChange…) for every selected cue with that
// value, closes the group and names it with the plural name. A per-cue step finds its cue by
// uid (a cue gone from the list: nothing), changes it through its setters, registers itself
// with the old value as the inverse and names the step; undo and redo run the same steps.
//
// Text fields commit on Return, Tab or a click elsewhere. A refresh that re-targets the controls
// drops an edit still open in a field: it never reaches cues it was not typed for. Text a field
// refuses (not a timecode, out of range) puts the field's value from before back; nothing changes.
//
// Threads: everything runs on the main thread, except thumbnailChanged(), which a cue's
// thumbnail generation posts from its background queue; the image is handed over on the main
// thread. Cues are changed through their atomic setters; the render and clock threads see
// copies and never reach a widget or the undo manager.

#include "Controller/KavioVideoItemList.h"
#include "Inspector/KavioVideoItemPreferencesControllerInterface.h"
#include "Inspector/KavioVideoItemPreferencesView.h"

#include <QColor>
#include <QFont>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class KavioAudioChannelsView;
class KavioButton;
class KavioCharLengthFormatter;
class KavioColorChangingTextFieldCell;
class KavioColorTagIndicator;
class KavioColorTagView;
class KavioInspectorNumberFormatter;
class KavioInspectorThumbnailView;
class KavioPopUpButton;
class KavioScrollView;
class KavioSlider;
class KavioTextField;
class KavioVideoItemManager;
class KavioVideoItemPreferencesViewItem;
class QLabel;
class QEventLoop;
class QObject;
class QWidget;
class QWindow;
class UndoManager;
class UserDefaults;
struct KavioVideoFormatDescription;
struct Notification;

inline const QString kKavioPreferenceItemsStatesKey = QStringLiteral("PreferenceItemsStates");
inline const QString kKavioCurrentItemThumbnailChangedNotification = QStringLiteral("KavioCurrentItemThumbnailChanged");
// The goto popup's two fixed leading entries: no target, and a separator-like empty entry that
// several selected cues show.
inline const QString kKavioGotoNoneTitle = QStringLiteral("None");
inline const QString kKavioMixedTitle = QStringLiteral("(mixed)");

// The inspector's controls (the outlets of the original interface description). Created by
// the controller's interface; the widgets belong to the scroll view's tree.
struct KavioVideoItemPreferencesOutlets {
    // Containers
    KavioScrollView* scrollView = nullptr;
    KavioVideoItemPreferencesView* preferencesView = nullptr;
    // Section content views, in display order.
    QWidget *thumbnailView = nullptr, *mediaInfoView = nullptr, *infoView = nullptr, *subtitlesView = nullptr,
            *browserSourceView = nullptr, *windowSourceView = nullptr, *sourceView = nullptr,
            *geometryView = nullptr, *colorControlsView = nullptr, *audioOutputView = nullptr,
            *transitionView = nullptr;
    KavioInspectorThumbnailView* theThumbnailView = nullptr;
    // Media information
    KavioColorChangingTextFieldCell *codecInfoField = nullptr, *fpsInfoField = nullptr, *dimensionsInfoField = nullptr,
                                    *bitDepthInfoField = nullptr, *durationInfoField = nullptr,
                                    *locaitonInfoField = nullptr;
    // General and timing
    KavioTextField *displayTitleField = nullptr, *cueIDField = nullptr, *notesField = nullptr, *loopCountField = nullptr,
                   *inTimecodeField = nullptr, *outTimecodeField = nullptr, *playbackSpeedField = nullptr;
    KavioColorTagView* colorTagView = nullptr;
    KavioPopUpButton* gotoPopup = nullptr;
    KavioButton *inTimeFromPlayheadButton = nullptr, *outTimeFromPlayheadButton = nullptr;
    // Captions
    KavioPopUpButton* subtitlesPopup = nullptr;
    KavioButton *refreshListOfCaptionsButton = nullptr, *subtitleStartTimeFromPlayheadButton = nullptr;
    KavioTextField* subtitleStartTimeField = nullptr;
    // Browser
    KavioTextField *browserURLField = nullptr, *browserCustomCSSField = nullptr;
    KavioButton *browserReloadURLButton = nullptr, *browserShouldUnloadOnPauseButton = nullptr,
                *browserInteractButton = nullptr;
    KavioPopUpButton* browserRenderSizeTagPopup = nullptr;
    // Window capture
    KavioPopUpButton* windowSourcePopup = nullptr;
    KavioButton *windowSourceShouldShowCursor = nullptr, *windowSourceReloadButton = nullptr;
    // Source
    KavioPopUpButton *videoSourcePopup = nullptr, *deckLinkFormatPopup = nullptr, *autoAlignToDurationPopup = nullptr;
    KavioTextField *videoDurationField = nullptr, *pdfPageField = nullptr;
    QLabel* pdfPagesLabel = nullptr;
    // Geometry
    KavioButton *geometryOptionsButton = nullptr, *geometryScaleLinkButton = nullptr;
    KavioPopUpButton *geometryScaleModePopup = nullptr, *geometryOriginPopup = nullptr;
    KavioSlider *geometryScaleHSlider = nullptr, *geometryScaleVSlider = nullptr, *geometryRotateSlider = nullptr,
                *geometryPosXSlider = nullptr, *geometryPosYSlider = nullptr, *cropLeftSlider = nullptr,
                *cropRightSlider = nullptr, *cropTopSlider = nullptr, *cropBottomSlider = nullptr;
    KavioTextField *geometryScaleHField = nullptr, *geometryScaleVField = nullptr, *geometryRotateField = nullptr,
                   *geometryPosXField = nullptr, *geometryPosYField = nullptr, *cropLeftField = nullptr,
                   *cropRightField = nullptr, *cropTopField = nullptr, *cropBottomField = nullptr;
    // Colour
    KavioButton* colorControlsOptionsButton = nullptr;
    KavioSlider *videoBrightness = nullptr, *videoContrast = nullptr, *videoOpacity = nullptr, *videoHue = nullptr,
                *videoSaturation = nullptr, *videoVibrance = nullptr;
    KavioTextField *videoBrightnessField = nullptr, *videoContrastField = nullptr, *videoOpacityField = nullptr,
                   *videoHueField = nullptr, *videoSaturationField = nullptr, *videoVibranceField = nullptr;
    // Audio
    KavioSlider* audioVolumeSlider = nullptr;
    KavioTextField* audioVolumeField = nullptr;
    KavioPopUpButton* audioChannelsPopup = nullptr;
    KavioAudioChannelsView* audioChannelsView = nullptr;
    // Transition and fades
    KavioPopUpButton *transitionPopup = nullptr, *transitionDurationPopup = nullptr, *fadeTimePopup = nullptr;
    KavioTextField* transitionDurationField = nullptr;
    // Boxes the refresh shows, hides and moves.
    QWidget *ndiInfoBox = nullptr, *durationBox = nullptr, *deckLinkFormatBox = nullptr, *videoSourceBox = nullptr,
            *pdfPageBox = nullptr, *inOutPointsBox = nullptr, *gotoBox = nullptr, *playbackSpeedBox = nullptr,
            *bottomOptionsBox = nullptr, *topOptionsBox = nullptr, *audioOptionsBox = nullptr,
            *audioVolumeBox = nullptr;
};

// A placeholder style: font, colour, alignment.
struct KavioPlaceholderStyle {
    QFont font;
    QColor color;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
};

// The geometry values that are one float each, and the colour adjustments.
enum class KavioGeometryParameter { ScaleH, ScaleV, Rotate, PosX, PosY };
enum class KavioColorAdjustment { Brightness, Contrast, Hue, Saturation, Vibrance, Opacity };

// The menu commands the inspector validates.
enum class KavioInspectorMenuAction { SetInTimeOnCurrentCue, SetOutTimeOnCurrentCue, Other };

class KavioVideoItemPreferencesController : public KavioVideoItemPreferencesControllerInterface,
                                            public KavioVideoItemPreferencesViewDataSource,
                                            public std::enable_shared_from_this<KavioVideoItemPreferencesController> {
public:
    // Builds the interface (its controls and their actions) and runs awakeFromNib. The scroll
    // view (outlets().scrollView) has no parent yet: the caller places it, else the controller
    // deletes it at its end. `defaults` outlives the controller.
    static std::shared_ptr<KavioVideoItemPreferencesController> create(UserDefaults& defaults,
                                                                       std::weak_ptr<KavioVideoItemManager> videoManager);
    ~KavioVideoItemPreferencesController() override;
    KavioVideoItemPreferencesController(const KavioVideoItemPreferencesController&) = delete;
    KavioVideoItemPreferencesController& operator=(const KavioVideoItemPreferencesController&) = delete;

    const KavioVideoItemPreferencesOutlets& outlets() const { return o_; }
    std::shared_ptr<KavioVideoItemManager> videoManager() const { return videoManager_.lock(); }

    // --- Sections (+Sections) -------------------------------------------------------------------
    void loadPreferenceItems() override;
    const std::vector<std::unique_ptr<KavioVideoItemPreferencesViewItem>>& preferenceItems() const override
    {
        return prefitems_;
    }
    // The section whose content view is `view`, or nullptr.
    KavioVideoItemPreferencesViewItem* preferenceItemForView(const QWidget* view) const;
    KavioVideoItemPreferencesViewItem* preferenceItemWithTitle(const QString& title) const;
    // Resizes the section of content view `view` to content height `height` (changes under half
    // a point are ignored); a collapsed section is resized and stays collapsed.
    void makeHeightTo(double height, QWidget* view);
    // Recomputes the stacking view's height and re-stacks; with `display`, a growth scrolls by
    // as much, so what the operator looked at stays where it was.
    void updateHeightOfPreferencesViewWithDisplay(bool display);
    // Stacks the visible sections from the top down, gap-free.
    void rearrangeItems();
    void storeItemStates();
    void restoreItemStates();
    QVariantMap itemStates() const { return itemstates_; }
    // The handler of a section's collapse or expand: Alt brings every other section along.
    void handleItemsCollapsedOrExpanded(KavioVideoItemPreferencesViewItem* toggled);
    // The current cue's thumbnail into the tile. Any thread.
    void thumbnailChanged();
    bool validateUserInterfaceItem(KavioInspectorMenuAction action) const;

    // Selection
    KavioVideoItemList items() const;
    std::shared_ptr<KavioVideoItem> currentItem() const override;
    bool hasMultipleItems() const;
    bool matchingMediaTypeOnSelectedItems() const;
    bool audioSupportedOnSelectedItems() const;
    bool browserSourceSettingsSupportedOnSelectedItems() const;
    bool windowSourceSettingsSupportedOnSelectedItems() const;
    bool sourceSettingsSupportedOnSelectedItems() const;
    bool sourcePopupSupportedOnSelectedItems() const;
    bool decklinkSettingsSupportedOnSelectedItems() const;
    bool pdfPageSupportedOnSelectedItems() const;

    const KavioPlaceholderStyle& placeholderAttributes() const { return placeholderattributes_; }
    const KavioPlaceholderStyle& placeholderAttributesCenter() const { return placeholderattributescenter_; }
    const KavioPlaceholderStyle& placeholderAttributesSmall() const { return placeholderattributessmall_; }
    const KavioPlaceholderStyle& placeholderAttributesID() const { return placeholderattributesid_; }
    int oldMediaType() const { return oldmediatype_; }

    // --- Refresh (+Refresh) ---------------------------------------------------------------------
    void pullCurrentItemData() override;
    void handlePlayingRelatedOptions() override;
    void handlePlayheadChangedRelatedOptions() override;

    // --- General (+General) ---------------------------------------------------------------------
    void changeDisplayTitle();
    void undoChangeDisplayTitle(const QString& title, const QString& uid);
    void changeCueID();
    void undoChangeCueID(const QString& cueID, const QString& uid);
    void changeLoopCount();
    void undoChangeLoopCount(std::int32_t count, const QString& uid);
    void switchColorTags(const KavioColorTagIndicator& indicator);
    void undoChangeColorTag(std::int32_t tag, const QString& uid);
    void changeNotes();
    void undoChangeNotes(const QString& notes, const QString& uid);
    void changeGotoItem();
    void undoChangeGotoItem(const QString& targetUID, const QString& itemUID) override;
    void videoItemsUpdated(const KavioVideoItemListSnapshot& items) override;
    void handleTitleField();
    void handleCueIDField();
    void handleLoopCountField();
    void handleCueNotesField();
    void handleGotoPopup();

    // --- Timing (+Timing) -----------------------------------------------------------------------
    void handleInOutFields();
    void validateButtonsForInOut();
    void handleDurationFieldAndPopup();
    void setInTimeOnCurrentCue();
    void setOutTimeOnCurrentCue();
    void changeInTimeSMPTE();
    void changeOutTimeSMPTE();
    void undoSetInTime(const MediaTime& inTime, const QString& uid) override;
    void undoSetOutTime(const MediaTime& outTime, const QString& uid) override;
    void undoSetInTimeAndOutTime(const MediaTime& inTime, const MediaTime& outTime, const QString& uid) override;
    void changeVideoDuration();
    void undoChangeVideoDuration(const QString& smpte, const QString& uid, bool isBulkEdit);
    void changeAutoAlignToDuration();
    void undoChangeAutoAlignToDuration(std::int32_t align, const QString& uid);
    void changePlaybackSpeed();
    void undoChangePlaybackSpeed(std::int64_t speed, const QString& uid);
    // Seconds of a timecode typed as "HH:MM:SS:FF" (up to four fields of digits, leading ones
    // may be left out; minutes and seconds below 60, frames below `fps`); false for anything
    // else. Any thread.
    static bool secondsForTypedTimecode(const QString& text, int fps, double* seconds);

    // --- Captions, PDF page, fade time (+Captions) -------------------------------------------------
    void handleSubtitlesPopup();
    void handleFadeTimePopup();
    void handlePDFPageField();
    // Searches every selected cue's media for caption tracks again; not undoable.
    void refreshListOfCaptions();
    void changeSelectedCaptionTrack();
    void undoChangeSelectedCaptionTrack(std::int32_t track, const QString& uid);
    // The typed start time (empty: no delay) for every selected cue, read once.
    void changeSubtitleStartTimeField();
    // `smpte` is the caption start time wanted; empty removes the delay.
    void undoChangeSubtitleStartTime(const QString& smpte, const QString& uid);
    // The current cue alone.
    void changeSubtitleStartTimeToPlayhead();
    // "Project's Default", "0 (cut)", "0.5" or whole seconds ("%.0f").
    static QString titleForFadeTimeOnItem(const KavioVideoItem& item);
    void changeFadeTime();
    void undoChangeFadeTime(const QString& title, const QString& uid);
    void changePDFPage();
    // The page is kept within 1 to the cue's page count; a cue without pages: nothing.
    void undoChangePDFPage(const QString& page, const QString& uid);

    // --- Geometry (+Geometry) ---------------------------------------------------------------------
    // A field sender first moves its slider to the typed value (position and crop to the exact
    // pixel); any other sender, or none, reads the slider as it stands.
    void changeGeometryScaleMode();
    void undoChangeGeometryScaleMode(std::int32_t mode, const QString& uid);
    void changeGeometryOrigin();
    void undoChangeGeometryOrigin(std::int32_t origin, const QString& uid);
    void undoChangeGeometryScaleLink(bool linked, const QString& uid);
    void changeGeometryValue(KavioGeometryParameter parameter, const QObject* sender);
    void undoChangeGeometryValue(KavioGeometryParameter parameter, float value, const QString& uid);
    void changeCrop(const QObject* sender);
    // `crop` is the crop's 16 raw bytes (top, right, bottom, left).
    void undoChangeGeometryCrop(const QByteArray& crop, const QString& uid);
    void resetGeometryScale();
    void resetGeometryPosition();
    void resetGeometryRotate();
    void resetGeometryCrop();
    void resetGeometryAll();

    // --- Colour (+Color) ---------------------------------------------------------------------------
    void handleColorField(KavioColorAdjustment adjustment);
    void changeVideoAdjustment(KavioColorAdjustment adjustment, const QObject* sender);
    void undoChangeVideoAdjustment(KavioColorAdjustment adjustment, float value, const QString& uid);
    void resetColorControlsHSV();
    void resetColorControlsBrightnessContrast();
    void resetColorControlsOpacity();
    void resetColorControlsAll();

    // --- Transition and audio output (+TransitionAudio) ----------------------------------------------
    void selectTransition();
    void undoChangeTransitionTo(std::int32_t type, const QString& uid);
    void changeTransitionTime();
    // `useDefault` follows the project's default length; else `seconds` ("%g") is the cue's own.
    void undoChangeTransitionTime(bool useDefault, const QString& seconds, const QString& uid);
    // The current cue alone, no group.
    void changeAudioChannels();
    void undoChangeAudioChannels(const QString& title, const QString& uid);
    void changeAudioVolume(const QObject* sender);
    void undoChangeAudioVolume(float volume, const QString& uid);

    // --- Source, browser and window (+Sources, +Browser) ---------------------------------------------
    // The source popup's menu for cues of that media type, from the live directories (an NDI
    // current cue always gets the NDI menu); sets the section's layout for it.
    void buildSourceMenuForItemType(std::int32_t type);
    // The DeckLink formats common to the selected inputs; a single cue without a format takes the
    // first one offered (not an edit: nothing recorded, no unsaved mark).
    void handleDecklinkFormatPopup();
    // The chosen source (" - DISCONNECTED" removed) and its identifier for every selected cue.
    void selectVideoSource();
    // `deviceUID` is empty for a source without one.
    void undoSelectVideoSource(const QString& name, const QString& deviceUID, const QString& uid);
    void changeDeckLinkFormat();
    // A title the format popup does not hold: nothing at all.
    void undoChangeFormat(const QString& title, const QString& uid);
    // Shows the format a DeckLink input switched to by itself, when the popup offers it.
    void deckLinkFormatChangedOnDevice(const std::shared_ptr<const KavioVideoFormatDescription>& format);
    void buildWindowSourceMenu();
    void changeWindowSource();
    void undoChangeWindowSource(const QString& name, const QString& uid);
    void reloadWindowSources();
    // The address a typed text stands for: text without "://" gets "http://" in front (an empty
    // text becomes "http://"); anything else is used as typed.
    static QString browserURLForTypedText(const QString& text);
    void changeBrowserURL();
    void undoChangeBrowserURL(const QString& url, const QString& uid);
    // The current cue loads its page again; not undoable.
    void browserReloadURL();
    // The style sheet again for every selected page, which reloads it even when unchanged.
    void changeBrowserCustomCSS();
    void undoChangeBrowserCustomCSS(const QString& css, const QString& uid);
    // `sender`'s check state for every selected page.
    void changeBroserUnloadOnPause(const KavioButton& sender);
    void undoChangeBrowserUnloadOnPause(bool unload, const QString& uid);
    void changeBrowserRenderSizeMultiplierTag();
    void undoChangeBrowserRenderSizeMultiplierTag(std::int32_t tag, const QString& uid);
    // Shows the current cue's page window, titled and closable, for the operator to use; other
    // windows take no input meanwhile. Returns when the operator closes it.
    void browserInteractWith();
    // The interaction window's close: it goes back out of sight, borderless, and keeps rendering;
    // the answer is always false (the window stays open).
    bool windowShouldClose(QWindow* window);
    // The window source's cursor capture for every selected window cue.
    void changeShowCursor();
    void undoChangeShowCursor(bool showCursor, const QString& uid);

    // --- The other sections' handlers, which the refresh calls ---------------------------------
    void handleSourcePopup();
    void handleWindowSourcePopup();
    void handleTransitionPopup();
    void handleTransitionDurationTimeFieldAndPopup();
    void handleHueField();
    void handleSaturationField();
    void handleVibranceField();
    void handleOpacityField();
    void handleBrightnessField();
    void handleContrastField();
    void handleGeometryScaleMode();
    void handleGeometryOrigin();
    void handleGeometryScaleLink();
    void handleGeometryScaleHField();
    void handleGeometryScaleVField();
    void handleGeometryPosXField();
    void handleGeometryPosYField();
    void handleGeometryRotateField();
    void handleGeometryCropLeftField();
    void handleGeometryCropRightField();
    void handleGeometryCropTopField();
    void handleGeometryCropBottomField();
    void handleVolumeField();
    void handleGeometryFieldsNumberFormatters();
    void channelRoutingChanged();
    void renderSizeChanged();
    void popupGeometryOptions();
    void changeGeometryScaleLink();
    void popupColorControlsOptions();

private:
    KavioVideoItemPreferencesController(UserDefaults& defaults, std::weak_ptr<KavioVideoItemManager> videoManager);
    // +Interface: the controls, laid out in code, and their actions.
    void buildInterface();
    void connectActions();
    void awakeFromNib();

    // The main window's undo manager; nullptr without an application controller.
    UndoManager* undoManager() const;
    // Gives the keyboard to the cue list, which ends the editing of an inspector field.
    void giveKeyboardToCueList() const;
    // The project has unsaved changes (through the cue's controller's application controller).
    void markUnsaved() const;
    // Sets a field's text and its placeholder (an empty placeholder shows none).
    void showInField(KavioTextField* field, const QString& text, const QString& placeholder = {},
                     const KavioPlaceholderStyle* style = nullptr) const;
    // Runs a field's action unless a refresh is re-targeting the controls or nothing was typed.
    void connectField(KavioTextField* field, void (KavioVideoItemPreferencesController::*action)());
    void connectField(KavioTextField* field, std::function<void(KavioVideoItemPreferencesController&)> action);
    // Places a box with its bottom at y inside its parent (y growing upwards).
    static void placeBox(QWidget* box, double y);
    void setSectionHidden(const QString& title, bool hidden);
    bool isSectionHidden(const QString& title) const;
    // The edit pattern's first half: `step` for every selected cue inside one group, then the
    // plural name.
    void applyToSelectedItems(const QString& pluralName, const std::function<void(const QString& uid)>& step);
    // The per-cue step's end: registers `inverse` (run only while the controller lives) and
    // names the step.
    void registerInverse(const QString& name, std::function<void(KavioVideoItemPreferencesController&)> inverse);
    // The cue of that uid in the cue list controller, or nullptr.
    std::shared_ptr<KavioVideoItem> itemWithUID(const QString& uid) const;
    void refreshSingleItem(const std::shared_ptr<KavioVideoItem>& item);
    // handleSourcePopup's steps for `popup`, with `build` making its menu for a media type.
    void refreshSourcePopup(KavioPopUpButton* popup, const std::function<void(std::int32_t type)>& build);
    // The colour, geometry and crop field handlers, in the refresh's order.
    void handleColorFields();
    void handleGeometryFields();
    void handleCropFields();
    // An action for a control: runs `action` while the controller lives.
    std::function<void()> runAction(void (KavioVideoItemPreferencesController::*action)());
    void refreshMultipleItems(const KavioVideoItemList& selected);
    QString smpteOfFrames(std::int64_t frames) const;
    // The number typed into a field with a number formatter, within its bounds; anything else
    // puts back what the field showed and answers nothing.
    std::optional<double> typedNumber(KavioTextField* field) const;
    static KavioInspectorNumberFormatter* numberFormatter(KavioTextField* field);
    // The seconds of the timecode typed into the field; text that is none puts `shownBefore` back
    // and answers nothing.
    std::optional<double> typedTimecodeSeconds(KavioTextField* field, const QString& shownBefore) const;

    UserDefaults& defaults_;
    std::weak_ptr<KavioVideoItemManager> videoManager_;
    KavioVideoItemPreferencesOutlets o_;
    std::vector<std::unique_ptr<KavioVideoItemPreferencesViewItem>> prefitems_;
    QVariantMap itemstates_;
    KavioPlaceholderStyle placeholderattributes_;
    KavioPlaceholderStyle placeholderattributescenter_;
    KavioPlaceholderStyle placeholderattributessmall_;
    KavioPlaceholderStyle placeholderattributesid_;
    KavioCharLengthFormatter* cueIDFieldFormatter_ = nullptr;
    std::int32_t oldmediatype_ = -1;
    // Set while a refresh moves the keyboard away and refills the fields: edits still open in a
    // field are dropped then.
    bool refreshing_ = false;
    bool loaded_ = false;
    // While the page window is open for interaction: its local event loop and the close filter.
    QEventLoop* interactionLoop_ = nullptr;
    std::unique_ptr<QObject> interactionDelegate_;
};
