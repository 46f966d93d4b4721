// The grid of outputs, creating and deleting them, the selection, the per-output settings with
// their undo steps, edge-blend neighbours, and switching the outputs on and off.
#include "Outputs/KavioVideoOutputManager.h"

#include "Outputs/KavioOutputSetupControls.h"
#include "Outputs/KavioVideoOutputSetupView.h"
#include "Outputs/KavioVideoOutputView.h"
#include "Views/KavioButton.h"
#include "Views/KavioControllableTextField.h"
#include "Outputs/KavioVideoOutputsView.h"
#include "Rendering/QVTMetalManager.h"
#include "Views/KavioPopUpButton.h"

#include "Log.h"
#include "NotificationCenter.h"
#include "UndoManager.h"
#include "UserDefaults.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>

namespace {
constexpr int kMaxGridSide = 16;
constexpr long kCustomGridTag = 100;
}  // namespace

KavioVideoOutputManager::OutputPtr KavioVideoOutputManager::outputAtIndex(unsigned long index) const
{
    if (index < 1 || index > outputObjects_.size())
        return nullptr;
    return outputObjects_[index - 1];
}

// --- The grid --------------------------------------------------------------------------------

void KavioVideoOutputManager::calculateScreenSpan()
{
    KavioScreenSpan span{1, 1};
    const long tag = controls_->screensPopup->selectedTag();
    if (tag == kCustomGridTag) {
        const QString title = controls_->screensPopup->titleOfSelectedItem();
        KLOG_INFO("title: {}", title.toStdString());
        const QStringList parts = title.split(" x ");
        const int rows = parts.value(0).toInt(), cols = parts.value(parts.size() - 1).toInt();
        if (rows >= 1 && rows <= kMaxGridSide && cols >= 1 && cols <= kMaxGridSide)
            span = {rows, cols};
        else
            KLOG_ERROR("grid \"{}\" out of range, 1 x 1 taken", title.toStdString());
    } else if (tag == 3) {
        span = {1, 3};
    } else if (tag == 2) {
        span = {1, 2};
    }
    screenspan_.store(span);
    controls_->screenRowsField->setText(QString::asprintf("%lu", (unsigned long)span.rows));
    controls_->screenColsField->setText(QString::asprintf("%lu", (unsigned long)span.cols));
}

void KavioVideoOutputManager::changeNumberOfScreens()
{
    undoChangeNumberOfScreensWithTitle(controls_->screensPopup->titleOfSelectedItem(), {});
}

void KavioVideoOutputManager::changeNumberOfScreensManually()
{
    postUnsavedChanges();
    const int rows = std::clamp(controls_->screenRowsField->text().toInt(), 1, kMaxGridSide);
    const int cols = std::clamp(controls_->screenColsField->text().toInt(), 1, kMaxGridSide);
    KavioPopUpButton* popup = controls_->screensPopup;
    if (!(rows == 1 && cols <= 3)) {
        const QString title = QString::asprintf("%d x %d", rows, cols);
        popup->cacheToOldValue();
        popup->selectItemAtIndex(appendPopUpItem(*popup, title, kCustomGridTag));
    } else {
        popup->selectItemWithTitle(QString::asprintf("%d", cols));
    }
    undoChangeNumberOfScreensWithTitle(popup->titleOfSelectedItem(), {}, [] {});
}

void KavioVideoOutputManager::undoChangeNumberOfScreensWithTitle(const QString& title, const QVariantMap& restoreData,
                                                                 std::function<void()> completedHandler)
{
    KLOG_INFO("changeNumberOfScreens");
    executeAndSkipRenderAtTheEndOfTheCurrentRenderPass([this, title, restoreData, completedHandler] {
        postUnsavedChanges();
        KavioPopUpButton* popup = controls_->screensPopup;
        const QString oldTitle = popup->oldItemTitle();
        popup->selectItemWithTitle(title);
        popup->cacheToOldValue();
        const bool oldSpan = (controls_->spanModeButton->state() != 0);
        const bool oldEdge = (controls_->edgeBlendEnableButton->state() != 0);
        const bool several = popup->selectedTag() > 0;
        controls_->spanModeButton->setEnabled(several);
        controls_->edgeBlendEnableButton->setEnabled(several);
        if (!several) {
            controls_->spanModeButton->setState((false) ? 1 : 0);
            controls_->edgeBlendEnableButton->setState((false) ? 1 : 0);
        }
        calculateScreenSpan();
        const KavioScreenSpan span = screenspan_.load();
        const std::size_t wanted = std::size_t(span.rows) * std::size_t(span.cols);

        QVariantMap undoRecord{{"oldSpanState", oldSpan}, {"oldEdgeBlendState", oldEdge}};
        while (outputObjects_.size() > wanted) {
            OutputPtr last = outputObjects_.back();
            undoRecord.insert(QString::number(qulonglong(last->index())), last->saveData());
            last->removeResources();
            outputObjects_.pop_back();
            KLOG_INFO("remove: {}", outputObjects_.size());
        }
        const auto displays = displays_->displays();
        while (outputObjects_.size() < wanted) {
            const std::size_t n = outputObjects_.size();
            QRectF frame;
            if (!displays.empty())
                frame = displays.size() > n + 1 ? displays[n + 1].frame : displays.back().frame;
            const QVariantMap record = restoreData.value(QString::number(qulonglong(n + 1))).toMap();
            OutputPtr output = createFullscreenObjectWithFrame(frame, n + 1, record);
            if (!isLoadingProject_ && !isResetingSettings_ && controls_->fullscreenMenuItem->isChecked()
                && output->isOnline())
                output->orderFront();
        }
        if (!restoreData.isEmpty()) {
            controls_->spanModeButton->setState((restoreData.value("oldSpanState").toBool()) ? 1 : 0);
            controls_->edgeBlendEnableButton->setState((restoreData.value("oldEdgeBlendState").toBool()) ? 1 : 0);
        }
        const bool spanOn = (controls_->spanModeButton->state() != 0);
        for (const auto& output : outputObjects_) {
            output->setEnableSpanMode(spanOn);
            output->setScreenSpan(span);
        }
        publishOutputs();
        if (spanOn != oldSpan)
            NotificationCenter::defaultCenter().post("KavioRenderSizeChanged");
        reArrangeOutputViewsAndSelectCurrent();
        checkOutputsForBestRenderMethod();
        undoManager_->registerUndo(this, [this, oldTitle, undoRecord] {
            undoChangeNumberOfScreensWithTitle(oldTitle, undoRecord);
        });
        undoManager_->setActionName("Change Number of Screens");
        if (completedHandler)
            completedHandler();
    });
}

void KavioVideoOutputManager::reArrangeOutputViewsAndSelectCurrent()
{
    calculateScreenSpan();
    if (selectedoutput_ > outputObjects_.size())
        selectedoutput_ = outputObjects_.size();
    outputViewDidSelected(nullptr);
    const KavioScreenSpan span = screenspan_.load();
    int row = 0, col = 0;
    for (const auto& output : outputObjects_) {
        output->setScreenLocation({row, col});
        KLOG_DEBUG("index {} - r:{} c:{} ", output->index(), row, col);
        if (++col >= span.cols) {
            col = 0;
            ++row;
        }
    }
    placeOutputViews();
}

KavioVideoOutputView* KavioVideoOutputManager::outputViewWithObject(const OutputPtr& output) const
{
    if (!output)
        return nullptr;
    for (KavioVideoOutputView* tile : controls_->outputsView->findChildren<KavioVideoOutputView*>(Qt::FindDirectChildrenOnly))
        if (tile->object() == output)
            return tile;
    return nullptr;
}

void KavioVideoOutputManager::placeOutputViews()
{
    KavioVideoOutputsView* grid = controls_->outputsView;
    for (KavioVideoOutputView* tile : grid->findChildren<KavioVideoOutputView*>(Qt::FindDirectChildrenOnly)) {
        const OutputPtr output = tile->object();
        if (!output || std::find(outputObjects_.begin(), outputObjects_.end(), output) == outputObjects_.end()) {
            tile->removeResources();
            delete tile;
        }
    }
    const KavioScreenSpan span = screenspan_.load();
    grid->resize(std::max(448, 5 + 133 * span.cols), std::max(125, 5 + 77 * span.rows));
    for (const auto& output : outputObjects_) {
        KavioVideoOutputView* tile = outputViewWithObject(output);
        if (!tile) {
            tile = new KavioVideoOutputView(grid);
            tile->setObject(output);
        }
        const KavioScreenLocation at = output->screenLocation();
        tile->setGeometry(5 + 133 * at.col, 5 + 77 * at.row, 128, 72);
        tile->setIsSelected(output->index() == selectedoutput_);
        tile->show();
    }
    validateOutputs();
    grid->update();
}

void KavioVideoOutputManager::validateOutputs()
{
    const QSizeF resolution = renderResolution();
    const QVariantList formats = decklinkOutputFormats();
    for (const auto& output : outputObjects_) {
        KavioVideoOutputView* tile = outputViewWithObject(output);
        if (!tile)
            continue;
        bool error = false;
        if (output->videoOutputType() == KavioVideoOutputTypeDeckLink) {
            for (const QVariant& row : formats) {
                const QVariantMap format = row.toMap();
                if (format.value("displayName").toString() != output->videoOutputFormatString())
                    continue;
                error = QSizeF(format.value("renderWidth").toDouble(), format.value("renderHeight").toDouble())
                        != resolution;
                break;
            }
        }
        tile->setHasError(error);
    }
}

KavioVideoOutputManager::OutputPtr KavioVideoOutputManager::createFullscreenObjectWithFrame(const QRectF& frame,
                                                                                          unsigned long index,
                                                                                          const QVariantMap& restoreData)
{
    auto output = std::make_shared<KavioVideoOutputObject>(frame, useHighBitDepthRendering_, gpu_, streamers_);
    output->setIndex(index);
    const std::size_t at = std::min<std::size_t>(index - 1, outputObjects_.size());
    outputObjects_.insert(outputObjects_.begin() + std::ptrdiff_t(at), output);
    if (!restoreData.isEmpty()) {
        output->loadWithData(restoreData);
        restoreFormatOfOutput(output);
    } else {
        const auto displays = displays_->displays();
        if (!displays.empty()) {
            output->setScreenName(screenNameForDisplay(displays.back()));
            output->setScreenInfo(displays.back().info);
        }
        output->setEnableSpanMode((controls_->spanModeButton->state() != 0));
        output->setEdgeBlendEnabled((controls_->edgeBlendEnableButton->state() != 0));
        output->setOrientation(std::uint64_t(controls_->orientationPopup->selectedTag()));
        output->setWarpMode(controls_->warpTypePopup->selectedTag());
        output->setVideoOutputType(KavioVideoOutputTypeScreen);
    }
    publishOutputs();
    return output;
}

// --- Deleting and inserting --------------------------------------------------------------------

void KavioVideoOutputManager::deleteSelectedOutput()
{
    const KavioScreenSpan span = screenspan_.load();
    if (span.rows == 1 || span.cols == 1)
        deleteOutputAtIndex(selectedoutput_);
}

void KavioVideoOutputManager::deleteOutputAtIndex(unsigned long index)
{
    KLOG_INFO("will delete output: {}", index);
    executeAndSkipRenderAtTheEndOfTheCurrentRenderPass([this, index] {
        OutputPtr output = outputAtIndex(index);
        if (outputObjects_.size() < 2 || !output)
            return;
        const QVariantMap record = output->saveData();
        output->resetEdgeBlend();
        edgeBlendChangedWithObject(output);
        output->removeResources();
        outputObjects_.erase(outputObjects_.begin() + std::ptrdiff_t(index - 1));
        for (const auto& other : outputObjects_)
            if (other->index() > index)
                other->setIndex(other->index() - 1);
        publishOutputs();
        if (selectedoutput_ > outputObjects_.size()) {
            selectedoutput_ -= 1;
            KLOG_INFO("selected output will be : {}", selectedoutput_);
        }
        const bool several = outputObjects_.size() >= 2;
        controls_->spanModeButton->setEnabled(several);
        controls_->edgeBlendEnableButton->setEnabled(several);
        if (!several) {
            controls_->spanModeButton->setState((false) ? 1 : 0);
            controls_->edgeBlendEnableButton->setState((false) ? 1 : 0);
        }
        handleScreensPopupAfterDeleteOrInsert(-1);
        reArrangeOutputViewsAndSelectCurrent();
        checkOutputsForBestRenderMethod();
        undoManager_->registerUndo(this, [this, index, record] { insertOutputAtIndex(index, record); });
        undoManager_->setActionName("Insert Output");
    });
}

void KavioVideoOutputManager::insertOutputAtIndex(unsigned long index, const QVariantMap& restoreData)
{
    KLOG_INFO("will insert with outputindex: {}", index);
    executeAndSkipRenderAtTheEndOfTheCurrentRenderPass([this, index, restoreData] {
        for (const auto& other : outputObjects_)
            if (other->index() >= index)
                other->setIndex(other->index() + 1);
        const auto displays = displays_->displays();
        createFullscreenObjectWithFrame(displays.empty() ? QRectF() : displays.back().frame, index, restoreData);
        handleScreensPopupAfterDeleteOrInsert(+1);
        reArrangeOutputViewsAndSelectCurrent();
        updateUIAfterScreenSelected();
        undoManager_->registerUndo(this, [this, index] { deleteOutputAtIndex(index); });
        undoManager_->setActionName("Delete Output");
    });
}

void KavioVideoOutputManager::handleScreensPopupAfterDeleteOrInsert(int change)
{
    KavioScreenSpan span = screenspan_.load();
    KavioPopUpButton* popup = controls_->screensPopup;
    auto selectCustom = [popup](const QString& title) {
        const int at = popup->indexOfItemWithTitle(title);
        popup->selectItemAtIndex(at >= 0 ? at : appendPopUpItem(*popup, title, kCustomGridTag));
    };
    if (span.rows > 1) {
        span.rows += change;
        selectCustom(QString::asprintf("%d x 1", span.rows));
    } else {
        span.cols += change;
        if (span.cols <= 3)
            popup->selectItemWithTitle(QString::asprintf("%d", span.cols));
        else
            selectCustom(QString::asprintf("1 x %d", span.cols));
    }
    popup->cacheToOldValue();
    screenspan_.store(span);
}

// --- Selection -------------------------------------------------------------------------------

void KavioVideoOutputManager::outputViewDidSelected(const OutputPtr& output)
{
    OutputPtr chosen = output ? output : (outputObjects_.empty() ? nullptr : outputObjects_.front());
    if (!chosen)
        return;
    controls_->outputsView->setFocus(Qt::OtherFocusReason);
    if (chosen->index() != selectedoutput_)
        if (KavioVideoOutputView* previous = outputViewWithObject(outputAtIndex(selectedoutput_)))
            previous->setIsSelected(false);
    selectedoutput_ = chosen->index();
    controls_->outputSetupView->setOutputObj(chosen);
    updateUIAfterScreenSelected();
}

void KavioVideoOutputManager::selectScreenAtIndex(unsigned long index)
{
    const OutputPtr shown = controls_->outputSetupView->outputObj();
    if ((shown && shown->index() == index) || !outputAtIndex(index))
        return;
    if (KavioVideoOutputView* previous = outputViewWithObject(outputAtIndex(selectedoutput_)))
        previous->setIsSelected(false);
    selectedoutput_ = index;
    if (KavioVideoOutputView* tile = outputViewWithObject(outputAtIndex(index)))
        tile->setIsSelected(true);
    controls_->outputSetupView->setOutputObj(outputAtIndex(index));
    updateUIAfterScreenSelected();
}

void KavioVideoOutputManager::selectNextOutput()
{
    if (selectedoutput_ < outputObjects_.size())
        selectScreenAtIndex(selectedoutput_ + 1);
}

void KavioVideoOutputManager::selectPrevOutput()
{
    if (selectedoutput_ > 1)
        selectScreenAtIndex(selectedoutput_ - 1);
}

void KavioVideoOutputManager::selectAboveOutput()
{
    const KavioScreenSpan span = screenspan_.load();
    if (span.rows >= 2 && selectedoutput_ > (unsigned long)span.cols)
        selectScreenAtIndex(selectedoutput_ - (unsigned long)span.cols);
}

void KavioVideoOutputManager::selectBelowOutput()
{
    const KavioScreenSpan span = screenspan_.load();
    if (span.rows >= 2 && selectedoutput_ + (unsigned long)span.cols <= (unsigned long)(span.rows * span.cols))
        selectScreenAtIndex(selectedoutput_ + (unsigned long)span.cols);
}

void KavioVideoOutputManager::updateUIAfterScreenSelected()
{
    OutputPtr output = outputAtIndex(selectedoutput_);
    if (!output)
        return;
    const KavioNameAndInfo pair{output->screenName(), output->screenInfo()};
    KavioPopUpButton* destinations = controls_->currentScreenPopup;
    const int item = menuItemForScreenWithNameAndInfo(pair);
    if (item >= 0)
        destinations->selectItemAtIndex(item);
    else if (!destinations->selectItemWithTitle(disconnectedNameForScreenName(pair.title)))
        destinations->selectItemWithTitle(pair.title);
    // What the pop-ups show for this output is what undoing its next change goes back to.
    controls_->orientationPopup->selectItemWithTag(long(output->orientation()));
    controls_->orientationPopup->cacheToOldValue();
    controls_->warpTypePopup->selectItemWithTag(output->warpMode());
    controls_->warpTypePopup->cacheToOldValue();
    controls_->enableMatteColorButton->setState((output->colorMatteEnabled()) ? 1 : 0);
    controls_->enableTimeOverlaysButton->setState((output->timeOverlayEnabled()) ? 1 : 0);
    controls_->enableSubtitlesButton->setState((output->subtitlesEnabled()) ? 1 : 0);
    validateFormatPopupForOutput(output);
    validateKeyerPopupForOutput(output);
    controls_->outputsView->update();
    controls_->outputSetupView->update();
    validateEdgeBlendingControls();
}

// --- Settings --------------------------------------------------------------------------------

void KavioVideoOutputManager::undoChangeDisplayModeToState(bool on)
{
    postUnsavedChanges();
    const bool old = (controls_->spanModeButton->state() != 0);
    for (const auto& output : outputObjects_)
        output->setEnableSpanMode(on);
    controls_->spanModeButton->setState((on) ? 1 : 0);
    undoManager_->registerUndo(this, [this, old] { undoChangeDisplayModeToState(old); });
    undoManager_->setActionName("Toggle Span Mode");
    NotificationCenter::defaultCenter().post("KavioRenderSizeChanged");
}

void KavioVideoOutputManager::undoChangeOrientation(const QString& title, unsigned long screenIndex)
{
    postUnsavedChanges();
    KavioPopUpButton* popup = controls_->orientationPopup;
    const QString old = popup->oldItemTitle();
    popup->selectItemWithTitle(title);
    popup->cacheToOldValue();
    OutputPtr output = outputAtIndex(screenIndex);
    if (output && std::uint64_t(popup->selectedTag()) != output->orientation()) {
        output->setOrientation(std::uint64_t(popup->selectedTag()));
        selectScreenAtIndex(screenIndex);
    }
    undoManager_->registerUndo(this, [this, old, screenIndex] { undoChangeOrientation(old, screenIndex); });
    undoManager_->setActionName("Change Screen Orientation");
}

void KavioVideoOutputManager::undoChangeWarpType(const QString& title, unsigned long screenIndex)
{
    postUnsavedChanges();
    KavioPopUpButton* popup = controls_->warpTypePopup;
    const QString old = popup->oldItemTitle();
    popup->selectItemWithTitle(title);
    popup->cacheToOldValue();
    OutputPtr output = outputAtIndex(screenIndex);
    if (output && popup->selectedTag() != output->warpMode()) {
        output->setWarpMode(popup->selectedTag());
        selectScreenAtIndex(screenIndex);
    }
    undoManager_->registerUndo(this, [this, old, screenIndex] { undoChangeWarpType(old, screenIndex); });
    undoManager_->setActionName("Change Warp Type");
    controls_->outputSetupView->redrawWithNewSettings();
}

void KavioVideoOutputManager::undoChangeEdgeBlendToState(bool on)
{
    postUnsavedChanges();
    const bool old = (controls_->edgeBlendEnableButton->state() != 0);
    for (const auto& output : outputObjects_)
        output->setEdgeBlendEnabled(on);
    controls_->edgeBlendEnableButton->setState((on) ? 1 : 0);
    controls_->outputSetupView->edgeBlendToggled(on);
    if (on)
        validateEdgeBlendingControls();
    controls_->outputsView->update();
    undoManager_->registerUndo(this, [this, old] { undoChangeEdgeBlendToState(old); });
    undoManager_->setActionName("Toggle Edge Blending");
}

void KavioVideoOutputManager::undoToggleOutputSwitch(bool on, unsigned long screenIndex, KavioButton* control,
                                                     const char* actionName,
                                                     void (KavioVideoOutputObject::*setter)(bool),
                                                     void (KavioVideoOutputManager::*again)(bool, unsigned long))
{
    postUnsavedChanges();
    if (auto output = outputAtIndex(screenIndex))
        ((*output).*setter)(on);
    control->setState(on ? 1 : 0);
    undoManager_->registerUndo(this, [this, again, on, screenIndex] { (this->*again)(!on, screenIndex); });
    undoManager_->setActionName(actionName);
}

void KavioVideoOutputManager::undoToggleEnableMatteColorButton(bool on, unsigned long screenIndex)
{
    undoToggleOutputSwitch(on, screenIndex, controls_->enableMatteColorButton, "Toggle Enable Color Matte",
                           &KavioVideoOutputObject::setColorMatteEnabled,
                           &KavioVideoOutputManager::undoToggleEnableMatteColorButton);
}

void KavioVideoOutputManager::undoToggleEnableTimeOverlayButton(bool on, unsigned long screenIndex)
{
    undoToggleOutputSwitch(on, screenIndex, controls_->enableTimeOverlaysButton, "Toggle Time Overlays",
                           &KavioVideoOutputObject::setTimeOverlayEnabled,
                           &KavioVideoOutputManager::undoToggleEnableTimeOverlayButton);
}

void KavioVideoOutputManager::undoToggleEnableSubtitlesButton(bool on, unsigned long screenIndex)
{
    undoToggleOutputSwitch(on, screenIndex, controls_->enableSubtitlesButton, "Toggle Subtitles / CC",
                           &KavioVideoOutputObject::setSubtitlesEnabled,
                           &KavioVideoOutputManager::undoToggleEnableSubtitlesButton);
}

// --- Edge-blend neighbours -------------------------------------------------------------------

KavioVideoOutputManager::OutputPtr KavioVideoOutputManager::neighbour(const OutputPtr& output, int dRow, int dCol) const
{
    const KavioScreenLocation at = output->screenLocation();
    for (const auto& other : outputObjects_) {
        const KavioScreenLocation l = other->screenLocation();
        if (l.row == at.row + dRow && l.col == at.col + dCol)
            return other;
    }
    return nullptr;
}

KavioVideoOutputManager::OutputPtr KavioVideoOutputManager::outputOnLeftSideWithObject(const OutputPtr& o) const
{
    return neighbour(o, 0, -1);
}

KavioVideoOutputManager::OutputPtr KavioVideoOutputManager::outputOnRightSideWithObject(const OutputPtr& o) const
{
    return neighbour(o, 0, 1);
}

KavioVideoOutputManager::OutputPtr KavioVideoOutputManager::outputOnTopSideWithObject(const OutputPtr& o) const
{
    return neighbour(o, -1, 0);
}

KavioVideoOutputManager::OutputPtr KavioVideoOutputManager::outputOnBottomSideWithObject(const OutputPtr& o) const
{
    return neighbour(o, 1, 0);
}

void KavioVideoOutputManager::edgeBlendChangedWithObject(const OutputPtr& output)
{
    output->setShouldRedrawTestCard(true);
    const KavioEdgeBlendSettings mine = output->edgeBlendSettings();
    auto share = [](const OutputPtr& other, auto change) {
        if (!other)
            return;
        KavioEdgeBlendSettings settings = other->edgeBlendSettings();
        change(settings);
        other->setEdgeBlendSettings(settings);
        other->setShouldRedrawTestCard(true);
    };
    share(outputOnLeftSideWithObject(output), [&](KavioEdgeBlendSettings& s) {
        s.rightEdgeWidth = mine.leftEdgeWidth, s.rightEdgePower = mine.leftEdgePower;
    });
    share(outputOnRightSideWithObject(output), [&](KavioEdgeBlendSettings& s) {
        s.leftEdgeWidth = mine.rightEdgeWidth, s.leftEdgePower = mine.rightEdgePower;
    });
    share(outputOnTopSideWithObject(output), [&](KavioEdgeBlendSettings& s) {
        s.bottomEdgeWidth = mine.topEdgeWidth, s.bottomEdgePower = mine.topEdgePower;
    });
    share(outputOnBottomSideWithObject(output), [&](KavioEdgeBlendSettings& s) {
        s.topEdgeWidth = mine.bottomEdgeWidth, s.topEdgePower = mine.bottomEdgePower;
    });
}

void KavioVideoOutputManager::validateEdgeBlendingControls()
{
    KavioOutputSetupControls& c = *controls_;
    const OutputPtr shown = c.outputSetupView->outputObj();
    const bool on = (c.edgeBlendEnableButton->state() != 0);
    const bool sides[] = {
        shown && outputOnLeftSideWithObject(shown),
        shown && outputOnRightSideWithObject(shown),
        shown && outputOnTopSideWithObject(shown),
        shown && outputOnBottomSideWithObject(shown),
    };
    for (int i = 0; i < 4; ++i) {
        c.edgeBlendWidths[i]->setEnabled(on && sides[i]);
        c.edgeBlendPowers[i]->setEnabled(on && sides[i]);
    }
    c.edgeBlendResetButton->setEnabled(on);
}

// --- Outputs on and off ----------------------------------------------------------------------

void KavioVideoOutputManager::toggleFullscreen()
{
    const bool on = !controls_->fullscreenMenuItem->isChecked();
    controls_->fullscreenMenuItem->setChecked(on);
    controls_->fullscreenButton->setState(on ? 1 : 0);
    for (const auto& output : outputObjects_)
        on ? output->orderFront() : output->orderOut();
    shouldOutput_.store(on);
}

bool KavioVideoOutputManager::isMainDisplayOnFullscreen() const
{
    if (!shouldOutput_.load())
        return false;
    for (const auto& output : outputObjects_)
        if (output->screenName().contains("Main Display"))
            return true;
    return false;
}

void KavioVideoOutputManager::disableDisplayMirroring()
{
    // Linux mirrors displays for the whole session, never per application: nothing to change.
    KLOG_INFO("disableDisplayMirroring...");
    KLOG_INFO("error getting display configuration...");
}

void KavioVideoOutputManager::changeDisableDisplayMirroring()
{
    defaults_.setBool((controls_->disableDisplayMirroringButton->state() != 0), "disableDisplayMirroring");
    defaults_.synchronize();
    showRestartNeededAlert();
}

void KavioVideoOutputManager::changedisableMouseCursorHide()
{
    defaults_.setBool((controls_->disableMouseCursorHideButton->state() != 0), "disableMouseCursorHide");
    defaults_.synchronize();
}
