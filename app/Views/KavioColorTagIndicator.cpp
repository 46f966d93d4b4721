#include "Views/KavioColorTagIndicator.h"

#include "Support/KavioAddons.h"
#include "Views/KavioColorTagView.h"
#include "Views/KavioControlStyle.h"

#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

using namespace KavioControlStyle;

KavioColorTagIndicator::KavioColorTagIndicator(std::int32_t colorTag, QWidget* parent)
    : QWidget(parent), colorTag_(colorTag)
{
    setAttribute(Qt::WA_Hover);
    blinkTimer_.setSingleShot(true);
    blinkTimer_.setInterval(kBlinkStepMilliseconds);
    connect(&blinkTimer_, &QTimer::timeout, this, &KavioColorTagIndicator::blinkSelection);
}

void KavioColorTagIndicator::setIsSelected(bool selected)
{
    isSelected_ = selected;
    update();
}

void KavioColorTagIndicator::setShouldDrawAsPreferencesItem(bool value)
{
    shouldDrawAsPreferencesItem_ = value;
    update();
}

void KavioColorTagIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if ((isSelected_ || isHighlighted_) && blink_ % 2 == 0)
        painter.fillRect(rect(), palette().color(QPalette::Active, QPalette::Highlight));
    const QRectF area = QRectF(rect()).adjusted(3, 3, -3, -3);
    const QColor color = colorTagColor(colorTag_);
    if (color.isValid()) {
        painter.fillRect(area, color);
        return;
    }
    // The interface style counts as dark, so the no-tag image is always tinted.
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(area, KavioAddons::tintImageWithColor(templateImage(QStringLiteral("kavio_close")), restingColor()));
}

void KavioColorTagIndicator::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || blink_ != 0)
        return;
    blink_ = 1;
    update();
    blinkTimer_.start();
}

void KavioColorTagIndicator::blinkSelection()
{
    if (blink_ <= 3) {
        ++blink_;
        update();
        blinkTimer_.start();
        return;
    }
    blink_ = 0;
    update();
    report();
}

void KavioColorTagIndicator::report()
{
    auto* row = qobject_cast<KavioColorTagView*>(parentWidget());
    if (row)
        row->reportChoice(*this);
    for (QWidget* up = parentWidget(); up; up = up->parentWidget()) {
        if (auto* menu = qobject_cast<QMenu*>(up)) {
            menu->close();
            break;
        }
    }
}

void KavioColorTagIndicator::enterEvent(QEnterEvent*)
{
    isHighlighted_ = true;
    update();
}

void KavioColorTagIndicator::leaveEvent(QEvent*)
{
    isHighlighted_ = false;
    update();
}
