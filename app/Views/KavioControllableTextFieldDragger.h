#pragma once
// The grip of a KavioControllableTextField: three bars at the field's right edge. Dragging it
// steps the field's value; the whole drag is one undo group on the window's undo manager.
//
// The pointer is hidden and held where the drag began (it is moved back after every step), so
// a long drag never runs into the screen's edge. Where the windowing system refuses to move the
// pointer (Wayland) it stays visible and each step is measured from the previous position. The
// pointer comes back at mouse-up, and also when the field loses the focus, the window loses
// activation or the grip is hidden, so a lost mouse-up never leaves it hidden. Main thread.

#include <QPoint>
#include <QWidget>

class KavioControllableTextField;
class UndoManager;

class KavioControllableTextFieldDragger : public QWidget {
    Q_OBJECT
public:
    explicit KavioControllableTextFieldDragger(KavioControllableTextField* delegate);
    ~KavioControllableTextFieldDragger() override;

    KavioControllableTextField* delegate() const { return delegate_; }
    bool isDragging() const { return dragging_; }
    // Ends a drag: the pointer shows again and the undo group closes. Nothing when idle.
    void endDrag();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    UndoManager* undoManager() const;
    void showPointer();

    KavioControllableTextField* delegate_;
    bool dragging_ = false;
    bool undogrouppingstarted = false;
    bool pointerHidden_ = false;
    QPoint anchor_;
    QPoint last_;
};
