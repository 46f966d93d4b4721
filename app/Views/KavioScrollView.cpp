#include "Views/KavioScrollView.h"

#include "Views/KavioScroller.h"

KavioScrollView::KavioScrollView(QWidget* parent)
    : QScrollArea(parent),
      horizontal_(new KavioScroller(Qt::Horizontal, this)),
      vertical_(new KavioScroller(Qt::Vertical, this))
{
    setFrameShape(QFrame::NoFrame);
    // The area's own bars keep the ranges; ours show them over the content.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    follow(horizontalScrollBar(), horizontal_);
    follow(verticalScrollBar(), vertical_);
}

void KavioScrollView::follow(QScrollBar* inner, KavioScroller* shown)
{
    connect(inner, &QScrollBar::rangeChanged, shown, [this, shown](int minimum, int maximum) {
        shown->setRange(minimum, maximum);
        tile();
    });
    connect(inner, &QScrollBar::valueChanged, shown, [this, shown](int value) {
        liveScrollStarted();
        shown->setValue(value);
    });
    connect(shown, &QScrollBar::valueChanged, inner, &QScrollBar::setValue);
    connect(shown, &QScrollBar::sliderPressed, this, &KavioScrollView::liveScrollStarted);
}

void KavioScrollView::liveScrollStarted()
{
    if (!shouldRedrawOnScroll_)
        return;
    shouldRedrawOnScroll_ = false;
    if (widget())
        widget()->update();
}

void KavioScrollView::tile()
{
    const int w = width(), h = height();
    horizontal_->setGeometry(0, h - 15, w - 15, 15);
    vertical_->setGeometry(w - 15, 0, 15, h - 15);
    horizontal_->setVisible(horizontalScrollBar()->maximum() > 0);
    vertical_->setVisible(verticalScrollBar()->maximum() > 0);
    horizontal_->raise();
    vertical_->raise();
}

void KavioScrollView::resizeEvent(QResizeEvent* event)
{
    QScrollArea::resizeEvent(event);
    tile();
}
