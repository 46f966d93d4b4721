#pragma once
// A table in the program's dark look: white 0.15 behind the cells, no focus ring, and a 1-point
// frame in white 0.1 drawn over the table along its bounds inset by half a point.

#include <QTableView>

class KavioTableView : public QTableView {
public:
    explicit KavioTableView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
