#pragma once
// Tinted copies of one template image, one per colour, keyed by the colour's hexadecimal value
// (so each alpha has its own). Whoever replaces the image clears the cache. Main thread.

#include <QColor>
#include <QHash>
#include <QImage>
#include <QString>

class KavioTintCache {
public:
    // `image` tinted with `color`: from the cache, or tinted now and kept.
    QImage imageWithColor(const QImage& image, const QColor& color);
    void clear() { cache_.clear(); }

private:
    QHash<QString, QImage> cache_;
};
