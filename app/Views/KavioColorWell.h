#pragma once
// KavioColorWell: a colour swatch with a thin grey outline; a click opens the colour dialog
// (opaque colours: the settings it serves keep alpha 1) and a chosen colour runs the action.
// Keeps the colour from before an edit for undo (oldColor). Redraws may be asked from any
// thread. Main thread otherwise.

#include "Support/KavioColorWellInterface.h"

#include <QWidget>

#include <functional>

class KavioColorWell : public QWidget, public KavioColorWellInterface {
    Q_OBJECT
public:
    explicit KavioColorWell(QWidget* parent = nullptr);

    QColor color() const override { return color_; }
    void setColor(const QColor& color) override;
    bool isEnabled() const override { return QWidget::isEnabled(); }
    void setEnabled(bool enabled) override;

    void setAction(std::function<void()> action) { action_ = std::move(action); }
    QColor oldColor() const { return oldColor_; }
    void cacheToOldValue() { oldColor_ = color_; }
    void removeResources() {}
    // Any thread: off the main thread the request moves to the main queue, same rectangle.
    void setNeedsDisplayInRect(const QRect& rect);
    QSize sizeHint() const override { return {44, 24}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QColor color_{Qt::white};
    QColor oldColor_;
    std::function<void()> action_;
};
