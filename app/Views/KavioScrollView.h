#pragma once
// KavioScrollView: a scroll area whose KavioScrollers lie over the content (15 pixels at the
// right and bottom edges) instead of beside it, each shown only while the content is larger
// than the view in its direction. With shouldRedrawOnScroll set, the content is redrawn once
// when the next scroll starts. Main thread.

#include <QScrollArea>

class KavioScroller;

class KavioScrollView : public QScrollArea {
    Q_OBJECT
public:
    explicit KavioScrollView(QWidget* parent = nullptr);

    KavioScroller* horizontalScroller() const { return horizontal_; }
    KavioScroller* verticalScroller() const { return vertical_; }
    bool shouldRedrawOnScroll() const { return shouldRedrawOnScroll_; }
    void setShouldRedrawOnScroll(bool value) { shouldRedrawOnScroll_ = value; }
    // Lays the content over the whole view and the scrollers over it.
    void tile();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void follow(QScrollBar* inner, KavioScroller* shown);
    void liveScrollStarted();

    KavioScroller* horizontal_;
    KavioScroller* vertical_;
    bool shouldRedrawOnScroll_ = false;
};
