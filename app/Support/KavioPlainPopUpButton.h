#pragma once
// The pop-up interface on a plain Qt combo box, until the custom pop-ups take over. Each entry
// keeps its tag as item data.

#include "Support/KavioPopUpButtonInterface.h"

#include <QComboBox>

class KavioPlainPopUpButton : public QComboBox, public KavioPopUpButtonInterface {
public:
    explicit KavioPlainPopUpButton(QWidget* parent = nullptr) : QComboBox(parent) {}

    void addItem(const QString& title, long tag) override;
    int numberOfItems() const override { return count(); }
    void removeItemAtIndex(int index) override { removeItem(index); }
    bool selectItemWithTag(long tag) override;
    bool selectItemWithTitle(const QString& title) override;
    long selectedTag() const override;
    QString titleOfSelectedItem() const override { return currentText(); }
    bool isEnabled() const override { return QComboBox::isEnabled(); }
    void setEnabled(bool enabled) override { QComboBox::setEnabled(enabled); }

private:
    bool selectIndex(int index);
};
