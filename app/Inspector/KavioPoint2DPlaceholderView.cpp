#include "Inspector/KavioPoint2DPlaceholderView.h"

#include "Views/KavioSlider.h"

KavioPoint2DPlaceholderView::KavioPoint2DPlaceholderView(QWidget* parent) : QWidget(parent) {}

void KavioPoint2DPlaceholderView::setAction(const std::function<void()>& action)
{
    if (sliderX_)
        sliderX_->setAction(action);
    if (sliderY_)
        sliderY_->setAction(action);
}

void KavioPoint2DPlaceholderView::cacheToOldValue()
{
    if (sliderX_)
        sliderX_->cacheToOldValue();
    if (sliderY_)
        sliderY_->cacheToOldValue();
}
