#include "Rendering/KavioOverlayFontManager.h"

#include "Support/KavioDoublesNearlyEqual.h"
#include "Log.h"
#include "UserDefaults.h"

#include <QFontDatabase>
#include <QFontInfo>

KavioOverlayFontManager& KavioOverlayFontManager::sharedManager()
{
    static KavioOverlayFontManager instance;
    return instance;
}

void KavioOverlayFontManager::SharedColor::store(const KavioColor& c)
{
    sequence_.fetch_add(1, std::memory_order_acq_rel);
    channels_[0].store(c.red, std::memory_order_relaxed);
    channels_[1].store(c.green, std::memory_order_relaxed);
    channels_[2].store(c.blue, std::memory_order_relaxed);
    channels_[3].store(c.alpha, std::memory_order_relaxed);
    sequence_.fetch_add(1, std::memory_order_release);
}

KavioColor KavioOverlayFontManager::SharedColor::load() const
{
    for (;;) {
        const std::uint32_t before = sequence_.load(std::memory_order_acquire);
        KavioColor c{channels_[0].load(std::memory_order_relaxed), channels_[1].load(std::memory_order_relaxed),
                     channels_[2].load(std::memory_order_relaxed), channels_[3].load(std::memory_order_relaxed)};
        std::atomic_thread_fence(std::memory_order_acquire);
        if ((before & 1) == 0 && sequence_.load(std::memory_order_relaxed) == before) {
            return c;
        }
    }
}

bool KavioOverlayFontManager::subtitleHasTransparency() const
{
    return !KavioDoublesNearlyEqual(subtitleBackgroundColor().alpha, 1.0, 0.001);
}

QString KavioOverlayFontManager::fontFamily() const
{
    const QString family = UserDefaults::standardUserDefaults().stringForKey("subtitlesFont");
    if (family.isEmpty()) {
        static std::atomic<bool> logged{false};
        if (!logged.exchange(true)) {  // once: this is read for every caption font
            KLOG_ERROR("error: missing fontFamily!");
        }
        return QStringLiteral("Helvetica Neue");
    }
    return family;
}

long KavioOverlayFontManager::fontSize() const
{
    const long tag = UserDefaults::standardUserDefaults().integerForKey("subtitlesFontSize");
    const double factor = tag == 20 ? 0.04 : tag == 30 ? 0.055 : 0.028;
    return long(outputRenderHeight() * factor);
}

long KavioOverlayFontManager::subtitleFontSizeOnPreview() const
{
    const long tag = UserDefaults::standardUserDefaults().integerForKey("subtitlesFontSize");
    return tag == 20 ? 20 : tag == 30 ? 26 : 14;
}

QFont KavioOverlayFontManager::fontWithFamily(const QString& family, long size, bool bold, bool italic)
{
    QFont font(family);
    if (!QFontDatabase::hasFamily(family)) {
        font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    }
    font.setPixelSize(int(std::max(1L, size)));
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

QFont KavioOverlayFontManager::captionFont(bool bold, bool italic, long fontSizeSelector) const
{
    return fontWithFamily(fontFamily(), fontSizeSelector == 20 ? fontSize() : subtitleFontSizeOnPreview(), bold, italic);
}
