#pragma once
// A separator line with a dark and a light edge: along the bottom and top when wider than
// tall, else along the left and right edges. Main thread.

#include <QWidget>

class KavioSeparatorView : public QWidget {
    Q_OBJECT
public:
    explicit KavioSeparatorView(QWidget* parent = nullptr) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent* event) override;
};
