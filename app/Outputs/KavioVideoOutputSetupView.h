#pragma once
// KavioVideoOutputSetupView: the output set-up window's geometry editor. It shows one output
// (the manager chooses it with setOutputObj) as four corner handles over a checkerboard warped
// through that output's projection, and edits the output's corners, edge blending and the
// canvas's zoom. Every edit is written into the output at once and is one step on the set-up
// window's undo manager, with "ProjectHasUnsavedChanges" posted before it:
//   - a drag ("Move Corner Point", discardable, one group per drag), typed corner values and
//     arrow keys (whole pixels, clamped to the fields' bounds), "Reset Corners";
//   - "Set Edge Blending" and "Reset Edge Blending" (not discardable), copied to the
//     neighbours by the manager;
//   - "Change Zoom Level", registered only while registration is on.
// An undo of another output's step first switches the canvas to that output.
//
// Drawn y upwards (the handles' coordinates count that way). The inner area (bounds inset by
// 18) stands for the whole output picture. An output of zero size (its screen is missing) and a
// canvas too small for a travel range write no corners.
//
// The warp preview renders the checkerboard through the projection pipeline on a command
// buffer of its own from the shared queue, waits for it on the main thread and reads it back.
//
// Main thread only.

#include <QImage>
#include <QPointF>
#include <QWidget>

#include <array>
#include <memory>

class GpuRenderPipeline;
class KavioButton;
class KavioControllableTextField;
class KavioPopUpButton;
class KavioScrollView;
class KavioVideoOutputCornerHandle;
class KavioVideoOutputManager;
class KavioVideoOutputObject;
class QVTMetalManager;
struct KavioEdgeBlendSettings;
class UndoManager;

class KavioVideoOutputSetupView : public QWidget {
public:
    // The controls the canvas reads and fills; all placed by the set-up window.
    struct Outlets {
        KavioControllableTextField* currentCornerX = nullptr;
        KavioControllableTextField* currentCornerY = nullptr;
        KavioPopUpButton* zoomPopup = nullptr;  // "Fit" and "<n>%" items
        KavioControllableTextField* edgeBlendWidthLeft = nullptr;
        KavioControllableTextField* edgeBlendWidthRight = nullptr;
        KavioControllableTextField* edgeBlendWidthTop = nullptr;
        KavioControllableTextField* edgeBlendWidthBottom = nullptr;
        KavioControllableTextField* edgeBlendPowerLeft = nullptr;
        KavioControllableTextField* edgeBlendPowerRight = nullptr;
        KavioControllableTextField* edgeBlendPowerTop = nullptr;
        KavioControllableTextField* edgeBlendPowerBottom = nullptr;
        KavioButton* edgeBlendResetButton = nullptr;
        KavioScrollView* warpViewScrollView = nullptr;  // holds the canvas
    };

    KavioVideoOutputSetupView(QVTMetalManager& gpu, QWidget* parent = nullptr);
    ~KavioVideoOutputSetupView() override;

    // Connects the controls' actions and the manager, makes the handles and the preview
    // pipeline. `manager` and `undo` outlive the canvas.
    void awakeFromNib(const Outlets& outlets, KavioVideoOutputManager* manager, UndoManager* undo);
    const Outlets& outlets() const { return outlets_; }

    // --- Called by the output manager
    std::shared_ptr<KavioVideoOutputObject> outputObj() const { return outputObj_.lock(); }
    void setOutputObj(const std::shared_ptr<KavioVideoOutputObject>& output);
    void redrawWithNewSettings();
    void edgeBlendToggled(bool state);

    // --- Actions of the controls
    void changeSelectedCornerPoint();
    void resetHandles();
    void changeEdgeBlending();
    void resetEdgeBlend();
    void changeZoomLevel();

    // --- From the handles
    void deselectHandles();
    void handleSelected(KavioVideoOutputCornerHandle* handle);
    void handleChanged(KavioVideoOutputCornerHandle* handle, QPointF origin, QPointF previousOrigin);
    UndoManager* undoManager() const { return undo_; }

    // --- The undoable steps
    // Moves the handle to `origin`; its undo returns it to where it stood before this step.
    void undoChangeHandle(KavioVideoOutputCornerHandle* handle, QPointF origin, unsigned long screenIndex);
    void undoChangeSelectedCornerPoint(KavioVideoOutputCornerHandle* handle, QPointF pixelValue,
                                       unsigned long screenIndex);
    void undoChangeEdgeBlendSettingsTo(const KavioEdgeBlendSettings& settings, unsigned long screenIndex);
    void undoChangeZoomLevel(const QString& level);
    // The level without "%" ("Fit", "100"); empty: the pop-up's selection.
    void handleChangeZoomToLevel(const QString& level);

    void setCornerCoordinatesOnOutput();
    void readCornerCoordinatesFromCurrentOutput();
    void redrawAndSetCoornerCoordinatesWithHandle(KavioVideoOutputCornerHandle* handle);
    // The first selected handle: bottom-left, bottom-right, top-right, top-left; or nullptr.
    KavioVideoOutputCornerHandle* selectedHandle() const;
    bool hasSelectedPin() const { return selectedHandle() != nullptr; }

    KavioVideoOutputCornerHandle* bottomLeftHandle() const { return handles_[0]; }
    KavioVideoOutputCornerHandle* bottomRightHandle() const { return handles_[1]; }
    KavioVideoOutputCornerHandle* topRightHandle() const { return handles_[2]; }
    KavioVideoOutputCornerHandle* topLeftHandle() const { return handles_[3]; }

    // --- The warp preview
    // The 8 x 8 checkerboard of the inner area's size (premultiplied BGRA; the bottom-left cell
    // filled); nothing for an empty inner area.
    void createhelperImage();
    // `source` drawn through the shown output's projection; a null image when there is no
    // pipeline, output or source.
    QImage createBackgroundWithSource(const QImage& source);
    const QImage& sourceBackGround() const { return sourceBackGround_; }
    const QImage& perspectiveCorrectBackground() const { return perspectiveCorrectBackground_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void postUnsavedChanges();
    void selectScreenAtIndex(unsigned long index);
    void fillEdgeBlendFields();
    void invalidateCornerFields(bool enabled);
    QRectF innerArea() const;

    QVTMetalManager& gpu_;
    Outlets outlets_;
    KavioVideoOutputManager* outputManager_ = nullptr;
    UndoManager* undo_ = nullptr;
    std::array<KavioVideoOutputCornerHandle*, 4> handles_{};
    std::weak_ptr<KavioVideoOutputObject> outputObj_;
    QImage sourceBackGround_;
    QImage perspectiveCorrectBackground_;
    std::shared_ptr<GpuRenderPipeline> pipelineState_;
};
