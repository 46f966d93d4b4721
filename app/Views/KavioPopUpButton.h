#pragma once
// KavioPopUpButton: the program's pop-up menu button, drawn by its KavioPopUpButtonCell, with
// hover colours and an undo cache (oldItemTitle, "None" at first).
//
// Entries follow the platform's rules: each has a title, a tag, a represented object and an
// enabled flag; adding or inserting a title that exists replaces the earlier entry (the new one
// takes the given place); selecting an index no entry has leaves nothing selected (index -1,
// empty title, tag -1), while selecting a title or tag no entry has answers false and keeps the
// selection (the settings that restore stale titles rely on it); removing the selected entry
// leaves nothing selected; a
// disabled entry may be selected in code, also as the first one. A click opens the entries as a menu;
// choosing one selects it and runs the action. Main thread.

#include "Support/KavioPopUpButtonInterface.h"
#include "Views/KavioPopUpButtonCell.h"

#include <QVariant>
#include <QWidget>

#include <functional>
#include <vector>

class QMenu;

class KavioPopUpButton : public QWidget, public KavioPopUpButtonInterface {
    Q_OBJECT
public:
    struct Entry {
        QString title;
        long tag = 0;
        QVariant representedObject;
        bool enabled = true;
        bool isSeparator = false;  // a rule line in the menu; never selected
    };

    explicit KavioPopUpButton(QWidget* parent = nullptr);

    KavioPopUpButtonCell& cell() { return cell_; }

    // --- KavioPopUpButtonInterface
    void addItem(const QString& title, long tag) override;
    int numberOfItems() const override { return int(entries_.size()); }
    bool selectItemWithTag(long tag) override;
    bool selectItemWithTitle(const QString& title) override;
    long selectedTag() const override;
    QString titleOfSelectedItem() const override;
    bool isEnabled() const override { return QWidget::isEnabled(); }
    void setEnabled(bool enabled) override;

    void addItemWithTitle(const QString& title) { addItem(title, 0); }
    void insertItem(const QString& title, int index, long tag = 0);
    void insertSeparatorItem(int index);
    void removeItemAtIndex(int index) override;
    void removeItemWithTitle(const QString& title);
    void removeAllItems();
    // -1 when nothing is selected.
    int indexOfSelectedItem() const { return selected_; }
    // Any other index, or a separator, selects nothing.
    void selectItemAtIndex(int index);
    // What choosing the entry in the menu does: selects it and runs the action. Nothing for a
    // disabled entry, a separator or an index out of range.
    void chooseItemAtIndex(int index);
    int indexOfItemWithTitle(const QString& title) const;
    int indexOfItemWithTag(long tag) const;
    // The entries; an index outside them gives an empty entry.
    Entry itemAtIndex(int index) const;
    // Renames an entry in place; unlike adding, it replaces no other entry of that title.
    void setItemTitle(int index, const QString& title);
    void setItemEnabled(int index, bool enabled);
    void setItemRepresentedObject(int index, const QVariant& object);
    QVariant representedObjectOfSelectedItem() const { return itemAtIndex(selected_).representedObject; }

    // What choosing an entry in the menu runs, after it is selected.
    void setAction(std::function<void()> action) { action_ = std::move(action); }

    QString oldItemTitle() const { return oldItemTitle_; }
    void cacheToOldValue() { oldItemTitle_ = titleOfSelectedItem(); }
    void removeResources() {}

    // The open menu while it is shown, nullptr otherwise.
    QMenu* openMenu() const { return menu_; }
    QSize sizeHint() const override;

Q_SIGNALS:
    // Another entry, or none (-1), became the selected one (main thread).
    void selectionChanged(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool validIndex(int index) const { return index >= 0 && index < int(entries_.size()); }

    KavioPopUpButtonCell cell_;
    std::vector<Entry> entries_;
    int selected_ = -1;
    QString oldItemTitle_ = QStringLiteral("None");
    std::function<void()> action_;
    QMenu* menu_ = nullptr;
};
