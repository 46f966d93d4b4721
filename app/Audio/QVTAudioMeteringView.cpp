#include "Audio/QVTAudioMeteringView.h"

#include "Audio/QVTAudioMeteringChannelView.h"
#include "Log.h"
#include "NotificationCenter.h"

#include <algorithm>
#include <cmath>

namespace {
const QString kUpdateUI = QStringLiteral("KavioUpdateUI");
constexpr float kCeilingDb = 120.0f;
}  // namespace

QVTAudioMeteringView::QVTAudioMeteringView(QWidget* parent) : QWidget(parent) {}

QVTAudioMeteringView::~QVTAudioMeteringView() { removeTickObservation(); }

void QVTAudioMeteringView::removeTickObservation()
{
    if (tickObservation_ != 0)
        NotificationCenter::defaultCenter().removeObserver(tickObservation_);
    tickObservation_ = 0;
}

QVTAudioMeteringView::Layout QVTAudioMeteringView::layoutForChannels(int32_t count)
{
    if (count < 3)
        return {45, 8, 3};
    if (count <= 4)
        return {22, 8, 3};
    if (count <= 6)
        return {6, 8, 2};
    if (count <= 10)
        return {2, 6, 2};
    if (count <= 12)
        return {4, 4, 1};
    return {0, 3, 1};
}

void QVTAudioMeteringView::initWithChannels(int count)
{
    if (count > kMaxChannels) {
        KLOG_VERBOSE("a meter of {} channels shows {}", count, kMaxChannels);
        count = kMaxChannels;
    }
    count = std::max(count, 0);
    channels_ = count;
    removeTickObservation();
    for (QVTAudioMeteringChannelView* bar : bars_)
        delete bar;
    bars_.clear();
    tickObservation_ = NotificationCenter::defaultCenter().addObserver(this, kUpdateUI, nullptr,
                                                                       [this](const Notification&) { updateUI(); });

    const Layout layout = layoutForChannels(count);
    const bool minimized = height() < kMinimizedBelowHeight;
    for (int i = 0; i < count; ++i) {
        auto* bar = new QVTAudioMeteringChannelView(this);
        bar->setGeometry(layout.leftOffset + i * (layout.barWidth + layout.gap), 0, layout.barWidth, height());
        bar->setChannelLevel(QVTAudioMeteringChannelView::kFloorDb);
        bar->setIsMinimized(minimized);
        bar->show();
        bars_.append(bar);
    }
}

void QVTAudioMeteringView::setLevelForChannel(float level, int channel)
{
    if (channel < 0 || channel >= bars_.size())
        return;
    const float kept =
        std::isnan(level) ? QVTAudioMeteringChannelView::kFloorDb
                          : std::clamp(level, QVTAudioMeteringChannelView::kFloorDb, kCeilingDb);
    bars_[channel]->setChannelLevel(kept);
}

void QVTAudioMeteringView::updateUI()
{
    for (QVTAudioMeteringChannelView* bar : bars_)
        bar->update();
}

void QVTAudioMeteringView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const bool minimized = height() < kMinimizedBelowHeight;
    for (QVTAudioMeteringChannelView* bar : bars_) {
        bar->setGeometry(bar->x(), bar->y(), bar->width(), height());
        bar->setIsMinimized(minimized);
        bar->update();
    }
}
