#pragma once
// A dark rounded panel: grey 0.15 inside a grey 0.1 outline. Main thread.

#include <QWidget>

class KavioBoxView : public QWidget {
    Q_OBJECT
public:
    explicit KavioBoxView(QWidget* parent = nullptr) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent* event) override;
};
