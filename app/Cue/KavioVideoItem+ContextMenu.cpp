#include "Cue/KavioVideoItem.h"

#include "Log.h"
#include "NotificationCenter.h"
#include "Support/KavioFileManager.h"
#include "Views/KavioColorTagIndicator.h"
#include "Views/KavioColorTagView.h"

#include <QGuiApplication>
#include <QMenu>
#include <QWidgetAction>

namespace {

// A toggle entry of the menu: its singular and plural titles, the row button it mirrors and
// the cue's action it runs.
struct ToggleEntry {
    const char* title;
    const char* pluralTitle;  // nullptr: no plural form
    KavioRowButton& button;
    bool showsState;
    std::function<void(KavioVideoItem&)> action;
};

// A toggle's action as the menu item runs it.
std::function<void(KavioVideoItem&)> fromMenu(void (KavioVideoItem::*action)(KavioToggleSender))
{
    return [action](KavioVideoItem& cue) { (cue.*action)(KavioToggleSender::MenuItem); };
}

}  // namespace

std::unique_ptr<QMenu> KavioVideoItem::rightClickMenu()
{
    auto menu = std::make_unique<QMenu>();
    const auto controller = manager();
    const long selected = controller ? long(controller->selectedItems().size()) : 0;
    const bool playing = controller && controller->isPlaying();
    const std::weak_ptr<KavioVideoItem> weakSelf = weak_from_this();
    const auto add = [&](const QString& title, bool enabled, std::function<void()> run = {}) {
        // A lone "&" would mark a shortcut letter in a Qt menu.
        QAction* item = menu->addAction(QString(title).replace(QLatin1Char('&'), QStringLiteral("&&")));
        item->setEnabled(enabled);
        if (run)
            QObject::connect(item, &QAction::triggered, item, std::move(run));
        return item;
    };

    const auto action = [weakSelf](void (KavioVideoItem::*run)()) {
        return [weakSelf, run] {
            if (const auto cue = weakSelf.lock())
                ((*cue).*run)();
        };
    };
    add(QStringLiteral("Cut"), !playing, action(&KavioVideoItem::cutSelf));
    add(QStringLiteral("Copy"), true, action(&KavioVideoItem::copySelf));
    add(QStringLiteral("Paste"), controller && controller->canPaste(), action(&KavioVideoItem::pasteSelf));
    add(QStringLiteral("Copy Name"), true, action(&KavioVideoItem::copyNameToClipboard));
    add(QStringLiteral("Copy Cue ID"), true, action(&KavioVideoItem::copyCueIDToClipboard));
    add(QStringLiteral("Duplicate"), true, action(&KavioVideoItem::duplicateSelf));
    add(QStringLiteral("Make Seamless Loop"), selected < 2, action(&KavioVideoItem::makeSeamlessLoop));
    add(QStringLiteral("Delete"), !playing, action(&KavioVideoItem::deleteSelf));
    menu->addSeparator();

    if (isFileBased()) {
        add(QStringLiteral("Show In File Manager..."), true, [controller = std::weak_ptr(controller)] {
            if (const auto c = controller.lock())
                c->showInFinderAllSelected();
        });
        menu->addSeparator();
    }

    using K = KavioVideoItem;
    const ToggleEntry toggles[] = {
        {"Enable Audio", "Enable Audio on Selected Cues", soundButton_, true, fromMenu(&K::changeAudioOnSelectedItemsFromUI)},
        {"Normalize Audio", "Normalize Audio on Selected Cues", soundButton_, false,
         [](KavioVideoItem& cue) { cue.normalizeAudioOnSelectedItemsFromUI(); }},
        {"Enable Fade-In", "Enable Fade-In on Selected Cues", fadeInButton_, true,
         fromMenu(&K::changeFadeInOnSelectedItemsFromUI)},
        {"Enable Fade-Out", "Enable Fade-Out on Selected Cues", fadeOutButton_, true,
         fromMenu(&K::changeFadeOutOnSelectedItemsFromUI)},
        {"Enable Pause At Beginning", "Enable Pause At Beginning on Selected Cues", pauseAtBeginningButton_, true,
         fromMenu(&K::changePauseAtBeginningOnSelectedItemsFromUI)},
        {"Enable Pause At End", "Enable Pause at End on Selected Cues", pauseAtEndButton_, true,
         fromMenu(&K::changePauseAtEndOnSelectedItemsFromUI)},
        {"Enable Cue Looping", "Enable Cue Looping on Selected Cues", loopButton_, true,
         fromMenu(&K::changeLoopOnSelectedItemsFromUI)},
        {"Enable Transition to Next Cue", "Enable Transition to Next Cue on Selected Cues", transitionButton_, true,
         fromMenu(&K::changeTransitionOnSelectedItemsFromUI)},
        {"Enable Goto", nullptr, gotoButton_, true, fromMenu(&K::changeGotoOnSelectedItemsFromUI)},
    };
    for (size_t i = 0; i < std::size(toggles); ++i) {
        const ToggleEntry& toggle = toggles[i];
        const char* title = selected >= 2 && toggle.pluralTitle ? toggle.pluralTitle : toggle.title;
        std::function<void()> run = [weakSelf, action = toggle.action] {
            if (const auto self = weakSelf.lock())
                action(*self);
        };
        QAction* item = add(QString::fromLatin1(title), bool(toggle.button.enabled), std::move(run));
        if (toggle.showsState) {
            item->setCheckable(true);
            item->setChecked(int(toggle.button.state) == 1);
        }
        if (i == 1 || i == 3 || i == 5 || i == 7)
            menu->addSeparator();
    }
    add(QStringLiteral("Select & Show Goto Target"), selected < 2 && bool(gotoButton_.enabled), [weakSelf] {
        if (const auto self = weakSelf.lock())
            self->selectAndShowGotoTarget();
    });

    if (mediaType() == KavioMediaTypeMovie) {
        menu->addSeparator();
        const auto transcode = [weakSelf](int codec) {
            return [weakSelf, codec] {
                if (const auto self = weakSelf.lock())
                    self->transcodeVideo(codec);
            };
        };
        add(QStringLiteral("Transcode to ProRes..."), selected > 1 || (!isProRes() && !isHAP()), transcode(10))
            ->setData(10);
        add(QStringLiteral("Transcode to HAP..."), selected > 1 || !isHAP(), transcode(20))->setData(20);
    }
    if (controller && controller->isTranscoding())
        for (QAction* item : menu->actions())
            item->setEnabled(false);
    menu->addSeparator();

    auto* strip = new KavioColorTagView;
    strip->setFixedSize(200, 26);
    if (colorTag() != 0)
        strip->selectColorTag(colorTag());
    strip->setTarget([weakSelf](KavioColorTagIndicator& swatch) {
        if (const auto self = weakSelf.lock())
            self->handleColorTagSwitchTo(swatch.colorTag());
    });
    auto* colorTagItem = new QWidgetAction(menu.get());
    colorTagItem->setText(QStringLiteral("Color Tag"));
    colorTagItem->setDefaultWidget(strip);
    menu->addAction(colorTagItem);
    return menu;
}

void KavioVideoItem::handleColorTagSwitchTo(std::int32_t tag)
{
    switchColorTag(tag, false);
}

void KavioVideoItem::handleOwnColorTagSwitchTo(std::int32_t tag)
{
    switchColorTag(tag, true);
}

void KavioVideoItem::switchColorTag(std::int32_t tag, bool ownOnly)
{
    const auto controller = manager();
    if (!controller)
        return;
    const KavioVideoItemListSnapshot items = controller->items();
    const auto untagged = [&items] {
        long count = 0;
        if (items)
            for (const auto& item : *items)
                count += item->colorTag() == 0 ? 1 : 0;
        return count;
    };
    const long total = items ? long(items->size()) : 0;
    const long before = untagged();
    bool changed = false;
    const auto retag = [tag, &changed](KavioVideoItem& item) {
        if (item.colorTag() == tag)
            return;
        item.setColorTag(tag);
        changed = true;
    };
    if (ownOnly)
        retag(*this);
    else
        for (const auto& item : controller->selectedItems())
            retag(*item);
    // The record saves each cue's tag, so a new tag is a change to the project.
    if (changed)
        controller->setHasUnsavedChanges(true);
    const long after = untagged();
    if (before == after)
        return;
    if (after == total)
        NotificationCenter::defaultCenter().post(kKavioColorTagsShouldToggleNotification, nullptr,
                                                 {{kKavioColorTagsToggleDesiredStateKey, false}});
    else if (before == total)
        NotificationCenter::defaultCenter().post(kKavioColorTagsShouldToggleNotification, nullptr,
                                                 {{kKavioColorTagsToggleDesiredStateKey, true}});
}

QString KavioVideoItem::resolvedMediaPath() const { return resolvedPathForPath(mediaPath()); }

void KavioVideoItem::showInFinder() const
{
    if (!isFileBased())
        return;
    KavioFileManager::showItem(mediaPath());
}

void KavioVideoItem::transcodeVideo(int codec)
{
    if (const auto controller = manager())
        controller->transcodeSelectedCuesToCodec(codec);
}

bool KavioVideoItem::cmdState() { return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier); }
