#pragma once
// A one-pixel grey line through the middle: horizontal, or vertical when taller than wide.
// Main thread.

#include <QWidget>

class KavioOneLineBoxView : public QWidget {
    Q_OBJECT
public:
    explicit KavioOneLineBoxView(QWidget* parent = nullptr) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent* event) override;
};
