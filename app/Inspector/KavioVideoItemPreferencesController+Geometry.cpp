// The Geometry section: scale mode and origin, the scale link, scale, rotation, position and
// crop. Sliders and cues hold the cue's units, the fields render pixels and percent; the pixel
// fields follow the render size, read afresh whenever needed.

#include "Inspector/KavioVideoItemPreferencesController.h"

#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "Inspector/KavioInspectorMixedValues.h"
#include "Inspector/KavioInspectorNumberFormatter.h"
#include "Views/KavioButton.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioSlider.h"
#include "Views/KavioTextField.h"

#include "Log.h"

#include <cmath>
#include <cstring>

namespace {

using Controller = KavioVideoItemPreferencesController;
using Outlets = KavioVideoItemPreferencesOutlets;

// The geometry values that are one float each: their controls, the cue's property, the field's
// handler and the undo names.
struct GeometryValue {
    KavioSlider* Outlets::*slider;
    KavioTextField* Outlets::*field;
    float (KavioVideoItem::*get)() const;
    void (KavioVideoItem::*set)(float);
    void (Controller::*handle)();
    const char* plural;
    const char* singular;
};

const GeometryValue& geometryValue(KavioGeometryParameter parameter)
{
    static const GeometryValue values[] = {
        {&Outlets::geometryScaleHSlider, &Outlets::geometryScaleHField, &KavioVideoItem::geometryScaleH,
         &KavioVideoItem::setGeometryScaleH, &Controller::handleGeometryScaleHField, "Change Geometry Scales",
         "Change Geometry Scale"},
        {&Outlets::geometryScaleVSlider, &Outlets::geometryScaleVField, &KavioVideoItem::geometryScaleV,
         &KavioVideoItem::setGeometryScaleV, &Controller::handleGeometryScaleVField, "Change Geometry Scales",
         "Change Geometry Scale"},
        {&Outlets::geometryRotateSlider, &Outlets::geometryRotateField, &KavioVideoItem::geometryRotate,
         &KavioVideoItem::setGeometryRotate, &Controller::handleGeometryRotateField, "Change Geometry Rotates",
         "Change Geometry Rotate"},
        {&Outlets::geometryPosXSlider, &Outlets::geometryPosXField, &KavioVideoItem::geometryPosX,
         &KavioVideoItem::setGeometryPosX, &Controller::handleGeometryPosXField, "Change Geometry X Positions",
         "Change Geometry X Position"},
        {&Outlets::geometryPosYSlider, &Outlets::geometryPosYField, &KavioVideoItem::geometryPosY,
         &KavioVideoItem::setGeometryPosY, &Controller::handleGeometryPosYField, "Change Geometry Y Positions",
         "Change Geometry Y Position"},
    };
    return values[int(parameter)];
}

// The other scale of a linked pair.
KavioGeometryParameter otherScale(KavioGeometryParameter parameter)
{
    return parameter == KavioGeometryParameter::ScaleH ? KavioGeometryParameter::ScaleV : KavioGeometryParameter::ScaleH;
}

bool isScale(KavioGeometryParameter parameter)
{
    return parameter == KavioGeometryParameter::ScaleH || parameter == KavioGeometryParameter::ScaleV;
}

QByteArray cropBytes(const KavioGeometryCrop& crop)
{
    const float values[4] = {crop.top, crop.right, crop.bottom, crop.left};
    return QByteArray(reinterpret_cast<const char*>(values), sizeof values);
}

std::optional<KavioGeometryCrop> cropOfBytes(const QByteArray& bytes)
{
    float values[4];
    if (bytes.size() != qsizetype(sizeof values))
        return std::nullopt;
    std::memcpy(values, bytes.constData(), sizeof values);
    for (const float value : values)
        if (!std::isfinite(value))
            return std::nullopt;
    return KavioGeometryCrop{values[0], values[1], values[2], values[3]};
}

// Nudges the slider until the pixels it stands for are the wanted ones. A slider held at a bound
// never gets there: after so many nudges the slider's value stands.
template <typename Pixels>
void correctToPixel(KavioSlider* slider, long wanted, Pixels pixels, const char* name)
{
    constexpr int kMaximumNudges = 10000;
    constexpr float kNudge = 0.00001f;
    long actual = pixels(double(slider->floatValue()));
    for (int nudge = 0; actual != wanted && nudge < kMaximumNudges; ++nudge) {
        KLOG_VERBOSE("{} value differs, needed: {} actual: {}", name, wanted, actual);
        const float s = slider->floatValue();
        slider->setFloatValue(wanted < actual ? s - kNudge : s + kNudge);
        actual = pixels(double(slider->floatValue()));
    }
}

}  // namespace

// --- Refresh -------------------------------------------------------------------------------------

void KavioVideoItemPreferencesController::handleGeometryScaleMode()
{
    KavioInspectorMixed::showCommonTag(o_.geometryScaleModePopup, items(),
                                       [](const KavioVideoItem& i) { return i.geometryScaleMode(); });
}

void KavioVideoItemPreferencesController::handleGeometryOrigin()
{
    KavioInspectorMixed::showCommonTag(o_.geometryOriginPopup, items(), [](const KavioVideoItem& i) { return i.geometryOrigin(); });
}

void KavioVideoItemPreferencesController::handleGeometryScaleLink()
{
    // No mixed state: the link shows the current cue's.
    const auto item = currentItem();
    o_.geometryScaleLinkButton->setState(item && item->geometryScaleLink() ? 1 : 0);
}

namespace {

template <typename Shown, typename Read>
void showGeometryField(const KavioVideoItemPreferencesController& self, KavioTextField* field, Shown shown, Read read)
{
    const KavioVideoItemList selected = self.items();
    const QString text = selected.empty() ? QString() : shown(*selected.front());
    KavioInspectorMixed::showCommonFloat(field, text, selected, read, self.placeholderAttributesSmall());
}

QString number(long value) { return QString::number(value); }

}  // namespace

void KavioVideoItemPreferencesController::handleGeometryScaleHField()
{
    showGeometryField(*this, o_.geometryScaleHField, [](const KavioVideoItem& i) { return number(i.geometryScaleHAsPercent()); },
                      [](const KavioVideoItem& i) { return i.geometryScaleH(); });
}

void KavioVideoItemPreferencesController::handleGeometryScaleVField()
{
    showGeometryField(*this, o_.geometryScaleVField, [](const KavioVideoItem& i) { return number(i.geometryScaleVAsPercent()); },
                      [](const KavioVideoItem& i) { return i.geometryScaleV(); });
}

void KavioVideoItemPreferencesController::handleGeometryRotateField()
{
    const QString rotation = QString::number(double(o_.geometryRotateSlider->floatValue()));
    showGeometryField(*this, o_.geometryRotateField, [&rotation](const KavioVideoItem&) { return rotation; },
                      [](const KavioVideoItem& i) { return i.geometryRotate(); });
}

void KavioVideoItemPreferencesController::handleGeometryPosXField()
{
    showGeometryField(*this, o_.geometryPosXField, [](const KavioVideoItem& i) { return number(i.geometryPosXAsPixels()); },
                      [](const KavioVideoItem& i) { return i.geometryPosX(); });
}

void KavioVideoItemPreferencesController::handleGeometryPosYField()
{
    showGeometryField(*this, o_.geometryPosYField, [](const KavioVideoItem& i) { return number(i.geometryPosYAsPixels()); },
                      [](const KavioVideoItem& i) { return i.geometryPosY(); });
}

void KavioVideoItemPreferencesController::handleGeometryCropTopField()
{
    showGeometryField(*this, o_.cropTopField, [](const KavioVideoItem& i) { return number(i.geometryCropTopAsPixels()); },
                      [](const KavioVideoItem& i) { return i.geometryCrop().top; });
}

void KavioVideoItemPreferencesController::handleGeometryCropRightField()
{
    showGeometryField(*this, o_.cropRightField, [](const KavioVideoItem& i) { return number(i.geometryCropRightAsPixels()); },
                      [](const KavioVideoItem& i) { return i.geometryCrop().right; });
}

void KavioVideoItemPreferencesController::handleGeometryCropBottomField()
{
    showGeometryField(*this, o_.cropBottomField, [](const KavioVideoItem& i) { return number(i.geometryCropBottomAsPixels()); },
                      [](const KavioVideoItem& i) { return i.geometryCrop().bottom; });
}

void KavioVideoItemPreferencesController::handleGeometryCropLeftField()
{
    showGeometryField(*this, o_.cropLeftField, [](const KavioVideoItem& i) { return number(i.geometryCropLeftAsPixels()); },
                      [](const KavioVideoItem& i) { return i.geometryCrop().left; });
}

void KavioVideoItemPreferencesController::handleGeometryFieldsNumberFormatters()
{
    const auto manager = videoManager();
    const QSizeF size = manager ? manager->renderSize() : QSizeF();
    const double w = std::trunc(size.width());
    const double h = std::trunc(size.height());
    const double halfW = std::trunc(size.width() * 0.5);
    const double halfH = std::trunc(size.height() * 0.5);
    const struct {
        KavioTextField* field;
        double minimum, maximum;
    } bounds[] = {
        {o_.geometryPosXField, -w, w}, {o_.geometryPosYField, -h, h}, {o_.cropLeftField, 0, halfW},
        {o_.cropRightField, halfW, w}, {o_.cropTopField, halfH, h},   {o_.cropBottomField, 0, halfH},
    };
    for (const auto& b : bounds) {
        if (KavioInspectorNumberFormatter* formatter = numberFormatter(b.field)) {
            formatter->setMinimum(b.minimum);
            formatter->setMaximum(b.maximum);
        }
    }
}

void KavioVideoItemPreferencesController::renderSizeChanged()
{
    handleGeometryFieldsNumberFormatters();
    handleGeometryPosXField();
    handleGeometryPosYField();
    handleGeometryCropTopField();
    handleGeometryCropBottomField();
    handleGeometryCropLeftField();
    handleGeometryCropRightField();
}

// --- Scale mode, origin, link --------------------------------------------------------------------

void KavioVideoItemPreferencesController::changeGeometryScaleMode()
{
    const auto mode = std::int32_t(o_.geometryScaleModePopup->selectedTag());
    if (mode == KavioInspectorMixed::kMixedTag)
        return;
    applyToSelectedItems(QStringLiteral("Change Scale Modes"), [this, mode](const QString& uid) { undoChangeGeometryScaleMode(mode, uid); });
}

void KavioVideoItemPreferencesController::undoChangeGeometryScaleMode(std::int32_t mode, const QString& uid)
{
    const auto item = itemWithUID(uid);
    if (!item)
        return;
    const std::int32_t old = item->geometryScaleMode();
    item->setGeometryScaleMode(mode);
    KLOG_VERBOSE("new scale mode: {} ", item->geometryScaleMode());
    markUnsaved();
    handleGeometryScaleMode();
    registerInverse(QStringLiteral("Change Scale Mode"),
                    [old, uid](Controller& self) { self.undoChangeGeometryScaleMode(old, uid); });
}

void KavioVideoItemPreferencesController::changeGeometryOrigin()
{
    const auto origin = std::int32_t(o_.geometryOriginPopup->selectedTag());
    if (origin == KavioInspectorMixed::kMixedTag)
        return;
    applyToSelectedItems(QStringLiteral("Change Origin"), [this, origin](const QString& uid) { undoChangeGeometryOrigin(origin, uid); });
}

void KavioVideoItemPreferencesController::undoChangeGeometryOrigin(std::int32_t origin, const QString& uid)
{
    const auto item = itemWithUID(uid);
    if (!item)
        return;
    const std::int32_t old = item->geometryOrigin();
    item->setGeometryOrigin(origin);
    KLOG_VERBOSE("new origin: {} ", item->geometryOrigin());
    markUnsaved();
    handleGeometryOrigin();
    registerInverse(QStringLiteral("Change Origin"), [old, uid](Controller& self) { self.undoChangeGeometryOrigin(old, uid); });
}

void KavioVideoItemPreferencesController::changeGeometryScaleLink()
{
    // One record per cue, no group of its own.
    const bool linked = o_.geometryScaleLinkButton->state() == 1;
    for (const auto& item : items())
        undoChangeGeometryScaleLink(linked, item->uid());
}

void KavioVideoItemPreferencesController::undoChangeGeometryScaleLink(bool linked, const QString& uid)
{
    const auto item = itemWithUID(uid);
    if (!item)
        return;
    markUnsaved();
    const bool old = item->geometryScaleLink();
    item->setGeometryScaleLink(linked);
    if (linked) {
        item->setGeometryScaleV(item->geometryScaleH());
        if (item == currentItem()) {
            o_.geometryScaleVSlider->setFloatValue(item->geometryScaleV());
            handleGeometryScaleVField();
        }
    }
    handleGeometryScaleLink();
    registerInverse(QStringLiteral("Change Geometry Scale Link"),
                    [old, uid](Controller& self) { self.undoChangeGeometryScaleLink(old, uid); });
}

// --- Scale, rotation, position -------------------------------------------------------------------

void KavioVideoItemPreferencesController::changeGeometryValue(KavioGeometryParameter parameter, const QObject* sender)
{
    const GeometryValue& value = geometryValue(parameter);
    KavioSlider* slider = o_.*value.slider;
    KavioTextField* field = o_.*value.field;
    if (sender == field) {
        const auto typed = typedNumber(field);
        if (!typed)
            return;
        const auto manager = videoManager();
        const QSizeF size = manager ? manager->renderSize() : QSizeF();
        switch (parameter) {
        case KavioGeometryParameter::ScaleH:
        case KavioGeometryParameter::ScaleV:
            slider->setFloatValue(float(std::trunc(*typed) / 100.0 - 1.0));
            giveKeyboardToCueList();
            break;
        case KavioGeometryParameter::Rotate:
            slider->setFloatValue(float(*typed));
            giveKeyboardToCueList();
            break;
        case KavioGeometryParameter::PosX:
        case KavioGeometryParameter::PosY: {
            const double extent = parameter == KavioGeometryParameter::PosX ? size.width() : size.height();
            // Without a canvas there are no pixels to place by.
            if (!(extent > 0)) {
                field->setStringValue(field->oldTitle());
                return;
            }
            giveKeyboardToCueList();
            slider->setFloatValue(float(*typed / extent));
            correctToPixel(slider, long(*typed), [extent](double s) { return long(std::trunc(s * extent)); },
                           parameter == KavioGeometryParameter::PosX ? "posX" : "posY");
            break;
        }
        }
    }
    const float chosen = slider->floatValue();
    applyToSelectedItems(QString::fromUtf8(value.plural),
                         [this, parameter, chosen](const QString& uid) { undoChangeGeometryValue(parameter, chosen, uid); });
}

void KavioVideoItemPreferencesController::undoChangeGeometryValue(KavioGeometryParameter parameter, float newValue,
                                                                 const QString& uid)
{
    const auto item = itemWithUID(uid);
    if (!item || !std::isfinite(newValue))
        return;
    const GeometryValue& value = geometryValue(parameter);
    markUnsaved();
    const float old = ((*item).*value.get)();
    ((*item).*value.set)(newValue);
    (this->*value.handle)();
    if (isScale(parameter) && item->geometryScaleLink()) {
        // A linked cue moves both scales; the record keeps the edited one.
        const GeometryValue& other = geometryValue(otherScale(parameter));
        ((*item).*other.set)(newValue);
        (o_.*other.slider)->setFloatValue(newValue);
        (this->*other.handle)();
    }
    registerInverse(QString::fromUtf8(value.singular),
                    [parameter, old, uid](Controller& self) { self.undoChangeGeometryValue(parameter, old, uid); });
}

// --- Crop ----------------------------------------------------------------------------------------

void KavioVideoItemPreferencesController::changeCrop(const QObject* sender)
{
    const auto manager = videoManager();
    const QSizeF size = manager ? manager->renderSize() : QSizeF();
    const double w = size.width();
    const double h = size.height();
    const struct {
        KavioTextField* field;
        KavioSlider* slider;
        double offset, span;
        const char* name;
    } edges[] = {
        {o_.cropLeftField, o_.cropLeftSlider, 0, w * 0.5, "cropLeft"},
        {o_.cropRightField, o_.cropRightSlider, w * 0.5, w * 0.5, "cropRight"},
        {o_.cropTopField, o_.cropTopSlider, h * 0.5, h * 0.5, "cropTop"},
        {o_.cropBottomField, o_.cropBottomSlider, 0, h * 0.5, "cropBottom"},
    };
    for (const auto& edge : edges) {
        if (sender != edge.field)
            continue;
        const auto typed = typedNumber(edge.field);
        if (!typed)
            return;
        if (!(edge.span > 0)) {
            edge.field->setStringValue(edge.field->oldTitle());
            return;
        }
        giveKeyboardToCueList();
        edge.slider->setFloatValue(float((*typed - edge.offset) / edge.span));
        correctToPixel(edge.slider, long(*typed),
                       [&edge](double s) { return long(std::trunc(s * edge.span + edge.offset)); }, edge.name);
    }
    const KavioGeometryCrop crop{1.0f - o_.cropTopSlider->floatValue(), 1.0f - o_.cropRightSlider->floatValue(),
                                 o_.cropBottomSlider->floatValue(), o_.cropLeftSlider->floatValue()};
    const QByteArray bytes = cropBytes(crop);
    applyToSelectedItems(QStringLiteral("Change Crops"), [this, &bytes](const QString& uid) { undoChangeGeometryCrop(bytes, uid); });
}

void KavioVideoItemPreferencesController::undoChangeGeometryCrop(const QByteArray& bytes, const QString& uid)
{
    const auto item = itemWithUID(uid);
    const auto crop = cropOfBytes(bytes);
    if (!item || !crop)
        return;
    markUnsaved();
    const QByteArray old = cropBytes(item->geometryCrop());
    item->setGeometryCrop(*crop);
    handleGeometryCropTopField();
    handleGeometryCropRightField();
    handleGeometryCropLeftField();
    handleGeometryCropBottomField();
    registerInverse(QStringLiteral("Change Crop"), [old, uid](Controller& self) { self.undoChangeGeometryCrop(old, uid); });
}

// --- Options menu and resets ---------------------------------------------------------------------

void KavioVideoItemPreferencesController::resetGeometryScale()
{
    o_.geometryScaleHSlider->setFloatValue(0);
    o_.geometryScaleVSlider->setFloatValue(0);
    changeGeometryValue(KavioGeometryParameter::ScaleH, nullptr);
    changeGeometryValue(KavioGeometryParameter::ScaleV, nullptr);
}

void KavioVideoItemPreferencesController::resetGeometryPosition()
{
    o_.geometryPosXSlider->setFloatValue(0);
    o_.geometryPosYSlider->setFloatValue(0);
    changeGeometryValue(KavioGeometryParameter::PosX, nullptr);
    changeGeometryValue(KavioGeometryParameter::PosY, nullptr);
}

void KavioVideoItemPreferencesController::resetGeometryRotate()
{
    o_.geometryRotateSlider->setFloatValue(0);
    changeGeometryValue(KavioGeometryParameter::Rotate, nullptr);
}

void KavioVideoItemPreferencesController::resetGeometryCrop()
{
    o_.cropLeftSlider->setFloatValue(0);
    o_.cropRightSlider->setFloatValue(1);
    o_.cropTopSlider->setFloatValue(1);
    o_.cropBottomSlider->setFloatValue(0);
    changeCrop(nullptr);
}

void KavioVideoItemPreferencesController::resetGeometryAll()
{
    KavioInspectorMixed::inOuterGroup(undoManager(), [this] {
        resetGeometryScale();
        resetGeometryPosition();
        resetGeometryRotate();
        resetGeometryCrop();
    });
}

void KavioVideoItemPreferencesController::popupGeometryOptions()
{
    KavioInspectorMixed::popupOptionsMenu({
        {QStringLiteral("Reset All Parameters"), runAction(&Controller::resetGeometryAll)},
        {QStringLiteral("Reset Scale"), runAction(&Controller::resetGeometryScale)},
        {QStringLiteral("Reset Position"), runAction(&Controller::resetGeometryPosition)},
        {QStringLiteral("Reset Rotate"), runAction(&Controller::resetGeometryRotate)},
        {QStringLiteral("Reset Crop"), runAction(&Controller::resetGeometryCrop)},
    });
}
