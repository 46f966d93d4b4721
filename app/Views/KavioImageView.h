#pragma once
// An image view that shows its template image tinted with a draw colour, keeping one tinted
// copy per colour (keyed by the colour's hexadecimal value). Main thread.

#include "Views/KavioTintCache.h"

#include <QWidget>

class KavioImageView : public QWidget {
    Q_OBJECT
public:
    explicit KavioImageView(QWidget* parent = nullptr) : QWidget(parent) {}

    QImage image() const { return image_; }
    // Replacing the image empties the tint cache.
    void setImage(const QImage& image);
    QColor drawColor() const { return drawColor_; }
    void setDrawColor(const QColor& color);
    QImage imageWithColor(const QColor& color);
    void clearImageCache() { cache_.clear(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
    QColor drawColor_;
    KavioTintCache cache_;
};
