#pragma once
// How the inspector shows values its selected cues do not share: a "(mixed)" entry on top of a
// popup, or a "(mixed)" placeholder in an emptied number field. Shared by the sections'
// refresh handlers; main thread.

#include "Controller/KavioVideoItemList.h"
#include "Inspector/KavioVideoItemPreferencesController.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioTextField.h"

#include "UndoManager.h"

#include <QCursor>
#include <QMenu>

#include <functional>
#include <limits>
#include <utility>
#include <vector>

namespace KavioInspectorMixed {

// The tag of the "(mixed)" entry; no real entry has it.
constexpr long kMixedTag = std::numeric_limits<std::int32_t>::max();

// Removes the "(mixed)" entry a refresh left, if any.
inline void removeEntry(KavioPopUpButton* popup)
{
    if (const int mixed = popup->indexOfItemWithTitle(kKavioMixedTitle); mixed >= 0)
        popup->removeItemAtIndex(mixed);
}

// The disabled, selected "(mixed)" entry on top.
inline void showEntry(KavioPopUpButton* popup)
{
    popup->insertItem(kKavioMixedTitle, 0, kMixedTag);
    popup->setItemEnabled(0, false);
    popup->selectItemAtIndex(0);
}

// Selects the entry tagged with the code every cue shares, else the "(mixed)" entry.
template <typename Read>
void showCommonTag(KavioPopUpButton* popup, const KavioVideoItemList& items, Read read)
{
    removeEntry(popup);
    if (items.empty()) {
        popup->selectItemWithTag(kMixedTag);
        return;
    }
    const long first = long(read(*items.front()));
    for (const auto& item : items) {
        if (long(read(*item)) != first) {
            showEntry(popup);
            return;
        }
    }
    popup->selectItemWithTag(first);
}

// Shows `shown` in the field; with two or more cues whose values (as floats) differ, an empty
// field with the "(mixed)" placeholder in `style`. A NaN counts as different.
template <typename Read>
void showCommonFloat(KavioTextField* field, const QString& shown, const KavioVideoItemList& items, Read read,
                     const KavioPlaceholderStyle& style)
{
    field->setPlaceholder(QString(), style.font, style.color, style.alignment);
    field->setStringValue(shown);
    if (items.size() < 2)
        return;
    const float first = float(read(*items.front()));
    for (const auto& item : items) {
        const float value = float(read(*item));
        if (value < first || value > first || value != value || first != first) {
            field->setStringValue(QString());
            field->setPlaceholder(kKavioMixedTitle, style.font, style.color, style.alignment);
            return;
        }
    }
}

// A section's options menu at the pointer: the first entry, a separator, the others. Built anew
// at every click and gone once closed.
inline void popupOptionsMenu(const std::vector<std::pair<QString, std::function<void()>>>& entries)
{
    auto* menu = new QMenu;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        QObject::connect(menu->addAction(entries[i].first), &QAction::triggered, menu, entries[i].second);
        if (i == 0)
            menu->addSeparator();
    }
    menu->popup(QCursor::pos());
}

// The resets of a section's "Reset All Parameters": their groups inside one outer step.
template <typename Resets>
void inOuterGroup(UndoManager* undo, Resets resets)
{
    if (undo)
        undo->beginUndoGrouping();
    resets();
    if (undo) {
        undo->endUndoGrouping();
        undo->setActionName(QStringLiteral("Reset All Parameters"));
    }
}

}  // namespace KavioInspectorMixed
