#pragma once
// Text over the picture: the current cue's elapsed time in a box on the left, its remaining
// time in a box on the right, an optional frames-per-second readout in a small box on the
// opposite edge, and the current caption. Drawn with QPainter into a premultiplied ARGB32
// image (BGRA in memory) and uploaded into one texture, which is kept while the size holds.
//
// The image is rebuilt (cleared, fonts and colours read again from KavioOverlayFontManager)
// when the size changes, when shouldClear is set, when the caption is another one than the
// last, or when the caption has a transparent background. Otherwise unchanged texts return the
// texture as it is, without drawing; a changed text clears only its own old box (grown by one
// pixel) before filling the new one. A missing text (a null QString) or caption draws nothing
// and equals a missing one.
//
// Threads: renderWithSize on the render thread; setShouldClear from any thread.

#include "Caption/QVTCaption.h"
#include "Support/KavioColor.h"

#include <QFont>
#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <atomic>
#include <memory>

class GpuTexture;
class QPainter;
class QVTMetalManager;

class KavioOverlayer {
public:
    explicit KavioOverlayer(QVTMetalManager& manager);
    // On QVTMetalManager::sharedManager(), looked up at the first upload: making an overlayer
    // does not make the GPU device.
    KavioOverlayer();

    // The overlay texture (BGRA8Unorm, size W x H in pixels), or nullptr for a zero or too large
    // size (logged "error with creating CGBitmapContextCreate (Overlay) {w, h}") or without a
    // GPU. `useAbsoluteSize` picks the preview's fixed sizes, else the outputs' sizes, which
    // follow the render height.
    std::shared_ptr<GpuTexture> renderWithSize(QSizeF size, bool useAbsoluteSize, const QString& normalTime,
                                               const QString& remainingTime, const QString& fps,
                                               const QVTCaptionPtr& caption);

    bool shouldClear() const { return shouldClear_.load(); }
    void setShouldClear(bool clear) { shouldClear_.store(clear); }
    QVTCaptionPtr previousCaption() const { return previousCaption_; }
    void setPreviousCaption(QVTCaptionPtr caption) { previousCaption_ = std::move(caption); }

    // The time boxes' point size and text padding of the last rebuild.
    long fontsize() const { return fontsize_; }
    double textpadding() const { return textpadding_; }
    // The bitmap as last drawn.
    const QImage& image() const { return image_; }

private:
    void rebuild(QSizeF size, bool useAbsoluteSize);
    // Draws one text in its box; `lastRect` is the box drawn before (image coordinates).
    void drawBox(QPainter& painter, const QString& text, const QFont& font, double padding, bool atLeft, bool atBottom,
                 QRectF& lastRect);

    QVTMetalManager* manager_ = nullptr;
    std::atomic<bool> shouldClear_{false};
    QVTCaptionPtr previousCaption_;
    std::shared_ptr<GpuTexture> texture_;
    QImage image_;
    QSizeF rendersize_;
    bool needsDraw_ = true;
    QString oldnormalTime_, oldremainingTime_, oldfps_;
    long fontsize_ = 0;
    double textpadding_ = 0.0;
    KavioColor rectcolor_;
    QFont textFont_, fpsTextFont_;
    static constexpr double kFpsTextPadding = 4.0;
    bool isbottom_ = false;
    QRectF lastLeftRect_, lastRightRect_, lastFpsRect_;
};
