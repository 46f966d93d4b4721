#pragma once
// A pop-up menu of titled entries, each carrying a tag that settings store. The custom pop-ups
// and KavioPlainPopUpButton implement it. Main thread.

#include <QString>

class KavioPopUpButtonInterface {
public:
    virtual ~KavioPopUpButtonInterface() = default;

    virtual void addItem(const QString& title, long tag) = 0;
    virtual int numberOfItems() const = 0;
    // Nothing for an index out of range; removing the selected entry leaves none selected.
    virtual void removeItemAtIndex(int index) = 0;
    // Select the first entry with that tag or title; answer false (selection kept) when none has it.
    virtual bool selectItemWithTag(long tag) = 0;
    virtual bool selectItemWithTitle(const QString& title) = 0;
    // The selected entry's tag (-1) and title (empty) when nothing is selected.
    virtual long selectedTag() const = 0;
    virtual QString titleOfSelectedItem() const = 0;
    virtual bool isEnabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
};
