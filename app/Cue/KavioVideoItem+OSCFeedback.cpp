#include "Cue/KavioVideoItem.h"

QString KavioVideoItem::feedbackAddress(const char* parameter) const
{
    return QStringLiteral("/kavio/%1/").arg(index_.load()) + QLatin1String(parameter);
}

void KavioVideoItem::sendFeedback(QVTOSCMessage& message, const char* parameter, const QVariant& value)
{
    message.setAddress(feedbackAddress(parameter));
    const auto values = message.values();
    if (!values.empty())
        values.front()->setValue(value);
    sender_(message);
}

void KavioVideoItem::markProjectChangedUnlessResending()
{
    if (isProcessingOSCFeedbacks_.load())
        return;
    if (const auto controller = manager())
        controller->setHasUnsavedChanges(true);
}

void KavioVideoItem::sendOSCFeedback()
{
    isProcessingOSCFeedbacks_ = true;
    for (auto* flag : {&volumeFeedbackShouldSkip_, &opacityFeedbackShouldSkip_, &brightnessFeedbackShouldSkip_,
                       &contrastFeedbackShouldSkip_, &hueFeedbackShouldSkip_, &saturationFeedbackShouldSkip_,
                       &vibranceFeedbackShouldSkip_, &scaleFeedbackShouldSkip_, &rotateFeedbackShouldSkip_,
                       &posXFeedbackShouldSkip_, &posYFeedbackShouldSkip_})
        flag->store(false);

    sendFeedback(*playbackSpeedMsg_, "playbackSpeed", qlonglong(playbackRateAsPercent()));
    setVolume(volume());
    setOpacity(opacity());
    setBrightness(brightness());
    setContrast(contrast());
    setHue(hue());
    setSaturation(saturation());
    setVibrance(vibrance());
    setGeometryScaleH(geometryScaleH());
    setGeometryPosX(geometryPosX());
    setGeometryPosY(geometryPosY());
    sendCueNameOSCFeedback();
    isProcessingOSCFeedbacks_ = false;
}
