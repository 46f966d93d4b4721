#include "Rendering/KavioOverlayFontManager.h"

#include "Support/KavioDoublesNearlyEqual.h"
#include "Support/KavioFonts.h"
#include "Log.h"
#include "UserDefaults.h"


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

namespace {

// Index of a size or colour tag: 20, 30, or any other.
int tagChoice(const char* key)
{
    const long tag = UserDefaults::standardUserDefaults().integerForKey(key);
    return tag == 20 ? 0 : tag == 30 ? 1 : 2;
}

// Output text sizes follow the render height.
constexpr double kOutputSizeFactors[] = {0.04, 0.055, 0.028};

}  // namespace

long KavioOverlayFontManager::fontSize() const
{
    return long(outputRenderHeight() * kOutputSizeFactors[tagChoice("subtitlesFontSize")]);
}

long KavioOverlayFontManager::subtitleFontSizeOnPreview() const
{
    constexpr long sizes[] = {20, 26, 14};
    return sizes[tagChoice("subtitlesFontSize")];
}

QFont KavioOverlayFontManager::fontWithFamily(const QString& family, long size, bool bold, bool italic)
{
    return KavioFonts::font(family + (bold ? " Bold" : "") + (italic ? " Italic" : ""), double(size));
}

std::int32_t KavioOverlayFontManager::overlayFontSizeForPreview() const
{
    constexpr std::int32_t sizes[] = {26, 32, 22};
    return sizes[tagChoice("cueTimesOverlaySize")];
}

float KavioOverlayFontManager::overlayTextPadding() const
{
    constexpr float paddings[] = {8.0f, 10.0f, 7.0f};
    return paddings[tagChoice("cueTimesOverlaySize")];
}

std::int32_t KavioOverlayFontManager::overlayFontSizeForOutput() const
{
    return std::int32_t(outputRenderHeight() * kOutputSizeFactors[tagChoice("cueTimesOverlaySize")]);
}

KavioColor KavioOverlayFontManager::backgroundColor() const
{
    constexpr KavioColor colours[] = {{0, 0, 0, 1}, {1, 0, 0, 1}, {1.0 / 3, 1.0 / 3, 1.0 / 3, 1}};
    return colours[tagChoice("cueTimesOverlayColor")];
}

QFont KavioOverlayFontManager::captionFont(bool bold, bool italic, long fontSizeSelector) const
{
    return fontWithFamily(fontFamily(), fontSizeSelector == 20 ? fontSize() : subtitleFontSizeOnPreview(), bold, italic);
}
