#include "Shell/KavioWindow.h"

#include "NotificationCenter.h"
#include "UndoManager.h"

#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>

namespace {
// Items keep the enabled state their owner gave them; validation may only take it away.
const char* const kOwnEnabledProperty = "kavioOwnEnabled";
}

KavioWindow::KavioWindow(UndoManager& undoManager, QWidget* parent)
    : QMainWindow(parent), undoManager_(undoManager)
{
}

bool KavioWindow::validateMenuItem(const QAction* item) const
{
    if (!item)
        return false;
    if (item == performCloseItem_ && isActiveWindow())
        return false;
    if (undoIsDisabled_) {
        const QString title = item->text();
        if (title == undoManager_.undoMenuItemTitle() || title == undoManager_.redoMenuItemTitle())
            return false;
    }
    const QVariant own = item->property(kOwnEnabledProperty);
    return own.isValid() ? own.toBool() : item->isEnabled();
}

void KavioWindow::validateMenuItems()
{
    // A shortcut may fire long after its menu was last shown: titles such as "Undo Edit" change.
    if (menuItemsRefresh_)
        menuItemsRefresh_();
    const auto walk = [this](auto&& self, const QList<QAction*>& actions) -> void {
        for (QAction* action : actions) {
            if (!action->property(kOwnEnabledProperty).isValid())
                action->setProperty(kOwnEnabledProperty, action->isEnabled());
            action->setEnabled(validateMenuItem(action) && (!menuItemValidator_ || menuItemValidator_(action)));
            if (QMenu* menu = action->menu())
                self(self, menu->actions());
        }
    };
    walk(walk, menuBar()->actions());
}

QByteArray KavioWindow::windowImageData()
{
    const QPixmap image = grab();
    if (image.isNull())
        return {};
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

void KavioWindow::closeEvent(QCloseEvent* event)
{
    // The main window is never closed by itself: its close button asks to quit.
    if (closeButtonHandler_ && closeButtonHandler_())
        event->accept();
    else
        event->ignore();
}

void KavioWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    NotificationCenter::defaultCenter().post(kKavioWindowResizedNotification);
}

bool KavioWindow::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        validateMenuItems();
        break;
    case QEvent::Show:
        NotificationCenter::defaultCenter().post(kKavioMainWindowWentVisibleNotification);
        break;
    case QEvent::Hide:
        NotificationCenter::defaultCenter().post(kKavioMainWindowWentOccludedNotification);
        break;
    default:
        break;
    }
    return QMainWindow::event(event);
}
