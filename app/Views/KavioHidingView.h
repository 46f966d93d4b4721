#pragma once
// A panel of the main window that the operator shows and hides: it remembers the width it
// takes when shown. Main thread.

#include <QWidget>

class KavioHidingView : public QWidget {
public:
    explicit KavioHidingView(QWidget* parent = nullptr) : QWidget(parent) {}

    int maxWidth() const { return maxWidth_; }
    void setMaxWidth(int width) { maxWidth_ = width; }
    // Keeps the width the operator left the panel at, for its next showing.
    void storeCurrentWidhtAsMaxWidth() { maxWidth_ = width(); }

private:
    int maxWidth_ = 0;
};
