#pragma once
// The playhead line the position bar places on the waveform strip: its bounds filled blue.

#include <QWidget>

class KavioPlayheadIndicator : public QWidget {
public:
    explicit KavioPlayheadIndicator(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
