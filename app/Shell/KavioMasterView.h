#pragma once
// The main window's background: dark grey with a bevel (a light top and left edge, a dark
// bottom and right edge). A click on it closes the colour panel and tells the cue rows to drop
// their selection. Never takes the keyboard focus. Children are placed by the shell (no layout);
// `onResize` hears each change of size so the panels can follow the window. Main thread.

#include <QWidget>

#include <functional>

class KavioMasterView : public QWidget {
public:
    explicit KavioMasterView(QWidget* parent = nullptr);

    // The size the children were placed for; each later change of size is reported from it.
    void setLaidOutSize(QSize size) { laidOut_ = size; }
    void setOnResize(std::function<void(QSize oldSize, QSize newSize)> onResize) { onResize_ = std::move(onResize); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QSize laidOut_;
    std::function<void(QSize, QSize)> onResize_;
};
