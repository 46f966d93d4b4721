#pragma once
// A web page as a live source: rendered by platform/web in a borderless page window parked just
// beside the screens (one point over a corner of one), at the cue's render size times a multiplier,
// and grabbed into a BGRA GpuTexture at the cue's frame rate. After each finished load it injects
// the custom CSS (as an escaped string literal), and once, for a source made while its cue is not
// current, pauses the page's videos. Pausing pauses the videos, or unloads the page (reloaded at
// the next start).
//
// Threads: main thread, like the page itself; texture() from any thread. Frames are grabbed on
// the main queue and uploaded with GpuTexture::replaceRegion (queued for the render thread).

#include "Cue/KavioLiveSourceInterfaces.h"
#include "Sources/KavioSourceTexture.h"

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QUrl>

#include <cstdint>
#include <memory>

class DispatchTimer;
class GpuDevice;
class WebPageRenderer;

inline const QString kKavioBrowserSourceCustomCSSKey = QStringLiteral("KavioBrowserSource_CustomCSS");
inline const QString kKavioBrowserSourceShouldUnloadOnPauseKey = QStringLiteral("KavioBrowserSource_shouldUnloadOnPause");
inline const QString kKavioBrowserSourceRenderSizeMultiplierTagKey = QStringLiteral("KavioBrowserSource_renderSizeMultiplierTag");
inline const QString kKavioBrowserSourceUserAgent = QStringLiteral(
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/15.0 Safari/605.1.15");

class KavioBrowserSource : public KavioBrowserSourceInterface {
public:
    // The page window is parked at once; nothing loads and nothing is grabbed yet. A source made
    // while its cue is not current pauses the page's videos after the first finished load.
    // Textures are made on `device`; without one the page renders but yields no texture.
    KavioBrowserSource(QSizeF renderSize, std::int32_t renderFPS, bool isCurrent, std::shared_ptr<GpuDevice> device);
    ~KavioBrowserSource() override;

    void loadURL(const QUrl& url) override;
    QUrl loadedURL() const { return loadedurl_; }
    void unloadPage() override;
    void pauseVideoElements();

    bool shouldRender() const { return shouldRender_; }
    // Start: reloads an unloaded page, then grabs at the frame rate. Pause: unloads the page or
    // pauses its videos, and stops grabbing. The same value again does nothing.
    void setShouldRender(bool shouldRender) override;
    void setRenderingFPS(std::int32_t fps) override;
    // The capture size: `size` times the multiplier, each side truncated. The same size with an
    // unchanged tag does nothing.
    void setRenderSize(QSizeF size) override;
    QSizeF renderSize() const { return renderSize_; }
    // 20 -> 0.5, 10 -> 0.75, anything else -> 1.0; takes effect at the next setRenderSize.
    std::int32_t renderSizeMultiplierTag() const override { return rendersizemultipliertag_; }
    void setRenderSizeMultiplierTag(std::int32_t tag) override;
    static double multiplierForTag(std::int32_t tag);

    QString customCSS() const override;
    void setCustomCSS(const QString& css) override;
    bool shouldUnloadOnPause() const override { return shouldUnloadOnPause_; }
    void setShouldUnloadOnPause(bool unload) override { shouldUnloadOnPause_ = unload; }

    QWindow* webWindow() const override;
    // Parks the page window over one corner of the screens (see safeWindowOrigin).
    void setWindowOriginToASafeArea() override;
    // Where the page window of `size` goes, in y-upward coordinates with the main screen's
    // frame `mainScreen` among `screens`: beside the leftmost or rightmost screen when the
    // screens together are wider than high, else above the top or below the bottom one,
    // overlapping that screen's corner by one point on each axis.
    static QPointF safeWindowOrigin(const QRectF& mainScreen, const QList<QRectF>& screens, QSizeF size);
    // The script that adds `css` to the page as a style element.
    static QString customCSSScript(const QString& css);

    // The newest page frame; nullptr before the first.
    std::shared_ptr<GpuTexture> texture() override;
    std::uint64_t frameCount() const;
    // {CSS, unload on pause, multiplier tag}; loading takes each key of the right type (others
    // are logged and ignored); CSS reloads the page so it applies.
    QVariantMap saveData() const override;
    void loadWithData(const QVariantMap& data) override;
    // Stops grabbing and closes the page window.
    void removeResources();
    // The page, for tests.
    WebPageRenderer* page() const { return page_.get(); }

private:
    void pageFinishedLoading(bool ok);
    void restartTimer();
    void grabFrame();

    KavioSourceTexture frames_;
    std::unique_ptr<WebPageRenderer> page_;
    std::unique_ptr<DispatchTimer> timer_;
    QSizeF renderSize_;
    std::int32_t renderingfps_;
    double rendersizemultiplier_ = 1.0;
    std::int32_t rendersizemultipliertag_ = 1;
    bool rendersizemultipliertagchanged_ = false;
    bool shouldreloadwhenstartrendering_ = false;
    bool shouldpausevideoelementsonfirstrun_;
    bool shouldRender_ = false;
    bool shouldUnloadOnPause_ = false;
    QUrl loadedurl_;
    QString customCSS_;
};
