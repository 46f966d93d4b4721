#pragma once
// The program's video outputs and their set-up: it owns the outputs (in grid order, row by
// row; output n has index n), fans each frame's picture out to them, keeps the render
// resolution and canvas, applies changes to the output set between two frames, binds outputs to
// screens, and reads and writes the output set-up record ("videoOutputSetup" in the user
// defaults, "videoOutputSettings" in projects).
//
// Threads: renderWithTexture and presentDrawables run on the rendering thread; renderSize and
// useHighBitDepthRendering on any thread; everything else on the main thread. The rendering
// thread reads the output list as a published snapshot and the switches it needs as atomics, so
// it never waits for the main thread. Changes to the list run as safe changes: at once while
// the render clock is stopped, else on the main queue after the pass that was running.
//
// The implementation is split by concern: KavioVideoOutputManager.cpp (life cycle, frame pass,
// resolution), +Arrangement (grid, outputs, selection, settings), +Screens (destinations),
// +Persistence (the record).

#include "Outputs/KavioDisplayList.h"
#include "Outputs/KavioVideoOutputManagerInterface.h"
#include "Outputs/KavioVideoOutputObject.h"

#include <QSizeF>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <tuple>
#include <vector>

class KavioAudioStreamersManagerInterface;
class KavioDeckLinkBrowser;
namespace decklink {
class DeckLinkDevice;
}
class KavioOutputSetupControls;
class KavioButton;
class KavioVideoOutputView;
class KavioRenderClock;
class KavioVideoItemManagerInterface;
class QVTMetalManager;
class UndoManager;
class UserDefaults;

// A destination's identity: its title and display info.
struct KavioNameAndInfo {
    QString title;
    KavioScreenInfo info;
    friend bool operator==(const KavioNameAndInfo&, const KavioNameAndInfo&) = default;
    friend bool operator<(const KavioNameAndInfo& a, const KavioNameAndInfo& b)
    {
        return std::tie(a.title, a.info.serial, a.info.vendor, a.info.model, a.info.displayid)
               < std::tie(b.title, b.info.serial, b.info.vendor, b.info.model, b.info.displayid);
    }
};
Q_DECLARE_METATYPE(KavioNameAndInfo)

class KavioVideoOutputManager : public KavioVideoOutputManagerInterface {
public:
    using OutputPtr = std::shared_ptr<KavioVideoOutputObject>;
    using OutputList = std::vector<OutputPtr>;

    // Inert until initManager. `displays` defaults to Qt's screens, `defaults` (which outlives
    // the manager) to the program's settings. Main thread.
    KavioVideoOutputManager(QVTMetalManager& gpu, std::shared_ptr<KavioAudioStreamersManagerInterface> streamers,
                            std::shared_ptr<KavioDisplayListInterface> displays = nullptr,
                            UserDefaults* defaults = nullptr);
    ~KavioVideoOutputManager() override;

    void setVideoManager(std::weak_ptr<KavioVideoItemManagerInterface> manager) { videoManager_ = std::move(manager); }
    // The DeckLink device list the destinations come from: the process's own unless a test
    // gives one (not owned; it outlives the manager).
    void setDeckLinkBrowser(KavioDeckLinkBrowser* browser) { decklinkBrowser_ = browser; }
    KavioOutputSetupControls& controls() const { return *controls_; }
    UndoManager& undoManager() const { return *undoManager_; }

    // --- Life cycle ---
    // Reads the bit depth, mirroring and cursor defaults (storing the missing ones), restores
    // "videoOutputSetup" or makes one output, and observes the set-up notifications.
    void initManager();
    // Runs `block` between two frames (see the header comment); nullptr does nothing but the
    // bracket.
    void executeAndSkipRenderAtTheEndOfTheCurrentRenderPass(std::function<void()> block);
    bool renderAllowed() const { return renderallowed_.load(); }

    // --- The frame (rendering thread) ---
    void renderWithTexture(const std::shared_ptr<GpuTexture>& texture) override;
    void presentDrawables() override;
    bool isRendering() const { return isRendering_.load(); }

    // --- Canvas and resolution ---
    // The render resolution, times the grid while span mode is on. Any thread.
    QSizeF renderSize() const override;
    bool useHighBitDepthRendering() const override { return useHighBitDepthRendering_; }
    QSizeF renderResolution() const;
    // "W x H": a new render resolution (1-16384 per side), undoable ("Change Output Resolution").
    void undoChangeOutputResolutionTo(const QString& resolution);
    void changeOutputResolution();
    void changeRenderResolutionManually();
    void changeRenderingBitDepth();
    void renderSizeChanged();
    QString setupWindowTitle() const;
    // The set-up window comes to the front (no undo step); closing it forgets its undo steps.
    void orderFrontVideoOutputSetupWindow();
    void windowWillClose();

    // --- The record ---
    QVariantMap saveData() const;
    void loadWithData(const QVariantMap& data);
    void loadDefaultStateWhenRenderIsNotRunning();
    void resetOutputsWhenRenderIsNotRunning();
    bool isLoadingProject() const { return isLoadingProject_; }

    // --- Arrangement ---
    OutputList outputObjects() const { return outputObjects_; }
    KavioScreenSpan screenSpan() const { return screenspan_.load(); }
    unsigned long selectedOutput() const { return selectedoutput_; }
    void changeNumberOfScreens();
    void changeNumberOfScreensManually();
    void undoChangeNumberOfScreensWithTitle(const QString& title, const QVariantMap& restoreData,
                                            std::function<void()> completedHandler = {});
    void calculateScreenSpan();
    void reArrangeOutputViewsAndSelectCurrent();
    OutputPtr createFullscreenObjectWithFrame(const QRectF& frame, unsigned long index, const QVariantMap& restoreData);
    void deleteSelectedOutput();
    void deleteOutputAtIndex(unsigned long index);
    void insertOutputAtIndex(unsigned long index, const QVariantMap& restoreData);
    void handleScreensPopupAfterDeleteOrInsert(int change);
    void outputViewDidSelected(const OutputPtr& output);
    void selectNextOutput();
    void selectPrevOutput();
    void selectAboveOutput();
    void selectBelowOutput();
    void selectScreenAtIndex(unsigned long index);
    void updateUIAfterScreenSelected();
    // The grid's tile of that output, or nullptr.
    KavioVideoOutputView* outputViewWithObject(const OutputPtr& output) const;
    // Marks the tiles of DeckLink outputs whose format's size is not the render resolution.
    void validateOutputs();
    // The format pop-up follows the output: an NDI output, or a DeckLink output that is online,
    // lists its kind's rows (the NDI table, or what its card plays) with its format selected,
    // and shows the error mark while a card's format does not fit the render resolution; an
    // output without a format takes the preferred row as an edit. Any other output shows only
    // "Unavailable", disabled.
    void validateFormatPopupForOutput(const OutputPtr& output);
    // The keyer pop-up lists the keying modes of an online DeckLink output's card with its keyer
    // selected; with one mode or fewer, another kind or high bit depth: "Unavailable", disabled.
    void validateKeyerPopupForOutput(const OutputPtr& output);
    // Put the basic or the advanced settings into the set-up window's settings placeholder.
    void shouldSwitchToBasicOutputSettingsView();
    void shouldSwitchToAdvancedOutputSettingsView();

    // Settings of the set-up window: each applies, sets its control and registers its undo step.
    void undoChangeDisplayModeToState(bool on);
    void undoChangeOrientation(const QString& title, unsigned long screenIndex);
    void undoChangeWarpType(const QString& title, unsigned long screenIndex);
    void undoChangeEdgeBlendToState(bool on);
    void undoToggleEnableMatteColorButton(bool on, unsigned long screenIndex);
    void undoToggleEnableTimeOverlayButton(bool on, unsigned long screenIndex);
    void undoToggleEnableSubtitlesButton(bool on, unsigned long screenIndex);

    // Edge blending between neighbours.
    void edgeBlendChangedWithObject(const OutputPtr& output);
    // With blending on, enables the geometry editor's width and power fields of the sides where
    // its output has a neighbour; with it off, none.
    void validateEdgeBlendingControls();
    OutputPtr outputOnLeftSideWithObject(const OutputPtr& output) const;
    OutputPtr outputOnRightSideWithObject(const OutputPtr& output) const;
    OutputPtr outputOnTopSideWithObject(const OutputPtr& output) const;
    OutputPtr outputOnBottomSideWithObject(const OutputPtr& output) const;

    // Outputs on and off.
    void toggleFullscreen();
    bool shouldOutput() const { return shouldOutput_.load(); }
    bool isMainDisplayOnFullscreen() const;
    void disableDisplayMirroring();
    void changeDisableDisplayMirroring();
    void changedisableMouseCursorHide();
    void showRestartNeededAlert();

    // --- Screens ---
    QString screenNameForDisplay(const KavioDisplay& display) const;
    std::vector<KavioNameAndInfo> screenNamesAndInfo() const;
    std::vector<KavioNameAndInfo> textureTypeOutputNames() const;
    void buildInitialScreenList();
    void refreshScreensList();
    std::optional<KavioDisplay> screenWithNameAndInfo(const KavioNameAndInfo& pair) const;
    bool hasMultipleDisplaysWithSameNameAndResolution(const QString& title) const;
    void checkHasDisconnectedScreens();
    void handleHasDisconnectedSreens(bool hasDisconnected);
    int menuItemForScreenWithNameAndInfo(const KavioNameAndInfo& pair) const;
    void undoChangeScreen(const KavioNameAndInfo& pair, unsigned long screenIndex);
    void applyScreenNameAndInfo(const KavioNameAndInfo& pair, const OutputPtr& output);
    static QString disconnectedNameForScreenName(const QString& name) { return name + " - DISCONNECTED"; }
    const std::set<KavioNameAndInfo>& disconnectedScreens() const { return disconnectedScreens_; }

    // --- NDI and DeckLink formats and keyer (KavioVideoOutputManager+Formats.cpp) ---
    // Rows are dictionaries looked up by "displayName", built anew on each call. NDI rows:
    // "displayName", "timeValue", "timeScale", "format" ("yuv", "rgba", "p216"): the 16 YUV and
    // RGBA rows, or with high bit depth rendering the 8 P216 rows. DeckLink rows: "displayName",
    // "bmdDisplayMode", "timeValue", "timeScale", "fields", "renderWidth", "renderHeight": the
    // 54 display modes.
    QVariantList ndiOutputFormats() const;
    static QVariantList decklinkOutputFormats();
    // Selects "YUV - 30fps" (high bit depth: "P216 - 30fps") in the format pop-up.
    void fallbackToDefaultNDIOutputFormat();
    // Set the output at the 1-based index up for the named row (rate, YUV choice, size, name;
    // DeckLink: the card's display mode). An unknown name is logged and changes nothing.
    void applyNDIOutputFormatByName(const QString& name, unsigned long screenIndex);
    void applyDecklinkOutputFormatByName(const QString& name, unsigned long screenIndex);
    // The rows the device plays in 'BGRA', '2vuy' or 32-bit ARGB, one per playback format in the
    // device's order (a mode in two of these formats is listed twice).
    struct FormatItem {
        QString title;
        QVariantMap row;
    };
    std::vector<FormatItem> supportedDecklinkFormatForDevice(const decklink::DeckLinkDevice& device) const;
    // The pop-ups' actions, and their undoable changes ("Change Output Format", "Change Keyer").
    void changeOutputFormat();
    void undoChangeOutputFormat(const QString& name, unsigned long screenIndex);
    void changeOutputKeyer();
    void undoChangeOutputKeyer(const QString& keyer, unsigned long screenIndex);
    bool hasBlackmagicOrNDIOutput() const { return hasndiorblackmagicoutput_; }

    // --- Render method ---
    // Paces the render clock: the rate of the first NDI or DeckLink output that yields one,
    // else a display link on the first online output's display or the main screen.
    void checkOutputsForBestRenderMethod();
    void restartRendering();
    double frameTime() const;

private:
    // The set-up window's controls call their actions when the operator uses them.
    void connectControls();
    void publishOutputs();
    // One tile per output at its grid place, the others removed; the grid sized to hold them.
    void placeOutputViews();
    // The per-output switches: apply, set the control, register the opposite under the name.
    void undoToggleOutputSwitch(bool on, unsigned long screenIndex, KavioButton* control, const char* actionName,
                                void (KavioVideoOutputObject::*setter)(bool),
                                void (KavioVideoOutputManager::*again)(bool, unsigned long));
    OutputPtr outputAtIndex(unsigned long index) const;
    OutputPtr neighbour(const OutputPtr& output, int dRow, int dCol) const;
    void setRenderResolution(QSizeF size);
    void postUnsavedChanges();
    void addDisconnectedItem(const KavioNameAndInfo& pair);
    void fillScreenPopup();
    bool itemMatchesOutput(int position, const KavioVideoOutputObject& output) const;
    std::shared_ptr<KavioRenderClock> renderClock() const;
    void observeNotifications();
    // The rate of the output's named format row; false when its kind has no such row.
    bool rateOfFormatRow(const KavioVideoOutputObject& output, GpuTime& rate) const;
    // Fills the format (and for a card the keyer) pop-up for a destination and, unless a project
    // is loading, applies the chosen row.
    void bindNDIDestination(const OutputPtr& output);
    // The format pop-up emptied and filled with the NDI rows, or with the rows the card plays
    // by ascending picture width.
    void fillFormatPopupForKind(std::int32_t kind, const decklink::DeckLinkDevice* device);
    // Selects the row used last for that kind, else NDI's default row, or the card's last row
    // of the render resolution's size, or its first.
    void selectPreferredFormat(std::int32_t kind);
    void fillKeyerPopupForDevice(const decklink::DeckLinkDevice& device);
    void bindDecklinkDestination(const OutputPtr& output, const std::shared_ptr<decklink::DeckLinkDevice>& device);
    // After a record restored an NDI or DeckLink output: its card, format and keyer again.
    void restoreFormatOfOutput(const OutputPtr& output);

    QVTMetalManager& gpu_;
    UserDefaults& defaults_;
    std::shared_ptr<KavioAudioStreamersManagerInterface> streamers_;
    std::shared_ptr<KavioDisplayListInterface> displays_;
    std::weak_ptr<KavioVideoItemManagerInterface> videoManager_;
    KavioDeckLinkBrowser* decklinkBrowser_ = nullptr;
    KavioDeckLinkBrowser& deckLinkBrowser() const;
    std::unique_ptr<KavioOutputSetupControls> controls_;
    std::unique_ptr<UndoManager> undoManager_;

    // Main thread.
    OutputList outputObjects_;
    unsigned long selectedoutput_ = 1;
    std::set<KavioNameAndInfo> disconnectedScreens_;
    bool hasndiorblackmagicoutput_ = false;
    bool isLoadingProject_ = false;
    bool isResetingSettings_ = false;
    bool useHighBitDepthRendering_ = false;

    // Read by the rendering thread.
    std::atomic<std::shared_ptr<const OutputList>> renderedOutputs_;
    std::atomic<std::uint64_t> renderresolution_{0};  // KavioRenderingSupport::packSize
    KavioSeqLocked<KavioScreenSpan> screenspan_{KavioScreenSpan{1, 1}};
    std::atomic<bool> spanMode_{false};
    std::atomic<bool> testCard_{false};
    std::atomic<bool> renderallowed_{true};
    std::atomic<bool> shouldOutput_{false};
    std::atomic<bool> isRendering_{false};
};
