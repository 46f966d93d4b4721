#include "Shell/KavioWaveformStripOutlet.h"

#include "Views/KavioWaveformView.h"

#include <QImage>
#include <QProgressBar>

KavioWaveformStripOutlet::KavioWaveformStripOutlet(KavioWaveformView* view, QProgressBar* busy)
    : view_(view), busy_(busy)
{
}

bool KavioWaveformStripOutlet::isHidden() const
{
    if (!view_)
        return true;
    for (const QWidget* widget = view_; widget && !widget->isWindow(); widget = widget->parentWidget())
        if (widget->isHidden())
            return true;
    return false;
}

void KavioWaveformStripOutlet::setDisplayMin(float min)
{
    if (view_)
        view_->setDisplayMin(min);
}

void KavioWaveformStripOutlet::setDisplayMax(float max)
{
    if (view_)
        view_->setDisplayMax(max);
}

void KavioWaveformStripOutlet::setIsBuilding(bool building)
{
    if (view_)
        view_->setWaveformIsBuilding(building);
}

void KavioWaveformStripOutlet::setImage(std::shared_ptr<const QImage> image)
{
    if (view_)
        view_->setImage(image ? *image : QImage());
}

void KavioWaveformStripOutlet::setChannels(int channels)
{
    if (view_)
        view_->setChannels(channels);
}

void KavioWaveformStripOutlet::setShowsWarning(bool shows)
{
    if (view_)
        view_->setShowsWarning(shows);
}

void KavioWaveformStripOutlet::setWarningText(const QString& text)
{
    if (view_)
        view_->setWarningText(text);
}

void KavioWaveformStripOutlet::setWarningType(int type)
{
    if (view_)
        view_->setWarningType(type);
}

void KavioWaveformStripOutlet::redraw()
{
    if (view_)
        view_->update();
}

void KavioWaveformStripOutlet::startAnimation()
{
    if (busy_)
        busy_->show();
}

void KavioWaveformStripOutlet::stopAnimation()
{
    if (busy_)
        busy_->hide();
}
