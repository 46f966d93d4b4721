#include "Views/KavioIconImageView.h"

#include "Views/KavioControlStyle.h"

KavioIconImageView::KavioIconImageView(QWidget* parent) : KavioImageView(parent)
{
    setDrawColor(KavioControlStyle::grey(0.4));
}
