#pragma once
// KavioWindow: the main window. Its close button quits the program (through the application
// delegate's quit question) instead of closing the window; Close, Undo and Redo menu items are
// validated before a menu opens or a shortcut fires. Main thread only.

#include <QByteArray>
#include <QMainWindow>

#include <functional>

class QAction;
class UndoManager;

// Posted on the default centre, no object.
inline const QString kKavioWindowResizedNotification = QStringLiteral("WindowResized");
inline const QString kKavioMainWindowWentVisibleNotification = QStringLiteral("KavioMainWindowWentVisible");
inline const QString kKavioMainWindowWentOccludedNotification = QStringLiteral("KavioMainWindowWentOccluded");

class KavioWindow : public QMainWindow {
    Q_OBJECT
public:
    // `undoManager` is the window's, owned by the caller and outliving the window.
    explicit KavioWindow(UndoManager& undoManager, QWidget* parent = nullptr);

    UndoManager& undoManager() const { return undoManager_; }
    // The transport turns undo off while playing: Undo and Redo are then unavailable.
    void enableUndo() { undoIsDisabled_ = false; }
    void disableUndo() { undoIsDisabled_ = true; }
    bool undoIsDisabled() const { return undoIsDisabled_; }
    void setUndoIsDisabled(bool disabled) { undoIsDisabled_ = disabled; }

    // The close button runs this instead of closing (the delegate's quitByCloseButton); the
    // window closes only when it answers true (the program is quitting).
    void setCloseButtonHandler(std::function<bool()> handler) { closeButtonHandler_ = std::move(handler); }
    // The menu item that closes windows: never enabled while this window is active.
    void setPerformCloseItem(QAction* item) { performCloseItem_ = item; }
    // Whether a menu item may run now: NO for Close while this window is active, NO for the
    // items titled as the undo manager's undo or redo item while undo is off; else the item's
    // own enabled state.
    bool validateMenuItem(const QAction* item) const;
    // Applies validateMenuItem, and then the application delegate's validator when one is set,
    // to every item of the menu bar (before a menu opens, before a shortcut fires), after
    // `refresh` has brought the items' titles and own states up to date.
    void validateMenuItems();
    void setMenuItemValidator(std::function<bool(QAction*)> validator) { menuItemValidator_ = std::move(validator); }
    void setMenuItemsRefresh(std::function<void()> refresh) { menuItemsRefresh_ = std::move(refresh); }

    // PNG of the window as it is drawn now; empty when there is nothing to grab.
    QByteArray windowImageData();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    UndoManager& undoManager_;
    bool undoIsDisabled_ = false;
    QAction* performCloseItem_ = nullptr;
    std::function<bool()> closeButtonHandler_;
    std::function<bool(QAction*)> menuItemValidator_;
    std::function<void()> menuItemsRefresh_;
};
