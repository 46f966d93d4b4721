// The undoable-edit pattern and the General section: display title, cue ID, loop count,
// colour tag, notes and goto target, with the handlers that show the selected cues' values and
// the goto popup that lists every cue.

#include "Inspector/KavioVideoItemPreferencesController.h"

#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "Rendering/KavioRenderClock.h"
#include "Views/KavioColorTagIndicator.h"
#include "Views/KavioColorTagView.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioTextField.h"

#include "DispatchQueue.h"
#include "UndoManager.h"

#include <optional>

namespace {

// Spaces and tabs off both ends; line breaks stay.
QString trimmedSpacesAndTabs(const QString& text)
{
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && blank(text.at(begin)))
        ++begin;
    while (end > begin && blank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

// The first six UTF-16 units, one fewer when the sixth would split a surrogate pair.
QString cueIDCut(const QString& cueID)
{
    constexpr qsizetype kMaximum = 6;
    if (cueID.size() <= kMaximum)
        return cueID;
    const qsizetype length = cueID.at(kMaximum - 1).isHighSurrogate() ? kMaximum - 1 : kMaximum;
    return cueID.left(length);
}

// The value every cue shares, or nothing at the first that differs.
template <typename Value, typename Read>
std::optional<Value> commonValue(const KavioVideoItemList& items, Read read)
{
    if (items.empty())
        return std::nullopt;
    const Value first = read(*items.front());
    for (const auto& item : items)
        if (read(*item) != first)
            return std::nullopt;
    return first;
}

}  // namespace

// --- The pattern -------------------------------------------------------------------------------

void KavioVideoItemPreferencesController::applyToSelectedItems(const QString& pluralName,
                                                               const std::function<void(const QString& uid)>& step)
{
    UndoManager* undo = undoManager();
    if (undo)
        undo->beginUndoGrouping();
    for (const auto& item : items())
        step(item->uid());
    if (undo) {
        undo->endUndoGrouping();
        undo->setActionName(pluralName);
    }
}

void KavioVideoItemPreferencesController::registerInverse(const QString& name,
                                                          std::function<void(KavioVideoItemPreferencesController&)> inverse)
{
    UndoManager* undo = undoManager();
    if (!undo)
        return;
    const std::weak_ptr<KavioVideoItemPreferencesController> weakSelf = weak_from_this();
    undo->registerUndo(this, [weakSelf, inverse = std::move(inverse)] {
        if (const auto self = weakSelf.lock())
            inverse(*self);
    });
    undo->setActionName(name);
}

std::shared_ptr<KavioVideoItem> KavioVideoItemPreferencesController::itemWithUID(const QString& uid) const
{
    const auto manager = videoManager();
    return manager ? manager->itemWithUID(uid) : nullptr;
}

// --- Title ---------------------------------------------------------------------------------------

void KavioVideoItemPreferencesController::changeDisplayTitle()
{
    const QString title = trimmedSpacesAndTabs(o_.displayTitleField->stringValue());
    applyToSelectedItems(QStringLiteral("Change Cue Display Titles"),
                         [this, &title](const QString& uid) { undoChangeDisplayTitle(title, uid); });
}

void KavioVideoItemPreferencesController::undoChangeDisplayTitle(const QString& title, const QString& uid)
{
    const auto item = itemWithUID(uid);
    if (!item)
        return;
    const QString old = item->displayTitle();
    markUnsaved();
    item->setDisplayTitle(title);
    handleTitleField();
    item->refreshTitle();
    giveKeyboardToCueList();
    registerInverse(QStringLiteral("Change Cue Title"),
                    [old, uid](KavioVideoItemPreferencesController& self) { self.undoChangeDisplayTitle(old, uid); });
}

// --- Cue ID --------------------------------------------------------------------------------------

void KavioVideoItemPreferencesController::changeCueID()
{
    const QString cueID = trimmedSpacesAndTabs(o_.cueIDField->stringValue());
    applyToSelectedItems(QStringLiteral("Change Cue IDs"), [this, &cueID](const QString& uid) { undoChangeCueID(cueID, uid); });
}

void KavioVideoItemPreferencesController::undoChangeCueID(const QString& cueID, const QString& uid)
{
    const auto item = itemWithUID(uid);
    const auto manager = videoManager();
    if (!item || !manager)
        return;
    const QString old = item->cueID();
    item->setCueID(cueIDCut(cueID));
    markUnsaved();
    handleCueIDField();
    item->refreshTitle();
    videoItemsUpdated(manager->items());
    manager->updateGotoItemUIDs();
    registerInverse(QStringLiteral("Change Cue ID"),
                    [old, uid](KavioVideoItemPreferencesController& self) { self.undoChangeCueID(old, uid); });
    giveKeyboardToCueList();
}

// --- Loop count ----------------------------------------------------------------------------------

void KavioVideoItemPreferencesController::changeLoopCount()
{
    // Text that is no number (an empty field) reads as 0, which is endless.
    const std::int32_t count = o_.loopCountField->stringValue().toInt();
    applyToSelectedItems(QStringLiteral("Change Loop Counts"), [this, count](const QString& uid) { undoChangeLoopCount(count, uid); });
}

void KavioVideoItemPreferencesController::undoChangeLoopCount(std::int32_t count, const QString& uid)
{
    const auto item = itemWithUID(uid);
    if (!item)
        return;
    const std::int32_t old = item->loopCount();
    if (count == old)
        return;
    item->setLoopCount(count < 1 ? KavioLoopCountEndless : count);
    item->validateToggles();
    handleLoopCountField();
    markUnsaved();
    item->displayItemTimes();
    registerInverse(QStringLiteral("Change Loop Count"),
                    [old, uid](KavioVideoItemPreferencesController& self) { self.undoChangeLoopCount(old, uid); });
    giveKeyboardToCueList();
}

// --- Colour tag ----------------------------------------------------------------------------------

void KavioVideoItemPreferencesController::switchColorTags(const KavioColorTagIndicator& indicator)
{
    const std::int32_t tag = indicator.colorTag();
    applyToSelectedItems(QStringLiteral("Change Color Tags"), [this, tag](const QString& uid) { undoChangeColorTag(tag, uid); });
}

void KavioVideoItemPreferencesController::undoChangeColorTag(std::int32_t tag, const QString& uid)
{
    const auto item = itemWithUID(uid);
    if (!item)
        return;
    const std::int32_t old = item->colorTag();
    // This cue alone, so that undo gives each cue its own tag back; a new tag marks the project
    // changed, as the record saves it.
    item->handleOwnColorTagSwitchTo(tag);
    o_.colorTagView->selectColorTag(item->colorTag());
    o_.displayTitleField->update();
    giveKeyboardToCueList();
    registerInverse(QStringLiteral("Change Color Tag"),
                    [old, uid](KavioVideoItemPreferencesController& self) { self.undoChangeColorTag(old, uid); });
}

// --- Notes ---------------------------------------------------------------------------------------

void KavioVideoItemPreferencesController::changeNotes()
{
    const QString notes = trimmedSpacesAndTabs(o_.notesField->stringValue());
    applyToSelectedItems(QStringLiteral("Change Cue Notes"), [this, &notes](const QString& uid) { undoChangeNotes(notes, uid); });
}

void KavioVideoItemPreferencesController::undoChangeNotes(const QString& notes, const QString& uid)
{
    const auto item = itemWithUID(uid);
    if (!item)
        return;
    const QString old = item->cueNotes();
    item->setCueNotes(notes);
    markUnsaved();
    showInField(o_.notesField, notes);
    giveKeyboardToCueList();
    registerInverse(QStringLiteral("Change Cue Notes"),
                    [old, uid](KavioVideoItemPreferencesController& self) { self.undoChangeNotes(old, uid); });
}

// --- Goto target ---------------------------------------------------------------------------------

void KavioVideoItemPreferencesController::changeGotoItem()
{
    const auto item = currentItem();
    if (!item)
        return;
    const QVariant target = o_.gotoPopup->representedObjectOfSelectedItem();
    undoChangeGotoItem(target.isValid() ? target.toString() : QString(), item->uid());
}

void KavioVideoItemPreferencesController::undoChangeGotoItem(const QString& targetUID, const QString& itemUID)
{
    const auto item = itemWithUID(itemUID);
    const auto manager = videoManager();
    if (!item || !manager)
        return;
    const QString old = item->gotoItemUID();
    item->setGotoItemUID(targetUID);
    const auto current = manager->currentItem();
    const auto renderClock = manager->renderClock();
    if (current && renderClock && current->isProcessingTransitionToNextCueAtCurrentTime()) {
        // The running pass still crosses with the old target: the transition changes after it.
        renderClock->addCompletedHandlerForCurrentRenderPass([item] { item->updateTransitionOnGotoItemChangeIfNeeded(); });
    } else {
        item->updateTransitionOnGotoItemChangeIfNeeded();
    }
    if (old.isEmpty() && item->gotoButton().enabled) {
        item->gotoButton().state = 1;
        item->gotoTargetButton().state = 1;
        item->refreshRowButtons();
    }
    markUnsaved();
    registerInverse(QStringLiteral("Change Goto Item"),
                    [old, itemUID](KavioVideoItemPreferencesController& self) { self.undoChangeGotoItem(old, itemUID); });
    giveKeyboardToCueList();
}

void KavioVideoItemPreferencesController::videoItemsUpdated(const KavioVideoItemListSnapshot& items)
{
    // The cue list controller rebuilds its order on any thread; the popup is the main thread's.
    if (!DispatchQueue::isMainThread()) {
        const std::weak_ptr<KavioVideoItemPreferencesController> weakSelf = weak_from_this();
        DispatchQueue::main().async([weakSelf, items] {
            if (const auto self = weakSelf.lock())
                self->videoItemsUpdated(items);
        });
        return;
    }
    KavioPopUpButton* popup = o_.gotoPopup;
    while (popup->numberOfItems() > 2)
        popup->removeItemAtIndex(popup->numberOfItems() - 1);
    if (items) {
        for (const auto& item : *items) {
            const QString cueID = item->cueID();
            // A label the popup holds already replaces the earlier entry.
            const QString label = cueID.isEmpty() ? QString::number(long(item->index())) : cueID;
            popup->addItemWithTitle(label);
            popup->setItemRepresentedObject(popup->indexOfItemWithTitle(label), item->uid());
        }
    }
    handleGotoPopup();
}

void KavioVideoItemPreferencesController::handleGotoPopup()
{
    const auto item = currentItem();
    if (!item)
        return;
    KavioPopUpButton* popup = o_.gotoPopup;
    const QString uid = item->uid();
    const QString target = item->gotoItemUID();
    for (int i = 0; i < popup->numberOfItems(); ++i) {
        const QVariant object = popup->itemAtIndex(i).representedObject;
        if (!object.isValid())
            continue;
        if (object.toString() == uid) {
            popup->setItemEnabled(i, false);
            continue;
        }
        popup->setItemEnabled(i, true);
        if (object.toString() == target)
            popup->selectItemAtIndex(i);
    }
}

// --- Refresh handlers ----------------------------------------------------------------------------

void KavioVideoItemPreferencesController::handleTitleField()
{
    const KavioVideoItemList selected = items();
    KavioTextField* field = o_.displayTitleField;
    if (selected.size() == 1) {
        const auto& item = selected.front();
        const QString title = item->displayTitle();
        showInField(field, title, title.isEmpty() ? item->defaultTitle() : QString());
        return;
    }
    if (selected.empty())
        return showInField(field, {});
    if (const auto common = commonValue<QString>(selected, [](const KavioVideoItem& i) { return i.displayTitle(); }))
        showInField(field, *common);
    else
        showInField(field, {}, kKavioMixedTitle);
}

void KavioVideoItemPreferencesController::handleCueIDField()
{
    const KavioVideoItemList selected = items();
    KavioTextField* field = o_.cueIDField;
    if (selected.size() == 1) {
        const auto& item = selected.front();
        const QString cueID = item->cueID();
        if (cueID.isEmpty())
            showInField(field, {}, QString::number(long(item->index())), &placeholderattributesid_);
        else
            showInField(field, cueID);
        return;
    }
    if (selected.empty())
        return showInField(field, {});
    if (const auto common = commonValue<QString>(selected, [](const KavioVideoItem& i) { return i.cueID(); }))
        showInField(field, *common);
    else
        showInField(field, {}, kKavioMixedTitle);
}

void KavioVideoItemPreferencesController::handleCueNotesField()
{
    const KavioVideoItemList selected = items();
    if (selected.empty())
        return showInField(o_.notesField, {});
    if (const auto common = commonValue<QString>(selected, [](const KavioVideoItem& i) { return i.cueNotes(); }))
        showInField(o_.notesField, *common);
    else
        showInField(o_.notesField, {}, kKavioMixedTitle);
}

void KavioVideoItemPreferencesController::handleLoopCountField()
{
    const KavioVideoItemList selected = items();
    KavioTextField* field = o_.loopCountField;
    const QString endless = QStringLiteral("∞");
    if (selected.empty())
        return showInField(field, {}, endless, &placeholderattributescenter_);
    const auto common = commonValue<std::int32_t>(selected, [](const KavioVideoItem& i) { return i.loopCount(); });
    if (!common)
        showInField(field, {}, kKavioMixedTitle);
    else if (*common == KavioLoopCountEndless)
        showInField(field, {}, endless, &placeholderattributescenter_);
    else
        showInField(field, QString::number(*common));
}
