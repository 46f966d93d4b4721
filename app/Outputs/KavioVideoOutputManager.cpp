#include "Outputs/KavioVideoOutputManager.h"

#include "Controller/KavioVideoItemManagerInterface.h"
#include "Outputs/KavioOutputSetupControls.h"
#include "Outputs/KavioVideoOutputSetupView.h"
#include "Views/KavioButton.h"
#include "Views/KavioControllableTextField.h"
#include "Rendering/KavioOverlayFontManager.h"
#include "Rendering/KavioRenderClock.h"
#include "Rendering/KavioRenderingSupport.h"
#include "Support/KavioAlert.h"
#include "Views/KavioPopUpButton.h"

#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "UndoManager.h"
#include "UserDefaults.h"

#include <QAction>
#include <QGuiApplication>
#include <QScreen>
#include <QLineEdit>

#include <array>

namespace {
constexpr std::size_t kMaxColumns = 16;
}

KavioVideoOutputManager::KavioVideoOutputManager(QVTMetalManager& gpu,
                                                 std::shared_ptr<KavioAudioStreamersManagerInterface> streamers,
                                                 std::shared_ptr<KavioDisplayListInterface> displays,
                                                 UserDefaults* defaults)
    : gpu_(gpu)
    , defaults_(defaults ? *defaults : UserDefaults::standardUserDefaults())
    , streamers_(std::move(streamers))
    , displays_(displays ? std::move(displays) : std::make_shared<KavioSystemDisplayList>())
    , controls_(std::make_unique<KavioOutputSetupControls>(gpu))
    , undoManager_(std::make_unique<UndoManager>())
    , renderedOutputs_(std::make_shared<const OutputList>())
{
    renderresolution_.store(KavioRenderingSupport::packSize(QSizeF(1920, 1080)));
    controls_->setWillClose([this] { windowWillClose(); });
    // The rendering thread reads these two switches every frame.
    // Every state the manager sets arrives here; a click stores its own before the action runs.
    QObject::connect(controls_->spanModeButton, &KavioButton::stateChanged, [this](int on) { spanMode_.store(on != 0); });
    QObject::connect(controls_->testCardButton, &KavioButton::stateChanged, [this](int on) { testCard_.store(on != 0); });
    connectControls();
    KavioOutputSetupControls& c = *controls_;
    KavioVideoOutputSetupView::Outlets editor;
    editor.currentCornerX = c.currentCornerX;
    editor.currentCornerY = c.currentCornerY;
    editor.zoomPopup = c.zoomPopup;
    editor.edgeBlendWidthLeft = c.edgeBlendWidths[0];
    editor.edgeBlendWidthRight = c.edgeBlendWidths[1];
    editor.edgeBlendWidthTop = c.edgeBlendWidths[2];
    editor.edgeBlendWidthBottom = c.edgeBlendWidths[3];
    editor.edgeBlendPowerLeft = c.edgeBlendPowers[0];
    editor.edgeBlendPowerRight = c.edgeBlendPowers[1];
    editor.edgeBlendPowerTop = c.edgeBlendPowers[2];
    editor.edgeBlendPowerBottom = c.edgeBlendPowers[3];
    editor.edgeBlendResetButton = c.edgeBlendResetButton;
    editor.warpViewScrollView = c.warpViewScrollView;
    c.outputSetupView->awakeFromNib(editor, this, undoManager_.get());
    c.resetCornersButton->setAction([this] { controls_->outputSetupView->resetHandles(); });
    validateEdgeBlendingControls();
}

void KavioVideoOutputManager::connectControls()
{
    KavioOutputSetupControls& c = *controls_;
    QObject* context = controls_.get();
    const auto onChoice = [](KavioPopUpButton* popup, std::function<void()> action) { popup->setAction(std::move(action)); };
    onChoice(c.renderingBitDepth, [this] { changeRenderingBitDepth(); });
    onChoice(c.screensPopup, [this] { changeNumberOfScreens(); });
    onChoice(c.resolutionPopup, [this] { changeOutputResolution(); });
    onChoice(c.orientationPopup, [this] { undoChangeOrientation(controls_->orientationPopup->titleOfSelectedItem(), selectedoutput_); });
    onChoice(c.warpTypePopup, [this] { undoChangeWarpType(controls_->warpTypePopup->titleOfSelectedItem(), selectedoutput_); });
    onChoice(c.outputFormatPopup, [this] { changeOutputFormat(); });
    onChoice(c.outputKeyerPopup, [this] { changeOutputKeyer(); });
    onChoice(c.currentScreenPopup, [this] {
        const QVariant pair = controls_->currentScreenPopup->representedObjectOfSelectedItem();
        if (pair.canConvert<KavioNameAndInfo>())
            undoChangeScreen(pair.value<KavioNameAndInfo>(), selectedoutput_);
    });
    // A field applies what the operator typed, once, when editing ends.
    const auto onEdit = [context](QLineEdit* field, std::function<void()> action) {
        QObject::connect(field, &QLineEdit::editingFinished, context, [field, action = std::move(action)] {
            if (!field->isModified())
                return;
            field->setModified(false);
            action();
        });
    };
    onEdit(c.screenRowsField, [this] { changeNumberOfScreensManually(); });
    onEdit(c.screenColsField, [this] { changeNumberOfScreensManually(); });
    onEdit(c.resolutionWidthField, [this] { changeRenderResolutionManually(); });
    onEdit(c.resolutionHeightField, [this] { changeRenderResolutionManually(); });
    // A switch's click has flipped its state when its action runs.
    const auto onSwitch = [](KavioButton* button, std::function<void(bool)> action) {
        button->setAction([button, action = std::move(action)] { action(button->state() != 0); });
    };
    onSwitch(c.spanModeButton, [this](bool on) {
        spanMode_.store(on);
        undoChangeDisplayModeToState(on);
    });
    onSwitch(c.testCardButton, [this](bool on) { testCard_.store(on); });
    onSwitch(c.edgeBlendEnableButton, [this](bool on) { undoChangeEdgeBlendToState(on); });
    onSwitch(c.enableMatteColorButton, [this](bool on) { undoToggleEnableMatteColorButton(on, selectedoutput_); });
    onSwitch(c.enableTimeOverlaysButton, [this](bool on) { undoToggleEnableTimeOverlayButton(on, selectedoutput_); });
    onSwitch(c.enableSubtitlesButton, [this](bool on) { undoToggleEnableSubtitlesButton(on, selectedoutput_); });
    onSwitch(c.disableDisplayMirroringButton, [this](bool) { changeDisableDisplayMirroring(); });
    onSwitch(c.disableMouseCursorHideButton, [this](bool) { changedisableMouseCursorHide(); });
    // The error variant stands in for the outputs button while a destination is missing.
    c.fullscreenButton->setAction([this] { toggleFullscreen(); });
    c.fullscreenErrorButton->setAction([this] { toggleFullscreen(); });
    c.restartNeededAlertButton->setAction([this] { showRestartNeededAlert(); });
    c.basicSettingsButton->setAction([this] { shouldSwitchToBasicOutputSettingsView(); });
    c.advancedSettingsButton->setAction([this] { shouldSwitchToAdvancedOutputSettingsView(); });
    // A checkable item flips its own mark before it triggers; toggleFullscreen reads and sets it.
    QObject::connect(c.fullscreenMenuItem, &QAction::triggered, context, [this](bool checked) {
        controls_->fullscreenMenuItem->setChecked(!checked);
        toggleFullscreen();
    });
}

KavioVideoOutputManager::~KavioVideoOutputManager()
{
    NotificationCenter::defaultCenter().removeObserver(this);
    for (const auto& output : outputObjects_)
        output->removeResources();
}

void KavioVideoOutputManager::initManager()
{
    KLOG_DEBUG("KavioVideoOutputManager initManager");
    if (defaults_.hasKey("useHighBitDepthRendering")) {
        useHighBitDepthRendering_ = defaults_.boolForKey("useHighBitDepthRendering");
    } else {
        useHighBitDepthRendering_ = false;
        defaults_.setBool(false, "useHighBitDepthRendering");
    }
    controls_->renderingBitDepth->selectItemWithTag(useHighBitDepthRendering_ ? 10 : 0);
    if (!defaults_.hasKey("disableDisplayMirroring"))
        defaults_.setBool(true, "disableDisplayMirroring");
    const bool mirroringOff = defaults_.boolForKey("disableDisplayMirroring");
    if (mirroringOff)
        disableDisplayMirroring();
    controls_->disableDisplayMirroringButton->setState((mirroringOff) ? 1 : 0);
    if (!defaults_.hasKey("disableMouseCursorHide"))
        defaults_.setBool(true, "disableMouseCursorHide");
    controls_->disableMouseCursorHideButton->setState((defaults_.boolForKey("disableMouseCursorHide")) ? 1 : 0);
    defaults_.synchronize();

    renderallowed_.store(true);
    isLoadingProject_ = isResetingSettings_ = false;
    isRendering_.store(false);
    hasndiorblackmagicoutput_ = false;
    selectedoutput_ = 1;
    setRenderResolution(QSizeF(1920, 1080));
    disconnectedScreens_.clear();
    shouldOutput_.store(false);

    controls_->orientationPopup->cacheToOldValue();
    controls_->warpTypePopup->cacheToOldValue();
    controls_->screensPopup->cacheToOldValue();
    outputObjects_.clear();
    publishOutputs();
    controls_->screensPopup->selectItemWithTitle("1");
    controls_->restartNeededAlertButton->hide();
    controls_->fullscreenErrorButton->hide();

    if (defaults_.hasKey("videoOutputSetup")) {
        buildInitialScreenList();
        loadWithData(defaults_.dictionaryForKey("videoOutputSetup"));
    } else {
        undoManager_->disableUndoRegistration();
        changeNumberOfScreens();
        refreshScreensList();
        undoManager_->enableUndoRegistration();
    }
    observeNotifications();
}

void KavioVideoOutputManager::observeNotifications()
{
    auto& center = NotificationCenter::defaultCenter();
    auto onMain = [&](const char* name, std::function<void()> action) {
        center.addObserver(this, name, nullptr, [action](const Notification&) { action(); }, &DispatchQueue::main());
    };
    onMain("KavioRenderSizeChanged", [this] { renderSizeChanged(); });
    onMain("KavioSelectNextOutput", [this] { selectNextOutput(); });
    onMain("KavioSelectPrevOutput", [this] { selectPrevOutput(); });
    onMain("KavioSelectAboveOutput", [this] { selectAboveOutput(); });
    onMain("KavioSelectBelowOutput", [this] { selectBelowOutput(); });
    onMain("KavioDeleteSelectedOutput", [this] { deleteSelectedOutput(); });
    onMain("DeckLinkDeviceWasConnectedNotification", [this] { refreshScreensList(); });
    onMain("DeckLinkDeviceWasDisconnectedNotification", [this] { refreshScreensList(); });
    center.addObserver(
        this, "KavioOutputViewDidSelected", nullptr,
        [this](const Notification& n) {
            OutputPtr chosen;
            for (const auto& output : outputObjects_)
                if (output.get() == n.object)
                    chosen = output;
            outputViewDidSelected(chosen);
        },
        &DispatchQueue::main());
    if (qGuiApp) {
        // Screens coming, going or moving.
        auto watch = [this](QScreen* screen) {
            QObject::connect(screen, &QScreen::geometryChanged, controls_.get(), [this] { refreshScreensList(); });
        };
        for (QScreen* screen : QGuiApplication::screens())
            watch(screen);
        QObject::connect(qGuiApp, &QGuiApplication::screenAdded, controls_.get(), [this, watch](QScreen* screen) {
            watch(screen);
            refreshScreensList();
        });
        QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, controls_.get(),
                         [this] { DispatchQueue::main().async([this] { refreshScreensList(); }); });
    }
}

std::shared_ptr<KavioRenderClock> KavioVideoOutputManager::renderClock() const
{
    auto manager = videoManager_.lock();
    return manager ? manager->renderClock() : nullptr;
}

void KavioVideoOutputManager::executeAndSkipRenderAtTheEndOfTheCurrentRenderPass(std::function<void()> block)
{
    KLOG_INFO("calling executeAndSkipRenderAtTheEndOfTheCurrentRenderPass");
    renderallowed_.store(false);
    auto clock = renderClock();
    if (!clock || clock->isStopped()) {
        KLOG_INFO("render is not running, so safe to call this synchoronusly");
        if (block)
            block();
        renderallowed_.store(true);
        return;
    }
    KLOG_INFO("render is running, should use a completed handler");
    clock->addCompletedHandlerForCurrentRenderPass([this, block = std::move(block)] {
        DispatchQueue::main().async([this, block] {
            if (block)
                block();
            renderallowed_.store(true);
        });
    });
}

void KavioVideoOutputManager::publishOutputs()
{
    renderedOutputs_.store(std::make_shared<const OutputList>(outputObjects_));
}

// --- The frame -------------------------------------------------------------------------------

void KavioVideoOutputManager::renderWithTexture(const std::shared_ptr<GpuTexture>& texture)
{
    isRendering_.store(true);
    const auto outputs = renderedOutputs_.load();
    if (!shouldOutput_.load() || !renderallowed_.load()) {
        for (const auto& output : *outputs) {
            if (output->isOnline())
                output->handleClearOutputIfNeeded();
            output->handleAudioOutput();
        }
        isRendering_.store(false);
        return;
    }
    auto manager = videoManager_.lock();
    const QSizeF resolution = renderResolution();
    const bool hasCaption = manager && manager->currentItemHasCaption();
    const bool testCard = testCard_.load();
    std::uint64_t paddingX = 0;
    long previousColumn = -1;
    // Per column: the running sum of the top blend widths of the blended rows above.
    std::array<std::uint64_t, kMaxColumns> paddingY{};
    for (const auto& output : *outputs) {
        if (!(output->isFullscreen() && output->isOnline())) {
            if (output->isOnline())
                output->handleClearOutputIfNeeded();
            output->handleAudioOutput();
            continue;
        }
        const KavioScreenLocation location = output->screenLocation();
        const std::size_t column = std::size_t(std::clamp(location.col, 0, int(kMaxColumns) - 1));
        if (output->edgeBlendEnabled()) {
            const KavioEdgeBlendSettings blend = output->edgeBlendSettings();
            if (previousColumn < location.col) {
                paddingX = std::uint64_t(std::max<std::int64_t>(blend.leftEdgeWidth, 0)) + paddingX;
                previousColumn = location.col;
            } else {
                paddingX = 0;
                previousColumn = -1;
            }
            if (location.row > 0)
                paddingY[column] += std::uint64_t(std::max<std::int64_t>(blend.topEdgeWidth, 0));
        }
        const auto px = std::uint16_t(std::min<std::uint64_t>(paddingX, 0xffff));
        const auto py = std::uint16_t(std::min<std::uint64_t>(paddingY[column], 0xffff));
        if (testCard) {
            output->renderTestCardWithEdgeBlendPaddingX(px, py);
            output->handleAudioOutput();
            continue;
        }
        std::shared_ptr<GpuTexture> overlay;
        if (manager && (output->timeOverlayEnabled() || output->subtitlesEnabled()))
            overlay = manager->overlayOutputTextureForSize(resolution, false, output->timeOverlayEnabled(),
                                                           output->subtitlesEnabled() && hasCaption);
        output->renderWithTexture(texture, overlay, hasCaption, resolution, px, py);
    }
    isRendering_.store(false);
}

void KavioVideoOutputManager::presentDrawables()
{
    if (!renderallowed_.load())
        return;
    for (const auto& output : *renderedOutputs_.load())
        output->mtkView()->presentDrawable();
}

// --- Canvas and resolution -------------------------------------------------------------------

QSizeF KavioVideoOutputManager::renderResolution() const
{
    return KavioRenderingSupport::unpackSize(renderresolution_.load());
}

void KavioVideoOutputManager::setRenderResolution(QSizeF size)
{
    renderresolution_.store(KavioRenderingSupport::packSize(size));
}

QSizeF KavioVideoOutputManager::renderSize() const
{
    const QSizeF resolution = renderResolution();
    if (!spanMode_.load())
        return resolution;
    const KavioScreenSpan span = screenspan_.load();
    return QSizeF(resolution.width() * span.cols, resolution.height() * span.rows);
}

void KavioVideoOutputManager::postUnsavedChanges()
{
    NotificationCenter::defaultCenter().post("ProjectHasUnsavedChanges");
}

void KavioVideoOutputManager::changeOutputResolution()
{
    undoChangeOutputResolutionTo(controls_->resolutionPopup->titleOfSelectedItem());
}

void KavioVideoOutputManager::changeRenderResolutionManually()
{
    const QSizeF current = renderResolution();
    auto check = [](KavioControllableTextField* field, double currentValue) {
        const int value = field->text().toInt();
        if (value < field->minimum() || value > field->maximum())
            field->setText(QString::asprintf("%d", int(currentValue)));
    };
    check(controls_->resolutionWidthField, current.width());
    check(controls_->resolutionHeightField, current.height());
    undoChangeOutputResolutionTo(QString::asprintf("%d x %d", controls_->resolutionWidthField->text().toInt(),
                                                   controls_->resolutionHeightField->text().toInt()));
}

void KavioVideoOutputManager::undoChangeOutputResolutionTo(const QString& resolution)
{
    if (resolution.isNull())
        return;
    KLOG_INFO("undoChangeOutputResolutionTo");
    executeAndSkipRenderAtTheEndOfTheCurrentRenderPass([this, resolution] {
        const QStringList parts = resolution.split(" x ");
        bool okW = false, okH = false;
        const int width = parts.size() == 2 ? parts[0].toInt(&okW) : 0;
        const int height = parts.size() == 2 ? parts[1].toInt(&okH) : 0;
        if (!okW || !okH || width < 1 || height < 1 || width > 16384 || height > 16384) {
            if (parts.size() == 2)
                KLOG_ERROR("render resolution \"{}\" out of range, kept", resolution.toStdString());
            return;
        }
        postUnsavedChanges();
        const QSizeF old = renderResolution();
        const QString oldText = QString::asprintf("%d x %d", int(old.width()), int(old.height()));
        controls_->resolutionWidthField->setText(QString::number(width));
        controls_->resolutionHeightField->setText(QString::number(height));
        setRenderResolution(QSizeF(width, height));
        for (const auto& output : outputObjects_)
            if (output->videoOutputType() != KavioVideoOutputTypeScreen)
                output->changeFrameIfNeeded(QRectF(0, 0, width, height));
        const QString title = QString::asprintf("%d x %d", width, height);
        if (controls_->resolutionPopup->indexOfItemWithTitle(title) < 0) {
            KLOG_INFO("will add new resolution: {}", title.toStdString());
            controls_->resolutionPopup->addItemWithTitle(title);
        }
        controls_->resolutionPopup->selectItemWithTitle(title);
        NotificationCenter::defaultCenter().post("KavioRenderSizeChanged");
        updateUIAfterScreenSelected();
        undoManager_->registerUndo(this, [this, oldText] { undoChangeOutputResolutionTo(oldText); });
        undoManager_->setActionName("Change Output Resolution");
    });
}

void KavioVideoOutputManager::changeRenderingBitDepth()
{
    const bool high = controls_->renderingBitDepth->selectedTag() == 10;
    if (high != useHighBitDepthRendering_) {
        defaults_.setBool(high, "useHighBitDepthRendering");
        defaults_.synchronize();
        controls_->restartNeededAlertButton->show();
        showRestartNeededAlert();
    } else {
        controls_->restartNeededAlertButton->hide();
    }
}

void KavioVideoOutputManager::showRestartNeededAlert()
{
    KavioAlert::runModal({"Restart needed", "The new settings will be effective on the next launch of Kavio.", {"OK"}, {}});
}

QString KavioVideoOutputManager::setupWindowTitle() const
{
    return controls_->windowTitle();
}

void KavioVideoOutputManager::renderSizeChanged()
{
    const QSizeF canvas = renderSize();
    controls_->setWindowTitle(
        QString::asprintf("Video Outputs - Canvas is %d x %d", int(canvas.width()), int(canvas.height())));
    validateOutputs();
    KavioOverlayFontManager::sharedManager().setOutputRenderHeight(canvas.height());
}

void KavioVideoOutputManager::orderFrontVideoOutputSetupWindow()
{
    undoManager_->disableUndoRegistration();
    controls_->show();
    controls_->raise();
    controls_->activateWindow();
    // The canvas fits the scroll view the window has now laid out.
    controls_->outputSetupView->handleChangeZoomToLevel({});
    undoManager_->enableUndoRegistration();
}

void KavioVideoOutputManager::shouldSwitchToBasicOutputSettingsView()
{
    controls_->showSettingsView(false);
}

void KavioVideoOutputManager::shouldSwitchToAdvancedOutputSettingsView()
{
    controls_->showSettingsView(true);
}

void KavioVideoOutputManager::windowWillClose()
{
    undoManager_->removeAllActions();
}

// --- Render method ---------------------------------------------------------------------------

void KavioVideoOutputManager::checkOutputsForBestRenderMethod()
{
    auto manager = videoManager_.lock();
    if (isLoadingProject_ || isResetingSettings_ || (manager && manager->isLoadingProject()))
        return;
    KLOG_INFO("-> checkOutputsForBestRenderMethod");
    auto clock = renderClock();
    hasndiorblackmagicoutput_ = false;
    for (const auto& output : outputObjects_) {
        const auto kind = output->videoOutputType();
        hasndiorblackmagicoutput_ = hasndiorblackmagicoutput_ || kind == KavioVideoOutputTypeNDI
                                    || kind == KavioVideoOutputTypeDeckLink;
    }
    if (hasndiorblackmagicoutput_) {
        for (const auto& output : outputObjects_) {
            const auto kind = output->videoOutputType();
            if (kind != KavioVideoOutputTypeNDI && kind != KavioVideoOutputTypeDeckLink)
                continue;
            GpuTime rate = output->framerate();
            if (rate.timeValue == 0 && !rateOfFormatRow(*output, rate))
                continue;
            if (clock) {
                if (clock->isRenderingForScreens())
                    clock->stopDisplaylinkIfNeeded();
                clock->startRenderingWithCVTime(rate);
            }
            return;
        }
    }
    std::uint32_t displayId = 0;
    for (const auto& output : outputObjects_) {
        if (output->isOnline()) {
            displayId = output->screenInfo().displayid;
            break;
        }
    }
    if (displayId == 0) {
        for (const KavioDisplay& display : displays_->displays())
            if (display.isMain)
                displayId = display.info.displayid;
    }
    if (!clock)
        return;
    if (clock->isRenderingForScreens() && !clock->isStopped())
        clock->setDisplayForDisplayLink(displayId);
    else
        clock->startCVDisplayLinkWithDisplayID(displayId);
}

void KavioVideoOutputManager::restartRendering()
{
    KLOG_INFO("restartRendering...");
    checkOutputsForBestRenderMethod();
}

double KavioVideoOutputManager::frameTime() const
{
    auto clock = renderClock();
    return clock ? clock->frameTime() : 0.0;
}
