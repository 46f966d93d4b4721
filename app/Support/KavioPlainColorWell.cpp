#include "Support/KavioPlainColorWell.h"

#include <QColorDialog>

KavioPlainColorWell::KavioPlainColorWell(QWidget* parent) : QPushButton(parent)
{
    setColor(color_);
    connect(this, &QPushButton::clicked, this, [this] {
        const QColor picked = QColorDialog::getColor(color_, this, QString(), QColorDialog::ShowAlphaChannel);
        if (picked.isValid())
            setColor(picked);
    });
}

void KavioPlainColorWell::setColor(const QColor& color)
{
    color_ = color;
    setStyleSheet(QStringLiteral("background-color: %1").arg(color.name(QColor::HexArgb)));
}
