#pragma once
// One cue's row in the cue list. The row draws its background, colour-tag tint and edges, turns
// clicks into selection changes (Shift a range from the last-clicked row, Ctrl a toggle), opens
// the cue's context menu on a right click, loads the cue on a double click and, after a press
// held 250 ms, starts a drag (QDrag of "com.dalvek.kavioitemtrackdata", move only, accepted only
// from rows of this process) that reorders the selected cues live as the pointer passes other
// rows, as one undo step. Hold and double click work only on the internal clock (playback mode 0).
//
// The subviews are the cue's outlets: the cue builds them (KavioVideoItem::loadNib) and keeps
// them up to date; the row only holds them. Main thread.

#include <QImage>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <memory>
#include <vector>

class KavioAudioMeterInterface;
class KavioBoxView;
class KavioButton;
class KavioColorTagButton;
class KavioGotoTextButton;
class KavioImageView;
class KavioThumbnailView;
class KavioVideoItem;
class KavioVideoItemManager;
class KavioVideoItemStateView;
class QLabel;
class QTimer;

// The drag type of a row reorder: the dragged cues' uids, one a line, in list order.
inline const QString kKavioItemTrackDataType = QStringLiteral("com.dalvek.kavioitemtrackdata");

class KavioVideoItemView : public QWidget {
public:
    static constexpr int kExpandedHeight = 90;
    static constexpr int kCollapsedHeight = 30;
    static constexpr int kHoldMilliseconds = 250;

    explicit KavioVideoItemView(QWidget* parent = nullptr);
    ~KavioVideoItemView() override;

    std::shared_ptr<KavioVideoItem> videoItem() const { return videoItem_.lock(); }
    void setVideoItem(const std::shared_ptr<KavioVideoItem>& item) { videoItem_ = item; }
    bool drawsDraggingLocation() const { return drawsDraggingLocation_; }
    void setDrawsDraggingLocation(bool draws);
    // Any thread: the mark goes off on the main queue.
    void removeDraggingLocation();
    // True for nullptr, this row or one of its direct subviews.
    bool isRelatedToObject(const QObject* object) const;
    // Makes the cue the only selected one when it is not selected.
    void selectItemIfNotSelected();
    // The fanned stack of the dragged rows' pictures: (W + 5(n - 1)) x (5n + 75).
    QImage sourceImageForDrag(const std::vector<std::shared_ptr<KavioVideoItem>>& dragged) const;
    // The cues of the drag under way, in list order; empty when none.
    const std::vector<std::shared_ptr<KavioVideoItem>>& draggingItems() const { return draggingItems_; }
    // Called by the owning cue when it is torn down.
    void removeResources();

    // Whether the cue has made the subviews below (KavioVideoItem::buildRowSubviews).
    bool hasSubviews() const { return thumbnailView != nullptr; }
    // Shows a thumbnail (a PDF page letterboxed), or keeps it until the subviews are made.
    void showThumbnail(const QImage& image, bool isPage);
    // Shows the thumbnail kept while there was no thumbnail view.
    void showPendingThumbnail();

    // --- Outlets the cue fills ----------------------------------------------------------------
    KavioThumbnailView* thumbnailView = nullptr;
    KavioVideoItemStateView* stateView = nullptr;
    QLabel* nameField = nullptr;
    QLabel* indexField = nullptr;
    KavioImageView* mediaTypeIconField = nullptr;
    KavioColorTagButton* colorTagButton = nullptr;
    KavioButton* openButton = nullptr;
    KavioButton* errorButton = nullptr;
    KavioButton* soundButton = nullptr;
    KavioButton* fadeInButton = nullptr;
    KavioButton* fadeOutButton = nullptr;
    KavioButton* transitionButton = nullptr;
    KavioButton* loopButton = nullptr;
    KavioButton* pauseAtBeginningButton = nullptr;
    KavioButton* pauseAtEndButton = nullptr;
    KavioButton* gotoButton = nullptr;
    KavioGotoTextButton* gotoTargetButton = nullptr;
    KavioBoxView* togglesBox = nullptr;
    QLabel* loopCountField = nullptr;
    QLabel* startTimeField = nullptr;
    QLabel* endTimeField = nullptr;
    QLabel* endTimeLabel = nullptr;
    KavioButton* collapseExpandButton = nullptr;
    // The level meter; nullptr until one is made. Not owned.
    KavioAudioMeterInterface* audioMeterView = nullptr;
    QWidget* audioMeterWidget = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    std::shared_ptr<KavioVideoItemManager> controller() const;
    void rightMouseDown(const QPoint& globalPosition);
    // The range selection and last-clicked steps every left press runs.
    void pressSelection(Qt::KeyboardModifiers modifiers);
    // The hold check: starts the reorder when the press is still held.
    void mouseWasHeld();
    void startReorderDrag();
    void endReorderDrag();
    void kavioViewSelected(const QObject* object);

    std::weak_ptr<KavioVideoItem> videoItem_;
    bool drawsDraggingLocation_ = false;
    // The press that may become a hold: set on a single press, cleared by release or exit.
    bool hasCachedEvent_ = false;
    Qt::KeyboardModifiers cachedModifiers_;
    QTimer* mouseheldTimer_ = nullptr;
    std::vector<std::shared_ptr<KavioVideoItem>> draggingItems_;
    std::uint64_t viewSelectedToken_ = 0;
    QImage pendingThumbnail_;
    bool pendingThumbnailIsPage_ = false;
};
