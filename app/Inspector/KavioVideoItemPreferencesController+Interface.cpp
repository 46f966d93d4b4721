// The inspector's interface, described in code: the scroll view and its stacking view, the
// eleven section content views with their controls and boxes, and the actions the controls run.
// Positions are the widgets' own (y down); the refresh moves boxes by their y-up places.

#include "Inspector/KavioVideoItemPreferencesController.h"

#include "Audio/KavioAudioChannelsView.h"
#include "Inspector/KavioColorChangingTextFieldCell.h"
#include "Inspector/KavioInspectorNumberFormatter.h"
#include "Inspector/KavioInspectorThumbnailView.h"
#include "Inspector/KavioPoint2DPlaceholderView.h"
#include "Support/KavioFonts.h"
#include "Views/KavioButton.h"
#include "Views/KavioColorTagIndicator.h"
#include "Views/KavioColorTagView.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioScrollView.h"
#include "Views/KavioSlider.h"
#include "Views/KavioTextField.h"

#include <QLabel>
#include <QRegularExpressionValidator>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <utility>

namespace {

constexpr int kWidth = 330;       // the content width inside the right panel
constexpr int kFieldX = 85;       // where fields start, after their label
constexpr int kRow = 22;          // a control's height

struct PopupEntry {
    const char* title;
    long tag;
};

QWidget* box(QWidget* parent, const QRect& rect)
{
    auto* w = new QWidget(parent);
    w->setGeometry(rect);
    return w;
}

QWidget* content(int height)
{
    auto* w = new QWidget;
    w->resize(kWidth, height);
    return w;
}

QLabel* label(QWidget* parent, const QString& text, const QRect& rect)
{
    auto* l = new QLabel(text, parent);
    l->setGeometry(rect);
    l->setFont(KavioFonts::font(QStringLiteral("Helvetica"), 11));
    l->setStyleSheet(QStringLiteral("color: rgb(170, 170, 170); background: transparent;"));
    return l;
}

KavioTextField* field(QWidget* parent, const QRect& rect)
{
    auto* f = new KavioTextField(parent);
    f->setGeometry(rect);
    return f;
}

KavioPopUpButton* popup(QWidget* parent, const QRect& rect, std::initializer_list<PopupEntry> entries)
{
    auto* p = new KavioPopUpButton(parent);
    p->setGeometry(rect);
    for (const PopupEntry& entry : entries)
        p->addItem(QString::fromUtf8(entry.title), entry.tag);
    p->selectItemAtIndex(0);
    return p;
}

KavioButton* button(QWidget* parent, const QString& title, const QRect& rect,
                    KavioButtonType type = KavioButtonType::MomentaryPushIn)
{
    auto* b = new KavioButton(parent);
    b->setGeometry(rect);
    b->setTitle(title);
    b->setButtonType(type);
    return b;
}

KavioSlider* slider(QWidget* parent, const QRect& rect, float minimum, float maximum)
{
    auto* s = new KavioSlider(parent);
    s->setGeometry(rect);
    s->setBounds(minimum, maximum);
    return s;
}

// A labelled slider with its number field beside it.
std::pair<KavioSlider*, KavioTextField*> sliderRow(QWidget* parent, int y, const QString& title, float minimum,
                                                  float maximum)
{
    label(parent, title, {10, y, 75, kRow});
    KavioSlider* s = slider(parent, {kFieldX, y, 170, kRow}, minimum, maximum);
    KavioTextField* f = field(parent, {kFieldX + 176, y, 60, kRow});
    return {s, f};
}

KavioColorChangingTextFieldCell* infoRow(QWidget* parent, int y, const QString& title)
{
    label(parent, title, {10, y, 75, 18});
    auto* value = new KavioColorChangingTextFieldCell(parent);
    value->setGeometry(kFieldX, y, kWidth - kFieldX - 10, 18);
    value->setFont(KavioFonts::font(QStringLiteral("Helvetica"), 11));
    return value;
}

}  // namespace

void KavioVideoItemPreferencesController::buildInterface()
{
    KavioVideoItemPreferencesOutlets& o = o_;
    o.scrollView = new KavioScrollView;
    o.scrollView->setFrameShape(QFrame::NoFrame);
    o.scrollView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    o.scrollView->setWidgetResizable(false);
    o.preferencesView = new KavioVideoItemPreferencesView;
    o.preferencesView->resize(kWidth, 100);
    o.scrollView->setWidget(o.preferencesView);

    // Thumbnail
    o.thumbnailView = content(190);
    o.theThumbnailView = new KavioInspectorThumbnailView(o.thumbnailView);
    o.theThumbnailView->setGeometry(5, 5, kWidth - 10, 180);

    // Media Info
    o.mediaInfoView = content(114);
    o.codecInfoField = infoRow(o.mediaInfoView, 2, QStringLiteral("Codec"));
    o.fpsInfoField = infoRow(o.mediaInfoView, 20, QStringLiteral("FPS"));
    o.dimensionsInfoField = infoRow(o.mediaInfoView, 38, QStringLiteral("Dimensions"));
    o.bitDepthInfoField = infoRow(o.mediaInfoView, 56, QStringLiteral("Bit Depth"));
    o.durationInfoField = infoRow(o.mediaInfoView, 74, QStringLiteral("Duration"));
    o.locaitonInfoField = infoRow(o.mediaInfoView, 92, QStringLiteral("Location"));

    // General: the options on top, the in and out points under them (attached to the top), the
    // speed and the goto row at the bottom. The refresh moves the boxes for each layout.
    o.infoView = content(280);
    o.topOptionsBox = box(o.infoView, {0, 0, kWidth, 152});
    label(o.topOptionsBox, QStringLiteral("Title"), {10, 6, 70, kRow});
    o.displayTitleField = field(o.topOptionsBox, {kFieldX, 6, kWidth - kFieldX - 10, kRow});
    label(o.topOptionsBox, QStringLiteral("Cue ID"), {10, 36, 70, kRow});
    o.cueIDField = field(o.topOptionsBox, {kFieldX, 36, 80, kRow});
    label(o.topOptionsBox, QStringLiteral("Loops"), {180, 36, 45, kRow});
    o.loopCountField = field(o.topOptionsBox, {230, 36, 90, kRow});
    o.loopCountField->setAlignment(Qt::AlignCenter);
    label(o.topOptionsBox, QStringLiteral("Notes"), {10, 66, 70, kRow});
    o.notesField = field(o.topOptionsBox, {kFieldX, 66, kWidth - kFieldX - 10, kRow});
    label(o.topOptionsBox, QStringLiteral("Color Tag"), {10, 102, 70, kRow});
    o.colorTagView = new KavioColorTagView(o.topOptionsBox);
    o.colorTagView->setGeometry(kFieldX - 20, 96, kWidth - kFieldX + 10, 32);

    o.inOutPointsBox = box(o.infoView, {0, 152, kWidth, 43});
    label(o.inOutPointsBox, QStringLiteral("In"), {10, 10, 20, kRow});
    o.inTimecodeField = field(o.inOutPointsBox, {30, 10, 96, kRow});
    o.inTimeFromPlayheadButton = button(o.inOutPointsBox, QStringLiteral("Set"), {128, 10, 34, kRow});
    o.inTimeFromPlayheadButton->setToolTip(QStringLiteral("Set In Point from Playhead"));
    label(o.inOutPointsBox, QStringLiteral("Out"), {170, 10, 26, kRow});
    o.outTimecodeField = field(o.inOutPointsBox, {196, 10, 92, kRow});
    o.outTimeFromPlayheadButton = button(o.inOutPointsBox, QStringLiteral("Set"), {290, 10, 34, kRow});
    o.outTimeFromPlayheadButton->setToolTip(QStringLiteral("Set Out Point from Playhead"));

    o.playbackSpeedBox = box(o.infoView, {0, 197, kWidth, 34});
    label(o.playbackSpeedBox, QStringLiteral("Speed"), {10, 6, 70, kRow});
    o.playbackSpeedField = field(o.playbackSpeedBox, {kFieldX, 6, 60, kRow});
    label(o.playbackSpeedBox, QStringLiteral("%"), {kFieldX + 66, 6, 20, kRow});

    o.bottomOptionsBox = box(o.infoView, {0, 231, kWidth, 54});
    o.gotoBox = box(o.bottomOptionsBox, {0, 8, kWidth, 30});
    label(o.gotoBox, QStringLiteral("Goto"), {10, 4, 70, kRow});
    o.gotoPopup = popup(o.gotoBox, {kFieldX, 4, kWidth - kFieldX - 10, kRow}, {{"None", 0}, {"", 0}});

    // Subtitle / Closed Caption
    o.subtitlesView = content(70);
    o.subtitlesPopup = popup(o.subtitlesView, {10, 6, 250, kRow}, {{"None", -1}, {"Caption File...", -2}});
    o.refreshListOfCaptionsButton = button(o.subtitlesView, QStringLiteral("Refresh"), {266, 6, 56, kRow});
    label(o.subtitlesView, QStringLiteral("Start"), {10, 38, 70, kRow});
    o.subtitleStartTimeField = field(o.subtitlesView, {kFieldX, 38, 110, kRow});
    o.subtitleStartTimeFromPlayheadButton = button(o.subtitlesView, QStringLiteral("Set"), {200, 38, 34, kRow});

    // Browser
    o.browserSourceView = content(130);
    label(o.browserSourceView, QStringLiteral("URL"), {10, 6, 70, kRow});
    o.browserURLField = field(o.browserSourceView, {kFieldX, 6, 170, kRow});
    o.browserReloadURLButton = button(o.browserSourceView, QStringLiteral("Reload"), {260, 6, 62, kRow});
    label(o.browserSourceView, QStringLiteral("CSS"), {10, 36, 70, kRow});
    o.browserCustomCSSField = field(o.browserSourceView, {kFieldX, 36, kWidth - kFieldX - 10, kRow});
    label(o.browserSourceView, QStringLiteral("Render Size"), {10, 66, 75, kRow});
    o.browserRenderSizeTagPopup =
        popup(o.browserSourceView, {kFieldX, 66, 120, kRow}, {{"100 %", 0}, {"75 %", 10}, {"50 %", 20}});
    o.browserShouldUnloadOnPauseButton =
        button(o.browserSourceView, QStringLiteral("Unload on Pause"), {10, 98, 140, kRow}, KavioButtonType::OnOff);
    o.browserInteractButton = button(o.browserSourceView, QStringLiteral("Interact..."), {230, 98, 92, kRow});

    // Window
    o.windowSourceView = content(70);
    o.windowSourcePopup = popup(o.windowSourceView, {10, 6, 240, kRow}, {});
    o.windowSourceReloadButton = button(o.windowSourceView, QStringLiteral("Reload"), {256, 6, 66, kRow});
    o.windowSourceShouldShowCursor =
        button(o.windowSourceView, QStringLiteral("Show Cursor"), {10, 38, 120, kRow}, KavioButtonType::OnOff);

    // Source
    o.sourceView = content(150);
    o.videoSourceBox = box(o.sourceView, {0, 0, kWidth, 30});
    o.videoSourcePopup = popup(o.videoSourceBox, {10, 4, kWidth - 20, kRow}, {});
    o.ndiInfoBox = box(o.sourceView, {0, 30, kWidth, 30});
    label(o.ndiInfoBox, QStringLiteral("NDI source"), {10, 4, kWidth - 20, kRow});
    o.deckLinkFormatBox = box(o.sourceView, {0, 60, kWidth, 30});
    label(o.deckLinkFormatBox, QStringLiteral("Format"), {10, 4, 70, kRow});
    o.deckLinkFormatPopup = popup(o.deckLinkFormatBox, {kFieldX, 4, kWidth - kFieldX - 10, kRow}, {});
    o.pdfPageBox = box(o.sourceView, {0, 90, kWidth, 30});
    label(o.pdfPageBox, QStringLiteral("Page"), {10, 4, 70, kRow});
    o.pdfPageField = field(o.pdfPageBox, {kFieldX, 4, 60, kRow});
    o.pdfPagesLabel = label(o.pdfPageBox, QString(), {kFieldX + 66, 4, 100, kRow});
    o.durationBox = box(o.sourceView, {0, 118, kWidth, 32});
    label(o.durationBox, QStringLiteral("Duration"), {10, 5, 70, kRow});
    o.videoDurationField = field(o.durationBox, {kFieldX, 5, 100, kRow});
    o.autoAlignToDurationPopup = popup(o.durationBox, {kFieldX + 106, 5, kWidth - kFieldX - 116, kRow},
                                       {{"No Alignment", 0}, {"To Next Minute", 10}, {"To Next Hour", 20}});

    // Geometry
    o.geometryView = content(300);
    o.geometryScaleModePopup =
        popup(o.geometryView, {10, 6, 130, kRow}, {{"Fit", 0}, {"Fill", 1}, {"Stretch", 2}, {"Native Size", 3}});
    o.geometryOriginPopup = popup(o.geometryView, {146, 6, 110, kRow}, {{"Center", 0}, {"Top Left", 1}});
    o.geometryScaleLinkButton = button(o.geometryView, QStringLiteral("Link"), {262, 6, 30, kRow}, KavioButtonType::OnOff);
    o.geometryOptionsButton = button(o.geometryView, QStringLiteral("..."), {296, 6, 26, kRow});
    std::tie(o.geometryScaleHSlider, o.geometryScaleHField) = sliderRow(o.geometryView, 36, QStringLiteral("Scale H"), -1, 1);
    std::tie(o.geometryScaleVSlider, o.geometryScaleVField) = sliderRow(o.geometryView, 62, QStringLiteral("Scale V"), -1, 1);
    std::tie(o.geometryRotateSlider, o.geometryRotateField) = sliderRow(o.geometryView, 88, QStringLiteral("Rotate"), -180, 180);
    auto* position = new KavioPoint2DPlaceholderView(o.geometryView);
    position->setGeometry(0, 114, kWidth, 52);
    std::tie(o.geometryPosXSlider, o.geometryPosXField) = sliderRow(position, 0, QStringLiteral("Position X"), -1, 1);
    std::tie(o.geometryPosYSlider, o.geometryPosYField) = sliderRow(position, 26, QStringLiteral("Position Y"), -1, 1);
    position->setSliderX(o.geometryPosXSlider);
    position->setSliderY(o.geometryPosYSlider);
    std::tie(o.cropLeftSlider, o.cropLeftField) = sliderRow(o.geometryView, 170, QStringLiteral("Crop Left"), 0, 1);
    std::tie(o.cropRightSlider, o.cropRightField) = sliderRow(o.geometryView, 196, QStringLiteral("Crop Right"), 0, 1);
    std::tie(o.cropTopSlider, o.cropTopField) = sliderRow(o.geometryView, 222, QStringLiteral("Crop Top"), 0, 1);
    std::tie(o.cropBottomSlider, o.cropBottomField) = sliderRow(o.geometryView, 248, QStringLiteral("Crop Bottom"), 0, 1);

    // Color Controls
    o.colorControlsView = content(190);
    o.colorControlsOptionsButton = button(o.colorControlsView, QStringLiteral("..."), {296, 6, 26, kRow});
    std::tie(o.videoBrightness, o.videoBrightnessField) = sliderRow(o.colorControlsView, 32, QStringLiteral("Brightness"), -1, 1);
    std::tie(o.videoContrast, o.videoContrastField) = sliderRow(o.colorControlsView, 58, QStringLiteral("Contrast"), -1, 1);
    std::tie(o.videoOpacity, o.videoOpacityField) = sliderRow(o.colorControlsView, 84, QStringLiteral("Opacity"), 0, 1);
    std::tie(o.videoHue, o.videoHueField) = sliderRow(o.colorControlsView, 110, QStringLiteral("Hue"), -1, 1);
    std::tie(o.videoSaturation, o.videoSaturationField) = sliderRow(o.colorControlsView, 136, QStringLiteral("Saturation"), -1, 1);
    std::tie(o.videoVibrance, o.videoVibranceField) = sliderRow(o.colorControlsView, 162, QStringLiteral("Vibrance"), -1, 1);

    // Audio Output: the volume on top, the routing under it.
    o.audioOutputView = content(189);
    o.audioVolumeBox = box(o.audioOutputView, {0, 6, kWidth, 50});
    std::tie(o.audioVolumeSlider, o.audioVolumeField) = sliderRow(o.audioVolumeBox, 14, QStringLiteral("Volume"), 0, 2);
    o.audioOptionsBox = box(o.audioOutputView, {0, 56, kWidth, 137});
    label(o.audioOptionsBox, QStringLiteral("Channels"), {10, 4, 70, kRow});
    o.audioChannelsPopup = popup(o.audioOptionsBox, {kFieldX, 4, 160, kRow}, {{"Project's Default", 0}, {"Custom", 1}});
    o.audioChannelsView = new KavioAudioChannelsView(o.audioOptionsBox);
    o.audioChannelsView->setGeometry(10, 32, kWidth - 20, 100);

    // Transition & Fade In/Out
    o.transitionView = content(100);
    label(o.transitionView, QStringLiteral("Transition"), {10, 6, 75, kRow});
    o.transitionPopup = popup(o.transitionView, {kFieldX, 6, kWidth - kFieldX - 10, kRow},
                              {{"Dissolve", 10}, {"Wipe Right", 20}, {"Wipe Left", 30}, {"Wipe Up", 40}, {"Wipe Down", 50}, {"Ripple", 60}});
    label(o.transitionView, QStringLiteral("Duration"), {10, 38, 75, kRow});
    o.transitionDurationPopup = popup(o.transitionView, {kFieldX, 38, 150, kRow}, {{"Project's Default", 0}, {"Custom", 1}});
    o.transitionDurationField = field(o.transitionView, {kFieldX + 156, 38, 80, kRow});
    label(o.transitionView, QStringLiteral("Fade"), {10, 70, 75, kRow});
    o.fadeTimePopup = popup(o.transitionView, {kFieldX, 70, 150, kRow},
                            {{"Project's Default", 0}, {"0 (cut)", 0}, {"0.5", 0}, {"1", 0}, {"2", 0}, {"3", 0}, {"4", 0},
                             {"5", 0}, {"10", 0}});

    // What the operator may type: the loop count digits (an empty field is endless), the speed
    // whole percent, the timecodes digits and colons (checked when committed).
    const auto digits = [](const QString& pattern, QObject* parent) {
        return new QRegularExpressionValidator(QRegularExpression(pattern), parent);
    };
    o.loopCountField->setValidator(digits(QStringLiteral("-?[0-9]{0,9}"), o.loopCountField));
    o.playbackSpeedField->setValidator(digits(QStringLiteral("[0-9]{0,4}"), o.playbackSpeedField));
    for (KavioTextField* timecode : {o.inTimecodeField, o.outTimecodeField, o.videoDurationField, o.subtitleStartTimeField})
        timecode->setValidator(digits(QStringLiteral("[0-9:]{0,11}"), timecode));
    // Number fields: what they refuse as typed, and the bounds a committed value must keep.
    o.pdfPageField->setValidator(new KavioInspectorNumberFormatter(1, 1, false, o.pdfPageField));
    const auto bounded = [](KavioTextField* field, double minimum, double maximum, bool fractions) {
        field->setValidator(new KavioInspectorNumberFormatter(minimum, maximum, fractions, field));
    };
    bounded(o.geometryScaleHField, 0, 200, false);
    bounded(o.geometryScaleVField, 0, 200, false);
    bounded(o.geometryRotateField, -180, 180, true);
    // Position and crop follow the render size (handleGeometryFieldsNumberFormatters).
    for (KavioTextField* pixels : {o.geometryPosXField, o.geometryPosYField, o.cropLeftField, o.cropRightField,
                                   o.cropTopField, o.cropBottomField})
        bounded(pixels, 0, 0, false);
    for (KavioTextField* percent : {o.videoBrightnessField, o.videoContrastField, o.videoSaturationField, o.videoVibranceField})
        bounded(percent, -100, 100, true);
    bounded(o.videoHueField, -180, 180, true);
    bounded(o.videoOpacityField, 0, 100, true);
    // Up to a gain of 2; no lower bound, as a gain of 0 is minus infinity.
    bounded(o.audioVolumeField, -std::numeric_limits<double>::max(), 20.0 * std::log10(2.0), true);
    bounded(o.transitionDurationField, 0, 600, true);
}

void KavioVideoItemPreferencesController::connectActions()
{
    const KavioVideoItemPreferencesOutlets& o = o_;
    connectField(o.displayTitleField, &KavioVideoItemPreferencesController::changeDisplayTitle);
    connectField(o.cueIDField, &KavioVideoItemPreferencesController::changeCueID);
    connectField(o.loopCountField, &KavioVideoItemPreferencesController::changeLoopCount);
    connectField(o.notesField, &KavioVideoItemPreferencesController::changeNotes);
    connectField(o.inTimecodeField, &KavioVideoItemPreferencesController::changeInTimeSMPTE);
    connectField(o.outTimecodeField, &KavioVideoItemPreferencesController::changeOutTimeSMPTE);
    connectField(o.videoDurationField, &KavioVideoItemPreferencesController::changeVideoDuration);
    connectField(o.playbackSpeedField, &KavioVideoItemPreferencesController::changePlaybackSpeed);
    connectField(o.subtitleStartTimeField, &KavioVideoItemPreferencesController::changeSubtitleStartTimeField);
    connectField(o.pdfPageField, &KavioVideoItemPreferencesController::changePDFPage);
    connectField(o.browserURLField, &KavioVideoItemPreferencesController::changeBrowserURL);
    connectField(o.browserCustomCSSField, &KavioVideoItemPreferencesController::changeBrowserCustomCSS);

    const std::weak_ptr<KavioVideoItemPreferencesController> weakSelf = weak_from_this();
    o.gotoPopup->setAction(runAction(&KavioVideoItemPreferencesController::changeGotoItem));
    o.autoAlignToDurationPopup->setAction(runAction(&KavioVideoItemPreferencesController::changeAutoAlignToDuration));
    o.inTimeFromPlayheadButton->setAction(runAction(&KavioVideoItemPreferencesController::setInTimeOnCurrentCue));
    o.outTimeFromPlayheadButton->setAction(runAction(&KavioVideoItemPreferencesController::setOutTimeOnCurrentCue));
    o.subtitlesPopup->setAction(runAction(&KavioVideoItemPreferencesController::changeSelectedCaptionTrack));
    o.refreshListOfCaptionsButton->setAction(runAction(&KavioVideoItemPreferencesController::refreshListOfCaptions));
    o.subtitleStartTimeFromPlayheadButton->setAction(
        runAction(&KavioVideoItemPreferencesController::changeSubtitleStartTimeToPlayhead));
    o.fadeTimePopup->setAction(runAction(&KavioVideoItemPreferencesController::changeFadeTime));
    o.browserReloadURLButton->setAction(runAction(&KavioVideoItemPreferencesController::browserReloadURL));
    o.windowSourceShouldShowCursor->setAction(runAction(&KavioVideoItemPreferencesController::changeShowCursor));
    // Return in the style sheet field loads the page again also when the text stands as it was
    // (typed text commits through connectField).
    KavioTextField* css = o.browserCustomCSSField;
    QObject::connect(css, &QLineEdit::returnPressed, css, [weakSelf, css] {
        const auto self = weakSelf.lock();
        if (self && !self->refreshing_ && css->text() == css->oldTitle())
            self->changeBrowserCustomCSS();
    });
    KavioButton* unload = o.browserShouldUnloadOnPauseButton;
    unload->setAction([weakSelf, unload] {
        if (const auto self = weakSelf.lock())
            self->changeBroserUnloadOnPause(*unload);
    });
    o.browserRenderSizeTagPopup->setAction(runAction(&KavioVideoItemPreferencesController::changeBrowserRenderSizeMultiplierTag));
    o.browserInteractButton->setAction(runAction(&KavioVideoItemPreferencesController::browserInteractWith));
    o.videoSourcePopup->setAction(runAction(&KavioVideoItemPreferencesController::selectVideoSource));
    o.deckLinkFormatPopup->setAction(runAction(&KavioVideoItemPreferencesController::changeDeckLinkFormat));
    o.windowSourcePopup->setAction(runAction(&KavioVideoItemPreferencesController::changeWindowSource));
    o.windowSourceReloadButton->setAction(runAction(&KavioVideoItemPreferencesController::reloadWindowSources));

    // A slider and its field run one edit, told apart by the sender.
    using Change = std::function<void(KavioVideoItemPreferencesController&, const QObject* sender)>;
    const auto connectPair = [this, weakSelf](KavioSlider* slider, KavioTextField* field, const Change& change) {
        slider->setAction([weakSelf, slider, change] {
            if (const auto self = weakSelf.lock())
                change(*self, slider);
        });
        connectField(field, [field, change](KavioVideoItemPreferencesController& self) { change(self, field); });
    };

    // Geometry
    o.geometryScaleModePopup->setAction(runAction(&KavioVideoItemPreferencesController::changeGeometryScaleMode));
    o.geometryOriginPopup->setAction(runAction(&KavioVideoItemPreferencesController::changeGeometryOrigin));
    const std::pair<KavioGeometryParameter, std::pair<KavioSlider*, KavioTextField*>> geometry[] = {
        {KavioGeometryParameter::ScaleH, {o.geometryScaleHSlider, o.geometryScaleHField}},
        {KavioGeometryParameter::ScaleV, {o.geometryScaleVSlider, o.geometryScaleVField}},
        {KavioGeometryParameter::Rotate, {o.geometryRotateSlider, o.geometryRotateField}},
        {KavioGeometryParameter::PosX, {o.geometryPosXSlider, o.geometryPosXField}},
        {KavioGeometryParameter::PosY, {o.geometryPosYSlider, o.geometryPosYField}},
    };
    for (const auto& [parameter, controls] : geometry)
        connectPair(controls.first, controls.second, [parameter = parameter](KavioVideoItemPreferencesController& self, const QObject* sender) {
            self.changeGeometryValue(parameter, sender);
        });
    for (const auto& [slider, field] : {std::pair{o.cropLeftSlider, o.cropLeftField}, std::pair{o.cropRightSlider, o.cropRightField},
                                        std::pair{o.cropTopSlider, o.cropTopField}, std::pair{o.cropBottomSlider, o.cropBottomField}})
        connectPair(slider, field, [](KavioVideoItemPreferencesController& self, const QObject* sender) { self.changeCrop(sender); });

    // Colour
    const std::pair<KavioColorAdjustment, std::pair<KavioSlider*, KavioTextField*>> colors[] = {
        {KavioColorAdjustment::Brightness, {o.videoBrightness, o.videoBrightnessField}},
        {KavioColorAdjustment::Contrast, {o.videoContrast, o.videoContrastField}},
        {KavioColorAdjustment::Hue, {o.videoHue, o.videoHueField}},
        {KavioColorAdjustment::Saturation, {o.videoSaturation, o.videoSaturationField}},
        {KavioColorAdjustment::Vibrance, {o.videoVibrance, o.videoVibranceField}},
        {KavioColorAdjustment::Opacity, {o.videoOpacity, o.videoOpacityField}},
    };
    for (const auto& [adjustment, controls] : colors)
        connectPair(controls.first, controls.second, [adjustment = adjustment](KavioVideoItemPreferencesController& self, const QObject* sender) {
            self.changeVideoAdjustment(adjustment, sender);
        });

    // Transition and audio
    o.transitionPopup->setAction(runAction(&KavioVideoItemPreferencesController::selectTransition));
    o.transitionDurationPopup->setAction(runAction(&KavioVideoItemPreferencesController::changeTransitionTime));
    connectField(o.transitionDurationField, &KavioVideoItemPreferencesController::changeTransitionTime);
    o.audioChannelsPopup->setAction(runAction(&KavioVideoItemPreferencesController::changeAudioChannels));
    connectPair(o.audioVolumeSlider, o.audioVolumeField,
                [](KavioVideoItemPreferencesController& self, const QObject* sender) { self.changeAudioVolume(sender); });
    o.colorTagView->setTarget([weakSelf](KavioColorTagIndicator& indicator) {
        if (const auto self = weakSelf.lock())
            self->switchColorTags(indicator);
    });
}

void KavioVideoItemPreferencesController::connectField(KavioTextField* field,
                                                       void (KavioVideoItemPreferencesController::*action)())
{
    connectField(field, [action](KavioVideoItemPreferencesController& self) { (self.*action)(); });
}

void KavioVideoItemPreferencesController::connectField(KavioTextField* field,
                                                       std::function<void(KavioVideoItemPreferencesController&)> action)
{
    const std::weak_ptr<KavioVideoItemPreferencesController> weakSelf = weak_from_this();
    QObject::connect(field, &QLineEdit::editingFinished, field, [weakSelf, field, action = std::move(action)] {
        const auto self = weakSelf.lock();
        // Only typed text commits, once; a refresh moving the keyboard away drops it.
        if (!self || self->refreshing_ || field->text() == field->oldTitle())
            return;
        action(*self);
        // What the action left in the field counts as set, so losing the keyboard later does not
        // commit it again.
        if (field->text() != field->oldTitle())
            field->setStringValue(field->text());
    });
}
