#include "Views/KavioControllableTextFieldDragger.h"

#include "Log.h"
#include "Shell/KavioWindow.h"
#include "UndoManager.h"
#include "Views/KavioControlStyle.h"
#include "Views/KavioControllableTextField.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

KavioControllableTextFieldDragger::KavioControllableTextFieldDragger(KavioControllableTextField* delegate)
    : QWidget(delegate), delegate_(delegate)
{
    setCursor(Qt::SizeVerCursor);
}

KavioControllableTextFieldDragger::~KavioControllableTextFieldDragger() { endDrag(); }

UndoManager* KavioControllableTextFieldDragger::undoManager() const
{
    auto* window = qobject_cast<KavioWindow*>(this->window());
    return window ? &window->undoManager() : nullptr;
}

void KavioControllableTextFieldDragger::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const double h = height() / 12.0;
    const QColor bar = KavioControlStyle::withAlpha(KavioControlStyle::restingColor(), delegate_->isEnabled() ? 1.0 : 0.5);
    for (const double row : {3.0, 5.0, 7.0})
        painter.fillRect(QRectF(0, row * h + 0.5, width() - 3.0, h), bar);
}

void KavioControllableTextFieldDragger::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !delegate_->isEnabled())
        return;
    dragging_ = true;
    undogrouppingstarted = false;
    anchor_ = last_ = event->globalPosition().toPoint();
    // Pointer warping is refused on Wayland; elsewhere the pointer hides and stays put.
    pointerHidden_ = !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    if (pointerHidden_)
        QGuiApplication::setOverrideCursor(Qt::BlankCursor);
}

void KavioControllableTextFieldDragger::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragging_ || !delegate_->isEnabled())
        return;
    const QPoint position = event->globalPosition().toPoint();
    // Moving the pointer back is itself reported as a move; it carries no step.
    const int dy = position.y() - last_.y();
    if (dy == 0)
        return;
    if (!undogrouppingstarted) {
        if (UndoManager* undo = undoManager())
            undo->beginUndoGrouping();
        undogrouppingstarted = true;
    }
    delegate_->stepByDrag(dy);
    if (pointerHidden_) {
        QCursor::setPos(anchor_);
        if (QCursor::pos() != anchor_)
            showPointer();  // refused: measure from where the pointer is
    }
    last_ = pointerHidden_ ? anchor_ : position;
}

void KavioControllableTextFieldDragger::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !dragging_)
        return;
    endDrag();
    if (QWidget* focused = window()->focusWidget())
        focused->clearFocus();
}

void KavioControllableTextFieldDragger::wheelEvent(QWheelEvent*) { KLOG_VERBOSE("scrollwheel"); }

void KavioControllableTextFieldDragger::showPointer()
{
    if (!pointerHidden_)
        return;
    pointerHidden_ = false;
    QGuiApplication::restoreOverrideCursor();
}

void KavioControllableTextFieldDragger::endDrag()
{
    if (!dragging_)
        return;
    dragging_ = false;
    showPointer();
    if (undogrouppingstarted) {
        undogrouppingstarted = false;
        if (UndoManager* undo = undoManager())
            undo->endUndoGrouping();
    }
}

void KavioControllableTextFieldDragger::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        endDrag();
    if (event->type() == QEvent::EnabledChange)
        update();
}

void KavioControllableTextFieldDragger::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    endDrag();
}
