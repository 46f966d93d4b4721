#include "Support/KavioPlainPopUpButton.h"

void KavioPlainPopUpButton::addItem(const QString& title, long tag)
{
    QComboBox::addItem(title, QVariant::fromValue<qlonglong>(tag));
}

bool KavioPlainPopUpButton::selectIndex(int index)
{
    if (index < 0)
        return false;
    setCurrentIndex(index);
    return true;
}

bool KavioPlainPopUpButton::selectItemWithTag(long tag)
{
    return selectIndex(findData(QVariant::fromValue<qlonglong>(tag)));
}

bool KavioPlainPopUpButton::selectItemWithTitle(const QString& title)
{
    return selectIndex(findText(title, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

long KavioPlainPopUpButton::selectedTag() const
{
    return currentIndex() < 0 ? -1 : long(currentData().toLongLong());
}
