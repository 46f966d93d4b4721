#pragma once
// A panel that fills itself with the dark panel grey (0.15) under its children. Main thread.

#include <QWidget>

class KavioBackgroundView : public QWidget {
    Q_OBJECT
public:
    explicit KavioBackgroundView(QWidget* parent = nullptr) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent* event) override;
};
