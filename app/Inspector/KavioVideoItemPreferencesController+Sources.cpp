// The Browser section's page address, typed for every selected web-page cue or loaded again, and
// the Window section's cursor capture.

#include "Inspector/KavioVideoItemPreferencesController.h"

#include "Cue/KavioVideoItem.h"
#include "Views/KavioButton.h"
#include "Views/KavioTextField.h"

QString KavioVideoItemPreferencesController::browserURLForTypedText(const QString& text)
{
    return text.contains(QStringLiteral("://")) ? text : QStringLiteral("http://") + text;
}

void KavioVideoItemPreferencesController::changeBrowserURL()
{
    const QString url = browserURLForTypedText(o_.browserURLField->stringValue());
    applyToSelectedItems(QStringLiteral("Change Browser URL"), [this, &url](const QString& uid) { undoChangeBrowserURL(url, uid); });
}

void KavioVideoItemPreferencesController::undoChangeBrowserURL(const QString& url, const QString& uid)
{
    const auto item = itemWithUID(uid);
    if (!item || item->mediaType() != KavioMediaTypeBrowser)
        return;
    markUnsaved();
    const QString old = item->mediaPath();
    item->switchBrowserTo(url);
    o_.browserURLField->setStringValue(item->mediaPath());
    // The row is named after the page.
    item->refreshTitle();
    if (item == currentItem())
        handleTitleField();
    giveKeyboardToCueList();
    registerInverse(QStringLiteral("Change Browser URL"),
                    [old, uid](KavioVideoItemPreferencesController& self) { self.undoChangeBrowserURL(old, uid); });
}

void KavioVideoItemPreferencesController::browserReloadURL()
{
    const auto item = currentItem();
    if (!item || item->mediaType() != KavioMediaTypeBrowser)
        return;
    item->switchBrowserTo(item->mediaPath());
    o_.browserURLField->setStringValue(item->mediaPath());
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
