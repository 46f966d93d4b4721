#pragma once
// A pie-shaped progress indicator in the accent colour: a wedge from the top, clockwise, for
// the part still to go (currentValue of maxValue); nothing while maxValue is 0. Setting a value
// does not redraw. Main thread.

#include <QWidget>

#include <cstdint>

class KavioCircularProgressIndicator : public QWidget {
    Q_OBJECT
public:
    explicit KavioCircularProgressIndicator(QWidget* parent = nullptr) : QWidget(parent) {}

    std::int64_t maxValue() const { return maxValue_; }
    void setMaxValue(std::int64_t value) { maxValue_ = value; }
    std::int64_t currentValue() const { return currentValue_; }
    void setCurrentValue(std::int64_t value) { currentValue_ = value; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::int64_t maxValue_ = 0;
    std::int64_t currentValue_ = 0;
};
