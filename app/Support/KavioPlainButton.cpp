#include "Support/KavioPlainButton.h"

#include <QIcon>

KavioPlainButton::KavioPlainButton(QWidget* parent) : QPushButton(parent)
{
    connect(this, &QPushButton::clicked, this, [this] {
        if (action_)
            action_();
    });
}

void KavioPlainButton::setImageName(const QString& name)
{
    imageName_ = name;
    setIcon(name.isEmpty() ? QIcon() : QIcon(QStringLiteral(":/") + name));
}

void KavioPlainButton::setButtonType(KavioButtonType type)
{
    type_ = type;
    setCheckable(type == KavioButtonType::OnOff);
}
