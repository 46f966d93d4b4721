#include "Views/KavioColorTagButton.h"

#include "Views/KavioColorTagIndicatorButtonCell.h"

KavioColorTagButton::KavioColorTagButton(QWidget* parent)
    : KavioButton(parent, std::make_unique<KavioColorTagIndicatorButtonCell>())
{
}

KavioColorTagIndicatorButtonCell& KavioColorTagButton::tagCell() const
{
    return static_cast<KavioColorTagIndicatorButtonCell&>(cell());
}

void KavioColorTagButton::setColorTag(std::int32_t tag)
{
    tagCell().setColorTag(tag);
    update();
}

void KavioColorTagButton::enterEvent(QEnterEvent*)
{
    if (!isEnabled())
        return;
    tagCell().setDrawsHighlight(true);
    update();
}

void KavioColorTagButton::leaveEvent(QEvent*)
{
    if (!isEnabled())
        return;
    tagCell().setDrawsHighlight(false);
    update();
}
