#pragma once
// The current-cue indicator strip of a cue row: fills its bounds but the bottom point with
// `drawColor`, nothing while it has none. Main thread.

#include <QColor>
#include <QWidget>

#include <optional>

class KavioVideoItemStateView : public QWidget {
public:
    explicit KavioVideoItemStateView(QWidget* parent = nullptr);

    std::optional<QColor> drawColor() const { return drawColor_; }
    void setDrawColor(std::optional<QColor> color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<QColor> drawColor_;
};
