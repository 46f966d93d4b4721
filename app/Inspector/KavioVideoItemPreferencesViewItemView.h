#pragma once
// The frame of one inspector section: a 30-point title bar over the section's content, drawn
// in the dark panel greys. Its children are clipped to it, so a collapsed section shows only
// the title bar. Main thread.

#include <QWidget>

class KavioVideoItemPreferencesViewItemView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTitleBarHeight = 30;
    static constexpr int kBottomMargin = 5;

    explicit KavioVideoItemPreferencesViewItemView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
