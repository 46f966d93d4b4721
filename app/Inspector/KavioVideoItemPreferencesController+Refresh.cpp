// The refresh of the whole inspector from the selection (pullCurrentItemData): which sections
// and boxes show, the General and Audio Output layouts, every control refilled through its
// section's handler, the selected-cue feedback, the keyboard back to the cue list and the
// scroll position kept.

#include "Inspector/KavioVideoItemPreferencesController.h"

#include "Audio/KavioAudioChannelsView.h"
#include "Audio/KavioAudioOutputManagerInterface.h"
#include "Caption/QVTCaptionReader.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "Inspector/KavioColorChangingTextFieldCell.h"
#include "Inspector/KavioInspectorThumbnailView.h"
#include "Inspector/KavioVideoItemPreferencesViewItem.h"
#include "Views/KavioButton.h"
#include "Views/KavioColorTagView.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioScrollView.h"
#include "Views/KavioSlider.h"
#include "Views/KavioTextField.h"

#include "DispatchQueue.h"
#include "Log.h"

#include <QScrollBar>

#include <utility>

namespace {

const QString kThumbnail = QStringLiteral("Thumbnail");
const QString kMediaInfo = QStringLiteral("Media Info");
const QString kSubtitles = QStringLiteral("Subtitle / Closed Caption");
const QString kBrowser = QStringLiteral("Browser");
const QString kWindow = QStringLiteral("Window");
const QString kSource = QStringLiteral("Source");
const QString kGeometry = QStringLiteral("Geometry");
const QString kColorControls = QStringLiteral("Color Controls");
const QString kAudioOutput = QStringLiteral("Audio Output");
const QString kProjectDefault = QStringLiteral("Project's Default");

}  // namespace

void KavioVideoItemPreferencesController::pullCurrentItemData()
{
    if (!DispatchQueue::isMainThread()) {
        const std::weak_ptr<KavioVideoItemPreferencesController> weakSelf = weak_from_this();
        DispatchQueue::main().async([weakSelf] {
            if (const auto self = weakSelf.lock())
                self->pullCurrentItemData();
        });
        return;
    }
    const auto manager = videoManager();
    if (!manager || manager->isLoadingProject() || !loaded_)
        return;
    KLOG_VERBOSE("pullCurrentItemData on main thread: {}", 1);
    KavioVideoItemPreferencesOutlets& o = o_;
    // The scroll value is what stays: in y-up terms the visible origin moves by as much as the
    // view's height changes.
    const int scrollValue = o.scrollView->verticalScrollBar()->value();
    KLOG_VERBOSE("currentscrollpoint: {}", scrollValue);

    // A field edit still open belongs to the cues shown so far: moving the keyboard away and
    // refilling the fields drops it.
    const bool wasRefreshing = std::exchange(refreshing_, true);
    manager->sendSelectedCueOSCFeedback();

    o.ndiInfoBox->hide();
    o.deckLinkFormatBox->hide();
    o.videoSourceBox->show();
    o.pdfPageBox->hide();
    o.deckLinkFormatPopup->hide();
    o.videoDurationField->setEnabled(false);
    giveKeyboardToCueList();

    const KavioVideoItemList selected = items();
    const auto item = selected.empty() ? nullptr : selected.front();
    if (item) {
        o.geometryScaleModePopup->setEnabled(true);
        o.preferencesView->setShouldDrawThereAreNoItems(false);
        const QString watched[] = {kMediaInfo, kSubtitles, kSource, kBrowser, kWindow, kAudioOutput};
        std::vector<bool> hiddenBefore;
        for (const QString& title : watched)
            hiddenBefore.push_back(isSectionHidden(title));
        const int mediaType = item->mediaType();
        const int previousMediaType = std::exchange(oldmediatype_, mediaType);

        setSectionHidden(kMediaInfo, false);
        setSectionHidden(kSubtitles, mediaType != KavioMediaTypeMovie);
        if (sourceSettingsSupportedOnSelectedItems()) {
            setSectionHidden(kSource, false);
            if (sourcePopupSupportedOnSelectedItems()) {
                handleSourcePopup();
            } else {
                makeHeightTo(90, o.sourceView);
                o.videoSourceBox->hide();
                placeBox(o.durationBox, 14);
                if (pdfPageSupportedOnSelectedItems())
                    handlePDFPageField();
            }
        } else {
            setSectionHidden(kSource, true);
        }
        if (browserSourceSettingsSupportedOnSelectedItems()) {
            o.geometryScaleModePopup->setEnabled(false);
            setSectionHidden(kBrowser, false);
            o.browserURLField->setStringValue(item->mediaPath());
            o.browserCustomCSSField->setStringValue(item->browserCustomCSS());
            o.browserShouldUnloadOnPauseButton->setState(item->browserNeedsOnloadOnPause() ? 1 : 0);
            o.browserRenderSizeTagPopup->selectItemWithTag(item->browserRenderSizeMultiplierTag());
            o.browserInteractButton->setHidden(selected.size() != 1);
        } else {
            setSectionHidden(kBrowser, true);
        }
        if (windowSourceSettingsSupportedOnSelectedItems()) {
            o.geometryScaleModePopup->setEnabled(false);
            setSectionHidden(kWindow, false);
            handleWindowSourcePopup();
            o.windowSourceShouldShowCursor->setState(item->windowSourceShowCursor() ? 1 : 0);
        } else {
            setSectionHidden(kWindow, true);
        }
        setSectionHidden(kAudioOutput, !audioSupportedOnSelectedItems());
        o.playbackSpeedField->setIntegerValue(long(item->playbackRateAsPercent()));

        bool changed = mediaType != previousMediaType;
        for (std::size_t i = 0; i < std::size(watched); ++i)
            changed = changed || hiddenBefore[i] != isSectionHidden(watched[i]);
        if (changed)
            rearrangeItems();
    }

    if (selected.size() == 1) {
        refreshSingleItem(item);
    } else if (selected.empty()) {
        o.preferencesView->resize(o.preferencesView->width(), o.preferencesView->floorHeight());
        o.preferencesView->setShouldDrawThereAreNoItems(true);
    } else {
        refreshMultipleItems(selected);
    }

    KLOG_VERBOSE("currentscrollpoint new: {}", scrollValue);
    o.scrollView->verticalScrollBar()->setValue(scrollValue);
    o.scrollView->viewport()->update();
    refreshing_ = wasRefreshing;
}

void KavioVideoItemPreferencesController::refreshSingleItem(const std::shared_ptr<KavioVideoItem>& item)
{
    KavioVideoItemPreferencesOutlets& o = o_;
    o.theThumbnailView->setCGImage(item->thumbnailImage());
    setSectionHidden(kThumbnail, false);
    o.gotoBox->show();
    o.audioOptionsBox->show();
    handlePlayingRelatedOptions();

    const int mediaType = item->mediaType();
    const bool movie = mediaType == KavioMediaTypeMovie && !item->isMissing();
    if (movie) {
        o.inOutPointsBox->show();
        o.playbackSpeedBox->show();
        makeHeightTo(280, o.infoView);
        placeBox(o.topOptionsBox, 128);
        placeBox(o.playbackSpeedBox, 49);
        placeBox(o.bottomOptionsBox, -5);
        while (o.subtitlesPopup->numberOfItems() > 2)
            o.subtitlesPopup->removeItemAtIndex(o.subtitlesPopup->numberOfItems() - 1);
        const QStringList captions = item->availableCaptions();
        if (!captions.isEmpty()) {
            for (const QString& caption : captions) {
                // Entries are found by position (track + 2): two tracks may not share a title.
                QString title = QVTCaptionReader::displayNameForCaptionTrack(caption);
                if (o.subtitlesPopup->indexOfItemWithTitle(title) >= 0)
                    title = QStringLiteral("%1 (%2)").arg(title, caption);
                o.subtitlesPopup->addItemWithTitle(title);
            }
            handleSubtitlesPopup();
        }
    } else if (mediaType == KavioMediaTypeAudio) {
        o.inOutPointsBox->show();
        o.playbackSpeedBox->hide();
        makeHeightTo(244, o.infoView);
        placeBox(o.topOptionsBox, 92);
        placeBox(o.bottomOptionsBox, -5);
    } else {
        o.inOutPointsBox->hide();
        o.playbackSpeedBox->hide();
        makeHeightTo(210, o.infoView);
        placeBox(o.topOptionsBox, 58);
        placeBox(o.bottomOptionsBox, -5);
        for (KavioTextField* field : {o.inTimecodeField, o.outTimecodeField}) {
            field->setEditable(false);
            field->setEnabled(false);
        }
    }

    makeHeightTo(189, o.audioOutputView);
    placeBox(o.audioOptionsBox, -4);
    placeBox(o.audioVolumeBox, 133);

    o.colorTagView->selectColorTag(item->colorTag());
    handleTitleField();
    handleCueIDField();
    handleLoopCountField();
    handleCueNotesField();
    o.gotoPopup->setEnabled(true);
    o.gotoPopup->selectItemAtIndex(0);
    handleGotoPopup();

    o.codecInfoField->setText(item->codecString());
    o.fpsInfoField->setText(item->videoFPSString());
    o.dimensionsInfoField->setText(item->videoDimensions());
    o.bitDepthInfoField->setText(item->bitDepthString());
    o.durationInfoField->setText(item->videoDurationString());
    o.locaitonInfoField->setText(item->mediaPath());

    o.fadeTimePopup->setEnabled(true);
    handleFadeTimePopup();
    handleTransitionPopup();
    handleTransitionDurationTimeFieldAndPopup();

    o.videoBrightness->setFloatValue(item->brightness());
    o.videoContrast->setFloatValue(item->contrast());
    o.videoOpacity->setFloatValue(item->opacity());
    o.videoHue->setFloatValue(item->hue());
    o.videoSaturation->setFloatValue(item->saturation());
    o.videoVibrance->setFloatValue(item->vibrance());
    handleColorFields();

    o.geometryScaleHSlider->setFloatValue(item->geometryScaleH());
    o.geometryScaleVSlider->setFloatValue(item->geometryScaleV());
    o.geometryPosXSlider->setFloatValue(item->geometryPosX());
    o.geometryPosYSlider->setFloatValue(item->geometryPosY());
    o.geometryRotateSlider->setFloatValue(item->geometryRotate());
    handleGeometryScaleMode();
    handleGeometryOrigin();
    handleGeometryScaleLink();
    handleGeometryFields();

    const KavioGeometryCrop crop = item->geometryCrop();
    o.cropTopSlider->setFloatValue(1.0f - crop.top);
    o.cropRightSlider->setFloatValue(1.0f - crop.right);
    o.cropBottomSlider->setFloatValue(crop.bottom);
    o.cropLeftSlider->setFloatValue(crop.left);
    handleCropFields();

    // An audio-only cue has no picture to place or colour.
    const bool audioOnly = mediaType == KavioMediaTypeAudio;
    bool changed = false;
    for (const QString& title : {kSource, kGeometry, kColorControls}) {
        const bool hidden = isSectionHidden(title);
        if (audioOnly && !hidden) {
            setSectionHidden(title, true);
            changed = true;
        } else if (!audioOnly && hidden && title != kSource) {
            setSectionHidden(title, false);
            changed = true;
        }
    }
    if (changed)
        rearrangeItems();

    const auto player = item->audioPlayer();
    if (!player) {
        o.audioVolumeSlider->setFloatValue(1.0f);
        o.audioVolumeSlider->setEnabled(false);
        o.audioChannelsPopup->selectItemWithTitle(kProjectDefault);
        o.audioChannelsPopup->setEnabled(false);
        o.audioVolumeField->setEnabled(false);
        // Greyed, but the cue's own value, not what the previous selection left.
        handleVolumeField();
        o.audioChannelsView->rebuildChannelsViewWithCount(0);
        o.audioChannelsView->disableEditing();
    } else {
        o.audioVolumeField->setEnabled(true);
        o.audioVolumeSlider->setEnabled(true);
        const auto manager = videoManager();
        const auto audio = manager ? manager->audioOutputManager() : nullptr;
        o.audioChannelsPopup->setEnabled(!(audio && audio->shouldUseStereoDownMix()));
        o.audioVolumeSlider->setFloatValue(item->volume());
        handleVolumeField();
        o.audioChannelsView->rebuildChannelsViewWithSettings(player->channelMapping());
        if (item->isUsingDefaultAudioChannels()) {
            o.audioChannelsPopup->selectItemWithTitle(kProjectDefault);
            o.audioChannelsView->disableEditing();
        } else {
            o.audioChannelsPopup->selectItemWithTitle(QStringLiteral("Custom"));
            o.audioChannelsView->enableEditing();
        }
    }

    handleDurationFieldAndPopup();
    handleTransitionPopup();
    handleFadeTimePopup();
    o.preferencesView->updateHeight();
}

void KavioVideoItemPreferencesController::refreshMultipleItems(const KavioVideoItemList& selected)
{
    KavioVideoItemPreferencesOutlets& o = o_;
    setSectionHidden(kThumbnail, true);
    for (QWidget* box : {o.gotoBox, o.playbackSpeedBox, o.inOutPointsBox, o.audioOptionsBox})
        box->hide();
    makeHeightTo(220, o.infoView);
    placeBox(o.bottomOptionsBox, 0);
    placeBox(o.topOptionsBox, 69);
    makeHeightTo(49, o.audioOutputView);
    placeBox(o.audioVolumeBox, 0);
    o.preferencesView->setShouldDrawThereAreNoItems(false);

    std::int32_t tag = selected.front()->colorTag();
    for (const auto& item : selected) {
        if (item->colorTag() != tag) {
            tag = 0;
            break;
        }
    }
    o.colorTagView->selectColorTag(tag);
    handleTitleField();
    handleCueIDField();
    handleLoopCountField();
    handleCueNotesField();
    o.gotoPopup->setEnabled(false);
    o.gotoPopup->selectItemWithTitle(QString());

    for (KavioColorChangingTextFieldCell* info : {o.codecInfoField, o.fpsInfoField, o.dimensionsInfoField,
                                                  o.bitDepthInfoField, o.durationInfoField, o.locaitonInfoField})
        info->setText(QStringLiteral("-"));
    for (KavioTextField* field : {o.inTimecodeField, o.outTimecodeField}) {
        field->setStringValue(QStringLiteral("-"));
        field->setEditable(false);
        field->setEnabled(false);
    }

    handleGeometryScaleMode();
    handleGeometryOrigin();
    handleGeometryFields();
    handleCropFields();
    handleColorFields();
    handleVolumeField();
    handleTransitionPopup();
    handleTransitionDurationTimeFieldAndPopup();
    handleFadeTimePopup();
    handleDurationFieldAndPopup();
    o.preferencesView->updateHeight();
}

void KavioVideoItemPreferencesController::handleColorFields()
{
    handleHueField();
    handleSaturationField();
    handleVibranceField();
    handleOpacityField();
    handleBrightnessField();
    handleContrastField();
}

void KavioVideoItemPreferencesController::handleGeometryFields()
{
    handleGeometryScaleHField();
    handleGeometryScaleVField();
    handleGeometryPosXField();
    handleGeometryPosYField();
    handleGeometryRotateField();
}

void KavioVideoItemPreferencesController::handleCropFields()
{
    handleGeometryCropLeftField();
    handleGeometryCropRightField();
    handleGeometryCropTopField();
    handleGeometryCropBottomField();
}

void KavioVideoItemPreferencesController::handlePlayingRelatedOptions()
{
    handleInOutFields();
    handleDurationFieldAndPopup();
}

void KavioVideoItemPreferencesController::handlePlayheadChangedRelatedOptions()
{
    validateButtonsForInOut();
}
