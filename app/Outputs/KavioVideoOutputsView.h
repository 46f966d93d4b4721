#pragma once
// KavioVideoOutputsView: the grid the output set-up window shows the output tiles in (the
// manager places them; the first row at the top). It draws its panel and takes the keys once a
// tile click made it the focus: the arrows post "KavioSelectAboveOutput", "KavioSelectBelowOutput",
// "KavioSelectPrevOutput" and "KavioSelectNextOutput" whatever modifiers are held; Ctrl with
// Backspace or Delete posts "KavioDeleteSelectedOutput" (without Ctrl nothing happens). No key is
// passed on, and clicks between tiles are swallowed.
//
// Main thread only.

#include <QWidget>

class KavioVideoOutputsView : public QWidget {
public:
    explicit KavioVideoOutputsView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
};
