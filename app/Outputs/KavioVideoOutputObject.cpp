#include "Outputs/KavioVideoOutputObject.h"

#include "Outputs/KavioDecklinkOutput.h"

#include "Audio/KavioAudioStreamersManagerInterface.h"
#include "Rendering/KavioRenderingSupport.h"
#include "Rendering/QVTMetalManager.h"
#include "Support/KavioAddons.h"
#include "Support/KavioFonts.h"

#include "DispatchQueue.h"
#include "GpuCommandBuffer.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "QVTAudioStreamer.h"
#include "QVTNDISender.h"
#include "SyphonServer.h"
#include "UserDefaults.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPainter>
#include <QRegularExpression>
#include <QScreen>
#include <QUuid>
#include <QWindow>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace {

// The output's borderless window; tells its output when the pointer comes and goes.
class KavioVideoOutputWindow : public QWindow {
public:
    explicit KavioVideoOutputWindow(KavioVideoOutputObject* owner)
        : owner_(owner)
    {
        setFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        setTitle(QStringLiteral("Kavio Output"));
        resize(1, 1);
    }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::Enter || event->type() == QEvent::Leave) {
            event->type() == QEvent::Enter ? owner_->mouseEntered() : owner_->mouseExited();
        }
        return QWindow::event(event);
    }

private:
    KavioVideoOutputObject* owner_;  // owns this window
};

template <typename T>
void putLE(QByteArray& bytes, T value)
{
    char raw[sizeof(T)];
    qToLittleEndian(value, raw);
    bytes.append(raw, sizeof(T));
}

template <typename T>
T getLE(const QByteArray& bytes, int offset)
{
    return qFromLittleEndian<T>(bytes.constData() + offset);
}

void putFloatLE(QByteArray& bytes, float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    putLE(bytes, bits);
}

float getFloatLE(const QByteArray& bytes, int offset)
{
    const auto bits = getLE<std::uint32_t>(bytes, offset);
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

constexpr long kMaxWarpMode = 12;

// Every half float as an 8-bit channel value (clamped to 0-1), made once.
const std::array<std::uint8_t, 65536>& halfToByteTable()
{
    static const auto table = [] {
        std::array<std::uint8_t, 65536> t{};
        for (std::uint32_t h = 0; h < 65536; ++h) {
            const int exponent = int(h >> 10) & 0x1f;
            const int mantissa = int(h & 0x3ff);
            float value = exponent == 0 ? float(mantissa) * std::ldexp(1.0f, -24)
                                        : (1.0f + float(mantissa) / 1024.0f) * std::ldexp(1.0f, exponent - 15);
            if ((h & 0x8000) || exponent == 0x1f)
                value = (h & 0x8000) ? 0.0f : (mantissa ? 0.0f : 1.0f);
            t[h] = std::uint8_t(std::lround(std::clamp(value, 0.0f, 1.0f) * 255.0f));
        }
        return t;
    }();
    return table;
}

bool isKnownKind(long kind)
{
    return kind == KavioVideoOutputTypeScreen || kind == KavioVideoOutputTypeSyphon || kind == KavioVideoOutputTypeNDI
           || kind == KavioVideoOutputTypeDeckLink;
}

}  // namespace

// --- Raw records ----------------------------------------------------------------------------

QByteArray KavioScreenInfo::data() const
{
    QByteArray bytes;
    putLE(bytes, serial), putLE(bytes, vendor), putLE(bytes, model), putLE(bytes, displayid);
    return bytes;
}

bool KavioScreenInfo::fromData(const QByteArray& data, KavioScreenInfo& info)
{
    if (data.size() != 16)
        return false;
    info = {getLE<std::uint32_t>(data, 0), getLE<std::uint32_t>(data, 4), getLE<std::uint32_t>(data, 8),
            getLE<std::uint32_t>(data, 12)};
    return true;
}

QByteArray KavioEdgeBlendSettings::data() const
{
    QByteArray bytes;
    putLE(bytes, leftEdgeWidth), putLE(bytes, rightEdgeWidth), putLE(bytes, topEdgeWidth), putLE(bytes, bottomEdgeWidth);
    putFloatLE(bytes, leftEdgePower), putFloatLE(bytes, rightEdgePower);
    putFloatLE(bytes, topEdgePower), putFloatLE(bytes, bottomEdgePower);
    return bytes;
}

bool KavioEdgeBlendSettings::fromData(const QByteArray& data, KavioEdgeBlendSettings& settings)
{
    if (data.size() != 48)
        return false;
    settings = {getLE<std::int64_t>(data, 0),  getLE<std::int64_t>(data, 8), getLE<std::int64_t>(data, 16),
                getLE<std::int64_t>(data, 24), getFloatLE(data, 32),         getFloatLE(data, 36),
                getFloatLE(data, 40),          getFloatLE(data, 44)};
    return true;
}

QByteArray KavioCornerCoords::data() const
{
    QByteArray bytes;
    for (const KavioPoint32& p : {topLeft, topRight, bottomLeft, bottomRight})
        putFloatLE(bytes, p.x), putFloatLE(bytes, p.y);
    return bytes;
}

bool KavioCornerCoords::fromData(const QByteArray& data, KavioCornerCoords& coords)
{
    if (data.size() != 32)
        return false;
    KavioPoint32* points[] = {&coords.topLeft, &coords.topRight, &coords.bottomLeft, &coords.bottomRight};
    for (int i = 0; i < 4; ++i)
        *points[i] = {getFloatLE(data, 8 * i), getFloatLE(data, 8 * i + 4)};
    return true;
}

// --- Life ------------------------------------------------------------------------------------

KavioVideoOutputObject::KavioVideoOutputObject(const QRectF& frame, bool highBitDepth, QVTMetalManager& gpu,
                                               std::shared_ptr<KavioAudioStreamersManagerInterface> streamers)
    : gpu_(gpu)
    , streamers_(std::move(streamers))
    , queue(std::make_unique<DispatchQueue>("com.dalvek.videooutput_queue"))
    , uuid_(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper())
    , highbitdepth_(highBitDepth)
{
    window_ = std::make_unique<KavioVideoOutputWindow>(this);
    mtkView_ = std::make_unique<KavioVideoOutputMTKView>(gpu_, window_.get(), highBitDepth);
    mtkView_->setFrame(QRectF(0, 0, 1920, 1080));
    KavioProjectionUniforms first;
    first.rows = first.cols = 0;
    mtkView_->setUniforms(first);
    setFrame(frame);

    auto& defaults = UserDefaults::standardUserDefaults();
    if (defaults.hasKey("audioChannels"))
        audiochannels_.store(std::int32_t(defaults.integerForKey("audioChannels")));
    if (streamers_) {
        streamers_->createAudioStreamerWithUUID(uuid_);
        audiostreamer_ = streamers_->streamerWithUUID(uuid_);
    }
    NotificationCenter::defaultCenter().addObserver(this, "KavioAudioChannelsChanged", nullptr,
                                                    [this](const Notification&) { audioChannelsChanged(); });
}

KavioVideoOutputObject::~KavioVideoOutputObject()
{
    NotificationCenter::defaultCenter().removeObserver(this);
}

void KavioVideoOutputObject::removeResources()
{
    isFullscreen_.store(false);
    window_->hide();
    NotificationCenter::defaultCenter().removeObserver(this);
    mtkView_->removeResources();
    queue->sync([this] {
        if (streamers_)
            streamers_->removeStreamerWithUUID(uuid_);
        audiostreamer_.reset();
    });
    destroyTestCard();
    showCursorIfHidden();
    if (auto server = syphonserver_.exchange(nullptr))
        server->stop();
    if (auto sender = ndisender_.exchange(nullptr))
        sender->removeResources();
    decklinkoutput_.store(nullptr);
}

void KavioVideoOutputObject::setVideoOutputType(std::int32_t type)
{
    videoOutputType_.store(type);
    mtkView_->setVideoOutputType(type);
    if (type == KavioVideoOutputTypeSyphon) {
        if (!syphonserver_.load()) {
            const QRectF frame = this->frame();
            const QSize size = frame.isEmpty() ? QSize(1920, 1080) : frame.size().toSize();
            const GpuTime rate = framerate();
            syphonserver_.store(std::make_shared<SyphonServer>(
                QString::asprintf("Kavio Syphon #%llu", (unsigned long long)index()), size, int(rate.timeValue),
                int(rate.timeScale)));
        }
    } else if (isKnownKind(type)) {
        if (auto server = syphonserver_.exchange(nullptr))
            server->stop();
    }
    if (!isKnownKind(type))
        return;
    if (type == KavioVideoOutputTypeNDI) {
        if (!ndisender_.load()) {
            auto sender = QVTNDISender::initWithName(
                QString::asprintf("Kavio NDI #%llu", (unsigned long long)index()), highbitdepth_);
            queue->sync([&] { sender->setAudioSource(audiostreamer_); });
            ndisender_.store(sender);
        }
    } else if (auto sender = ndisender_.exchange(nullptr)) {
        sender->removeResources();
    }
    if (type == KavioVideoOutputTypeDeckLink) {
        if (!decklinkoutput_.load())
            decklinkoutput_.store(std::make_shared<KavioDecklinkOutput>(highbitdepth_));
    } else {
        decklinkoutput_.store(nullptr);
    }
}

// --- Showing ---------------------------------------------------------------------------------

void KavioVideoOutputObject::setFrame(const QRectF& frame)
{
    frame_.store(frame);
}

void KavioVideoOutputObject::setColorMatteEnabled(bool on)
{
    colorMatteEnabled_.store(on);
    mtkView_->setShouldUseMatteColor(on);
}

void KavioVideoOutputObject::orderFront()
{
    if (isOnline()) {
        const QRectF frame = this->frame();
        mtkView_->setFrame(QRectF(QPointF(0, 0), frame.size()));
        if (videoOutputType() == KavioVideoOutputTypeScreen) {
            KLOG_INFO("orderFront frame: {}", stringFromRect(frame).toStdString());
            if (QScreen* screen = GpuDisplays::screenForDisplayId(screenInfo().displayid))
                window_->setScreen(screen);
            window_->setGeometry(frame.toRect());
            window_->show();
            window_->raise();
        } else {
            window_->setGeometry(frame.toRect());
        }
    }
    elapsedtime_.store(0);
    framecounter_.store(0);
    ndiAudioFrames_.store(0);
    isFullscreen_.store(true);
}

void KavioVideoOutputObject::orderOut()
{
    window_->hide();
    isFullscreen_.store(false);
    mtkView_->setShouldOnlyClear(true);
    mtkView_->draw();
    if (!renderSize().isEmpty())
        shouldclearoutputs_.store(true);
    showCursorIfHidden();
    elapsedtime_.store(0);
}

void KavioVideoOutputObject::changeFrameIfNeeded(const QRectF& frame)
{
    if (!DispatchQueue::isMainThread()) {
        DispatchQueue::main().async([weak = weak_from_this(), frame] {
            if (auto output = weak.lock())
                output->changeFrameIfNeeded(frame);
        });
        return;
    }
    if (frame == this->frame())
        return;
    setFrame(frame);
    mtkView_->setFrame(QRectF(QPointF(0, 0), frame.size()));
    if (isFullscreen() && isOnline())
        window_->setGeometry(frame.toRect());
}

void KavioVideoOutputObject::mouseEntered()
{
    if (!UserDefaults::standardUserDefaults().boolForKey("disableMouseCursorHide") || cursorhidden_)
        return;
    QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
    cursorhidden_ = true;
}

void KavioVideoOutputObject::mouseExited()
{
    showCursorIfHidden();
}

void KavioVideoOutputObject::showCursorIfHidden()
{
    if (!cursorhidden_)
        return;
    QGuiApplication::restoreOverrideCursor();
    cursorhidden_ = false;
}

// --- The pass --------------------------------------------------------------------------------

void KavioVideoOutputObject::renderWithTexture(const std::shared_ptr<GpuTexture>& texture,
                                               const std::shared_ptr<GpuTexture>& overlay, bool /*hasCaption*/,
                                               QSizeF atSize, std::uint16_t edgeBlendPaddingX,
                                               std::uint16_t edgeBlendPaddingY)
{
    const QSizeF viewSize = mtkView_->frameSize();
    if (viewSize != renderSize() || atSize != inputTextureSize_) {
        inputTextureSize_ = atSize;
        renderSize_.store(viewSize);
        shouldRedrawTestCard_.store(true);
        KLOG_INFO("set new render size: {}", KavioRenderingSupport::sizeText(viewSize));
        const GpuPixelFormat format = highbitdepth_ ? GpuPixelFormat::RGBA16Float : GpuPixelFormat::BGRA8Unorm;
        outputTexture_.store(gpu_.device() ? gpu_.device()->newTexture({format, std::uint32_t(viewSize.width()),
                                                                         std::uint32_t(viewSize.height())})
                                           : nullptr);
    }
    const QSizeF size = viewSize;

    const KavioCornerCoords c = cornerCoords();
    KavioVideoOutputMTKView::Corners corners;
    corners.bottomLeft = {c.bottomLeft.x, c.bottomLeft.y};
    corners.bottomRight = {c.bottomRight.x, c.bottomRight.y};
    corners.topLeft = {c.topLeft.x, c.topLeft.y};
    corners.topRight = {c.topRight.x, c.topRight.y};
    mtkView_->setCorners(corners);

    const bool span = enableSpanMode();
    const KavioScreenSpan grid = span ? screenSpan() : KavioScreenSpan{1, 1};
    const KavioScreenLocation location = screenLocation();

    QSizeF destination = atSize;
    if (videoOutputType() == KavioVideoOutputTypeScreen && !size.isEmpty() && !atSize.isEmpty()
        && std::abs(size.width() / size.height() - atSize.width() / atSize.height()) > 0.01)
        destination = size;

    KavioProjectionUniforms u;
    u.enableSpanMode = span;
    u.rows = grid.rows, u.cols = grid.cols;
    u.row = location.row, u.col = location.col;
    u.edgeBlendPaddingX = edgeBlendPaddingX, u.edgeBlendPaddingY = edgeBlendPaddingY;
    u.textureWidth = std::int32_t(grid.cols * atSize.width());
    u.textureHeight = std::int32_t(grid.rows * atSize.height());
    u.destinationWidth = std::int32_t(destination.width());
    u.destinationHeight = std::int32_t(destination.height());
    u.orientation = float(orientation());
    u.gamma = 1.0f;
    const KavioEdgeBlendSettings blend = edgeBlendSettings();
    u.left.gamma = blend.leftEdgePower, u.right.gamma = blend.rightEdgePower;
    u.top.gamma = blend.topEdgePower, u.bottom.gamma = blend.bottomEdgePower;
    if (edgeBlendEnabled() && !size.isEmpty()) {
        u.left.blending = float(blend.leftEdgeWidth / size.width());
        u.right.blending = float(blend.rightEdgeWidth / size.width());
        u.top.blending = float(blend.topEdgeWidth / size.height());
        u.bottom.blending = float(blend.bottomEdgeWidth / size.height());
        const QRectF frame = this->frame();
        if (frame.width() > 0 && frame.height() > 0 && frame.width() != double(float(atSize.width()))) {
            // Widths are set against the canvas: scale them into the frame, each axis by its own side.
            const float horizontal = float(atSize.width() / frame.width());
            const float vertical = float(atSize.height() / frame.height());
            for (KavioEdgeUniform* e : {&u.left, &u.right})
                e->blending = e->blending > 0 ? e->blending * horizontal : e->blending;
            for (KavioEdgeUniform* e : {&u.top, &u.bottom})
                e->blending = e->blending > 0 ? e->blending * vertical : e->blending;
        }
    }
    mtkView_->setUniforms(u);

    mtkView_->setTexture(texture);
    mtkView_->setOverLaytexture(overlay);
    if (!texture)
        mtkView_->setShouldOnlyClear(true);
    mtkView_->setWarpMode(warpMode());
    mtkView_->draw();

    if (videoOutputType() == KavioVideoOutputTypeScreen) {
        handleAudioOutput();
        return;
    }
    auto buffer = gpu_.currentCommandBuffer();
    auto drawn = mtkView_->currentDrawableTexture();
    if (buffer && drawn)
        buffer->addCompletedHandler([weak = weak_from_this(), drawn, size] {
            if (auto output = weak.lock())
                output->handOver(drawn, size);
        });
}

void KavioVideoOutputObject::handOver(const std::shared_ptr<GpuTexture>& drawn, QSizeF size)
{
    auto target = outputTexture();
    auto queue = gpu_.commandQueue();
    if (!target || !queue)
        return;
    auto copy = queue->commandBuffer();
    auto blit = copy->blitCommandEncoder();
    const GpuRegion region{0, 0, std::min(std::uint32_t(size.width()), std::min(drawn->width(), target->width())),
                           std::min(std::uint32_t(size.height()), std::min(drawn->height(), target->height()))};
    blit->copyFromTexture(drawn, region, target, 0, 0);
    blit->endEncoding();
    copy->addCompletedHandler([weak = weak_from_this()] {
        auto output = weak.lock();
        if (!output || !output->isFullscreen())
            return;
        const auto kind = output->videoOutputType();
        if (kind == KavioVideoOutputTypeSyphon) {
            output->publishToSyphon();
            output->handleAudioOutput();
        } else if (kind == KavioVideoOutputTypeNDI || kind == KavioVideoOutputTypeDeckLink) {
            output->handleAudioOutput();
            // Nobody watching an NDI output: its tally is still polled, nothing is read back.
            if (auto sender = output->ndiSender(); sender && !sender->hasReceivers()) {
                sender->checkTally();
                return;
            }
            QSize size;
            if (output->readBackOutputTexture(size))
                output->sendReadbackToSink(size);
        }
    });
    copy->commit();
}

bool KavioVideoOutputObject::readBackOutputTexture(QSize& size)
{
    auto texture = outputTexture();
    if (!texture)
        return false;
    size = QSize(int(texture->width()), int(texture->height()));
    const std::size_t row = std::size_t(size.width()) * 4;
    const std::size_t pixels = std::size_t(size.width()) * std::size_t(size.height());
    readback_.resize(row * std::size_t(size.height()));
    const GpuRegion whole{0, 0, texture->width(), texture->height()};
    if (texture->pixelFormat() == GpuPixelFormat::BGRA8Unorm)
        return texture->getBytes(readback_.data(), row, whole);
    // High bit depth: half-float RGBA read back, then narrowed to BGRA.
    readbackHalves_.resize(pixels * 4);
    if (!texture->getBytes(readbackHalves_.data(), row * 2, whole))
        return false;
    const auto& narrow = halfToByteTable();
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint16_t* rgba = &readbackHalves_[i * 4];
        std::uint8_t* bgra = &readback_[i * 4];
        bgra[0] = narrow[rgba[2]], bgra[1] = narrow[rgba[1]], bgra[2] = narrow[rgba[0]], bgra[3] = narrow[rgba[3]];
    }
    return true;
}

void KavioVideoOutputObject::sendReadbackToSink(QSize size)
{
    const int row = size.width() * 4;
    if (auto sender = ndiSender()) {
        const GpuTime rate = framerate();
        sender->sendMetalTexture(readback_.data(), row, QSizeF(size), convertToYUV(),
                                 {rate.timeValue, rate.timeScale, rate.flags});
    } else if (auto sink = decklinkOutput()) {
        sink->sendTexture(readback_.data(), row, QSizeF(size), convertToYUV());
    }
}

void KavioVideoOutputObject::publishToSyphon()
{
    auto server = syphonserver_.load();
    QSize size;
    if (!server || !readBackOutputTexture(size))
        return;
    if (server->size() != size) {
        // The source follows the output's size: a new stream of the same name.
        const QString name = server->name();
        server->stop();
        const GpuTime rate = framerate();
        server = std::make_shared<SyphonServer>(name, size, int(rate.timeValue), int(rate.timeScale));
        std::shared_ptr<SyphonServer> expected = syphonserver_.load();
        if (!expected || !syphonserver_.compare_exchange_strong(expected, server))
            return;  // the kind changed meanwhile
    }
    server->publishFrame(readback_.data(), std::size_t(size.width()) * 4, size);
}

void KavioVideoOutputObject::handleClearOutputIfNeeded()
{
    if (!shouldclearoutputs_.exchange(false))
        return;
    const auto kind = videoOutputType();
    auto queue = gpu_.commandQueue();
    if ((kind != KavioVideoOutputTypeNDI && kind != KavioVideoOutputTypeDeckLink) || !queue)
        return;
    // One black frame of the render size, sent from the completion thread like every frame, so
    // it never overlaps a hand-over.
    const QSize size = renderSize().toSize();
    auto buffer = queue->commandBuffer();
    buffer->addCompletedHandler([weak = weak_from_this(), size] {
        auto output = weak.lock();
        if (!output || size.isEmpty())
            return;
        output->readback_.assign(std::size_t(size.width()) * std::size_t(size.height()) * 4, 0);
        for (std::size_t i = 3; i < output->readback_.size(); i += 4)
            output->readback_[i] = 255;
        output->sendReadbackToSink(size);
    });
    buffer->commit();
}

// --- Records ---------------------------------------------------------------------------------

QString KavioVideoOutputObject::stringFromRect(const QRectF& rect)
{
    auto n = [](double v) { return QString::number(v, 'g', 17); };
    return QStringLiteral("{{%1, %2}, {%3, %4}}").arg(n(rect.x()), n(rect.y()), n(rect.width()), n(rect.height()));
}

bool KavioVideoOutputObject::rectFromString(const QString& text, QRectF& rect)
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^\s*\{\s*\{\s*([-+0-9.eE]+)\s*,\s*([-+0-9.eE]+)\s*\}\s*,\s*\{\s*([-+0-9.eE]+)\s*,\s*([-+0-9.eE]+)\s*\}\s*\}\s*$)"));
    const auto match = pattern.match(text);
    if (!match.hasMatch())
        return false;
    double v[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = match.captured(i + 1).toDouble(&ok);
        if (!ok || !std::isfinite(v[i]))
            return false;
    }
    rect = QRectF(v[0], v[1], v[2], v[3]);
    return true;
}

QVariantMap KavioVideoOutputObject::saveData() const
{
    QVariantMap data;
    data.insert("frame", stringFromRect(frame()));
    if (!screenName().isEmpty())
        data.insert("screenName", screenName());
    data.insert("screenInfo", screenInfo().data());
    data.insert("orientation", QVariant::fromValue<qulonglong>(orientation()));
    data.insert("warpMode", QVariant::fromValue<qlonglong>(warpMode()));
    data.insert("enableSpanMode", enableSpanMode());
    data.insert("index", QVariant::fromValue<qulonglong>(index()));
    data.insert("edgeBlendEnabled", edgeBlendEnabled());
    data.insert("videoOutputType", videoOutputType());
    data.insert("timeOverlayEnabled", timeOverlayEnabled());
    data.insert("subtitlesEnabled", subtitlesEnabled());
    data.insert("colorMatteEnabled", colorMatteEnabled());
    if (!videoOutputFormatString().isEmpty())
        data.insert("videoOutputFormatString", videoOutputFormatString());
    data.insert("decklinkKeyer", decklinkKeyer());
    data.insert("edgeBlendSettings", edgeBlendSettings().data());
    data.insert("cornerCoords", cornerCoords().data());
    return data;
}

void KavioVideoOutputObject::loadWithData(const QVariantMap& data)
{
    if (data.isEmpty())
        return;
    QRectF frame;
    if (data.contains("frame") && !rectFromString(data.value("frame").toString(), frame)) {
        KLOG_ERROR("output record: unreadable frame \"{}\", kept", data.value("frame").toString().toStdString());
        frame = this->frame();
    }
    setFrame(frame);
    if (data.contains("screenName"))
        setScreenName(data.value("screenName").toString());

    KavioScreenInfo info = screenInfo();
    info.displayid = 0;
    if (data.contains("screenInfo") && !KavioScreenInfo::fromData(data.value("screenInfo").toByteArray(), info))
        KLOG_ERROR("output record: \"screenInfo\" is not 16 bytes, kept");
    setScreenInfo(info);

    setOrientation(data.value("orientation").toULongLong());
    const long warp = data.value("warpMode").toLongLong();
    if (warp >= 0 && warp <= kMaxWarpMode)
        setWarpMode(warp);
    else
        KLOG_ERROR("output record: warp mode {} out of range, kept", warp);
    setEnableSpanMode(data.value("enableSpanMode").toBool());
    setIndex(data.value("index").toULongLong());
    setEdgeBlendEnabled(data.value("edgeBlendEnabled").toBool());
    if (data.contains("videoOutputType")) {
        const long kind = data.value("videoOutputType").toLongLong();
        if (isKnownKind(kind))
            setVideoOutputType(std::int32_t(kind));
        else
            KLOG_ERROR("output record: unknown kind {}, kept", kind);
    }
    if (data.contains("timeOverlayEnabled"))
        setTimeOverlayEnabled(data.value("timeOverlayEnabled").toBool());
    if (data.contains("subtitlesEnabled"))
        setSubtitlesEnabled(data.value("subtitlesEnabled").toBool());
    if (data.contains("colorMatteEnabled"))
        setColorMatteEnabled(data.value("colorMatteEnabled").toBool());
    if (data.contains("videoOutputFormatString"))
        setVideoOutputFormatString(data.value("videoOutputFormatString").toString());
    decklinkkeyer_.store(data.contains("decklinkKeyer") ? data.value("decklinkKeyer").toString()
                                                        : QStringLiteral("None"));

    KavioEdgeBlendSettings blend = edgeBlendSettings();
    if (data.contains("edgeBlendSettings")) {
        if (KavioEdgeBlendSettings::fromData(data.value("edgeBlendSettings").toByteArray(), blend))
            setEdgeBlendSettings(blend);
        else
            KLOG_ERROR("output record: \"edgeBlendSettings\" is not 48 bytes, kept");
    }
    KavioCornerCoords corners = cornerCoords();
    if (data.contains("cornerCoords")) {
        if (KavioCornerCoords::fromData(data.value("cornerCoords").toByteArray(), corners))
            setCornerCoords(corners);
        else
            KLOG_ERROR("output record: \"cornerCoords\" is not 32 bytes, kept");
    }
}

KavioVideoOutputObject::ProjectionData KavioVideoOutputObject::projectionDataForRenderingHelperForSize(QSizeF size) const
{
    ProjectionData data;
    data.corners = cornerCoords();
    KavioProjectionUniforms& u = data.uniforms;
    u.textureWidth = u.destinationWidth = std::int32_t(size.width());
    u.textureHeight = u.destinationHeight = std::int32_t(size.height());
    const KavioEdgeBlendSettings blend = edgeBlendSettings();
    u.left.gamma = blend.leftEdgePower, u.right.gamma = blend.rightEdgePower;
    u.top.gamma = blend.topEdgePower, u.bottom.gamma = blend.bottomEdgePower;
    const QRectF frame = this->frame();
    if (edgeBlendEnabled() && frame.width() > 0 && frame.height() > 0) {
        u.left.blending = float(blend.leftEdgeWidth / frame.width());
        u.right.blending = float(blend.rightEdgeWidth / frame.width());
        u.top.blending = float(blend.topEdgeWidth / frame.height());
        u.bottom.blending = float(blend.bottomEdgeWidth / frame.height());
    }
    return data;
}

// --- Test card -------------------------------------------------------------------------------

void KavioVideoOutputObject::renderTestCardWithEdgeBlendPaddingX(std::uint64_t paddingX, std::uint64_t paddingY)
{
    if (!testCardTexture_ || shouldRedrawTestCard_.exchange(false))
        generateTestCardWithSize(frame().size(), paddingX, paddingY);
    renderWithTexture(testCardTexture_, nullptr, false, renderSize(), 0, 0);
}

QImage KavioVideoOutputObject::drawTestCard(QSizeF size, std::uint64_t paddingX, std::uint64_t paddingY,
                                           std::uint64_t index)
{
    const double w = size.width(), h = size.height();
    const double px = double(paddingX), py = double(paddingY);
    QImage card(int(w), int(h), QImage::Format_ARGB32_Premultiplied);
    if (card.isNull())
        return card;
    card.fill(QColor::fromRgbF(1.0 / 3.0, 1.0 / 3.0, 1.0 / 3.0));
    QPainter painter(&card);
    QPen pen(Qt::white, 2);
    painter.setPen(pen);
    for (double x : {px + 0.5, px + 0.5 + (w - 1) / 2, px + w - 1})
        painter.drawLine(QPointF(x, 0.5), QPointF(x, h - 1));
    for (double y : {py + 0.5, py + 0.5 + (h - 1) / 2})
        painter.drawLine(QPointF(0.5, y), QPointF(w - 0.5, y));
    painter.drawLine(QPointF(0.5, py + h - 1), QPointF(w - 0.5, py + h - 0.5));

    pen.setWidth(1);
    painter.setPen(pen);
    for (int k = 1; k <= 15; ++k)
        painter.drawLine(QPointF(px + k * w / 16, 0), QPointF(px + k * w / 16, py + h));
    for (int k = 1; k <= 9; ++k)
        painter.drawLine(QPointF(0, py + k * h / 10), QPointF(w, py + k * h / 10));

    pen.setWidth(2);
    painter.setPen(pen);
    painter.setRenderHint(QPainter::Antialiasing);  // lines stay crisp on their pixels, circles smooth
    const double corner = w / 8;  // radius of the corner circles (diameter w / 4)
    for (QPointF c : {QPointF(px, py), QPointF(px + w, py), QPointF(px, py + h), QPointF(px + w, py + h)})
        painter.drawEllipse(c, corner, corner);
    painter.setBrush(Qt::white);
    const QPointF centre(px + w / 2, py + h / 2);
    painter.drawEllipse(centre, w / 4, w / 4);

    // The text sits above and below the icon's square (w / 8) in the centre.
    const double iconHalf = w / 16;
    painter.setPen(Qt::black);
    auto centred = [&](const QString& text, const QFont& font, double baseline) {
        painter.setFont(font);
        const double width = painter.fontMetrics().horizontalAdvance(text);
        painter.drawText(QPointF(centre.x() - width / 2, baseline), text);
    };
    centred(QString::asprintf("%.0f x %.0f", w, h), KavioFonts::font("Helvetica-Light", 36),
            centre.y() - iconHalf - 80);
    const QFont numberFont = KavioFonts::font("Helvetica-Bold", 120);
    centred(QString::number(qulonglong(index)), numberFont,
            centre.y() + iconHalf + 60 + QFontMetricsF(numberFont).capHeight());
    return card;
}

void KavioVideoOutputObject::generateTestCardWithSize(QSizeF size, std::uint64_t paddingX, std::uint64_t paddingY)
{
    KLOG_INFO("_rendersize: {} paddings: {} {}", KavioRenderingSupport::sizeText(size), paddingX, paddingY);
    if (size.width() < 1 || size.height() < 1)
        return;
    const QImage card = drawTestCard(size, paddingX, paddingY, index());
    if (card.isNull()) {
        KLOG_ERROR("error with creating CGBitmapContextCreate (generateTestCardWithSize)");
        return;
    }
    auto texture = gpu_.device() ? gpu_.device()->newTexture({GpuPixelFormat::BGRA8Unorm, std::uint32_t(card.width()),
                                                              std::uint32_t(card.height())})
                                 : nullptr;
    if (!texture || !texture->replaceRegion({0, 0, texture->width(), texture->height()}, card.constBits(),
                                            std::size_t(card.bytesPerLine()))) {
        KLOG_ERROR("Error: cannot create Testcard Metal texture: {}", "no texture of that size");
        testCardTexture_.reset();
        return;
    }
    testCardTexture_ = std::move(texture);
}
