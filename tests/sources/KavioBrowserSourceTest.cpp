#include "SourcesTestSupport.h"

#include "../cue/CueTestSupport.h"
#include "GpuTestDevice.h"
#include "Sources/KavioBrowserSource.h"
#include "GpuTexture.h"
#include "WebPageRenderer.h"

#include <httplib.h>

#include <QDir>
#include <QImage>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

constexpr double kTimeout = 60.0;

// Pages on 127.0.0.1: "/red" a red page, "/video" a page that counts the pauses of its video.
// Keeps the user agent and the number of requests of each.
class PageServer {
public:
    PageServer()
    {
        server.Get("/red", [this](const httplib::Request& request, httplib::Response& response) {
            note(request);
            response.set_content("<html><head><style>body{margin:0;background:#f00}</style></head><body></body></html>", "text/html");
        });
        server.Get("/video", [this](const httplib::Request& request, httplib::Response& response) {
            note(request);
            response.set_content("<html><head><script>window.pauses = 0; HTMLMediaElement.prototype.pause = "
                                 "function() { window.pauses++; };</script></head><body><video></video></body></html>",
                                 "text/html");
        });
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
    }
    ~PageServer()
    {
        server.stop();
        thread.join();
    }
    QUrl url(const char* path) const { return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path)); }
    std::string userAgent()
    {
        std::lock_guard lock(mutex);
        return lastUserAgent;
    }
    std::atomic<int> requests{0};

private:
    void note(const httplib::Request& request)
    {
        std::lock_guard lock(mutex);
        lastUserAgent = request.get_header_value("User-Agent");
        ++requests;
    }
    httplib::Server server;
    int port = 0;
    std::thread thread;
    std::mutex mutex;
    std::string lastUserAgent;
};

QColor centreOf(const std::shared_ptr<GpuTexture>& texture)
{
    QImage image(int(texture->width()), int(texture->height()), QImage::Format_ARGB32_Premultiplied);
    GpuRegion region;
    region.width = texture->width();
    region.height = texture->height();
    texture->getBytes(image.bits(), std::size_t(image.bytesPerLine()), region);
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

void saveForTheDeveloper(const std::shared_ptr<GpuTexture>& texture, const QString& name)
{
    QImage image(int(texture->width()), int(texture->height()), QImage::Format_ARGB32_Premultiplied);
    GpuRegion region;
    region.width = texture->width();
    region.height = texture->height();
    texture->getBytes(image.bits(), std::size_t(image.bytesPerLine()), region);
    QDir().mkpath(QStringLiteral(KAVIO_SCREENSHOT_DIR));
    image.save(QStringLiteral(KAVIO_SCREENSHOT_DIR "/%1.png").arg(name));
}

// Waits until the source's newest frame has the colour in its centre.
bool showsColour(KavioBrowserSource& source, const QColor& colour)
{
    return DispatchQueue::runMainUntil([&] {
        const auto texture = source.texture();
        return texture && isNear(centreOf(texture), colour, 8);
    }, kTimeout);
}

QString evaluate(KavioBrowserSource& source, const QString& script)
{
    QString result;
    bool done = false;
    source.page()->evaluate(script, [&](const QString& value) {
        result = value;
        done = true;
    });
    DispatchQueue::runMainUntil([&] { return done; }, kTimeout);
    return result;
}

TEST(KavioBrowserSource, SizesAndPlaces)
{
    struct Tag {
        std::int32_t tag;
        QSizeF size;
    };
    for (const Tag t : {Tag{10, {1440, 810}}, Tag{20, {960, 540}}, Tag{1, {1920, 1080}}, Tag{7, {1920, 1080}}}) {
        KavioBrowserSource source(QSizeF(1920, 1080), 30, true, GpuTestDevice::device());
        source.setRenderSizeMultiplierTag(t.tag);
        EXPECT_EQ(source.renderSize(), QSizeF(1920, 1080)) << "the tag alone changes nothing";
        source.setRenderSize(QSizeF(1920, 1080));
        EXPECT_EQ(source.renderSize(), t.size) << t.tag;
        EXPECT_EQ(source.page()->size(), t.size.toSize()) << "the page window follows";
    }

    struct Place {
        const char* what;
        QRectF main;
        QList<QRectF> screens;
        QPointF origin;
    };
    const QSizeF w(400, 300);
    for (const Place& p : {
             Place{"one wide screen", {0, 0, 1920, 1080}, {{0, 0, 1920, 1080}}, {1 - 400, 1 - 300}},
             Place{"main screen on the right", {1920, 0, 1920, 1080}, {{1920, 0, 1920, 1080}, {0, 0, 1920, 1080}},
                   {1920 + 1920 - 1, 1 - 300}},
             Place{"main screen on the left", {0, 0, 1920, 1080}, {{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}}, {1 - 400, 1 - 300}},
             Place{"main screen on top", {0, 1080, 1080, 1080}, {{0, 1080, 1080, 1080}, {0, 0, 1080, 1080}},
                   {1 - 400, 1080 + 1080 - 1}},
             Place{"main screen below", {0, 0, 1080, 1080}, {{0, 0, 1080, 1080}, {0, 1080, 1080, 1080}}, {1 - 400, 1 - 300}},
         })
        EXPECT_EQ(KavioBrowserSource::safeWindowOrigin(p.main, p.screens, w), p.origin) << p.what;
}

TEST(KavioBrowserSource, RendersThePageWithItsStyle)
{
    REQUIRE_GPU_DEVICE();
    PageServer server;
    KavioBrowserSource source(QSizeF(64, 48), 30, true, GpuTestDevice::device());
    source.loadURL(server.url("/red"));
    source.setShouldRender(true);
    ASSERT_TRUE(showsColour(source, Qt::red));
    saveForTheDeveloper(source.texture(), "browser-source-red");
    EXPECT_EQ(server.userAgent(), kKavioBrowserSourceUserAgent.toStdString());

    // CSS from the record applies at the reload it causes; a quote and a line break do no harm.
    source.loadWithData({{kKavioBrowserSourceCustomCSSKey, "body{background:#0f0}"}});
    ASSERT_TRUE(showsColour(source, Qt::green));
    source.loadWithData({{kKavioBrowserSourceCustomCSSKey, "/* it's \"fine\" */\nbody{background:#00f}"}});
    ASSERT_TRUE(showsColour(source, Qt::blue));
    saveForTheDeveloper(source.texture(), "browser-source-css");
    EXPECT_EQ(source.saveData().value(kKavioBrowserSourceCustomCSSKey).toString(), "/* it's \"fine\" */\nbody{background:#00f}");

    // A crafted CSS text stays text: it cannot run its own script.
    const QString crafted = "'; window.injected = 1; '</style><script>window.injected=2</script>";
    source.loadWithData({{kKavioBrowserSourceCustomCSSKey, crafted}});
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return evaluate(source, "(document.querySelectorAll('style')[1] || {}).textContent") == crafted; }, kTimeout));
    EXPECT_EQ(evaluate(source, "String(window.injected)"), "undefined");

    // Wrong types are ignored.
    source.loadWithData({{kKavioBrowserSourceShouldUnloadOnPauseKey, "yes"}, {kKavioBrowserSourceRenderSizeMultiplierTagKey, "20"}});
    EXPECT_FALSE(source.shouldUnloadOnPause());
    EXPECT_EQ(source.renderSizeMultiplierTag(), 1);
}

TEST(KavioBrowserSource, PausesVideosOnceAndReloadsAfterUnloading)
{
    REQUIRE_GPU_DEVICE();
    PageServer server;
    KavioBrowserSource source(QSizeF(64, 48), 30, false, GpuTestDevice::device());
    source.loadURL(server.url("/video"));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return evaluate(source, "String(window.pauses)") == "1"; }, kTimeout))
        << "a source of a cue that is not current pauses the videos after the first load";
    QUrl second = server.url("/video");
    second.setQuery("second");
    source.loadURL(second);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] {
        return evaluate(source, "location.search + document.readyState + typeof window.pauses") == "?secondcompletenumber";
    }, kTimeout));
    EXPECT_EQ(evaluate(source, "String(window.pauses)"), "0") << "only after the first load";

    source.setShouldUnloadOnPause(true);
    source.setShouldRender(true);
    source.setShouldRender(false);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return evaluate(source, "location.href") == "about:blank"; }, kTimeout));
    const int before = server.requests;
    source.setShouldRender(true);
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return server.requests == before + 1; }, kTimeout)) << "reloaded at start";
    source.removeResources();
    EXPECT_EQ(source.texture(), nullptr);
}

TEST(KavioBrowserCue, ShowsItsPage)
{
    REQUIRE_GPU_DEVICE();
    PageServer server;
    const auto controller = std::make_shared<FakeKavioVideoItemManager>();
    controller->size = QSizeF(64, 48);
    const auto cue = KavioVideoItem::initWithBrowser(server.url("/red").toString(), controller);
    EXPECT_FALSE(cue->isMissing());
    EXPECT_EQ(cue->mediaPath(), server.url("/red").toString());
    cue->browserSource()->setShouldRender(true);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] {
        const auto texture = cue->browserSourceTexture();
        return texture && isNear(centreOf(texture), Qt::red, 8);
    }, kTimeout));
    cue->switchBrowserTo(server.url("/video").toString());
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return server.requests >= 2; }, kTimeout));
    cue->removeResources();
}

}  // namespace
