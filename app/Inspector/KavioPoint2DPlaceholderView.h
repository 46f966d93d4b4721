#pragma once
// Two sliders that act as one control: both run the same action, and caching reaches both.
// Main thread.

#include <QPointer>
#include <QWidget>

#include <functional>

class KavioSlider;

class KavioPoint2DPlaceholderView : public QWidget {
    Q_OBJECT
public:
    explicit KavioPoint2DPlaceholderView(QWidget* parent = nullptr);

    KavioSlider* sliderX() const { return sliderX_; }
    KavioSlider* sliderY() const { return sliderY_; }
    void setSliderX(KavioSlider* slider) { sliderX_ = slider; }
    void setSliderY(KavioSlider* slider) { sliderY_ = slider; }

    // Both sliders run the action.
    void setAction(const std::function<void()>& action);
    void cacheToOldValue();

private:
    QPointer<KavioSlider> sliderX_;
    QPointer<KavioSlider> sliderY_;
};
