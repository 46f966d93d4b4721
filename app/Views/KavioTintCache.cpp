#include "Views/KavioTintCache.h"

#include "Support/KavioAddons.h"

QImage KavioTintCache::imageWithColor(const QImage& image, const QColor& color)
{
    const QString key = KavioAddons::hexValue(color);
    const auto found = cache_.constFind(key);
    if (found != cache_.constEnd())
        return *found;
    return *cache_.insert(key, KavioAddons::tintImageWithColor(image, color));
}
