#pragma once
// The level meter of a cue row: one QVTAudioMeteringChannelView bar per channel, laid out by the
// channel count, redrawn only on the interface tick ("KavioUpdateUI", 15 a second). The cue
// builds it with initWithChannels and writes levels in dB between ticks; they show at the next
// tick. A meter less than 50 points tall draws its bars minimized.
//
// Bad input: a NaN level is the floor (-120 dB) and levels are kept within -120..+120 dB; a
// channel index outside the bars changes nothing; a count below 0 builds no bar, one above
// kMaxChannels builds kMaxChannels (logged).
//
// Main thread only: the cue moves its level updates to the main queue before writing them.
// The meter observes the tick from its first initWithChannels on, once however often it is
// rebuilt, until it is destroyed.

#include "Views/KavioAudioMeterInterface.h"

#include <QWidget>

#include <cstdint>

class QVTAudioMeteringChannelView;

class QVTAudioMeteringView : public QWidget, public KavioAudioMeterInterface {
    Q_OBJECT
public:
    static constexpr int kMaxChannels = 64;
    static constexpr int kMinimizedBelowHeight = 50;

    struct Layout {
        int leftOffset;
        int barWidth;
        int gap;
    };
    // The bars' placement for a channel count.
    static Layout layoutForChannels(int32_t count);

    explicit QVTAudioMeteringView(QWidget* parent = nullptr);
    ~QVTAudioMeteringView() override;

    // KavioAudioMeterInterface.
    void initWithChannels(int count) override;
    // Sets the bar's level without redrawing; nothing for an index outside the bars.
    void setLevelForChannel(float level, int channel) override;

    // Marks every bar for redraw; runs on each tick.
    void updateUI();
    int32_t channels() const { return channels_; }
    void setChannels(int32_t channels) { channels_ = channels; }
    // The bars in channel order.
    const QList<QVTAudioMeteringChannelView*>& bars() const { return bars_; }
    bool isObservingTick() const { return tickObservation_ != 0; }

protected:
    // The bars take the new height and switch between full and minimized.
    void resizeEvent(QResizeEvent* event) override;

private:
    void removeTickObservation();

    int32_t channels_ = 0;
    QList<QVTAudioMeteringChannelView*> bars_;
    uint64_t tickObservation_ = 0;
};
