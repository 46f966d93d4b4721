#include "Cue/KavioVideoItem.h"

#include "Log.h"

#include <algorithm>
#include <cmath>

namespace {

// Values from OSC, records and the inspector reach the renderer and the clients unchecked
// otherwise: a NaN would stick in the picture and in every later feedback.
bool isStorable(float value, const char* parameter)
{
    if (std::isfinite(value))
        return true;
    KLOG_WARN("refusing the non-finite value {} for {}", value, parameter);
    return false;
}

}  // namespace

void KavioVideoItem::applyFeedbackValue(std::atomic<float>& field, float value, std::atomic<bool>& skip,
                                        QVTOSCMessage& message, const char* parameter, float lowest,
                                        float highest)
{
    if (!isStorable(value, parameter))
        return;
    field.store(std::clamp(value, lowest, highest));
    if (!skip.load())
        sendFeedback(message, parameter, field.load());
    skip.store(false);
    markProjectChangedUnlessResending();
}

void KavioVideoItem::applyScale(std::atomic<float>& field, float value, QVTOSCMessage& ownMessage,
                                const char* ownParameter)
{
    if (!isStorable(value, ownParameter))
        return;
    field.store(value);
    if (!scaleFeedbackShouldSkip_.load()) {
        if (geometryScaleLink_.load())
            sendFeedback(*scaleMsg_, "scale", geometryScaleH_.load());
        else
            sendFeedback(ownMessage, ownParameter, field.load());
    }
    scaleFeedbackShouldSkip_.store(false);
    markProjectChangedUnlessResending();
}

void KavioVideoItem::setOpacity(float value)
{
    applyFeedbackValue(opacity_, value, opacityFeedbackShouldSkip_, *opacityMsg_, "opacity", 0.0f, 1.0f);
}

void KavioVideoItem::setBrightness(float value)
{
    applyFeedbackValue(brightness_, value, brightnessFeedbackShouldSkip_, *brightnessMsg_, "brightness");
}

void KavioVideoItem::setContrast(float value)
{
    applyFeedbackValue(contrast_, value, contrastFeedbackShouldSkip_, *contrastMsg_, "contrast");
}

void KavioVideoItem::setHue(float value)
{
    applyFeedbackValue(hue_, value, hueFeedbackShouldSkip_, *hueMsg_, "hue");
}

void KavioVideoItem::setSaturation(float value)
{
    applyFeedbackValue(saturation_, value, saturationFeedbackShouldSkip_, *saturationMsg_, "saturation");
}

void KavioVideoItem::setVibrance(float value)
{
    applyFeedbackValue(vibrance_, value, vibranceFeedbackShouldSkip_, *vibranceMsg_, "vibrance");
}

void KavioVideoItem::setVolume(float value)
{
    applyFeedbackValue(volume_, value, volumeFeedbackShouldSkip_, *volumeMsg_, "volume", 0.0f);
}

void KavioVideoItem::setGeometryScaleH(float value)
{
    applyScale(geometryScaleH_, value, *scaleHMsg_, "scaleH");
}

void KavioVideoItem::setGeometryScaleV(float value)
{
    applyScale(geometryScaleV_, value, *scaleVMsg_, "scaleV");
}

void KavioVideoItem::setGeometryRotate(float value)
{
    applyFeedbackValue(geometryRotate_, value, rotateFeedbackShouldSkip_, *rotateMsg_, "rotate");
}

void KavioVideoItem::setGeometryPosX(float value)
{
    applyFeedbackValue(geometryPosX_, value, posXFeedbackShouldSkip_, *posXMsg_, "posX");
}

void KavioVideoItem::setGeometryPosY(float value)
{
    applyFeedbackValue(geometryPosY_, value, posYFeedbackShouldSkip_, *posYMsg_, "posY");
}

void KavioVideoItem::setGeometryCrop(const KavioGeometryCrop& crop)
{
    if (!isStorable(crop.top, "cropTop") || !isStorable(crop.right, "cropRight") ||
        !isStorable(crop.bottom, "cropBottom") || !isStorable(crop.left, "cropLeft"))
        return;
    const KavioGeometryCrop old = geometryCrop_.load();
    geometryCrop_.store(crop);
    struct Edge {
        float before;
        float after;
        std::atomic<bool>& skip;
        QVTOSCMessage& message;
        const char* parameter;
    };
    const Edge edges[] = {
        {old.left, crop.left, cropLeftFeedbackShouldSkip_, *cropLeftMsg_, "cropLeft"},
        {old.right, crop.right, cropRightFeedbackShouldSkip_, *cropRightMsg_, "cropRight"},
        {old.top, crop.top, cropTopFeedbackShouldSkip_, *cropTopMsg_, "cropTop"},
        {old.bottom, crop.bottom, cropBottomFeedbackShouldSkip_, *cropBottomMsg_, "cropBottom"},
    };
    for (const Edge& edge : edges) {
        if (edge.before == edge.after)
            continue;
        if (edge.skip.load())
            edge.skip.store(false);
        else
            sendFeedback(edge.message, edge.parameter, edge.after);
    }
    markProjectChangedUnlessResending();
}

void KavioVideoItem::setFadeOpacity(float value)
{
    if (isStorable(value, "fadeOpacity"))
        fadeOpacity_.store(std::clamp(value, 0.0f, 1.0f));
}

void KavioVideoItem::setAudioFade(float value)
{
    if (isStorable(value, "audioFade"))
        audioFade_.store(std::clamp(value, 0.0f, 1.0f));
}

QSize KavioVideoItem::truncatedRenderSize() const
{
    const auto controller = manager();
    if (!controller)
        return QSize(0, 0);
    const QSizeF size = controller->renderSize();
    return QSize(int(size.width()), int(size.height()));
}

// The read-outs keep the mixed single and double precision the stored values were tuned with:
// the inspector shows exactly these whole numbers.
long KavioVideoItem::geometryScaleHAsPercent() const
{
    return long(geometryScaleH() * 100.0f + 100.0f);
}

long KavioVideoItem::geometryScaleVAsPercent() const
{
    return long(geometryScaleV() * 100.0f + 100.0f);
}

long KavioVideoItem::geometryPosXAsPixels() const
{
    return long(float(truncatedRenderSize().width()) * geometryPosX());
}

long KavioVideoItem::geometryPosYAsPixels() const
{
    return long(float(truncatedRenderSize().height()) * geometryPosY());
}

long KavioVideoItem::geometryCropLeftAsPixels() const
{
    return long(float(truncatedRenderSize().width()) * geometryCrop().left * 0.5f);
}

long KavioVideoItem::geometryCropRightAsPixels() const
{
    const long width = truncatedRenderSize().width();
    return long(double(width) * (1.0 - double(geometryCrop().right)) * 0.5 + double(width / 2));
}

long KavioVideoItem::geometryCropTopAsPixels() const
{
    const long height = truncatedRenderSize().height();
    return long(double(height) * (1.0 - double(geometryCrop().top)) * 0.5 + double(height / 2));
}

long KavioVideoItem::geometryCropBottomAsPixels() const
{
    return long(float(truncatedRenderSize().height()) * geometryCrop().bottom * 0.5f);
}

float KavioVideoItem::volumeAsDecibels() const
{
    return 20.0f * std::log10(volume());
}
