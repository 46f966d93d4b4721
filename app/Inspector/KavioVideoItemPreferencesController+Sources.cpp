// The Source section (the live source of capture, frame-sharing and NDI cues, and the DeckLink
// input's format) and the Window section (the captured window and its cursor). The menus are made
// from the live directories at every refresh; a saved source that is absent now shows as its name
// with " - DISCONNECTED".

#include "Inspector/KavioVideoItemPreferencesController.h"

#include "Cue/KavioVideoItem.h"
#include "Inspector/KavioInspectorSourceDirectories.h"
#include "Views/KavioButton.h"
#include "Views/KavioPopUpButton.h"

#include "Log.h"

// --- Source popup --------------------------------------------------------------------------------

namespace {

// Selects the entry of `path`; a source not listed gets an entry of its own, marked absent.
void selectOrAppendDisconnected(KavioPopUpButton* popup, const QString& path)
{
    if (popup->selectItemWithTitle(path))
        return;
    popup->addItemWithTitle(path + kKavioDisconnectedSuffix);
    popup->selectItemAtIndex(popup->numberOfItems() - 1);
}

}  // namespace

void KavioVideoItemPreferencesController::handleSourcePopup()
{
    refreshSourcePopup(o_.videoSourcePopup, [this](std::int32_t type) { buildSourceMenuForItemType(type); });
}

void KavioVideoItemPreferencesController::handleWindowSourcePopup()
{
    refreshSourcePopup(o_.windowSourcePopup, [this](std::int32_t) { buildWindowSourceMenu(); });
}

void KavioVideoItemPreferencesController::refreshSourcePopup(KavioPopUpButton* popup,
                                                             const std::function<void(std::int32_t type)>& build)
{
    const int mixed = popup->indexOfItemWithTitle(kKavioMixedTitle);
    if (mixed >= 0)
        popup->removeItemAtIndex(mixed);
    popup->setEnabled(true);
    const KavioVideoItemList selected = items();
    const auto current = currentItem();
    if (selected.empty() || !current)
        return;
    if (selected.size() == 1) {
        build(current->mediaType());
        selectOrAppendDisconnected(popup, current->mediaPath());
        return;
    }
    if (!matchingMediaTypeOnSelectedItems()) {
        // Sources of different kinds have no common menu: the previous entries stay, none chosen.
        popup->setEnabled(false);
        popup->selectItemAtIndex(-1);
        return;
    }
    const QString reference = selected.front()->mediaPath();
    const bool samePath =
        std::all_of(selected.begin(), selected.end(), [&](const auto& item) { return item->mediaPath() == reference; });
    build(selected.front()->mediaType());
    if (!samePath) {
        popup->insertItem(kKavioMixedTitle, 0);
        popup->setItemEnabled(0, false);
        popup->selectItemAtIndex(0);
    } else if (current->mediaPath().isNull()) {
        KLOG_VERBOSE("[[self currentItem] mediaPath] is nil, we are in trouble!");
    } else {
        selectOrAppendDisconnected(popup, current->mediaPath());
    }
}

void KavioVideoItemPreferencesController::buildSourceMenuForItemType(std::int32_t type)
{
    KavioVideoItemPreferencesOutlets& o = o_;
    o.videoSourcePopup->removeAllItems();
    const auto directories = KavioInspectorSourceDirectories::shared();
    const auto current = currentItem();
    if (current && current->mediaType() == KavioMediaTypeNDI) {
        o.ndiInfoBox->show();
        makeHeightTo(170, o.sourceView);
        placeBox(o.durationBox, 54);
        for (const QString& title : KavioSourceMenus::ndiTitles(directories->ndiSources(), directories->hostName()))
            o.videoSourcePopup->addItemWithTitle(title);
    } else if (type == KavioMediaTypeSyphon) {
        for (const QString& title : KavioSourceMenus::syphonTitles(directories->syphonServers()))
            o.videoSourcePopup->addItemWithTitle(title);
        makeHeightTo(130, o.sourceView);
        placeBox(o.durationBox, 14);
    } else if (type == KavioMediaTypeCamera) {
        const QList<KavioSourceMenuEntry> entries =
            KavioSourceMenus::captureEntries(directories->deckLinkDevices(), directories->captureDevices());
        if (entries.isEmpty()) {
            o.videoSourcePopup->setEnabled(false);
            makeHeightTo(130, o.sourceView);
            placeBox(o.durationBox, 14);
            return;
        }
        o.videoSourcePopup->setEnabled(true);
        for (const KavioSourceMenuEntry& entry : entries) {
            o.videoSourcePopup->addItemWithTitle(entry.title);
            o.videoSourcePopup->setItemRepresentedObject(o.videoSourcePopup->indexOfItemWithTitle(entry.title),
                                                         entry.identifier ? QVariant(*entry.identifier) : QVariant());
        }
        handleDecklinkFormatPopup();
    }
}

void KavioVideoItemPreferencesController::selectVideoSource()
{
    const QString name = KavioSourceMenus::nameWithoutDisconnected(o_.videoSourcePopup->titleOfSelectedItem());
    const QVariant identifier = o_.videoSourcePopup->representedObjectOfSelectedItem();
    const QString deviceUID = identifier.isValid() ? identifier.toString() : QString();
    applyToSelectedItems(QStringLiteral("Change Video Sources"),
                         [this, &name, &deviceUID](const QString& uid) { undoSelectVideoSource(name, deviceUID, uid); });
}

void KavioVideoItemPreferencesController::undoSelectVideoSource(const QString& name, const QString& deviceUID,
                                                                const QString& uid)
{
    const auto item = itemWithUID(uid);
    if (!item)
        return;
    markUnsaved();
    const QString oldPath = item->mediaPath();
    const QString oldUID = item->deviceUID();
    bool switched = true;
    switch (item->mediaType()) {
    case KavioMediaTypeCamera:
        item->switchCameraTo(name, deviceUID);
        break;
    case KavioMediaTypeSyphon:
        item->switchSyphonTo(name);
        break;
    case KavioMediaTypeNDI:
        item->switchNDITo(name);
        break;
    default:
        switched = false;
    }
    // The format popup and the layout follow the new device.
    if (switched)
        pullCurrentItemData();
    registerInverse(QStringLiteral("Change Video Source"), [oldPath, oldUID, uid](KavioVideoItemPreferencesController& self) {
        self.undoSelectVideoSource(oldPath, oldUID, uid);
    });
}

// --- DeckLink formats ------------------------------------------------------------------------------

void KavioVideoItemPreferencesController::handleDecklinkFormatPopup()
{
    KavioVideoItemPreferencesOutlets& o = o_;
    if (!decklinkSettingsSupportedOnSelectedItems()) {
        makeHeightTo(130, o.sourceView);
        placeBox(o.durationBox, 14);
        return;
    }
    KavioPopUpButton* popup = o.deckLinkFormatPopup;
    popup->show();
    popup->removeAllItems();
    const KavioVideoItemList selected = items();
    QList<QStringList> devices;
    for (const auto& item : selected)
        devices.append({item->mediaPath(), item->deviceUID()});
    const auto formats = KavioInspectorSourceDirectories::shared()->commonDeckLinkFormats(devices);
    for (const KavioFormatMenuItem& entry : formats.value_or(QList<KavioFormatMenuItem>())) {
        popup->addItemWithTitle(entry.title);
        popup->setItemRepresentedObject(popup->indexOfItemWithTitle(entry.title), QVariant::fromValue(entry.format));
    }
    // As a platform popup does, a filled menu starts on its first entry.
    popup->selectItemAtIndex(0);

    if (selected.size() == 1) {
        const auto& item = selected.front();
        const QString format = item->decklinkFormatString();
        if (!format.isEmpty())
            popup->selectItemWithTitle(format);
        else if (popup->indexOfSelectedItem() >= 0)
            item->setDecklinkFormatString(popup->titleOfSelectedItem());
    } else {
        const QString reference = selected.front()->decklinkFormatString();
        const bool same = std::all_of(selected.begin(), selected.end(),
                                      [&](const auto& item) { return item->decklinkFormatString() == reference; });
        if (!same) {
            popup->insertItem(kKavioMixedTitle, 0);
            popup->setItemEnabled(0, false);
            popup->selectItemAtIndex(0);
        } else if (!popup->selectItemWithTitle(reference)) {
            KLOG_VERBOSE("error, common format not in the list: {}", reference.toStdString());
        }
    }
    makeHeightTo(170, o.sourceView);
    o.deckLinkFormatBox->show();
    placeBox(o.deckLinkFormatBox, 87);
    placeBox(o.durationBox, 14);
}

void KavioVideoItemPreferencesController::changeDeckLinkFormat()
{
    const QString title = o_.deckLinkFormatPopup->titleOfSelectedItem();
    applyToSelectedItems(QStringLiteral("Change Decklink Formats"), [this, &title](const QString& uid) { undoChangeFormat(title, uid); });
}

void KavioVideoItemPreferencesController::undoChangeFormat(const QString& title, const QString& uid)
{
    const auto item = itemWithUID(uid);
    const int index = o_.deckLinkFormatPopup->indexOfItemWithTitle(title);
    if (!item || index < 0)
        return;
    markUnsaved();
    const QString old = item->decklinkFormatString();
    item->setDecklinkFormatString(title);
    const auto format = o_.deckLinkFormatPopup->itemAtIndex(index).representedObject.value<KavioVideoFormatRef>();
    KavioInspectorSourceDirectories::shared()->setVideoFormat(format, item->mediaPath(), item->deviceUID());
    registerInverse(QStringLiteral("Change Decklink Format"),
                    [old, uid](KavioVideoItemPreferencesController& self) { self.undoChangeFormat(old, uid); });
}

void KavioVideoItemPreferencesController::deckLinkFormatChangedOnDevice(const KavioVideoFormatRef& format)
{
    if (!format)
        return;
    o_.deckLinkFormatPopup->selectItemWithTitle(KavioCameraManager::displayModeNameWithDisplayModeNumber(format->displayMode));
}

// --- Window section --------------------------------------------------------------------------------

void KavioVideoItemPreferencesController::buildWindowSourceMenu()
{
    o_.windowSourcePopup->removeAllItems();
    for (const QVariantList& entry : KavioInspectorSourceDirectories::shared()->windowSources())
        if (!entry.isEmpty())
            o_.windowSourcePopup->addItemWithTitle(entry.first().toString());
}

void KavioVideoItemPreferencesController::reloadWindowSources()
{
    handleWindowSourcePopup();
}

void KavioVideoItemPreferencesController::changeWindowSource()
{
    const QString name = KavioSourceMenus::nameWithoutDisconnected(o_.windowSourcePopup->titleOfSelectedItem());
    applyToSelectedItems(QStringLiteral("Change Window Source"), [this, &name](const QString& uid) { undoChangeWindowSource(name, uid); });
}

void KavioVideoItemPreferencesController::undoChangeWindowSource(const QString& name, const QString& uid)
{
    const auto item = itemWithUID(uid);
    if (!item || item->mediaType() != KavioMediaTypeWindow)
        return;
    markUnsaved();
    const QString old = item->mediaPath();
    item->switchWindowSourceTo(name);
    giveKeyboardToCueList();
    registerInverse(QStringLiteral("Change Window Source"),
                    [old, uid](KavioVideoItemPreferencesController& self) { self.undoChangeWindowSource(old, uid); });
}

void KavioVideoItemPreferencesController::changeShowCursor()
{
    const bool showCursor = o_.windowSourceShouldShowCursor->state() == 1;
    applyToSelectedItems(QStringLiteral("Change Window Source Show Cursor"),
                         [this, showCursor](const QString& uid) { undoChangeShowCursor(showCursor, uid); });
}

void KavioVideoItemPreferencesController::undoChangeShowCursor(bool showCursor, const QString& uid)
{
    const auto item = itemWithUID(uid);
    if (!item || item->mediaType() != KavioMediaTypeWindow)
        return;
    markUnsaved();
    const bool old = item->windowSourceShowCursor();
    item->setWindowSourceShowCursor(showCursor);
    if (item == currentItem())
        o_.windowSourceShouldShowCursor->setState(item->windowSourceShowCursor() ? 1 : 0);
    giveKeyboardToCueList();
    registerInverse(QStringLiteral("Change Window Source Show Cursor"),
                    [old, uid](KavioVideoItemPreferencesController& self) { self.undoChangeShowCursor(old, uid); });
}
