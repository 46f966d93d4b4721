#pragma once
// The cue list: the document view inside the main window's cue list scroll area, holding one
// row (KavioVideoItemView) per cue. It stacks the rows from the top in list order, grows to
// them (never shrinks), paints the background and, while empty, a centred hint; accepts files
// and folders dropped from a file manager (the first URL decides; folders give their direct
// playable entries sorted case-insensitively; symbolic links stand in for alias files); keeps
// the cue clipboard; and drives the list and the transport from the keyboard (Ctrl stands for
// the Command key). Main thread, except the hit-testing and drop marks of the list-view
// interface, which answer from the row frames kept under a lock.

#include "Views/KavioItemsViewInterface.h"

#include <QHash>
#include <QPointer>
#include <QRect>
#include <QSet>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <mutex>

class KavioVideoItemManager;
class KavioVideoItemView;
class QAction;
class QMimeData;
class QScrollArea;
class QTimer;

class KavioItemsView : public QWidget, public KavioItemsViewInterface {
public:
    explicit KavioItemsView(QWidget* parent = nullptr);
    ~KavioItemsView() override;

    // What the list reaches beyond the controller; set by the main window.
    struct Outlets {
        std::weak_ptr<KavioVideoItemManager> manager;
        // The list sits in it; scrolling, visibility and autoscroll go through it.
        QScrollArea* scrollArea = nullptr;
        // Tab hands the keyboard to it while stopped.
        QWidget* mainTimecodeField = nullptr;
        // Escape turns the video outputs off while one covers the main screen.
        std::function<bool()> isMainDisplayOnFullscreen;
        std::function<void()> toggleFullscreen;
    };
    void setOutlets(const Outlets& outlets);
    std::shared_ptr<KavioVideoItemManager> manager() const { return outlets_.manager.lock(); }

    // --- KavioItemsViewInterface --------------------------------------------------------------
    QPointF rearrangeItemsWithAnimation(bool animate) override;
    void refreshItemsViewWithScrollOption(int option) override;
    void scrollToItem(const std::shared_ptr<KavioVideoItem>& item) override;
    bool isItemVisible(const std::shared_ptr<KavioVideoItem>& item) const override;
    void refreshItem(const std::shared_ptr<KavioVideoItem>& item) override;
    // Grows to 15 + the rows' heights; never shrinks.
    void updateHeight() override;
    bool itemRowContainsPoint(const std::shared_ptr<KavioVideoItem>& item, const QPointF& point) const override;
    void moveStateViewToOrigin(const std::shared_ptr<KavioVideoItem>& item) override;
    void setStateViewHidden(const std::shared_ptr<KavioVideoItem>& item, bool hidden) override;
    void setDrawsDraggingLocation(const std::shared_ptr<KavioVideoItem>& item, bool draws) override;
    void becomeFirstResponder(bool onlyInActiveWindow) override;
    bool isFirstResponder() const override;

    // --- Drops --------------------------------------------------------------------------------
    // The lower-cased extension (" alias" removed) is a movie, image or audio format.
    bool isPlayableFile(const QString& extension) const;
    // Whether a drop of these URLs is taken: only the first decides.
    bool acceptsDroppedURLs(const QList<QUrl>& urls) const;
    // The paths a drop of these URLs hands to the controller, in order.
    QStringList pathsForDroppedURLs(const QList<QUrl>& urls) const;

    // --- Selection and the edit menu ---------------------------------------------------------
    void selectAll();
    void deselectAllItems();
    // Enables the edit actions by the list's state; run before a menu shows or a shortcut fires.
    void validateEditActions();
    struct EditActions {
        QAction* copy = nullptr;
        QAction* cut = nullptr;
        QAction* paste = nullptr;
        QAction* selectAll = nullptr;
        QAction* duplicate = nullptr;
    };
    void setEditActions(const EditActions& actions) { editActions_ = actions; }

    // --- Clipboard ----------------------------------------------------------------------------
    // The selected cues' records and summaries, taken now, as one clipboard entry.
    void copy();
    // Copy, then the selected cues are removed (undoable).
    void cut();
    void paste();
    bool canPaste() const;

    // Scrolls by 15 pixels when `point` (list coordinates) lies in the top or bottom 10 pixels
    // of the scroll area's visible part; a reorder drag calls it as it moves.
    void autoscrollAt(const QPoint& point);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Refuses drops while the clock follows timecode or a transcoding runs.
    bool dropsRefused() const;
    QStringList playableEntriesOfFolder(const QString& folder) const;
    void cueNumberTyped(const QString& character);
    KavioVideoItemView* rowOf(const std::shared_ptr<KavioVideoItem>& item) const;
    // Rows get their subviews only near the visible part of the list (all of them without a
    // scroll area); scrolling and layout fill the rows that come near.
    void fillRowsNearView();
    // Runs `task` on the main queue when called elsewhere; answers whether it was re-posted.
    bool repostToMain(std::function<void(KavioItemsView&)> task);

    Outlets outlets_;
    EditActions editActions_;
    QPoint lastDragPoint_;
    QString cuenumcache_;
    QTimer* cuenumTimer_ = nullptr;
    std::uint64_t deselectToken_ = 0;
    std::uint64_t resizeToken_ = 0;
    QMetaObject::Connection scrolled_;
    mutable std::mutex framesMutex_;
    QHash<const KavioVideoItem*, QRect> rowFrames_;
    QSet<const KavioVideoItem*> markedRows_;  // drop marks the list set, under framesMutex_
};
