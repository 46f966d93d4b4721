// The Color Controls section: six picture adjustments, each a slider holding the cue's value and
// a field showing it in percent (hue in degrees), with an options menu of resets.

#include "Inspector/KavioVideoItemPreferencesController.h"

#include "Cue/KavioVideoItem.h"
#include "Inspector/KavioInspectorMixedValues.h"
#include "Views/KavioSlider.h"
#include "Views/KavioTextField.h"


#include <cmath>

namespace {

using Controller = KavioVideoItemPreferencesController;
using Outlets = KavioVideoItemPreferencesOutlets;

struct ColorAdjustment {
    KavioSlider* Outlets::*slider;
    KavioTextField* Outlets::*field;
    float (KavioVideoItem::*get)() const;
    void (KavioVideoItem::*set)(float);
    float factor;  // slider to field
    float reset;
    const char* plural;
    const char* singular;
};

const ColorAdjustment& colorAdjustment(KavioColorAdjustment adjustment)
{
    static const ColorAdjustment adjustments[] = {
        {&Outlets::videoBrightness, &Outlets::videoBrightnessField, &KavioVideoItem::brightness, &KavioVideoItem::setBrightness,
         100.0f, 0.0f, "Change Cues Brightness", "Change Cue Brightness"},
        {&Outlets::videoContrast, &Outlets::videoContrastField, &KavioVideoItem::contrast, &KavioVideoItem::setContrast, 100.0f,
         0.0f, "Change Cues Contrast", "Change Video Contrast"},
        {&Outlets::videoHue, &Outlets::videoHueField, &KavioVideoItem::hue, &KavioVideoItem::setHue, 180.0f, 0.0f,
         "Change Cues Hue", "Change Video Hue"},
        {&Outlets::videoSaturation, &Outlets::videoSaturationField, &KavioVideoItem::saturation,
         &KavioVideoItem::setSaturation, 100.0f, 0.0f, "Change Cues Saturation", "Change Video Saturation"},
        {&Outlets::videoVibrance, &Outlets::videoVibranceField, &KavioVideoItem::vibrance, &KavioVideoItem::setVibrance,
         100.0f, 0.0f, "Change Cues Vibrance", "Change Video Vibrance"},
        {&Outlets::videoOpacity, &Outlets::videoOpacityField, &KavioVideoItem::opacity, &KavioVideoItem::setOpacity, 100.0f,
         1.0f, "Change Cues Opacity", "Change Video Opacity"},
    };
    return adjustments[int(adjustment)];
}

}  // namespace

void KavioVideoItemPreferencesController::handleColorField(KavioColorAdjustment adjustment)
{
    const ColorAdjustment& a = colorAdjustment(adjustment);
    // The field shows the slider's value, not the cue's.
    const QString shown = QString::number(double((o_.*a.slider)->floatValue() * a.factor));
    KavioInspectorMixed::showCommonFloat(o_.*a.field, shown, items(), [get = a.get](const KavioVideoItem& i) { return (i.*get)(); },
                                         placeholderattributessmall_);
}

void KavioVideoItemPreferencesController::handleBrightnessField() { handleColorField(KavioColorAdjustment::Brightness); }
void KavioVideoItemPreferencesController::handleContrastField() { handleColorField(KavioColorAdjustment::Contrast); }
void KavioVideoItemPreferencesController::handleHueField() { handleColorField(KavioColorAdjustment::Hue); }
void KavioVideoItemPreferencesController::handleSaturationField() { handleColorField(KavioColorAdjustment::Saturation); }
void KavioVideoItemPreferencesController::handleVibranceField() { handleColorField(KavioColorAdjustment::Vibrance); }
void KavioVideoItemPreferencesController::handleOpacityField() { handleColorField(KavioColorAdjustment::Opacity); }

void KavioVideoItemPreferencesController::changeVideoAdjustment(KavioColorAdjustment adjustment, const QObject* sender)
{
    const ColorAdjustment& a = colorAdjustment(adjustment);
    KavioSlider* slider = o_.*a.slider;
    if (sender == o_.*a.field) {
        const auto typed = typedNumber(o_.*a.field);
        if (!typed)
            return;
        giveKeyboardToCueList();
        // The slider's bounds decide what the typed value becomes.
        slider->setFloatValue(float(*typed) / a.factor);
    }
    const float value = slider->floatValue();
    applyToSelectedItems(QString::fromUtf8(a.plural),
                         [this, adjustment, value](const QString& uid) { undoChangeVideoAdjustment(adjustment, value, uid); });
}

void KavioVideoItemPreferencesController::undoChangeVideoAdjustment(KavioColorAdjustment adjustment, float value,
                                                                   const QString& uid)
{
    const auto item = itemWithUID(uid);
    if (!item || !std::isfinite(value))
        return;
    const ColorAdjustment& a = colorAdjustment(adjustment);
    markUnsaved();
    const float old = ((*item).*a.get)();
    ((*item).*a.set)(value);
    // Every cue changed moves the slider: after a group it holds the last one's value.
    (o_.*a.slider)->setFloatValue(((*item).*a.get)());
    handleColorField(adjustment);
    registerInverse(QString::fromUtf8(a.singular),
                    [adjustment, old, uid](Controller& self) { self.undoChangeVideoAdjustment(adjustment, old, uid); });
}

namespace {

// Each adjustment back to its neutral value, one undo group each.
void resetAdjustments(Controller& self, std::initializer_list<KavioColorAdjustment> adjustments)
{
    for (const KavioColorAdjustment adjustment : adjustments) {
        const ColorAdjustment& a = colorAdjustment(adjustment);
        (self.outlets().*a.slider)->setFloatValue(a.reset);
        self.changeVideoAdjustment(adjustment, nullptr);
    }
}

}  // namespace

void KavioVideoItemPreferencesController::resetColorControlsHSV()
{
    resetAdjustments(*this, {KavioColorAdjustment::Hue, KavioColorAdjustment::Saturation, KavioColorAdjustment::Vibrance});
}

void KavioVideoItemPreferencesController::resetColorControlsBrightnessContrast()
{
    resetAdjustments(*this, {KavioColorAdjustment::Brightness, KavioColorAdjustment::Contrast});
}

void KavioVideoItemPreferencesController::resetColorControlsOpacity()
{
    resetAdjustments(*this, {KavioColorAdjustment::Opacity});
}

void KavioVideoItemPreferencesController::resetColorControlsAll()
{
    KavioInspectorMixed::inOuterGroup(undoManager(), [this] {
        resetColorControlsHSV();
        resetColorControlsBrightnessContrast();
        resetColorControlsOpacity();
    });
}

void KavioVideoItemPreferencesController::popupColorControlsOptions()
{
    KavioInspectorMixed::popupOptionsMenu({
        {QStringLiteral("Reset All Parameters"), runAction(&Controller::resetColorControlsAll)},
        {QStringLiteral("Reset HSV"), runAction(&Controller::resetColorControlsHSV)},
        {QStringLiteral("Reset Brightness & Contrast"), runAction(&Controller::resetColorControlsBrightnessContrast)},
        {QStringLiteral("Reset Opacity"), runAction(&Controller::resetColorControlsOpacity)},
    });
}
