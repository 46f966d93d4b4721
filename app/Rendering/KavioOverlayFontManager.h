#pragma once
// The process-wide source of caption and overlay fonts, sizes and colours, built from the
// operator's settings (user defaults "subtitlesFont", "subtitlesFontSize",
// "cueTimesOverlaySize", "cueTimesOverlayColor") and the colours the cue list hands it. Read on the render thread and the caption queues, written on the main thread: every
// property is read whole, never torn, without locks.

#include "Support/KavioColor.h"

#include <QFont>
#include <QString>

#include <atomic>
#include <cstdint>
#include <optional>

class KavioOverlayFontManager {
public:
    static KavioOverlayFontManager& sharedManager();

    double outputRenderHeight() const { return outputRenderHeight_.load(std::memory_order_relaxed); }
    void setOutputRenderHeight(double height) { outputRenderHeight_.store(height, std::memory_order_relaxed); }

    KavioColor subtitleFontColor() const { return subtitleFontColor_.load(); }
    void setSubtitleFontColor(const KavioColor& color) { subtitleFontColor_.store(color); }
    KavioColor subtitleBackgroundColor() const { return subtitleBackgroundColor_.load(); }
    void setSubtitleBackgroundColor(const KavioColor& color) { subtitleBackgroundColor_.store(color); }
    // True unless the background colour's alpha lies within 0.001 of 1.0.
    bool subtitleHasTransparency() const;

    // The caption font family ("subtitlesFont"; "Helvetica Neue" when unset, which is logged).
    QString fontFamily() const;
    // Caption point size on outputs: the render height × 0.04, 0.055 or 0.028 for the
    // "subtitlesFontSize" tags 20, 30 and any other, cut to an integer.
    long fontSize() const;
    // Caption point size on the preview: 20, 26 or 14 for the same tags.
    long subtitleFontSizeOnPreview() const;

    // The font "<family>[ Bold][ Italic]" at that size, through KavioFonts (so a family that is
    // not installed still shows in the system's sans-serif).
    static QFont fontWithFamily(const QString& family, long size, bool bold, bool italic);

    // The cue-time overlay, by the "cueTimesOverlaySize" tags 20, 30 and any other: the
    // preview's point size (26, 32, 22) and text padding (8, 10, 7), the outputs'
    // point size (the render height × 0.04, 0.055 or 0.028, cut to an integer).
    std::int32_t overlayFontSizeForPreview() const;
    float overlayTextPadding() const;
    std::int32_t overlayFontSizeForOutput() const;
    // The time boxes' colour by "cueTimesOverlayColor": 20 black, 30 red, any other dark grey.
    KavioColor backgroundColor() const;
    // Caption and subtitle fonts (the same font): the output size for selector 20, the preview
    // size for any other selector.
    QFont captionFont(bool bold, bool italic, long fontSizeSelector) const;
    QFont subtitleFont(bool bold, bool italic, long fontSizeSelector) const { return captionFont(bold, italic, fontSizeSelector); }

private:
    KavioOverlayFontManager() = default;

    // A colour written by one thread and read whole by others: a sequence counter around
    // four relaxed atomics (readers retry while a write is under way).
    class SharedColor {
    public:
        explicit SharedColor(const KavioColor& c) { store(c); }
        void store(const KavioColor& c);
        KavioColor load() const;

    private:
        std::atomic<std::uint32_t> sequence_{0};
        std::atomic<double> channels_[4];
    };

    std::atomic<double> outputRenderHeight_{1080.0};
    SharedColor subtitleFontColor_{KavioColor{1, 1, 1, 1}};
    SharedColor subtitleBackgroundColor_{KavioColor{0, 0, 0, 0.65}};
};
