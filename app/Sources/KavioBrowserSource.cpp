#include "Sources/KavioBrowserSource.h"

#include "DispatchQueue.h"
#include "Log.h"
#include "WebPageRenderer.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

const QString kPauseVideosScript = QStringLiteral(
    "var videos = document.querySelectorAll(\"video\"); for (var i = videos.length - 1; i >= 0; i--) { videos[i].pause(); };");

QString text(const QRectF& r)
{
    return QStringLiteral("{{%1, %2}, {%3, %4}}").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

}  // namespace

KavioBrowserSource::KavioBrowserSource(QSizeF renderSize, std::int32_t renderFPS, bool isCurrent, std::shared_ptr<GpuDevice> device)
    : frames_(std::move(device), "web page source"),
      page_(std::make_unique<WebPageRenderer>(kKavioBrowserSourceUserAgent)),
      renderSize_(renderSize),
      renderingfps_(renderFPS),
      shouldpausevideoelementsonfirstrun_(!isCurrent)
{
    page_->setLoadFinishedHandler([this](bool ok) { pageFinishedLoading(ok); });
    setWindowOriginToASafeArea();
}

KavioBrowserSource::~KavioBrowserSource()
{
    removeResources();
}

double KavioBrowserSource::multiplierForTag(std::int32_t tag)
{
    return tag == 20 ? 0.5 : tag == 10 ? 0.75 : 1.0;
}

QString KavioBrowserSource::customCSSScript(const QString& css)
{
    return QStringLiteral("var style = document.createElement('style'); style.innerHTML = %1; document.head.appendChild(style);")
        .arg(WebPageRenderer::stringLiteral(css));
}

QPointF KavioBrowserSource::safeWindowOrigin(const QRectF& mainScreen, const QList<QRectF>& screens, QSizeF size)
{
    QRectF leftmost = mainScreen, rightmost = mainScreen, top = mainScreen, bottom = mainScreen, all;
    for (const QRectF& frame : screens) {
        if (frame.x() < leftmost.x())
            leftmost = frame;
        if (frame.x() > rightmost.x())
            rightmost = frame;
        if (frame.y() > top.y())
            top = frame;
        if (frame.y() < bottom.y())
            bottom = frame;
        all = all.united(frame);
    }
    const double w = size.width(), h = size.height();
    if (all.width() > all.height()) {
        if (mainScreen == leftmost) {
            KLOG_VERBOSE("leftmostrect: {}", text(leftmost).toStdString());
            return {leftmost.x() - w + 1, leftmost.y() - h + 1};
        }
        KLOG_VERBOSE("rightmostrect: {}", text(rightmost).toStdString());
        return {rightmost.x() + rightmost.width() - 1, rightmost.y() - h + 1};
    }
    if (mainScreen == top) {
        KLOG_VERBOSE("toprect: {}", text(top).toStdString());
        return {top.x() - w + 1, top.y() + top.height() - 1};
    }
    KLOG_VERBOSE("bottomrect: {}", text(bottom).toStdString());
    return {bottom.x() - w + 1, bottom.y() - h + 1};
}

void KavioBrowserSource::setWindowOriginToASafeArea()
{
    if (!DispatchQueue::isMainThread()) {
        DispatchQueue::main().async([this] { setWindowOriginToASafeArea(); });
        return;
    }
    if (!page_)
        return;
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary)
        return;
    // Qt's screens are y-downward; the placement is worked out y-upward from the main screen's
    // bottom edge, then turned back.
    const QRect mainGeometry = primary->geometry();
    const auto upward = [&](const QRect& r) {
        return QRectF(r.x(), mainGeometry.bottom() + 1 - (r.y() + r.height()), r.width(), r.height());
    };
    QList<QRectF> frames;
    for (const QScreen* screen : QGuiApplication::screens())
        frames << upward(screen->geometry());
    const QSize size(int(renderSize_.width()), int(renderSize_.height()));
    const QPointF origin = safeWindowOrigin(upward(mainGeometry), frames, renderSize_);
    KLOG_VERBOSE("_safewindoworigin: {{{}, {}}}", origin.x(), origin.y());
    page_->setGeometry(QPoint(int(origin.x()), int(mainGeometry.bottom() + 1 - (origin.y() + size.height()))), size);
}

void KavioBrowserSource::loadURL(const QUrl& url)
{
    if (page_)
        page_->load(url);
    loadedurl_ = url;
}

void KavioBrowserSource::unloadPage()
{
    if (page_)
        page_->load(QUrl(QStringLiteral("about:blank")));
    shouldreloadwhenstartrendering_ = true;
}

void KavioBrowserSource::pauseVideoElements()
{
    KLOG_VERBOSE("pause video tags");
    if (page_)
        page_->runJavaScript(kPauseVideosScript, [](const QString& error) {
            if (!error.isEmpty())
                KLOG_VERBOSE("pauseVideoElements: {}", error.toStdString());
        });
}

void KavioBrowserSource::pageFinishedLoading(bool ok)
{
    if (!ok) {
        KLOG_WARN("WKWebView navigation failed with {}", loadedurl_.toString().toStdString());
        return;
    }
    KLOG_VERBOSE("_loadedurl: {}", loadedurl_.toString().toStdString());
    if (!customCSS_.isEmpty()) {
        const QString script = customCSSScript(customCSS_);
        page_->runJavaScript(script, [script](const QString& error) {
            KLOG_VERBOSE("script: {}", script.toStdString());
            KLOG_VERBOSE("error: {}", error.isEmpty() ? std::string("(null)") : error.toStdString());
        });
    }
    if (shouldpausevideoelementsonfirstrun_) {
        shouldpausevideoelementsonfirstrun_ = false;
        pauseVideoElements();
    }
}

void KavioBrowserSource::setShouldRender(bool shouldRender)
{
    if (shouldRender == shouldRender_ || !page_)
        return;
    shouldRender_ = shouldRender;
    if (shouldRender) {
        if (shouldreloadwhenstartrendering_) {
            shouldreloadwhenstartrendering_ = false;
            loadURL(loadedurl_);
        }
        restartTimer();
        KLOG_VERBOSE("capture started - error: (null), fps: {}", renderingfps_);
        return;
    }
    if (shouldUnloadOnPause_)
        unloadPage();
    else
        pauseVideoElements();
    timer_.reset();
}

void KavioBrowserSource::restartTimer()
{
    timer_.reset();
    const double fps = renderingfps_ > 0 ? double(renderingfps_) : 30.0;
    timer_ = std::make_unique<DispatchTimer>(DispatchQueue::main(), std::chrono::nanoseconds(std::int64_t(1e9 / fps)),
                                             [this] { grabFrame(); });
    timer_->start();
}

void KavioBrowserSource::setRenderingFPS(std::int32_t fps)
{
    if (fps == renderingfps_)
        return;
    renderingfps_ = fps;
    if (timer_)
        restartTimer();
}

void KavioBrowserSource::setRenderSize(QSizeF size)
{
    if (size == renderSize_ && !rendersizemultipliertagchanged_)
        return;
    rendersizemultipliertagchanged_ = false;
    renderSize_ = QSizeF(std::trunc(size.width() * rendersizemultiplier_), std::trunc(size.height() * rendersizemultiplier_));
    setWindowOriginToASafeArea();
}

void KavioBrowserSource::setRenderSizeMultiplierTag(std::int32_t tag)
{
    if (tag == rendersizemultipliertag_)
        return;
    rendersizemultipliertag_ = tag;
    rendersizemultiplier_ = multiplierForTag(tag);
    rendersizemultipliertagchanged_ = true;
}

QString KavioBrowserSource::customCSS() const
{
    return customCSS_;
}

void KavioBrowserSource::setCustomCSS(const QString& css)
{
    customCSS_ = css;
}

QWindow* KavioBrowserSource::webWindow() const
{
    return page_ ? page_->window() : nullptr;
}

void KavioBrowserSource::grabFrame()
{
    if (page_)
        frames_.publish(page_->grab());
}

std::shared_ptr<GpuTexture> KavioBrowserSource::texture()
{
    return frames_.texture();
}

std::uint64_t KavioBrowserSource::frameCount() const
{
    return frames_.frameCount();
}

QVariantMap KavioBrowserSource::saveData() const
{
    return {{kKavioBrowserSourceCustomCSSKey, customCSS_},
            {kKavioBrowserSourceShouldUnloadOnPauseKey, shouldUnloadOnPause_},
            {kKavioBrowserSourceRenderSizeMultiplierTagKey, rendersizemultipliertag_}};
}

void KavioBrowserSource::loadWithData(const QVariantMap& data)
{
    const auto typed = [&](const QString& key, std::initializer_list<int> types) {
        const QVariant value = data.value(key);
        if (!value.isValid())
            return QVariant();
        if (std::find(types.begin(), types.end(), value.typeId()) == types.end()) {
            KLOG_WARN("web page source record: {} has the wrong type, ignored", key.toStdString());
            return QVariant();
        }
        return value;
    };
    if (const QVariant css = typed(kKavioBrowserSourceCustomCSSKey, {QMetaType::QString}); css.isValid()) {
        setCustomCSS(css.toString());
        if (!loadedurl_.isEmpty())
            loadURL(loadedurl_);
    }
    if (const QVariant unload = typed(kKavioBrowserSourceShouldUnloadOnPauseKey, {QMetaType::Bool}); unload.isValid())
        setShouldUnloadOnPause(unload.toBool());
    const QVariant tag = typed(kKavioBrowserSourceRenderSizeMultiplierTagKey,
                               {QMetaType::Int, QMetaType::LongLong, QMetaType::UInt, QMetaType::ULongLong});
    if (tag.isValid())
        setRenderSizeMultiplierTag(std::int32_t(tag.toLongLong()));
}

void KavioBrowserSource::removeResources()
{
    shouldRender_ = false;
    timer_.reset();
    page_.reset();
    frames_.clear();
}
