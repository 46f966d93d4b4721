// Destinations: the displays and texture-type outputs of the destination pop-up, finding the
// display a stored destination means, and following displays as they come and go.
#include "Outputs/KavioVideoOutputManager.h"

#include "Outputs/KavioDeckLinkBrowser.h"

#include "Outputs/KavioOutputSetupControls.h"
#include "Views/KavioButton.h"
#include "Views/KavioPopUpButton.h"

#include "Log.h"
#include "NotificationCenter.h"
#include "UndoManager.h"
#include "UserDefaults.h"

#include <QAction>
#include <QPushButton>

namespace {

bool sameIdentity(const KavioScreenInfo& a, const KavioScreenInfo& b)
{
    return a.serial == b.serial && a.vendor == b.vendor && a.model == b.model;
}

std::string pairText(const KavioNameAndInfo& pair)
{
    return QString::asprintf("%s {%u, %u, %u, %u}", pair.title.toUtf8().constData(), pair.info.serial,
                             pair.info.vendor, pair.info.model, pair.info.displayid)
        .toStdString();
}

}  // namespace

QString KavioVideoOutputManager::screenNameForDisplay(const KavioDisplay& display) const
{
    const QSizeF size = display.frame.size();
    if (display.isMain)
        return QString::asprintf("%s (Main Display - %.0f x %.0f)", display.name.toUtf8().constData(), size.width(),
                                 size.height());
    return QString::asprintf("%s (%.0f x %.0f)", display.name.toUtf8().constData(), size.width(), size.height());
}

std::vector<KavioNameAndInfo> KavioVideoOutputManager::screenNamesAndInfo() const
{
    std::vector<KavioNameAndInfo> pairs;
    for (const KavioDisplay& display : displays_->displays()) {
        pairs.push_back({screenNameForDisplay(display), display.info});
        KLOG_DEBUG("screenNamesAndInfo current: {}", pairText(pairs.back()));
    }
    return pairs;
}

std::vector<KavioNameAndInfo> KavioVideoOutputManager::textureTypeOutputNames() const
{
    std::vector<KavioNameAndInfo> names;
    for (const auto& device : deckLinkBrowser().connectedDevices())
        if (device->playbackSupported())
            names.push_back({QString::fromStdString(device->displayName()), {}});
    names.push_back({QStringLiteral("NDI™"), {}});
    names.push_back({QStringLiteral("Syphon"), {}});
    return names;
}

void KavioVideoOutputManager::fillScreenPopup()
{
    KavioPopUpButton* popup = controls_->currentScreenPopup;
    popup->removeAllItems();
    for (const auto& pair : screenNamesAndInfo())
        appendPopUpItem(*popup, pair.title, 0, QVariant::fromValue(pair));
    popup->insertSeparatorItem(popup->numberOfItems());
    for (const auto& pair : textureTypeOutputNames())
        appendPopUpItem(*popup, pair.title, 0, QVariant::fromValue(pair));
}

void KavioVideoOutputManager::buildInitialScreenList()
{
    fillScreenPopup();
}

int KavioVideoOutputManager::menuItemForScreenWithNameAndInfo(const KavioNameAndInfo& pair) const
{
    const KavioPopUpButton* popup = controls_->currentScreenPopup;
    for (int i = 0; i < popup->numberOfItems(); ++i) {
        const QVariant object = popup->itemAtIndex(i).representedObject;
        if (object.canConvert<KavioNameAndInfo>() && object.value<KavioNameAndInfo>() == pair)
            return i;
    }
    return -1;
}

bool KavioVideoOutputManager::hasMultipleDisplaysWithSameNameAndResolution(const QString& title) const
{
    return countOfPopUpItemsWithTitle(*controls_->currentScreenPopup, title) >= 2;
}

std::optional<KavioDisplay> KavioVideoOutputManager::screenWithNameAndInfo(const KavioNameAndInfo& pair) const
{
    const auto displays = displays_->displays();
    for (const KavioDisplay& display : displays) {
        if (screenNameForDisplay(display) != pair.title || !sameIdentity(display.info, pair.info))
            continue;
        if (!hasMultipleDisplaysWithSameNameAndResolution(pair.title)) {
            KLOG_INFO("found screen!");
            return display;
        }
        if (display.info.displayid == pair.info.displayid) {
            KLOG_INFO("found screen (from multiple)!");
            return display;
        }
    }
    KLOG_INFO("possible error, cannot found screen: {}", pairText(pair));
    KLOG_INFO("=======");
    for (const KavioDisplay& display : displays)
        KLOG_INFO("screenname: {}", screenNameForDisplay(display).toStdString());
    KLOG_INFO("=======");
    return std::nullopt;
}

bool KavioVideoOutputManager::itemMatchesOutput(int position, const KavioVideoOutputObject& output) const
{
    const KavioPopUpButton* popup = controls_->currentScreenPopup;
    const QVariant object = popup->itemAtIndex(position).representedObject;
    return object.canConvert<KavioNameAndInfo>() && popup->itemAtIndex(position).title == output.screenName()
           && sameIdentity(object.value<KavioNameAndInfo>().info, output.screenInfo());
}

void KavioVideoOutputManager::addDisconnectedItem(const KavioNameAndInfo& pair)
{
    appendPopUpItem(*controls_->currentScreenPopup, disconnectedNameForScreenName(pair.title), 0, QVariant::fromValue(pair));
    disconnectedScreens_.insert(pair);
}

void KavioVideoOutputManager::refreshScreensList()
{
    KLOG_INFO("refreshScreensList - so displays probably attached/detached or re-arranged...");
    auto current = screenNamesAndInfo();
    for (const auto& pair : textureTypeOutputNames())
        current.push_back(pair);
    for (const auto& pair : current) {
        if (disconnectedScreens_.erase(pair) > 0)
            KLOG_INFO("previously disconnected screen is available again: {}", pairText(pair));
    }
    fillScreenPopup();
    bool missing = false;
    for (const auto& output : outputObjects_) {
        const KavioNameAndInfo pair{output->screenName(), output->screenInfo()};
        bool found = false;
        for (int i = 0; i < controls_->currentScreenPopup->numberOfItems(); ++i) {
            if (!itemMatchesOutput(i, *output))
                continue;
            found = true;
            const bool wasOnline = output->isOnline();
            output->setIsOnline(true);
            if (!wasOnline && shouldOutput_.load())
                output->orderFront();
            else
                KLOG_INFO("reconnected: {}", controls_->currentScreenPopup->itemAtIndex(i).title.toStdString());
            if (!wasOnline) {
                if (const auto display = screenWithNameAndInfo(pair))
                    output->changeFrameIfNeeded(display->frame);
                else if (output->videoOutputType() != KavioVideoOutputTypeScreen)
                    applyScreenNameAndInfo(pair, output);
                break;
            }
        }
        if (!found) {
            KLOG_INFO("add disconnected screen: {}", pair.title.toStdString());
            addDisconnectedItem(pair);
            output->setIsOnline(false);
            output->orderOut();
            missing = true;
        }
    }
    handleHasDisconnectedSreens(missing);
    updateUIAfterScreenSelected();
    if (defaults_.boolForKey("disableDisplayMirroring"))
        disableDisplayMirroring();
    checkOutputsForBestRenderMethod();
}

void KavioVideoOutputManager::checkHasDisconnectedScreens()
{
    bool any = false;
    for (const auto& output : outputObjects_)
        any = any || !output->isOnline();
    handleHasDisconnectedSreens(any);
}

void KavioVideoOutputManager::handleHasDisconnectedSreens(bool hasDisconnected)
{
    if (hasDisconnected) {
        controls_->fullscreenButton->hide();
        controls_->fullscreenErrorButton->show();
    } else if (controls_->fullscreenButton->isHidden()) {
        controls_->fullscreenButton->show();
        controls_->fullscreenErrorButton->hide();
    }
}

void KavioVideoOutputManager::undoChangeScreen(const KavioNameAndInfo& pair, unsigned long screenIndex)
{
    KLOG_INFO("undochangescreen...");
    executeAndSkipRenderAtTheEndOfTheCurrentRenderPass([this, pair, screenIndex] {
        undoManager_->disableUndoRegistration();
        postUnsavedChanges();
        selectScreenAtIndex(screenIndex);
        OutputPtr output = outputAtIndex(screenIndex);
        if (!output) {
            undoManager_->enableUndoRegistration();
            return;
        }
        const KavioNameAndInfo old{output->screenName(), output->screenInfo()};
        if (output->isFullscreen())
            output->orderOut();
        output->setScreenInfo(pair.info);
        if (disconnectedScreens_.count(pair)) {
            QString name = pair.title;
            name.remove(" - DISCONNECTED");
            output->setScreenName(name);
            output->setFrame(QRectF(0, 0, 1920, 1080));
            KLOG_INFO("no screen found: {} new frame: {{{{0, 0}}, {{1920, 1080}}}}", name.toStdString());
            output->setIsOnline(false);
        } else {
            output->setScreenName(pair.title);
            output->setIsOnline(true);
            applyScreenNameAndInfo(pair, output);
        }
        updateUIAfterScreenSelected();
        NotificationCenter::defaultCenter().post("KavioRenderSizeChanged");
        checkOutputsForBestRenderMethod();
        undoManager_->enableUndoRegistration();
        undoManager_->registerUndo(this, [this, old, screenIndex] { undoChangeScreen(old, screenIndex); });
        undoManager_->setActionName("Change Screen");
        checkHasDisconnectedScreens();
    });
}

void KavioVideoOutputManager::applyScreenNameAndInfo(const KavioNameAndInfo& pair, const OutputPtr& output)
{
    const QSizeF resolution = renderResolution();
    if (pair.title == "Syphon") {
        output->setVideoOutputType(KavioVideoOutputTypeSyphon);
        output->changeFrameIfNeeded(QRectF(QPointF(0, 0), resolution));
    } else if (pair.title == QStringLiteral("NDI™")) {
        output->setVideoOutputType(KavioVideoOutputTypeNDI);
        bindNDIDestination(output);
    } else if (auto device = deckLinkBrowser().deviceWithName(pair.title);
               device && device->playbackSupported()) {
        output->setVideoOutputType(KavioVideoOutputTypeDeckLink);
        bindDecklinkDestination(output, device);
    } else {
        output->setVideoOutputType(KavioVideoOutputTypeScreen);
        KLOG_INFO("screennameandinfo: {}", pairText(pair));
        const auto display = screenWithNameAndInfo(pair);
        output->changeFrameIfNeeded(display ? display->frame : QRectF());
        KLOG_INFO("screen found: {}", KavioVideoOutputObject::stringFromRect(output->frame()).toStdString());
    }
    if (!isLoadingProject_ && controls_->fullscreenMenuItem->isChecked() && output->isOnline())
        output->orderFront();
}
