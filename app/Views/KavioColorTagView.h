#pragma once
// KavioColorTagView: the row of six colour-tag swatches (no tag, red, yellow, green, violet,
// magenta: codes 0, 10 ... 50) in the cue's context menu and in the inspector. It only shows and
// reports a choice: a clicked swatch, after its flash, is handed to the target, which stores the
// tag. Without a target the choice goes nowhere. Main thread.

#include <QWidget>

#include <cstdint>
#include <functional>
#include <vector>

class KavioColorTagIndicator;

class KavioColorTagView : public QWidget {
    Q_OBJECT
public:
    using Target = std::function<void(KavioColorTagIndicator& swatch)>;

    explicit KavioColorTagView(QWidget* parent = nullptr);

    // Lays the six swatches out over the view's width: 20 × 20 at y 6, the first 20 from the
    // left edge, the last ending at the right edge. Runs at every resize.
    void buildUI();
    // Marks the swatches of that code (none for 0) and unmarks the others.
    void selectColorTag(std::int32_t tag);

    void setTarget(Target target) { target_ = std::move(target); }
    const std::vector<KavioColorTagIndicator*>& swatches() const { return swatches_; }

    // Called by a swatch whose flash ended.
    void reportChoice(KavioColorTagIndicator& swatch);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    std::vector<KavioColorTagIndicator*> swatches_;
    Target target_;
};
