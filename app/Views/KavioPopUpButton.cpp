#include "Views/KavioPopUpButton.h"

#include "Views/KavioControlStyle.h"

#include <utility>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

using namespace KavioControlStyle;

KavioPopUpButton::KavioPopUpButton(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void KavioPopUpButton::addItem(const QString& title, long tag)
{
    removeItemWithTitle(title);
    entries_.push_back({title, tag, {}, true});
    update();
}

void KavioPopUpButton::insertItem(const QString& title, int index, long tag)
{
    removeItemWithTitle(title);
    index = std::clamp(index, 0, int(entries_.size()));
    entries_.insert(entries_.begin() + index, {title, tag, {}, true});
    if (selected_ >= index)
        ++selected_;
    update();
}

void KavioPopUpButton::insertSeparatorItem(int index)
{
    index = std::clamp(index, 0, int(entries_.size()));
    Entry separator;
    separator.isSeparator = true;
    separator.enabled = false;
    entries_.insert(entries_.begin() + index, separator);
    if (selected_ >= index)
        ++selected_;
}

void KavioPopUpButton::removeItemAtIndex(int index)
{
    if (!validIndex(index))
        return;
    entries_.erase(entries_.begin() + index);
    if (selected_ == index)
        selected_ = -1;
    else if (selected_ > index)
        --selected_;
    update();
}

void KavioPopUpButton::removeItemWithTitle(const QString& title) { removeItemAtIndex(indexOfItemWithTitle(title)); }

void KavioPopUpButton::removeAllItems()
{
    entries_.clear();
    selected_ = -1;
    update();
}

int KavioPopUpButton::indexOfItemWithTitle(const QString& title) const
{
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].title == title && !entries_[i].isSeparator)
            return int(i);
    return -1;
}

int KavioPopUpButton::indexOfItemWithTag(long tag) const
{
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].tag == tag && !entries_[i].isSeparator)
            return int(i);
    return -1;
}

void KavioPopUpButton::selectItemAtIndex(int index)
{
    const int selected = validIndex(index) && !entries_[size_t(index)].isSeparator ? index : -1;
    if (std::exchange(selected_, selected) != selected)
        Q_EMIT selectionChanged(selected);
    update();
}

void KavioPopUpButton::chooseItemAtIndex(int index)
{
    if (!validIndex(index) || !entries_[size_t(index)].enabled || entries_[size_t(index)].isSeparator)
        return;
    selectItemAtIndex(index);
    if (action_)
        action_();
}

bool KavioPopUpButton::selectItemWithTag(long tag)
{
    const int index = indexOfItemWithTag(tag);
    if (index < 0)
        return false;
    selectItemAtIndex(index);
    return true;
}

bool KavioPopUpButton::selectItemWithTitle(const QString& title)
{
    const int index = indexOfItemWithTitle(title);
    if (index < 0)
        return false;
    selectItemAtIndex(index);
    return true;
}

long KavioPopUpButton::selectedTag() const { return validIndex(selected_) ? entries_[size_t(selected_)].tag : -1; }

QString KavioPopUpButton::titleOfSelectedItem() const { return itemAtIndex(selected_).title; }

KavioPopUpButton::Entry KavioPopUpButton::itemAtIndex(int index) const
{
    return validIndex(index) ? entries_[size_t(index)] : Entry{};
}

void KavioPopUpButton::setItemTitle(int index, const QString& title)
{
    if (!validIndex(index))
        return;
    entries_[size_t(index)].title = title;
    update();
}

void KavioPopUpButton::setItemEnabled(int index, bool enabled)
{
    if (validIndex(index))
        entries_[size_t(index)].enabled = enabled;
}

void KavioPopUpButton::setItemRepresentedObject(int index, const QVariant& object)
{
    if (validIndex(index))
        entries_[size_t(index)].representedObject = object;
}

void KavioPopUpButton::setEnabled(bool enabled)
{
    QWidget::setEnabled(enabled);
    update();
}

QSize KavioPopUpButton::sizeHint() const
{
    double widest = 40.0;
    for (const Entry& entry : entries_)
        widest = std::max(widest, textSize(entry.title, KavioPopUpButtonCell::titleFont()).width());
    return {int(widest) + 34, 24};
}

void KavioPopUpButton::paintEvent(QPaintEvent*)
{
    cell_.setTitle(titleOfSelectedItem());
    cell_.setEnabled(isEnabled());
    QPainter painter(this);
    cell_.drawWithFrame(painter, QRectF(rect()));
}

void KavioPopUpButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || menu_)
        return;
    QMenu menu(this);
    menu_ = &menu;
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].isSeparator) {
            menu.addSeparator();
            continue;
        }
        QAction* item = menu.addAction(entries_[i].title);
        item->setCheckable(true);
        item->setChecked(int(i) == selected_);
        item->setEnabled(entries_[i].enabled);
        item->setData(int(i));
    }
    cell_.setHighlighted(true);
    update();
    QAction* chosen = menu.exec(mapToGlobal(QPoint(0, height())));
    menu_ = nullptr;
    cell_.setHighlighted(false);
    update();
    if (chosen)
        chooseItemAtIndex(chosen->data().toInt());
}

void KavioPopUpButton::enterEvent(QEnterEvent*)
{
    if (!isEnabled())
        return;
    cell_.setDrawColor(hoverColor());
    update();
}

void KavioPopUpButton::leaveEvent(QEvent*)
{
    if (!isEnabled())
        return;
    cell_.setDrawColor(restingColor());
    update();
}
