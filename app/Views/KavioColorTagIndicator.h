#pragma once
// One swatch of a KavioColorTagView: the tag's colour (the "kavio_close" image, tinted grey, for
// no tag), the selected-item colour behind it while selected or under the pointer. A click
// flashes the swatch twice in four steps of 0.065 s and then reports the tag: to the menu's
// target when the row sits in a menu (closing the menu), else to the row's target. The steps run
// on timers, so they also run while a menu is open. Main thread.

#include <QTimer>
#include <QWidget>

#include <cstdint>

class KavioColorTagIndicator : public QWidget {
    Q_OBJECT
public:
    static constexpr int kBlinkStepMilliseconds = 65;

    explicit KavioColorTagIndicator(std::int32_t colorTag, QWidget* parent = nullptr);

    std::int32_t colorTag() const { return colorTag_; }
    bool isSelected() const { return isSelected_; }
    void setIsSelected(bool selected);
    bool isHighlighted() const { return isHighlighted_; }
    bool shouldDrawAsPreferencesItem() const { return shouldDrawAsPreferencesItem_; }
    void setShouldDrawAsPreferencesItem(bool value);
    // The flash step: 0 when idle; the highlight shows at the even steps.
    int blink() const { return blink_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void blinkSelection();
    void report();

    std::int32_t colorTag_;
    bool isSelected_ = false;
    bool isHighlighted_ = false;
    bool shouldDrawAsPreferencesItem_ = false;
    int blink_ = 0;
    QTimer blinkTimer_;
};
