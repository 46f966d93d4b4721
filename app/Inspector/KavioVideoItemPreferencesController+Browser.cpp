// The Browser section: the page address, its style sheet, unloading while paused and the capture
// size, each for every selected web-page cue; the reload, and the page's window opened for the
// operator to use the page.

#include "Inspector/KavioVideoItemPreferencesController.h"

#include "Cue/KavioVideoItem.h"
#include "Views/KavioButton.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioTextField.h"

#include <QEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

namespace {

const QString kInteractionTitle = QStringLiteral("Kavio's Browser Cue");

// The interaction window's delegate: its close requests go to windowShouldClose, whose answer
// decides whether the window may close. It keeps the window's flags from before.
class InteractionDelegate : public QObject {
public:
    InteractionDelegate(KavioVideoItemPreferencesController& controller, QWindow* window)
        : parkedFlags(window->flags()), controller_(controller), window_(window)
    {
        window->installEventFilter(this);
    }

    const Qt::WindowFlags parkedFlags;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != window_ || event->type() != QEvent::Close)
            return false;
        if (!controller_.windowShouldClose(window_)) {
            event->ignore();
            return true;
        }
        return false;
    }

private:
    KavioVideoItemPreferencesController& controller_;
    QWindow* window_;
};

// Flags and modality take effect when a window is shown: it is shown again with them.
void restyle(QWindow* window, Qt::WindowFlags flags, Qt::WindowModality modality)
{
    window->hide();
    window->setFlags(flags);
    window->setModality(modality);
    window->show();
}

}  // namespace

// --- Address -------------------------------------------------------------------------------------

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

// --- Page settings -------------------------------------------------------------------------------

void KavioVideoItemPreferencesController::changeBrowserCustomCSS()
{
    const QString css = o_.browserCustomCSSField->stringValue();
    applyToSelectedItems(QStringLiteral("Change Browser Custom CSS"),
                         [this, &css](const QString& uid) { undoChangeBrowserCustomCSS(css, uid); });
}

void KavioVideoItemPreferencesController::undoChangeBrowserCustomCSS(const QString& css, const QString& uid)
{
    const auto item = itemWithUID(uid);
    if (!item || item->mediaType() != KavioMediaTypeBrowser)
        return;
    markUnsaved();
    const QString old = item->browserCustomCSS();
    item->setBrowserCustomCSS(css);
    // The sheet applies when the page loads.
    item->switchBrowserTo(item->mediaPath());
    giveKeyboardToCueList();
    registerInverse(QStringLiteral("Change Browser Custom CSS"),
                    [old, uid](KavioVideoItemPreferencesController& self) { self.undoChangeBrowserCustomCSS(old, uid); });
}

void KavioVideoItemPreferencesController::changeBroserUnloadOnPause(const KavioButton& sender)
{
    const bool unload = sender.state() == 1;
    applyToSelectedItems(QStringLiteral("Change Browser Should Unload"),
                         [this, unload](const QString& uid) { undoChangeBrowserUnloadOnPause(unload, uid); });
}

void KavioVideoItemPreferencesController::undoChangeBrowserUnloadOnPause(bool unload, const QString& uid)
{
    const auto item = itemWithUID(uid);
    if (!item || item->mediaType() != KavioMediaTypeBrowser)
        return;
    markUnsaved();
    const bool old = item->browserNeedsOnloadOnPause();
    item->setBrowserNeedsUnloadOnPause(unload);
    if (item == currentItem())
        o_.browserShouldUnloadOnPauseButton->setState(item->browserNeedsOnloadOnPause() ? 1 : 0);
    giveKeyboardToCueList();
    registerInverse(QStringLiteral("Change Browser Should Unload"),
                    [old, uid](KavioVideoItemPreferencesController& self) { self.undoChangeBrowserUnloadOnPause(old, uid); });
}

void KavioVideoItemPreferencesController::changeBrowserRenderSizeMultiplierTag()
{
    const auto tag = std::int32_t(o_.browserRenderSizeTagPopup->selectedTag());
    applyToSelectedItems(QStringLiteral("Change Browser Render Size"),
                         [this, tag](const QString& uid) { undoChangeBrowserRenderSizeMultiplierTag(tag, uid); });
}

void KavioVideoItemPreferencesController::undoChangeBrowserRenderSizeMultiplierTag(std::int32_t tag, const QString& uid)
{
    const auto item = itemWithUID(uid);
    if (!item || item->mediaType() != KavioMediaTypeBrowser)
        return;
    markUnsaved();
    const std::int32_t old = item->browserRenderSizeMultiplierTag();
    // The cue resizes its page capture at once.
    item->setBrowserRenderSizeMultiplierTag(tag);
    if (item == currentItem())
        o_.browserRenderSizeTagPopup->selectItemWithTag(item->browserRenderSizeMultiplierTag());
    giveKeyboardToCueList();
    registerInverse(QStringLiteral("Change Browser Render Size"), [old, uid](KavioVideoItemPreferencesController& self) {
        self.undoChangeBrowserRenderSizeMultiplierTag(old, uid);
    });
}

// --- Interaction window --------------------------------------------------------------------------

void KavioVideoItemPreferencesController::browserInteractWith()
{
    const auto item = currentItem();
    QWindow* window = item ? item->browserWindow() : nullptr;
    if (!window || interactionLoop_)
        return;
    interactionDelegate_ = std::make_unique<InteractionDelegate>(*this, window);
    window->setTitle(kInteractionTitle);
    // Shown again first: a page widget's window takes the widget's geometry when shown.
    restyle(window, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint, Qt::ApplicationModal);
    // The main screen less 100 wide and 200 high, centred on it. The window manager gives a
    // titled window its shadow.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect screenFrame = screen ? screen->geometry() : QRect();
    QRect frame(screenFrame.topLeft(), screen ? QSize(screenFrame.width() - 100, screenFrame.height() - 200) : QSize());
    frame.moveCenter(screenFrame.center());
    window->setGeometry(frame);
    window->raise();
    window->requestActivate();
    QEventLoop loop;
    interactionLoop_ = &loop;
    loop.exec();
    interactionLoop_ = nullptr;
}

bool KavioVideoItemPreferencesController::windowShouldClose(QWindow* window)
{
    const auto* delegate = static_cast<const InteractionDelegate*>(interactionDelegate_.get());
    const Qt::WindowFlags parked = delegate ? delegate->parkedFlags : window ? window->flags() : Qt::WindowFlags();
    // Later closes are no longer the inspector's; the filter itself goes once this close event
    // has been handled.
    if (QObject* filter = interactionDelegate_.release()) {
        if (window)
            window->removeEventFilter(filter);
        filter->deleteLater();
    }
    if (window) {
        window->setTitle(QString());
        restyle(window, parked | Qt::FramelessWindowHint, Qt::NonModal);
    }
    if (const auto item = currentItem())
        item->putBrowserWindowToSafeArea();
    if (interactionLoop_)
        interactionLoop_->quit();
    // Closing would end the page's rendering: the window stays open, out of sight.
    return false;
}
