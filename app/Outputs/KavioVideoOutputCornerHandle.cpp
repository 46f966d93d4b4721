#include "Outputs/KavioVideoOutputCornerHandle.h"

#include "Outputs/KavioVideoOutputSetupView.h"

#include "UndoManager.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {
const QColor kSelectionBlue = QColor::fromRgbF(0.0f, 0.656f, 0.929f);
const QColor kIdleGrey = QColor::fromRgbF(0.62f, 0.62f, 0.62f);
}  // namespace

KavioVideoOutputCornerHandle::KavioVideoOutputCornerHandle(KavioVideoOutputSetupView* delegate)
    : QWidget(delegate), delegate_(delegate)
{
    resize(kSize, kSize);
    setAttribute(Qt::WA_Hover);
}

QPointF KavioVideoOutputCornerHandle::frameOrigin() const
{
    return exactOrigin_;
}

void KavioVideoOutputCornerHandle::setFrameOrigin(QPointF origin)
{
    // Widget geometry is whole pixels: the exact origin is kept in the pixel value, the widget
    // stands at the nearest pixel.
    const QWidget* canvas = parentWidget();
    move(qRound(origin.x()), qRound(canvas->height() - origin.y() - kSize));
    exactOrigin_ = origin;
}

void KavioVideoOutputCornerHandle::calculateMaximums()
{
    maxX_ = parentWidget()->width() - 36.0;
    maxY_ = parentWidget()->height() - 36.0;
}

bool KavioVideoOutputCornerHandle::hasUsableRanges() const
{
    return maxX_ > 0 && maxY_ > 0 && pixelMaximum_.width() > 0 && pixelMaximum_.height() > 0;
}

QPointF KavioVideoOutputCornerHandle::normalizedDisplayCoordinates() const
{
    if (maxX_ <= 0 || maxY_ <= 0)
        return {};
    const QPointF origin = frameOrigin();
    return {(origin.x() - 12) / maxX_, (origin.y() - 12) / maxY_};
}

void KavioVideoOutputCornerHandle::setNormaliedDisplayCoordinates(QPointF n)
{
    setFrameOrigin({maxX_ * n.x() + 12, maxY_ * n.y() + 12});
}

void KavioVideoOutputCornerHandle::calculatePixelValueByDisplayNormals()
{
    if (maxX_ <= 0 || maxY_ <= 0)
        return;
    const QPointF n = normalizedDisplayCoordinates();
    pixelValue_ = {pixelMaximum_.width() * n.x(), pixelMaximum_.height() * n.y()};
}

QPointF KavioVideoOutputCornerHandle::normalisedPixelCoordinates() const
{
    if (pixelMaximum_.width() <= 0 || pixelMaximum_.height() <= 0)
        return {};
    return {pixelValue_.x() / pixelMaximum_.width(), pixelValue_.y() / pixelMaximum_.height()};
}

void KavioVideoOutputCornerHandle::redrawByPixelValues()
{
    if (pixelMaximum_.width() <= 0 || pixelMaximum_.height() <= 0)
        return;
    setNormaliedDisplayCoordinates(normalisedPixelCoordinates());
}

void KavioVideoOutputCornerHandle::setIsSelected(bool selected)
{
    isSelected_ = selected;
    update();
}

void KavioVideoOutputCornerHandle::setShouldHover(bool hover)
{
    shouldHover_ = hover;
    update();
}

void KavioVideoOutputCornerHandle::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF oval = QRectF(rect()).adjusted(1.0, 1.0, -1.0, -1.0);
    if (isSelected_) {
        painter.setPen(QPen(kSelectionBlue, 1.5));
        painter.setBrush(kSelectionBlue);
    } else if (shouldHover_) {
        painter.setPen(QPen(kIdleGrey, 1.5));
        painter.setBrush(kIdleGrey);
    } else {
        painter.setPen(Qt::NoPen);
        painter.setBrush(kIdleGrey);
    }
    painter.drawEllipse(oval);
}

QPointF KavioVideoOutputCornerHandle::pointerInCanvas(const QMouseEvent* event) const
{
    const QPointF p = mapToParent(event->position());
    return {p.x(), parentWidget()->height() - p.y()};
}

void KavioVideoOutputCornerHandle::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    delegate_->deselectHandles();
    pointOfMouseDown_ = pointerInCanvas(event) - frameOrigin();
    setIsSelected(true);
    delegate_->handleSelected(this);
    delegate_->setFocus(Qt::MouseFocusReason);
}

void KavioVideoOutputCornerHandle::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (!(event->buttons() & Qt::LeftButton) || !isSelected_)
        return;
    UndoManager* undo = delegate_->undoManager();
    if (!undogroupingstarted_ && undo) {
        undo->beginUndoGrouping();
        undogroupingstarted_ = true;
    }
    const QPointF wanted = pointerInCanvas(event) - pointOfMouseDown_;
    const QPointF origin(std::min(std::max(wanted.x(), 12.0), maxX_ + 12),
                         std::min(std::max(wanted.y(), 12.0), maxY_ + 12));
    const QPointF previous = frameOrigin();
    setFrameOrigin(origin);
    delegate_->handleChanged(this, origin, previous);
}

void KavioVideoOutputCornerHandle::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    shouldHover_ = true;
    if (undogroupingstarted_) {
        if (UndoManager* undo = delegate_->undoManager())
            undo->endUndoGrouping();
        undogroupingstarted_ = false;
    }
    update();
}

void KavioVideoOutputCornerHandle::enterEvent(QEnterEvent*)
{
    if (!isSelected_)
        setShouldHover(true);
}

void KavioVideoOutputCornerHandle::leaveEvent(QEvent*)
{
    if (!isSelected_)
        setShouldHover(false);
}
