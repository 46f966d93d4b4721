#pragma once
// One vertical bar of a level meter: dark grey, filled from the bottom in three zones by the
// level (dB, 0 full scale): nothing at -48 dB or below, zone 1 dark green up to -30 dB, zone 2
// green up to -12 dB, zone 3 yellow up to 0 dB and red at or above it; above 0 dB every zone is
// red. The minimized look (a meter under 50 points tall) gives the zones other shares.
//
// The accessors never repaint: the meter marks its bars on the interface tick. Main thread.

#include <QColor>
#include <QRectF>
#include <QWidget>

#include <vector>

class QVTAudioMeteringChannelView : public QWidget {
    Q_OBJECT
public:
    static constexpr float kFloorDb = -120.0f;

    struct Fill {
        QRectF rect;
        QColor color;
    };
    // What a bar draws over its background: the filled part of each zone, bottom zone first, in
    // the coordinates of `inner` (the bar's bounds inset by 1 point). A NaN level is the floor.
    static std::vector<Fill> fillsForLevel(float level, const QRectF& inner, bool minimized);
    static QColor backgroundColor();

    explicit QVTAudioMeteringChannelView(QWidget* parent = nullptr);

    float channelLevel() const { return channelLevel_; }
    void setChannelLevel(float level) { channelLevel_ = level; }
    bool isMinimized() const { return isMinimized_; }
    void setIsMinimized(bool minimized) { isMinimized_ = minimized; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    float channelLevel_ = kFloorDb;
    bool isMinimized_ = false;
};
