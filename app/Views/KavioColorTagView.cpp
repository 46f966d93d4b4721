#include "Views/KavioColorTagView.h"

#include "Views/KavioColorTagIndicator.h"

KavioColorTagView::KavioColorTagView(QWidget* parent) : QWidget(parent)
{
    for (int i = 0; i < 6; ++i)
        swatches_.push_back(new KavioColorTagIndicator(std::int32_t(10 * i), this));
    buildUI();
}

void KavioColorTagView::buildUI()
{
    const float pitch = float(width() - 20 - 120) / 5.0f + 20.0f;
    for (size_t i = 0; i < swatches_.size(); ++i)
        swatches_[i]->setGeometry(int(20 + float(i) * pitch), 6, 20, 20);
}

void KavioColorTagView::selectColorTag(std::int32_t tag)
{
    for (KavioColorTagIndicator* swatch : swatches_)
        swatch->setIsSelected(tag != 0 && swatch->colorTag() == tag);
}

void KavioColorTagView::reportChoice(KavioColorTagIndicator& swatch)
{
    if (target_)
        target_(swatch);
}

void KavioColorTagView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    buildUI();
}
