#pragma once
// The dark strip beside a side panel: grey 0.18 with a dark line on the side that meets the
// panel (the right edge when drawsOnRightSide) and a light line beside it. Main thread.

#include <QWidget>

class KavioPlaceholderView : public QWidget {
    Q_OBJECT
public:
    explicit KavioPlaceholderView(QWidget* parent = nullptr) : QWidget(parent) {}

    bool drawsOnRightSide() const { return drawsOnRightSide_; }
    void setDrawsOnRightSide(bool value)
    {
        drawsOnRightSide_ = value;
        update();
    }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool drawsOnRightSide_ = false;
};
